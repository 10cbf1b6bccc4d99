// Item texts of the window's pick-only lists. The list index is what the unit stores.
#pragma once

#include "ControlsModel.h"

#include <array>
#include <string_view>

namespace korvan {

// Drive types (Ut_0 .. Ut_9). The three-digit prefix of an item is its drive-type code; the
// mapping between index and code is DriveTypeCode / DriveTypeIndex.
inline constexpr std::array<std::string_view, kDriveTypeItems> kDriveTypeTexts{
    "000 не используется (отключен)",
    "001 пожарные насосы",
    "002 пожарная задвижка",
    "003 насос подкачки",
    "004 вентилятор",
    "005 реверсивный клапан",
    "006 электромеханический клапан",
    "007 электромагнитный клапан",
    "008 вентилятор с калорифером",
    "011 фрамуга",
    "012 насосы КНС",
    "021 реверсивный клапан (2х-пол.)",
    "022 фрамуга (2х-пол.)",
    "030 режим ввода-вывода",
};

// Panel type (PANEL), register 84.
inline constexpr std::array<std::string_view, 4> kPanelTypeTexts{
    "000 нет",
    "001 ПУ НЗ",
    "002 ПУ ВК",
    "003 ПУ КНС",
};

// Network speed of the unit (SPD), register 81.
inline constexpr std::array<std::string_view, 7> kSpeedTexts{
    "1200", "2400", "4800", "9600", "19200", "38400", "57600",
};

} // namespace korvan
