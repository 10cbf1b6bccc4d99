// Drive-type list index <-> drive-type code (UnitConfig bits 0-5). Both take their argument as an
// unsigned byte, as the list reports "no selection" as -1, i.e. 255.
#pragma once

#include <cstdint>

namespace korvan {

// The drive-type code's bits in a unit's configuration register.
inline constexpr int kDriveTypeBits = 0x3F;

// Code of a list index; 0 for any index outside 0..13 (no selection included).
std::uint8_t DriveTypeCode(int index);

// List index of a code; 255 (selects nothing) for a code that has no item.
std::uint8_t DriveTypeIndex(int code);

} // namespace korvan
