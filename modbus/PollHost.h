// What the poll engine needs from the window: the address field, the serial port, the two
// timers, the message box for port failures and the control binding and display routines. The
// window implements it; tests give a scripted host.
#pragma once

#include "Colour.h"
#include "RegisterImage.h"

#include <cstdint>
#include <string>

namespace korvan {

// Text of the error box shown when the serial port fails while polling.
inline constexpr const char* kPortErrorText =
    "Ошибка компорта! Проверьте подключение и перезапустите программу.";

class PollHost {
  public:
    virtual ~PollHost() = default;
    virtual std::string SendAddressText() const = 0; // text of SENDADR
    virtual void PortWrite(const std::uint8_t* data,
                           int count) = 0;                   // throws std::exception on failure
    virtual int PortRead(std::uint8_t* data, int count) = 0; // throws std::exception on failure
    virtual void StartResponseTimer() = 0;                   // a running timer is not restarted
    virtual void StopResponseTimer() = 0;
    virtual bool ResponseTimerRunning() const = 0;
    virtual void StopPollTimer() = 0;
    virtual void ShowPortError() = 0; // modal error box; timers keep running inside it
    virtual void ControlsToImage(RegisterImage& image) = 0;
    virtual void ImageToControls(const RegisterImage& image) = 0;
    virtual void FitPanelsToUnits() = 0;
    virtual int GreyOutDisabledUnits(const RegisterImage& image) = 0;
    virtual void ShowLinkLost() = 0;
    virtual void SetOnlineColour(Colour colour) = 0; // link indicator ONLINE
};

} // namespace korvan
