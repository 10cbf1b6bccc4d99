// One control's choice, from the control straight to the register bits it owns: the way every
// operator action in a settings control takes to the poll engine. It reads nothing but the one
// control it is given, so a poll between two keys, a cached state or the other controls cannot
// change what is chosen. Free of widgets: the window and the line fuzzer call the same code.
#pragma once

#include "Binding.h"
#include "ControlParts.h"
#include "ControlsModel.h"

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace korvan {

struct RegisterBits {
    int reg = 0;
    std::uint16_t mask = 0;
    bool operator==(const RegisterBits&) const = default;
};

// One control of WindowControls: which member, of which unit, which element.
struct ControlRef {
    // Copies this control's value from `from` into `to`; a list counts as closed.
    using Copy = void (*)(const WindowControls& from, WindowControls& to, int unit, int index);
    // Gives the control the n-th of the values it may take; false past the last.
    using Probe = bool (*)(WindowControls& controls, int unit, int index, int n);

    Copy copy = nullptr;
    Probe probe = nullptr;
    int unit = 0;
    int index = 0;

    bool operator==(const ControlRef&) const = default;
};

namespace choice {

inline constexpr const char* kProbeTexts[] = {"0", "1", "127", "255", "256", "5000", "65535"};
inline constexpr int kProbeListItems = 32;
inline constexpr int kProbeRadioButtons = 4;

template <typename T> bool ProbeValue(T& value, int n) {
    if constexpr (std::is_same_v<T, ListState>) {
        value = {n, false};
        return n < kProbeListItems;
    } else if constexpr (std::is_same_v<T, bool>) {
        value = n == 1;
        return n < 2;
    } else if constexpr (std::is_same_v<T, std::string>) {
        if (n >= static_cast<int>(std::size(kProbeTexts))) return false;
        value = kProbeTexts[n];
        return true;
    } else if constexpr (std::is_same_v<T, Colour>) {
        value = n == 0 ? kGreen : kRed;
        return n < 2;
    } else {
        static_assert(std::is_same_v<T, RadioChoice>);
        value = n;
        return n < kProbeRadioButtons;
    }
}

template <auto state> struct Ops {
    static void Copy(const WindowControls& from, WindowControls& to, int unit, int index) {
        auto& value = parts::At<state>(to, unit, index);
        value = parts::At<state>(from, unit, index);
        // A list announces its choice as its popup closes.
        if constexpr (std::is_same_v<std::remove_reference_t<decltype(value)>, ListState>)
            value.droppedDown = false;
    }
    static bool Probe(WindowControls& controls, int unit, int index, int n) {
        return ProbeValue(parts::At<state>(controls, unit, index), n);
    }
};

} // namespace choice

// ControlOf<&UnitControls::delay>(k, kTD1): delay field TD1 of unit k.
template <auto state> constexpr ControlRef ControlOf(int unit = 0, int index = 0) {
    return {&choice::Ops<state>::Copy, &choice::Ops<state>::Probe, unit, index};
}

// The register bits a control owns: what ControlsToImage changes when only this control takes
// each of the values `give` gives it (over an all-zero and an all-one image). Empty for a control
// that writes nothing.
using GiveValue = bool (*)(WindowControls& controls, const void* context, int n);
std::vector<RegisterBits> ProbeOwnedBits(GiveValue give, const void* context);
// The same for a control, worked out once and kept.
const std::vector<RegisterBits>& OwnedBits(const ControlRef& control);

// The choices `value`'s state of `control` makes over `wanted`: for each register the control
// owns, its bits and their value. Only that control of `value` is read; a value the control cannot
// stand for (no list item, a text that is no number) leaves its bits as `wanted` has them.
std::vector<Choice> ChoicesOf(const ControlRef& control, const WindowControls& value,
                              const RegisterImage& wanted);

} // namespace korvan
