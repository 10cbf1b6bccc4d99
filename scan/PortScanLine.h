// The scan's line over the station's port, lent for the scan: speeds set by reopening the port,
// the probes' timer on the window thread, the steady clock.
#pragma once

#include "BCPort.h"
#include "BusScan.h"

#include <QTimer>

namespace korvan::scan {

class PortScanLine final : public ScanLine {
  public:
    explicit PortScanLine(TBComPort& port);

    // The scan its timer drives.
    void Drive(BusScan& scan);

    void SetSpeed(int baud) override;
    void Write(const std::uint8_t* data, int count) override;
    int Read(std::uint8_t* data, int count) override;
    void StartTimer(Micros after) override;
    void StopTimer() override;
    std::chrono::steady_clock::time_point Now() const override;

  private:
    TBComPort& port_;
    QTimer timer_;
};

} // namespace korvan::scan
