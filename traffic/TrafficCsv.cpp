#include "TrafficCsv.h"

#include "ExchangeText.h"

namespace korvan {

bool WriteTrafficCsv(const TrafficLog& log, std::ostream& out) {
    std::vector<std::string> fields(kExchangeColumnCount);
    out << kCsvBom;
    for (int column = 0; column < kExchangeColumnCount; ++column)
        fields[column] = kExchangeColumnTitles[column];
    out << CsvRow(fields);
    for (std::uint64_t s = log.FirstKept(); s < log.End() && out; ++s) {
        const ExchangeRecord& record = log.At(s);
        for (int column = 0; column < kExchangeColumnCount; ++column) {
            const auto which = static_cast<ExchangeColumn>(column);
            fields[column] = which == ExchangeColumn::Time
                                 ? IsoTimeText(record.sentAt)
                                 : ColumnText(record, which, ExchangeRecord::kKeptBytes);
        }
        out << CsvRow(fields);
    }
    out.flush();
    return static_cast<bool>(out);
}

} // namespace korvan
