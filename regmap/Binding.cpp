#include "Binding.h"

#include "DriveType.h"
#include "ListItems.h"
#include "TextConversion.h"

#include <array>
#include <cstdint>
#include <string>

namespace korvan {

namespace {

constexpr int kFirstModule = 1;
constexpr int kMatrixUnits = 10; // unit j is bit j of a start-source or blocking register
constexpr int kCommandInputBit = 10;

constexpr int kTwoDrivesBit = 6;
constexpr int kNoDriveControlBit = 7;
constexpr int kContactShift = 8;
constexpr int kRelayEventBit = 10; // bits 10..13, one per relay event
constexpr int kCommandContactShift = 14;
constexpr int kRelayOutputBit = 8; // bits 8..11 of the master's UnitOutputs

constexpr std::uint16_t kPuskStart = 170;
constexpr int kMaxAddress = kAddressRange.high;
constexpr int kMaxTimeout = kTimeoutRange.high;

bool Bit(unsigned value, int bit) {
    return (value >> bit) & 1u;
}

std::uint16_t WithBit(std::uint16_t value, int bit, bool on) {
    const auto mask = static_cast<std::uint16_t>(1u << bit);
    return static_cast<std::uint16_t>(on ? value | mask : value & ~mask);
}

std::uint16_t WithField(std::uint16_t value, int shift, unsigned mask, unsigned field) {
    return static_cast<std::uint16_t>((value & ~(mask << shift)) | ((field & mask) << shift));
}

void SetBit(RegisterImage& image, int reg, int bit, bool on) {
    SetRegisterValue(image, reg, WithBit(RegisterValue(image, reg), bit, on));
}

void SetField(RegisterImage& image, int reg, int shift, unsigned mask, unsigned field) {
    SetRegisterValue(image, reg, WithField(RegisterValue(image, reg), shift, mask, field));
}

int HighByte(int reg) {
    return 2 * reg;
}
int LowByte(int reg) {
    return 2 * reg + 1;
}

// A fault wins over the state.
Colour IndicatorColour(bool fault, bool on) {
    if (fault) return kYellow;
    return on ? kRed : kGreen;
}

// Red is on and green is off. Any other colour (a fault, a unit not in use, a lost link) says
// nothing about what the operator wants, so the bit stays as it is: reading it as off would make
// the station switch off a running output by itself.
bool IndicatorBit(Colour colour, bool current) {
    if (colour == kRed) return true;
    if (colour == kGreen) return false;
    return current;
}

void SelectItem(ListState& list, unsigned value, std::size_t items) {
    list.index = value < items ? static_cast<int>(value) : -1;
}

bool HasSelection(const ListState& list, std::size_t items) {
    return list.index >= 0 && static_cast<std::size_t>(list.index) < items;
}

// Contact types 0..2 have a button; 3 has none, so no button is selected rather than a stale one
// that would claim a setting the unit does not have.
RadioChoice ContactChoice(unsigned type) {
    return type <= 2 ? static_cast<RadioChoice>(type) : -1;
}

bool IsContactChoice(RadioChoice choice) {
    return choice >= 0 && choice <= 2;
}

// Delays take any number that converts: the high byte is the quotient by 256 and the low byte
// the remainder, both truncated toward zero, so "-5" becomes 0x00FB.
void StoreDelay(const std::string& text, RegisterImage& image, int reg) {
    const TextNumber number = ConvertText(text);
    if (!number.ok) return;
    image[HighByte(reg)] = static_cast<std::uint8_t>((number.value / 256) & 0xFF);
    image[LowByte(reg)] = static_cast<std::uint8_t>((number.value % 256) & 0xFF);
}

bool InRange(const TextNumber& number, int low, int high) {
    return number.ok && number.value >= low && number.value <= high;
}

std::string FirmwareText(const RegisterImage& image) {
    const int major = image[HighByte(reg::Firmware)];
    const int minor = image[LowByte(reg::Firmware)];
    if (major <= 2) return "1.xx или 2.xx";
    return std::to_string(major) + (minor < 10 ? ".0" : ".") + std::to_string(minor);
}

// ---- CTRL ----------------------------------------------------------------------------------

void CommonToControls(const RegisterImage& image, CommonControls& c) {
    c.PUSK = RegisterValue(image, reg::CommandSignal) == kPuskStart ? kRed : kGreen;
    // An open list is set too: the window shows it the selection once the popup closes.
    SelectItem(c.PANEL, RegisterValue(image, reg::PanelType), kPanelTypeTexts.size());
    c.ADR = std::to_string(RegisterValue(image, reg::NetworkAddress));
    SelectItem(c.SPD, RegisterValue(image, reg::NetworkSpeed), kSpeedTexts.size());
    c.DEL = std::to_string(RegisterValue(image, reg::NetworkTimeout));
    const std::uint16_t parity = RegisterValue(image, reg::NetworkParity);
    if (parity <= 2) c.parity = parity;
    c.VER = FirmwareText(image);
}

// The panel type, the address, the speed and the timeout own their whole register: what the
// operator chose is written with a high byte of 0, never with one nobody saw. A value the control
// cannot show (an address of 0x0107, a speed index of 259) is not read back, so an untouched
// control writes nothing. The parity buttons are hidden: only their low byte is read back.
void ControlsToCommon(const CommonControls& c, RegisterImage& image) {
    if (!c.PANEL.droppedDown && HasSelection(c.PANEL, kPanelTypeTexts.size()))
        SetRegisterValue(image, reg::PanelType, static_cast<std::uint16_t>(c.PANEL.index));

    const TextNumber address = ConvertText(c.ADR);
    if (InRange(address, 1, kMaxAddress))
        SetRegisterValue(image, reg::NetworkAddress, static_cast<std::uint16_t>(address.value));

    if (!c.SPD.droppedDown && HasSelection(c.SPD, kSpeedTexts.size()))
        SetRegisterValue(image, reg::NetworkSpeed, static_cast<std::uint16_t>(c.SPD.index));

    const TextNumber timeout = ConvertText(c.DEL);
    if (InRange(timeout, 1, kMaxTimeout))
        SetRegisterValue(image, reg::NetworkTimeout, static_cast<std::uint16_t>(timeout.value));

    // The buttons cannot show a parity other than 0..2 and then still hold an older choice.
    const bool parityShown = RegisterValue(image, reg::NetworkParity) <= 2;
    if (parityShown && c.parity >= 0 && c.parity <= 2)
        image[LowByte(reg::NetworkParity)] = static_cast<std::uint8_t>(c.parity);
}

// ---- unit blocks ---------------------------------------------------------------------------

// What the master and the modules share, up to and including the start sources and blockings.
void UnitToControls(int k, const RegisterImage& image, WindowControls& controls) {
    UnitControls& u = controls.unit[k];
    const int base = reg::UnitBlock(k);
    const std::uint16_t config = RegisterValue(image, base + reg::UnitConfig);
    const std::uint16_t faults = RegisterValue(image, base + reg::UnitFaults);
    const std::uint16_t inputs = RegisterValue(image, base + reg::UnitInputs);
    const std::uint16_t outputs = RegisterValue(image, base + reg::UnitOutputs);

    SelectItem(u.Ut, DriveTypeIndex(config & kDriveTypeBits), kDriveTypeTexts.size());
    u.drives = Bit(config, kTwoDrivesBit) ? 1 : 0;
    u.Cd = !Bit(config, kNoDriveControlBit);
    u.contact = ContactChoice((config >> kContactShift) & 3u);
    for (int i = 0; i < 4; ++i)
        u.O[i] = !Bit(config, kRelayEventBit + i);
    for (int i = 0; i < 4; ++i)
        u.delay[i] = std::to_string(RegisterValue(image, base + reg::DelayOn1 + i));
    for (int i = 0; i < 2; ++i)
        u.OUT[i] = IndicatorColour(Bit(faults, i), Bit(outputs, i));
    for (int i = 0; i < 5; ++i)
        u.IN[i] = IndicatorColour(Bit(faults, 4 + i), Bit(inputs, i));
    u.STATE = faults != 0 ? kYellow : kGreen;
    MatrixToControls(k, image, controls);
}

void ControlsToUnit(int k, const WindowControls& controls, RegisterImage& image) {
    const UnitControls& u = controls.unit[k];
    const int base = reg::UnitBlock(k);
    const int config = base + reg::UnitConfig;

    // An empty list stands for a code it cannot show: writing code 0 would switch the drive off.
    if (!u.Ut.droppedDown && HasSelection(u.Ut, kDriveTypeTexts.size()))
        SetField(image, config, 0, kDriveTypeBits, DriveTypeCode(u.Ut.index));
    SetBit(image, config, kTwoDrivesBit, u.drives == 1);
    SetBit(image, config, kNoDriveControlBit, !u.Cd);
    if (IsContactChoice(u.contact))
        SetField(image, config, kContactShift, 3u, static_cast<unsigned>(u.contact));
    for (int i = 0; i < 4; ++i)
        SetBit(image, config, kRelayEventBit + i, !u.O[i]);
    for (int i = 0; i < 4; ++i)
        StoreDelay(u.delay[i], image, base + reg::DelayOn1 + i);
    const int outputs = base + reg::UnitOutputs;
    for (int i = 0; i < 2; ++i)
        SetBit(image, outputs, i, IndicatorBit(u.OUT[i], RegisterBit(image, outputs, i)));
    ControlsToMatrix(k, controls, image);
}

void MasterToControls(const RegisterImage& image, WindowControls& controls) {
    UnitToControls(0, image, controls);
    MasterControls& m = controls.master;
    const std::uint16_t config = RegisterValue(image, reg::UnitConfig);
    const std::uint16_t faults = RegisterValue(image, reg::UnitFaults);
    const std::uint16_t inputs = RegisterValue(image, reg::UnitInputs);
    const std::uint16_t outputs = RegisterValue(image, reg::UnitOutputs);

    m.csContact = ContactChoice((config >> kCommandContactShift) & 3u);
    for (int i = 0; i < 4; ++i)
        m.RELAY[i] = Bit(outputs, kRelayOutputBit + i) ? kRed : kGreen;
    m.CS1 = IndicatorColour(Bit(faults, 2), Bit(inputs, 8));
    m.CS2 = IndicatorColour(Bit(faults, 3), Bit(inputs, 9));
    m.CU1 = Bit(inputs, 12) ? kRed : kGreen;
    m.CU2 = Bit(inputs, 13) ? kRed : kGreen;
}

void ControlsToMaster(const WindowControls& controls, RegisterImage& image) {
    ControlsToUnit(0, controls, image);
    const MasterControls& m = controls.master;
    if (IsContactChoice(m.csContact))
        SetField(image, reg::UnitConfig, kCommandContactShift, 3u,
                 static_cast<unsigned>(m.csContact));
    for (int i = 0; i < 4; ++i) {
        const int bit = kRelayOutputBit + i;
        SetBit(image, reg::UnitOutputs, bit,
               IndicatorBit(m.RELAY[i], RegisterBit(image, reg::UnitOutputs, bit)));
    }
}

bool IsModule(int k) {
    return k >= kFirstModule && k < kUnitPanels;
}
bool IsUnit(int k) {
    return k >= 0 && k < kUnitPanels;
}

} // namespace

void ImageToControls(const RegisterImage& image, WindowControls& controls) {
    CommonToControls(image, controls.ctrl);
    MasterToControls(image, controls);
    for (int k = kFirstModule; k < kUnitPanels; ++k)
        ModuleToControls(k, image, controls);
}

void ControlsToImage(const WindowControls& controls, RegisterImage& image) {
    ControlsToCommon(controls.ctrl, image);
    ControlsToMaster(controls, image);
    for (int k = kFirstModule; k < kUnitPanels; ++k)
        ControlsToModule(k, controls, image);
}

void ModuleToControls(int k, const RegisterImage& image, WindowControls& controls) {
    if (IsModule(k)) UnitToControls(k, image, controls);
}

void ControlsToModule(int k, const WindowControls& controls, RegisterImage& image) {
    if (IsModule(k)) ControlsToUnit(k, controls, image);
}

void MatrixToControls(int k, const RegisterImage& image, WindowControls& controls) {
    if (!IsUnit(k)) return;
    UnitControls& u = controls.unit[k];
    const std::uint16_t start = RegisterValue(image, reg::StartSources(k));
    const std::uint16_t block = RegisterValue(image, reg::BlockSources(k));
    for (int j = 0; j < kMatrixUnits; ++j)
        u.FIN[j] = Bit(start, j);
    u.FINA = Bit(start, kCommandInputBit);
    for (int j = 0; j < kMatrixUnits; ++j)
        u.BIN[j] = Bit(block, j);
}

// The boxes own bits 0..10 of the start sources and 0..9 of the blockings; the bits above them go
// back as the unit reported them.
void ControlsToMatrix(int k, const WindowControls& controls, RegisterImage& image) {
    if (!IsUnit(k)) return;
    const UnitControls& u = controls.unit[k];
    std::uint16_t start = RegisterValue(image, reg::StartSources(k));
    std::uint16_t block = RegisterValue(image, reg::BlockSources(k));
    for (int j = 0; j < kMatrixUnits; ++j) {
        start = WithBit(start, j, u.FIN[j]);
        block = WithBit(block, j, u.BIN[j]);
    }
    start = WithBit(start, kCommandInputBit, u.FINA);
    SetRegisterValue(image, reg::StartSources(k), start);
    SetRegisterValue(image, reg::BlockSources(k), block);
}

// ---- the operator's choices -----------------------------------------------------------------

namespace {

// The fields of a unit's configuration register, one per control; together they cover it.
constexpr std::array<std::uint16_t, 9> kConfigFields{kDriveTypeBits,
                                                     1u << kTwoDrivesBit,
                                                     1u << kNoDriveControlBit,
                                                     3u << kContactShift,
                                                     1u << kRelayEventBit,
                                                     1u << (kRelayEventBit + 1),
                                                     1u << (kRelayEventBit + 2),
                                                     1u << (kRelayEventBit + 3),
                                                     3u << kCommandContactShift};
constexpr std::uint16_t kCommandSignalField = 0x00FF;

} // namespace

std::uint16_t FieldBits(int reg, std::uint16_t changed) {
    const bool unitBlock = reg >= 0 && reg < reg::UnitBlock(kUnitPanels);
    if (unitBlock && reg % 8 == reg::UnitConfig) {
        std::uint16_t bits = 0;
        for (const std::uint16_t field : kConfigFields)
            if (changed & field) bits |= field;
        return bits;
    }
    const bool wholeRegister = (unitBlock && reg % 8 >= reg::DelayOn1) ||
                               (reg >= reg::NetworkAddress && reg <= reg::PanelType);
    if (wholeRegister) return changed != 0 ? 0xFFFF : 0;
    if (reg == reg::CommandSignal) return changed != 0 ? kCommandSignalField : 0;
    return changed; // outputs, relays, start sources and blockings: a bit each
}

std::vector<Choice> ChoicesBetween(const RegisterImage& wanted, const RegisterImage& chosen) {
    std::vector<Choice> choices;
    for (int reg = 0; reg < kRegisterCount; ++reg) {
        const auto changed =
            static_cast<std::uint16_t>(RegisterValue(wanted, reg) ^ RegisterValue(chosen, reg));
        if (changed != 0)
            choices.push_back({reg, FieldBits(reg, changed), RegisterValue(chosen, reg)});
    }
    return choices;
}

std::string EntryRefusal(const std::string& text, EntryRange range) {
    const TextNumber number = ConvertText(text);
    if (!number.ok) return "Не записано: «" + text + "» — не число";
    if (number.value < range.low || number.value > range.high)
        return "Не записано: " + std::to_string(number.value) + " — вне пределов " +
               std::to_string(range.low) + "–" + std::to_string(range.high);
    return {};
}

} // namespace korvan
