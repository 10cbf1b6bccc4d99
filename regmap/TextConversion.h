// Text-to-integer conversion of the edit fields and of the slave address.
#pragma once

#include <cstdint>
#include <string_view>

namespace korvan {

struct TextNumber {
    bool ok = false;
    // The converted value when ok. When the conversion failed: the value of the digits read
    // before the first character that does not fit, without the sign (0 when there were none).
    std::int32_t value = 0;
};

// Leading spaces, an optional '-' or '+', then decimal digits or hexadecimal digits behind "$",
// "x", "X", "0x" or "0X", running to the end of the text, within the signed 32-bit range.
TextNumber ConvertText(std::string_view text);

// The slave address byte of a request: the low 8 bits of the conversion, also of a failed one.
std::uint8_t SlaveAddressFromText(std::string_view text);

} // namespace korvan
