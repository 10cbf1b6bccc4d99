// Indicator colours. They are compared for exact equality: an indicator reads back as "on" only
// when it is exactly red.
#pragma once

#include <cstdint>

namespace korvan {

using Colour = std::uint32_t; // 0xRRGGBB

constexpr Colour kGreen = 0x008000;  // normal, off
constexpr Colour kRed = 0xFF0000;    // on, active
constexpr Colour kYellow = 0xFFFF00; // fault; on the link indicator: no link
constexpr Colour kGrey = 0x808080;   // unit not in use, or link lost

} // namespace korvan
