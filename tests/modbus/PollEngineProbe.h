// Reaches the poll engine's state, for tests that start from a state the line alone would take
// many exchanges to reach.
#pragma once

#include "PollEngine.h"

namespace korvan::test {

struct PollEngineProbe {
    static PollEngine::State& StateOf(PollEngine& engine) { return engine.s_; }
};

} // namespace korvan::test
