// CSV as a spreadsheet set up for Russian opens it: UTF-8 with a byte-order mark, ";" between
// fields, quoting by RFC 4180, CRLF after each row. The traffic record and the event journal both
// write through this.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvan {

// Starts a file; without it the spreadsheet takes the bytes for the local 8-bit code page.
inline constexpr std::string_view kCsvBom = "\xEF\xBB\xBF";

// A field quoted when it holds a separator, a quote or a line break; quotes inside are doubled.
std::string CsvField(std::string_view text);

// One row of fields, with its CRLF.
std::string CsvRow(const std::vector<std::string>& fields);

} // namespace korvan
