#include "PortLoan.h"

#include <exception>

namespace korvan {

PortLoan::PortLoan(StationLink& link, const QString& why, std::function<void(int count)> received)
    : link_(link), baud_(link.COMPORT.BaudRate()), polling_(link.SEND_TIM.isActive()),
      engineRx_(link.COMPORT.OnRxChar) {
    link_.SEND_TIM.stop();
    // Nothing of the old exchange is judged against the scan's bytes, and nothing chosen goes out
    // to whatever unit the scan connects to.
    link_.Engine.EndSession(DropCause::BusScan);
    link_.COMPORT.OnRxChar = [received = std::move(received)](TBComPort*, std::int32_t count) {
        received(count);
    };
    link_.view_.ShowPortNote(why);
}

PortLoan::~PortLoan() {
    link_.COMPORT.OnRxChar = engineRx_;
    link_.view_.ShowPortNote(QString());
    try {
        // A port the scan could not reopen stays closed: the next poll takes the failure path.
        if (link_.COMPORT.IsOpen() && link_.COMPORT.BaudRate() != baud_) {
            link_.COMPORT.Close();
            link_.COMPORT.SetBaudRate(baud_);
            link_.OpenPort();
        }
    } catch (...) {
        if (polling_) link_.PortFailed(std::current_exception());
        return;
    }
    if (polling_) link_.SEND_TIM.start();
}

} // namespace korvan
