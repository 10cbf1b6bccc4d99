// What the units show and hold, in the window's own words: for every unit (the common panel
// "Сеть", the master "ЗОКТ-01", the modules "ЗОКТ-МР №k") each status indicator and each setting
// the operator can edit, with
//   - its caption, read from the window's description by the control's object name;
//   - its value in words for a register image, read from the plain control state that the
//     window's own binding (ImageToControls, then the grey-out of units not in use) makes of that
//     image, so the words are what the window shows: "сработал"/"в норме"/"неисправность" for
//     inputs, "включен"/"выключен"/"неисправность" for outputs, relays and the command signal,
//     "Норма"/"Неисправность" for a unit's state, the item text of a list, the caption of the
//     chosen radio button, "отмечен"/"не отмечен" for a check box, the number of a field;
//   - for a setting, the register bits it owns, found by setting the control to each value it can
//     take and reading it back through ControlsToImage (over an all-zero and an all-one image).
//
// The event journal and the commissioning records use it; neither types a caption of its own.
#pragma once

#include "ControlChoice.h"
#include "ControlsModel.h"
#include "RegisterImage.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace korvan {

constexpr int kNetworkUnit = -1; // the common panel CTRL: network settings and the command signal

// "Сеть" for kNetworkUnit, "ЗОКТ-01" for 0, "ЗОКТ-МР №k" for 1..9.
QString CatalogueUnitName(int unit);

enum class ItemKind : std::uint8_t { Indicator, Setting };

// How an indicator's colours read.
enum class IndicatorWords : std::uint8_t {
    None,   // a setting
    Input,  // сработал / в норме / неисправность
    Output, // включен / выключен / неисправность
    State,  // Норма / Неисправность
};

struct CatalogueItem {
    QString name;    // object name of the control; a radio group by its first button ("R_3")
    QString caption; // "Вход 3", "Задержка вкл. 1", "Источник пускового сигнала: ЗОКТ-МР №2"
    int unit = 0;    // kNetworkUnit or 0..9
    ItemKind kind = ItemKind::Indicator;
    IndicatorWords words = IndicatorWords::None;
    std::vector<RegisterBits> bits; // a setting's own bits; empty for an indicator
    std::vector<QString> choices;   // a list's items or a radio group's captions, by index

    // Which control of WindowControls holds the value; for the catalogue's own use.
    int field = 0;
    int index = 0;
};

// Every item, unit by unit ("Сеть", then "ЗОКТ-01" .. "ЗОКТ-МР №9"), each unit's indicators
// before its settings, in the order of the window. Built on first use and kept.
const std::vector<CatalogueItem>& CatalogueItems();

// The item's value as the window shows it in `controls`. Empty for an indicator that shows
// neither red, green nor yellow (grey: unit not in use, link lost).
QString ItemWords(const CatalogueItem& item, const WindowControls& controls);

// An indicator's words for one colour: green reads "в норме", "выключен" or "Норма", yellow is a
// fault. Empty for a colour that says nothing (grey) and for IndicatorWords::None.
QString IndicatorColourWords(IndicatorWords words, Colour colour);

// The control state the window shows for `image`: ImageToControls over a fresh state, then the
// grey-out of the units not in use.
void ShownControls(const RegisterImage& image, WindowControls& controls);

// Words of every item for `image`, index for index with CatalogueItems().
std::vector<QString> ImageWords(const RegisterImage& image);

} // namespace korvan
