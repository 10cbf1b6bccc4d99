// Random register images and control states, and a readable dump of WindowControls for
// comparisons whose failures should say which control differs.
#pragma once

#include "ControlsModel.h"
#include "RegisterImage.h"

#include <random>
#include <sstream>
#include <string>

namespace korvan::test {

inline std::string Describe(const ListState& l) {
    return std::to_string(l.index) + (l.droppedDown ? "v" : "");
}

inline std::string Describe(const UnitControls& u) {
    std::ostringstream s;
    s << "Ut=" << Describe(u.Ut) << " drives=" << u.drives << " Cd=" << u.Cd
      << " contact=" << u.contact << " O=";
    for (bool o : u.O)
        s << o;
    for (const auto& d : u.delay)
        s << " delay='" << d << "'";
    s << std::hex << " OUT=" << u.OUT[0] << "," << u.OUT[1] << " IN=";
    for (Colour c : u.IN)
        s << c << ",";
    s << " STATE=" << u.STATE << " FIN=";
    for (bool f : u.FIN)
        s << f;
    s << " FINA=" << u.FINA << " BIN=";
    for (bool b : u.BIN)
        s << b;
    return s.str();
}

inline std::string Describe(const MasterControls& m) {
    std::ostringstream s;
    s << "csContact=" << m.csContact << std::hex << " RELAY=";
    for (Colour c : m.RELAY)
        s << c << ",";
    s << " CS=" << m.CS1 << "," << m.CS2 << " CU=" << m.CU1 << "," << m.CU2;
    return s.str();
}

inline std::string Describe(const CommonControls& c) {
    std::ostringstream s;
    s << std::hex << "PUSK=" << c.PUSK << std::dec << " PANEL=" << Describe(c.PANEL) << " ADR='"
      << c.ADR << "' SPD=" << Describe(c.SPD) << " DEL='" << c.DEL << "' parity=" << c.parity
      << " VER='" << c.VER << "'" << std::hex << " ONLINE=" << c.ONLINE;
    return s.str();
}

inline std::string Describe(const WindowControls& w) {
    std::string s = "CTRL: " + Describe(w.ctrl) + "\nmaster: " + Describe(w.master);
    for (int k = 0; k < kUnitPanels; ++k)
        s += "\nDEV_" + std::to_string(k) + ": " + Describe(w.unit[k]);
    return s;
}

class Random {
  public:
    explicit Random(unsigned seed) : engine_(seed) {}

    int Between(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(engine_);
    }
    bool Chance(int percent) { return Between(0, 99) < percent; }
    template <typename T, std::size_t N> T Pick(const T (&items)[N]) {
        return items[Between(0, static_cast<int>(N) - 1)];
    }

    // Any content, with each field drawn either from the values the controls can show or from
    // the whole range (faults, codes without an item, contact type 3, out-of-range settings ...).
    // Only the bits that every write-back clears are kept at 0.
    RegisterImage Image() {
        RegisterImage image;
        for (auto& b : image)
            b = static_cast<std::uint8_t>(Between(0, 255));
        static constexpr int kCodes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 21, 22, 30};
        for (int k = 0; k < kUnitPanels; ++k) {
            const int base = reg::UnitBlock(k);
            if (Chance(50)) {
                const auto config = RegisterValue(image, base);
                SetRegisterValue(image, base,
                                 static_cast<std::uint16_t>((config & ~0x3F) | Pick(kCodes)));
            }
            if (Chance(50)) SetRegisterValue(image, base + reg::UnitFaults, 0);
            for (int i = 0; i < 4; ++i)
                if (Chance(50))
                    SetRegisterValue(image, base + reg::DelayOn1 + i,
                                     static_cast<std::uint16_t>(Between(0, 999)));
        }
        SetMaybe(image, reg::NetworkAddress, 1, 127);
        SetMaybe(image, reg::NetworkSpeed, 0, 6);
        SetMaybe(image, reg::NetworkParity, 0, 2);
        SetMaybe(image, reg::NetworkTimeout, 1, 5000);
        SetMaybe(image, reg::PanelType, 0, 3);
        if (Chance(30)) SetRegisterValue(image, reg::CommandSignal, 170);
        // High bytes and the bits above the matrix boxes stay as random as the unit may send them.
        return image;
    }

    // A window in any state the operator, the commands or the link-loss display can leave it in,
    // lists held open included.
    WindowControls Controls() {
        static constexpr Colour kColours[] = {kGreen, kRed, kYellow, kGrey};
        static const char* const kTexts[] = {"", "0", "5", "127", "250", "-5", "12a", " ", "5000"};
        WindowControls w;
        w.ctrl.PUSK = Pick(kColours);
        w.ctrl.PANEL = List(3);
        w.ctrl.ADR = Pick(kTexts);
        w.ctrl.SPD = List(6);
        w.ctrl.DEL = Pick(kTexts);
        w.ctrl.parity = Between(-1, 2);
        w.ctrl.VER = Pick(kTexts);
        for (auto& u : w.unit) {
            u.Ut = List(kDriveTypeItems - 1);
            u.drives = Between(-1, 1);
            u.Cd = Chance(50);
            u.contact = Between(-1, 2);
            for (auto& o : u.O)
                o = Chance(50);
            for (auto& d : u.delay)
                d = Pick(kTexts);
            for (auto& c : u.OUT)
                c = Pick(kColours);
            for (auto& c : u.IN)
                c = Pick(kColours);
            u.STATE = Pick(kColours);
            for (auto& f : u.FIN)
                f = Chance(50);
            u.FINA = Chance(50);
            for (auto& b : u.BIN)
                b = Chance(50);
        }
        w.master.csContact = Between(-1, 2);
        for (auto& c : w.master.RELAY)
            c = Pick(kColours);
        w.master.CS1 = Pick(kColours);
        w.master.CU2 = Pick(kColours);
        return w;
    }

  private:
    void SetMaybe(RegisterImage& image, int reg, int low, int high) {
        if (Chance(70))
            SetRegisterValue(image, reg, static_cast<std::uint16_t>(Between(low, high)));
    }

    ListState List(int last) {
        ListState l;
        l.index = Between(-1, last);
        l.droppedDown = Chance(25);
        return l;
    }

    std::mt19937 engine_;
};

} // namespace korvan::test
