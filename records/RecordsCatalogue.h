// The records' view of the window's catalogue: which register bits are settings, their captions,
// and their values in words, all as the window shows them.
#pragma once

#include "SettingsRecord.h"

#include <QString>

namespace korvan::records {

struct SettingsCatalogue {
    OwnedBits owned{};
    std::vector<SettingPiece> pieces; // tag: index into CatalogueItems()
};

const SettingsCatalogue& Catalogue();

QString SettingCaption(int tag);

// The confirmed image with the file's registers laid over it: what the units would hold.
RegisterImage FileImage(const SettingsRecord& file, const RegisterImage& confirmed);

// Fills the captions and words of every recorded register from the image the values came from.
void NameRegisters(SettingsRecord& record, const RegisterImage& image);

} // namespace korvan::records
