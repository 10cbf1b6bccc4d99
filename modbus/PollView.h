// What the poll engine shows: the unit's image in the controls, the panels fitted to the units,
// the grey of what cannot be trusted, the link indicator and the notice of a refused setting. The
// window implements it; tests give a scripted view.
#pragma once

#include "Colour.h"
#include "ExchangeRecord.h"
#include "RegisterImage.h"

#include <cstdint>

namespace korvan {

class PollView {
  public:
    virtual ~PollView() = default;
    virtual void ImageToControls(const RegisterImage& image) = 0;
    // Panel widths from the link state and the number of units on the network.
    virtual void FitPanelsToUnits(int linkCredit, int unitCount) = 0;
    // Greys the units not in use; returns 1 when a unit in use still shows grey, else 0.
    virtual int GreyOutDisabledUnits(const RegisterImage& image) = 0;
    virtual void ShowLinkLost() = 0;
    virtual void SetOnlineColour(Colour colour) = 0; // link indicator ONLINE
    // The unit refused the write of `value` to `reg` for good (exception `code`); the operator's
    // choice is gone and the controls show the unit's value again. Must not open a modal box:
    // the exchange is still being closed.
    virtual void ReportWriteRefused(int reg, std::uint16_t value, std::uint8_t code) = 0;
    // The unit left the write of `value` to `reg` unanswered too often: the choice is gone. The
    // same rules as for a refused write.
    virtual void ReportWriteUnanswered(int reg, std::uint16_t value) = 0;
    // Commands and choices the engine gave up unsent or unconfirmed. Must not open a modal box.
    virtual void ReportChoicesDropped(const DroppedChoices& dropped) = 0;
};

} // namespace korvan
