// Reaches the poll engine's state, for tests that start from a state the line alone would take
// many exchanges to reach.
#pragma once

#include "PollEngine.h"

namespace korvan::test {

struct PollEngineProbe {
    static PollEngine::State& StateOf(PollEngine& engine) { return engine.s_; }
    // A fresh session in which `image` has been read with the wide registers and shown, and the
    // link is up: the operator's choices are taken from here on.
    static void ShowUnit(PollEngine& engine, const RegisterImage& image) {
        engine.EndSession(DropCause::AddressChanged);
        engine.s_.ShownImage = engine.s_.ReadImage = engine.s_.WantedImage = image;
        engine.s_.LinkCredit = PollEngine::kLinkCreditFull;
        engine.s_.ReadCount = PollEngine::kExtendedReadCount;
        engine.s_.ReadLength = 2 * PollEngine::kExtendedReadCount;
        engine.controlsShown_ = true;
    }
};

} // namespace korvan::test
