// What the poll engine needs from the window: the address field, the serial port, the two
// timers, the message box for port failures, the display routines and the notice of a setting the
// unit refused. The window implements it; tests give a scripted host.
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
    virtual void ImageToControls(const RegisterImage& image) = 0;
    virtual void FitPanelsToUnits() = 0;
    virtual int GreyOutDisabledUnits(const RegisterImage& image) = 0;
    virtual void ShowLinkLost() = 0;
    virtual void SetOnlineColour(Colour colour) = 0; // link indicator ONLINE
    // The unit refused the write of `value` to `reg` for good (exception `code`); the operator's
    // choice is gone and the controls show the unit's value again. Must not open a modal box:
    // the exchange is still being closed.
    virtual void ReportWriteRefused(int reg, std::uint16_t value, std::uint8_t code) = 0;
};

} // namespace korvan
