#include "DriveType.h"

#include "ControlsModel.h"

#include <array>

namespace korvan {

namespace {

constexpr std::array<std::uint8_t, kDriveTypeItems> kCodes{0, 1, 2,  3,  4,  5,  6,
                                                           7, 8, 11, 12, 21, 22, 30};

constexpr std::uint8_t kNoItem = 255;

// Code -> index over every byte value, built once from the list above.
constexpr std::array<std::uint8_t, 256> MakeIndexTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(kNoItem);
    for (std::size_t i = 0; i < kCodes.size(); ++i)
        table[kCodes[i]] = static_cast<std::uint8_t>(i);
    return table;
}

constexpr std::array<std::uint8_t, 256> kIndexOfCode = MakeIndexTable();

} // namespace

std::uint8_t DriveTypeCode(int index) {
    const auto byte = static_cast<std::uint8_t>(index);
    return byte < kCodes.size() ? kCodes[byte] : 0;
}

std::uint8_t DriveTypeIndex(int code) {
    return kIndexOfCode[static_cast<std::uint8_t>(code)];
}

} // namespace korvan
