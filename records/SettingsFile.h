// The settings file: JSON in UTF-8, extension .korvan.json, described in docs/settings-file.md.
// Reading checks every field before anything is used; a file that fails is refused whole, with a
// message naming what is wrong.
#pragma once

#include "SettingsRecord.h"

#include <string>

namespace korvan::records {

inline constexpr const char* kFormatName = "KORVAN PRO settings";
inline constexpr int kSchemaVersion = 1;
inline constexpr const char* kFileSuffix = ".korvan.json";

std::string SettingsToJson(const SettingsRecord& record);

struct LoadedSettings {
    SettingsRecord record;
    std::string error; // empty when the file was read
};

// `owned` tells which registers hold settings: a file naming any other register is refused.
LoadedSettings SettingsFromJson(const std::string& bytes, const OwnedBits& owned);

} // namespace korvan::records
