#include "Catalogue.h"

#include "Binding.h"
#include "LinkLoss.h"
#include "ListItems.h"
#include "WindowDescription.h"

#include <array>
#include <span>
#include <string_view>

namespace korvan {

namespace {

// The control of WindowControls an item reads.
enum Field : int {
    fPANEL,
    fADR,
    fSPD,
    fDEL,
    fPUSK,
    fUt,
    fDrives,
    fCd,
    fContact,
    fO,
    fDelay,
    fOUT,
    fIN,
    fSTATE,
    fFIN,
    fFINA,
    fBIN,
    fCsContact,
    fRELAY,
    fCS1,
    fCS2,
    fCU1,
    fCU2,
};

// One of these is set: where the item's value lives.
struct Ref {
    ListState* list = nullptr;
    RadioChoice* radio = nullptr;
    bool* check = nullptr;
    std::string* text = nullptr;
    Colour* colour = nullptr;
};

Ref Access(WindowControls& c, int field, int unit, int i) {
    UnitControls& u = c.unit[unit < 0 ? 0 : unit];
    switch (field) {
    case fPANEL:
        return {.list = &c.ctrl.PANEL};
    case fADR:
        return {.text = &c.ctrl.ADR};
    case fSPD:
        return {.list = &c.ctrl.SPD};
    case fDEL:
        return {.text = &c.ctrl.DEL};
    case fPUSK:
        return {.colour = &c.ctrl.PUSK};
    case fUt:
        return {.list = &u.Ut};
    case fDrives:
        return {.radio = &u.drives};
    case fCd:
        return {.check = &u.Cd};
    case fContact:
        return {.radio = &u.contact};
    case fO:
        return {.check = &u.O[i]};
    case fDelay:
        return {.text = &u.delay[i]};
    case fOUT:
        return {.colour = &u.OUT[i]};
    case fIN:
        return {.colour = &u.IN[i]};
    case fSTATE:
        return {.colour = &u.STATE};
    case fFIN:
        return {.check = &u.FIN[i]};
    case fFINA:
        return {.check = &u.FINA};
    case fBIN:
        return {.check = &u.BIN[i]};
    case fCsContact:
        return {.radio = &c.master.csContact};
    case fRELAY:
        return {.colour = &c.master.RELAY[i]};
    case fCS1:
        return {.colour = &c.master.CS1};
    case fCS2:
        return {.colour = &c.master.CS2};
    case fCU1:
        return {.colour = &c.master.CU1};
    case fCU2:
        return {.colour = &c.master.CU2};
    }
    return {};
}

QString Caption(const QString& name) {
    const DescribedControl* control = DescribeControl(name);
    if (control == nullptr) qFatal("catalogue: no window control %s", qPrintable(name));
    return control->caption;
}

// A check box or indicator that means little without its group: "group: caption".
QString InGroup(const QString& group, const QString& caption) {
    return Caption(group) + QStringLiteral(": ") + caption;
}

QString Numbered(const char* pattern, int unit, int j = 0) {
    QString name = QString::fromUtf8(pattern);
    name.replace(QStringLiteral("{k}"), QString::number(unit));
    name.replace(QStringLiteral("{k+1}"), QString::number(unit + 1));
    name.replace(QStringLiteral("{k+11}"), QString::number(unit + 11));
    name.replace(QStringLiteral("{j}"), QString::number(j));
    return name;
}

template <std::size_t N> std::vector<QString> Texts(const std::array<std::string_view, N>& items) {
    std::vector<QString> texts;
    for (std::string_view item : items)
        texts.push_back(QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size())));
    return texts;
}

std::vector<QString> RadioCaptions(const RadioGroupRow& group, int unit) {
    std::vector<QString> captions;
    for (int i = 0; i < group.count; ++i)
        captions.push_back(Caption(Numbered(group.buttons[i], unit)));
    return captions;
}

class ItemsBuilder {
  public:
    std::vector<CatalogueItem> items;

    CatalogueItem& Add(int unit, const QString& name, QString caption, int field, int index) {
        CatalogueItem& item = items.emplace_back();
        item.name = name;
        item.caption = std::move(caption);
        item.unit = unit;
        item.field = field;
        item.index = index;
        return item;
    }

    void Indicator(int unit, const QString& name, QString caption, IndicatorWords words, int field,
                   int index = 0) {
        CatalogueItem& item = Add(unit, name, std::move(caption), field, index);
        item.kind = ItemKind::Indicator;
        item.words = words;
    }

    void Setting(int unit, const QString& name, QString caption, int field, int index = 0,
                 std::vector<QString> choices = {}) {
        CatalogueItem& item = Add(unit, name, std::move(caption), field, index);
        item.kind = ItemKind::Setting;
        item.choices = std::move(choices);
    }

    void Network() {
        const int n = kNetworkUnit;
        Indicator(n, "PUSK", Caption("Labpusk"), IndicatorWords::Output, fPUSK);
        Setting(n, "PANEL", Caption("PU"), fPANEL, 0, Texts(kPanelTypeTexts));
        Setting(n, "ADR", Caption("Labadr"), fADR);
        Setting(n, "SPD", Caption("Labspd"), fSPD, 0, Texts(kSpeedTexts));
        Setting(n, "DEL", Caption("Labdel"), fDEL);
    }

    void Unit(int k) {
        using enum IndicatorWords;
        auto name = [k](const char* pattern, int j = 0) { return Numbered(pattern, k, j); };
        for (int j = 1; j <= 2; ++j)
            Indicator(k, name("OUT{j}_{k}", j), Caption(name("Labout{j}_{k}", j)), Output, fOUT,
                      j - 1);
        for (int j = 1; j <= 5; ++j)
            Indicator(k, name("IN{j}_{k}", j), Caption(name("Labin{j}_{k}", j)), Input, fIN, j - 1);
        if (k == 0) {
            const std::array<std::pair<const char*, int>, 4> inputs{
                {{"CS1", fCS1}, {"CS2", fCS2}, {"CU1", fCU1}, {"CU2", fCU2}}};
            for (auto [signal, field] : inputs) {
                const QString label = QStringLiteral("Lab") + QString::fromUtf8(signal).toLower();
                Indicator(k, signal, Caption(label), Input, field);
            }
            for (int j = 1; j <= 4; ++j)
                Indicator(k, name("RELAY{j}", j),
                          InGroup(name("RELAYS_{k}"), Caption(name("O{j}_{k}", j))), Output, fRELAY,
                          j - 1);
        }
        Indicator(k, name("STATE_{k}"), Caption(name("Labstate_{k}")), State, fSTATE);

        const std::span<const RadioGroupRow> radios = UnitRadioGroups();
        // Two settings of the group "Привод" in one register: each needs a caption of its own.
        Setting(k, name("Ut_{k}"), QStringLiteral("Тип привода"), fUt, 0, Texts(kDriveTypeTexts));
        Setting(k, name("ONE_{k}"), QStringLiteral("Число приводов"), fDrives, 0,
                RadioCaptions(radios[0], k));
        Setting(k, name("Cd_{k}"), InGroup(name("DRV_{k}"), Caption(name("Cd_{k}"))), fCd);
        const char* delays[] = {"Labtd1_{k}", "Labtp1_{k}", "Labtd2_{k}", "Labtp2_{k}"};
        const char* delayFields[] = {"TD1_{k}", "TP1_{k}", "TD2_{k}", "TP2_{k}"};
        for (int i = 0; i < 4; ++i)
            Setting(k, name(delayFields[i]), Caption(name(delays[i])), fDelay, i);
        Setting(k, name("R_{k}"), Caption(name("INPUTS_{k}")), fContact, 0,
                RadioCaptions(radios[1], k));
        if (k == 0) Setting(k, "CSR", Caption("CS"), fCsContact, 0, RadioCaptions(radios[2], k));
        for (int j = 1; j <= 4; ++j)
            Setting(k, name("O{j}_{k}", j),
                    InGroup(name("RELAYS_{k}"), Caption(name("O{j}_{k}", j))), fO, j - 1);
        Setting(k, name("FINA_{k}"), InGroup(name("GroupBox{k+1}"), Caption(name("FINA_{k}"))),
                fFINA);
        for (int j = 0; j < kUnitPanels; ++j)
            Setting(k, name("FIN{j}_{k}", j),
                    InGroup(name("GroupBox{k+1}"), Caption(name("FIN{j}_{k}", j))), fFIN, j);
        for (int j = 0; j < kUnitPanels; ++j)
            Setting(k, name("BIN{j}_{k}", j),
                    InGroup(name("GroupBox{k+11}"), Caption(name("BIN{j}_{k}", j))), fBIN, j);
    }
};

// Gives the item's control the n-th value the operator can give it; for a field, numbers that
// reach every bit the binding lets it write.
bool GiveItemValue(WindowControls& controls, const void* context, int n) {
    const auto& item = *static_cast<const CatalogueItem*>(context);
    const Ref ref = Access(controls, item.field, item.unit, item.index);
    if (ref.list != nullptr || ref.radio != nullptr) {
        if (n >= static_cast<int>(item.choices.size())) return false;
        if (ref.list != nullptr) ref.list->index = n;
        if (ref.radio != nullptr) *ref.radio = n;
        return true;
    }
    if (ref.check != nullptr) {
        *ref.check = n == 1;
        return n < 2;
    }
    if (ref.text != nullptr && n < static_cast<int>(std::size(choice::kProbeTexts))) {
        *ref.text = choice::kProbeTexts[n];
        return true;
    }
    return false;
}

} // namespace

QString CatalogueUnitName(int unit) {
    return unit == kNetworkUnit ? Caption(QStringLiteral("NET")) : UnitTitle(unit);
}

const std::vector<CatalogueItem>& CatalogueItems() {
    static const std::vector<CatalogueItem> items = [] {
        ItemsBuilder builder;
        builder.Network();
        for (int k = 0; k < kUnitPanels; ++k)
            builder.Unit(k);
        for (CatalogueItem& item : builder.items)
            if (item.kind == ItemKind::Setting) item.bits = ProbeOwnedBits(GiveItemValue, &item);
        return std::move(builder.items);
    }();
    return items;
}

QString ItemWords(const CatalogueItem& item, const WindowControls& controls) {
    // Access hands out writable places; nothing is written through them here.
    const Ref ref =
        Access(const_cast<WindowControls&>(controls), item.field, item.unit, item.index);
    auto choice = [&item](int index) {
        if (index < 0 || index >= static_cast<int>(item.choices.size())) return QStringLiteral("—");
        return item.choices[static_cast<std::size_t>(index)];
    };
    if (ref.colour != nullptr) return IndicatorColourWords(item.words, *ref.colour);
    if (ref.list != nullptr) return choice(ref.list->index);
    if (ref.radio != nullptr) return choice(*ref.radio);
    if (ref.check != nullptr)
        return *ref.check ? QStringLiteral("отмечен") : QStringLiteral("не отмечен");
    if (ref.text != nullptr) return QString::fromStdString(*ref.text);
    return {};
}

QString IndicatorColourWords(IndicatorWords words, Colour colour) {
    using enum IndicatorWords;
    if (words == None) return {};
    if (words == State) {
        if (colour == kGreen) return QStringLiteral("Норма");
        if (colour == kYellow) return QStringLiteral("Неисправность");
        return {};
    }
    if (colour == kYellow) return QStringLiteral("неисправность");
    if (colour == kRed)
        return words == Input ? QStringLiteral("сработал") : QStringLiteral("включен");
    if (colour == kGreen)
        return words == Input ? QStringLiteral("в норме") : QStringLiteral("выключен");
    return {};
}

void ShownControls(const RegisterImage& image, WindowControls& controls) {
    controls = WindowControls{};
    ImageToControls(image, controls);
    GreyOutDisabledUnits(image, controls);
}

std::vector<QString> ImageWords(const RegisterImage& image) {
    WindowControls controls;
    ShownControls(image, controls);
    const std::vector<CatalogueItem>& items = CatalogueItems();
    std::vector<QString> words;
    words.reserve(items.size());
    for (const CatalogueItem& item : items)
        words.push_back(ItemWords(item, controls));
    return words;
}

} // namespace korvan
