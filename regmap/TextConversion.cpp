#include "TextConversion.h"

namespace korvan {

namespace {

int DigitValue(char c, bool hex) {
    if (c >= '0' && c <= '9') return c - '0';
    if (hex && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

TextNumber ConvertText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    const std::int64_t base = hex ? 16 : 10;
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    std::size_t digits = 0;
    for (; i < text.size(); ++i, ++digits) {
        const int d = DigitValue(text[i], hex);
        if (d < 0) break;
        const std::int64_t next = magnitude * base + d;
        if (next > limit) break; // this digit leaves the 32-bit range: it is the failing character
        magnitude = next;
    }
    TextNumber result;
    if (i == text.size() && digits > 0) {
        result.ok = true;
        result.value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    } else {
        result.value = static_cast<std::int32_t>(magnitude);
    }
    return result;
}

std::uint8_t SlaveAddressFromText(std::string_view text) {
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(ConvertText(text).value) & 0xFF);
}

} // namespace korvan
