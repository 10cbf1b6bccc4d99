#include "TrafficCsv.h"

#include "ExchangeText.h"

namespace korvan {

namespace {

template <class Cell> void WriteRow(std::ostream& out, Cell cell) {
    for (int column = 0; column < kExchangeColumnCount; ++column) {
        if (column > 0) out << ',';
        out << CsvField(cell(column));
    }
    out << "\r\n";
}

} // namespace

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

bool WriteTrafficCsv(const TrafficLog& log, std::ostream& out) {
    WriteRow(out, [](int column) { return std::string(kExchangeColumnTitles[column]); });
    for (std::uint64_t s = log.FirstKept(); s < log.End() && out; ++s) {
        const ExchangeRecord& record = log.At(s);
        WriteRow(out, [&](int column) {
            const auto which = static_cast<ExchangeColumn>(column);
            if (which == ExchangeColumn::Time) return IsoTimeText(record.sentAt);
            return ColumnText(record, which, ExchangeRecord::kKeptBytes);
        });
    }
    out.flush();
    return static_cast<bool>(out);
}

} // namespace korvan
