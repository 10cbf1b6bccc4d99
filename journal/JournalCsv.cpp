#include "JournalCsv.h"

#include "Csv.h"
#include "ExchangeText.h"

namespace korvan {

std::string JournalCsvTitleRow() {
    return std::string(kCsvBom) + CsvRow({"Время", "Блок", "Событие", "Источник"});
}

std::string JournalCsvRow(const JournalEvent& event) {
    return CsvRow({IsoTimeText(event.time), UnitText(event.unit).toStdString(),
                   event.text.toStdString(), SourceText(event.source).toStdString()});
}

} // namespace korvan
