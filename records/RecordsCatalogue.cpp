#include "RecordsCatalogue.h"

#include "Catalogue.h"

namespace korvan::records {

const SettingsCatalogue& Catalogue() {
    static const SettingsCatalogue catalogue = [] {
        SettingsCatalogue c;
        const std::vector<CatalogueItem>& items = CatalogueItems();
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].kind != ItemKind::Setting) continue;
            for (const RegisterBits& bits : items[i].bits) {
                c.owned[bits.reg] |= bits.mask;
                c.pieces.push_back({bits.reg, bits.mask, static_cast<int>(i)});
            }
        }
        return c;
    }();
    return catalogue;
}

QString SettingCaption(int tag) {
    const std::vector<CatalogueItem>& items = CatalogueItems();
    if (tag < 0 || tag >= static_cast<int>(items.size())) return {};
    return items[tag].caption;
}

RegisterImage FileImage(const SettingsRecord& file, const RegisterImage& confirmed) {
    RegisterImage image = confirmed;
    for (const RecordedRegister& r : file.network)
        SetRegisterValue(image, r.reg, r.value);
    for (const UnitRecord& unit : file.units)
        for (const RecordedRegister& r : unit.registers)
            SetRegisterValue(image, r.reg, r.value);
    return image;
}

void NameRegisters(SettingsRecord& record, const RegisterImage& image) {
    const std::vector<QString> words = ImageWords(image);
    auto name = [&](RecordedRegister& r) {
        r.named.clear();
        for (const SettingPiece& piece : Catalogue().pieces)
            if (piece.reg == r.reg)
                r.named.push_back({SettingCaption(piece.tag).toStdString(),
                                   words[static_cast<std::size_t>(piece.tag)].toStdString()});
    };
    for (RecordedRegister& r : record.network)
        name(r);
    for (UnitRecord& unit : record.units)
        for (RecordedRegister& r : unit.registers)
            name(r);
}

} // namespace korvan::records
