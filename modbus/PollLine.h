// What the poll engine needs of its line: the address it polls, the serial port and the two
// timers. The station's link object implements it; tests give a scripted line.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace korvan {

class PollLine {
  public:
    virtual ~PollLine() = default;
    // The slave address as the operator last finished typing it.
    virtual std::string SendAddressText() const = 0;
    virtual void PortWrite(const std::uint8_t* data, int count) = 0; // throws on failure
    virtual int PortRead(std::uint8_t* data, int count) = 0;         // throws on failure
    // Throws away whatever waits in the port's receive queue; throws on failure.
    virtual void DiscardInput() = 0;
    virtual void StartResponseTimer() = 0; // a running timer is not restarted
    virtual void StopResponseTimer() = 0;
    virtual bool ResponseTimerRunning() const = 0;
    // A write or read threw `error`: the line stops polling, shows the link lost and tells the
    // operator. Called at most once per failed transfer, inside the engine's own call.
    virtual void PortFailed(std::exception_ptr error) = 0;
};

} // namespace korvan
