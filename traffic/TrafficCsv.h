// The traffic record as a CSV file: UTF-8, a title row, then one row per exchange, oldest first,
// with the columns of the view; the time with its date and UTC offset. The reply is written whole,
// as far as it was kept.
#pragma once

#include "TrafficLog.h"

#include <ostream>
#include <string>

namespace korvan {

// A field quoted when it holds a separator, a quote or a line break.
std::string CsvField(const std::string& text);

// Writes every exchange the log keeps; false when the stream failed.
bool WriteTrafficCsv(const TrafficLog& log, std::ostream& out);

} // namespace korvan
