// How a spreadsheet set up for Russian reads a CSV file: UTF-8 only after a byte-order mark, ";"
// between fields, quoting by RFC 4180 (a quoted field may hold ";", doubled quotes and line
// breaks), CRLF between rows.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace korvan::testing {

inline std::vector<std::vector<std::string>> ReadRussianCsv(const std::string& bytes) {
    const std::string bom = "\xEF\xBB\xBF";
    if (bytes.compare(0, bom.size(), bom) != 0)
        throw std::runtime_error("no byte-order mark: the spreadsheet reads the local code page");
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row(1);
    bool quoted = false;
    for (std::size_t i = bom.size(); i < bytes.size(); ++i) {
        const char c = bytes[i];
        const char next = i + 1 < bytes.size() ? bytes[i + 1] : '\0';
        if (quoted) {
            if (c != '"')
                row.back() += c;
            else if (next == '"')
                row.back() += bytes[++i];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ';') {
            row.emplace_back();
        } else if (c == '\r' && next == '\n') {
            ++i;
            rows.push_back(std::move(row));
            row.assign(1, {});
        } else {
            row.back() += c;
        }
    }
    if (quoted) throw std::runtime_error("a quoted field never ends");
    if (row.size() > 1 || !row[0].empty()) rows.push_back(std::move(row));
    return rows;
}

} // namespace korvan::testing
