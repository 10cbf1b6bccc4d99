// One time scale for the whole simulator: seconds since an arbitrary start, never going back.
#pragma once

#include <chrono>

namespace korvan::sim {

inline double MonotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace korvan::sim
