#include "ControlChoice.h"

#include <map>
#include <tuple>

namespace korvan {

std::vector<RegisterBits> ProbeOwnedBits(GiveValue give, const void* context) {
    std::map<int, std::uint16_t> masks;
    for (std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
        RegisterImage base;
        base.fill(fill);
        WindowControls shown;
        ImageToControls(base, shown);
        RegisterImage untouched = base;
        ControlsToImage(shown, untouched);
        for (int n = 0;; ++n) {
            WindowControls changed = shown;
            if (!give(changed, context, n)) break;
            RegisterImage image = base;
            ControlsToImage(changed, image);
            for (int r = 0; r < kRegisterCount; ++r) {
                const auto diff = static_cast<std::uint16_t>(RegisterValue(image, r) ^
                                                             RegisterValue(untouched, r));
                if (diff != 0) masks[r] |= diff;
            }
        }
    }
    std::vector<RegisterBits> bits;
    for (auto [reg, mask] : masks)
        bits.push_back({reg, mask});
    return bits;
}

const std::vector<RegisterBits>& OwnedBits(const ControlRef& control) {
    // Keyed by the control's functions and place; the window has a few hundred controls.
    using Key = std::tuple<ControlRef::Copy, int, int>;
    static std::map<Key, std::vector<RegisterBits>> known;
    const Key key{control.copy, control.unit, control.index};
    auto found = known.find(key);
    if (found != known.end()) return found->second;
    const GiveValue give = [](WindowControls& controls, const void* context, int n) {
        const auto& c = *static_cast<const ControlRef*>(context);
        return c.probe(controls, c.unit, c.index, n);
    };
    return known.emplace(key, ProbeOwnedBits(give, &control)).first->second;
}

std::vector<Choice> ChoicesOf(const ControlRef& control, const WindowControls& value,
                              const RegisterImage& wanted) {
    std::vector<Choice> choices;
    if (control.copy == nullptr) return choices;
    // Only this control is set; whatever the others write lands outside its bits.
    WindowControls alone;
    control.copy(value, alone, control.unit, control.index);
    RegisterImage image = wanted;
    ControlsToImage(alone, image);
    for (const RegisterBits& bits : OwnedBits(control))
        choices.push_back({bits.reg, bits.mask,
                           static_cast<std::uint16_t>(RegisterValue(image, bits.reg) & bits.mask)});
    return choices;
}

} // namespace korvan
