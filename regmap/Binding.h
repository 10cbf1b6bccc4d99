// The two routines that join the register image and the window's controls.
//
// ImageToControls shows an image (the confirmed one) in every control; ControlsToImage reads the
// controls back into an image (the wanted one), writing only the bytes the controls stand for.
// Both run their sections in the order CTRL, DEV_0, DEV_1 .. DEV_9.
//
// Whatever the controls cannot show is never written back from them: a list without a selection,
// a contact type of 3, a parity the hidden buttons do not know, an indicator that is neither red
// nor green. So an image shown and read back without the operator touching anything comes back
// unchanged, and the station never writes a setting nobody chose.
#pragma once

#include "ControlsModel.h"
#include "RegisterImage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace korvan {

// What an edit field accepts once the operator has finished typing.
struct EntryRange {
    int low;
    int high;
};
inline constexpr EntryRange kAddressRange{1, 127};      // ADR, register 80
inline constexpr EntryRange kTimeoutRange{1, 5000};     // DEL, register 83
inline constexpr EntryRange kDelayRange{0, 0xFFFF};     // TD1_k .. TP2_k, registers 8k+4 .. 8k+7
inline constexpr EntryRange kSlaveAddressRange{1, 247}; // SENDADR: never 0, the broadcast

// Why a finished entry is not taken (not a number, out of range), or "" when it is.
std::string EntryRefusal(const std::string& text, EntryRange range);

void ImageToControls(const RegisterImage& image, WindowControls& controls);
void ControlsToImage(const WindowControls& controls, RegisterImage& image);

// One expansion module, k = 1..9: its unit block, then its start sources and blockings. Any other
// k does nothing.
void ModuleToControls(int k, const RegisterImage& image, WindowControls& controls);
void ControlsToModule(int k, const WindowControls& controls, RegisterImage& image);

// Start sources (register 96 + k) and blockings (register 106 + k) of unit k = 0..9. Any other k
// does nothing.
void MatrixToControls(int k, const RegisterImage& image, WindowControls& controls);
void ControlsToMatrix(int k, const WindowControls& controls, RegisterImage& image);

// One choice of the operator: the bits of the controls that changed, and their new value.
struct Choice {
    int reg;
    std::uint16_t mask;
    std::uint16_t value;
};

// The bits of the controls of `reg` that own any of the `changed` bits: a whole list, radio group
// or edit field, never part of one, so a choice never mixes the operator's bits with the unit's.
std::uint16_t FieldBits(int reg, std::uint16_t changed);

// The choices that turn `wanted` into `chosen`, the controls read back over `wanted` right after
// the operator changed one of them.
std::vector<Choice> ChoicesBetween(const RegisterImage& wanted, const RegisterImage& chosen);

} // namespace korvan
