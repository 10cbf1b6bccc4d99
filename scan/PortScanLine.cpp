#include "PortScanLine.h"

#include <stdexcept>

namespace korvan::scan {

namespace {

TBaudRate RateOf(int baud) {
    switch (baud) {
    case 1200:
        return br1200;
    case 2400:
        return br2400;
    case 4800:
        return br4800;
    case 9600:
        return br9600;
    case 19200:
        return br19200;
    case 38400:
        return br38400;
    case 57600:
        return br57600;
    default:
        throw std::invalid_argument("скорость " + std::to_string(baud) + " не из списка");
    }
}

} // namespace

PortScanLine::PortScanLine(TBComPort& port) : port_(port) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
}

void PortScanLine::Drive(BusScan& scan) {
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [&scan] { scan.TimerFired(); });
}

void PortScanLine::SetSpeed(int baud) {
    const TBaudRate rate = RateOf(baud);
    port_.Close();
    port_.SetBaudRate(rate);
    port_.Open();
}

void PortScanLine::Write(const std::uint8_t* data, int count) {
    port_.Write(data, count);
}

int PortScanLine::Read(std::uint8_t* data, int count) {
    return port_.Read(data, count);
}

void PortScanLine::StartTimer(Micros after) {
    // Whole milliseconds, rounded up: a probe never waits less than its time.
    timer_.start(static_cast<int>((after.count() + 999) / 1000));
}

void PortScanLine::StopTimer() {
    timer_.stop();
}

std::chrono::steady_clock::time_point PortScanLine::Now() const {
    return std::chrono::steady_clock::now();
}

} // namespace korvan::scan
