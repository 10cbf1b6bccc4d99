// What the records tests share: a network of three units with settings in every field, and the
// window's binding as the write-back sees it.
#pragma once

#include "Binding.h"
#include "RecordsCatalogue.h"
#include "SettingsRecord.h"

namespace korvan::records::rig {

// Firmware 3.05, three units, every setting away from zero, and bits no control owns set.
inline RegisterImage ThreeUnits() {
    RegisterImage image{};
    for (int k = 0; k < 3; ++k) {
        const int base = reg::UnitBlock(k);
        // Drive type 2, two drives, NZ contacts, relay events 1 and 3 off; modules carry bits
        // 14..15 that only the master's command-signal contact owns.
        SetRegisterValue(image, base, static_cast<std::uint16_t>(k == 0 ? 0x5542 : 0xD542));
        SetRegisterValue(image, base + 1, 0x0010);
        SetRegisterValue(image, base + 3, 0x0001);
        for (int i = 0; i < 4; ++i)
            SetRegisterValue(image, base + 4 + i, static_cast<std::uint16_t>(10 * k + i + 1));
        SetRegisterValue(image, reg::StartSources(k), static_cast<std::uint16_t>(0xF801 << k));
        SetRegisterValue(image, reg::BlockSources(k), static_cast<std::uint16_t>(0xFC02 >> k));
    }
    for (auto [r, v] : {std::pair{80, 1}, {81, 3}, {82, 0}, {83, 100}, {84, 2}, {94, 85}})
        SetRegisterValue(image, r, static_cast<std::uint16_t>(v));
    image[byte::UnitCount] = 3;
    image[byte::FirmwareMajor] = 3;
    image[byte::FirmwareMajor + 1] = 5;
    return image;
}

inline LinkFacts Facts() {
    return {"2026-12-09T10:15:00", "KORVAN PRO 3.01", "/dev/ttyUSB0", 9600, 1};
}

// The wanted image the window's controls give when they show `wanted`, read back over `base`.
inline RegisterImage ThroughBinding(const RegisterImage& base, const RegisterImage& wanted) {
    WindowControls controls;
    ImageToControls(wanted, controls);
    RegisterImage image = base;
    ControlsToImage(controls, image);
    return image;
}

} // namespace korvan::records::rig
