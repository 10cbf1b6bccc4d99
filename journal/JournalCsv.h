// The event journal as CSV rows (Csv.h): time in ISO 8601 with milliseconds and UTC offset, unit,
// event, source. The view's "Сохранить…" and the journal file write the same rows.
#pragma once

#include "EventLog.h"

#include <string>

namespace korvan {

std::string JournalCsvTitleRow(); // with the byte-order mark that starts the file
std::string JournalCsvRow(const JournalEvent& event);

} // namespace korvan
