// The traffic record as a CSV file (Csv.h): a title row, then one row per exchange, oldest first,
// with the columns of the view; the time with its date, milliseconds and UTC offset. The reply is
// written whole, as far as it was kept.
#pragma once

#include "Csv.h"
#include "TrafficLog.h"

#include <ostream>

namespace korvan {

// Writes every exchange the log keeps; false when the stream failed.
bool WriteTrafficCsv(const TrafficLog& log, std::ostream& out);

} // namespace korvan
