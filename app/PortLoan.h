// The station's port lent to a bus scan, for as long as this object lives. While lent the poll
// timer is stopped, the exchange in flight is closed unjudged, the port's receive events go to
// the borrower and the link indicator's tooltip says why. Its end gives the port back at the
// speed it had, its receive events to the engine, and polling resumes where it ran.
#pragma once

#include "StationLink.h"

#include <functional>

namespace korvan {

class PortLoan {
  public:
    PortLoan(StationLink& link, const QString& why, std::function<void(int count)> received);
    ~PortLoan();
    PortLoan(const PortLoan&) = delete;
    PortLoan& operator=(const PortLoan&) = delete;

    TBComPort& Port() { return link_.COMPORT; }

  private:
    StationLink& link_;
    TBaudRate baud_;
    bool polling_;
    TRxCharEvent engineRx_;
};

} // namespace korvan
