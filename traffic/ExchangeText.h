// How one exchange reads to a service engineer: its time, the bytes both ways in hexadecimal, the
// reply's latency, what the request meant for the unit and the engine's verdict. The traffic view,
// the copied rows and the saved file all use these texts, so they always say the same.
#pragma once

#include "ExchangeRecord.h"
#include "TrafficLog.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

namespace korvan {

enum class ExchangeColumn { Time, Request, Reply, Latency, Meaning, Verdict };
constexpr int kExchangeColumnCount = 6;

// Column titles, in the order of ExchangeColumn.
extern const std::array<const char*, kExchangeColumnCount> kExchangeColumnTitles;

// Bytes in the view's reply column before the rest is cut off with a mark.
constexpr int kShownReplyBytes = 24;

// "14:03:27.045", local time.
std::string ClockText(std::chrono::system_clock::time_point at);

// "2026-03-14T14:03:27.045+03:00": local time with its date and offset from UTC, for files read
// elsewhere and later.
std::string IsoTimeText(std::chrono::system_clock::time_point at);

// "01 03 00 00"; when fewer than `total` bytes are shown, a mark tells how many there were.
std::string HexText(const std::uint8_t* bytes, int count, int total);

// Milliseconds with one decimal, "" when nothing arrived.
std::string LatencyText(std::chrono::microseconds latency);

// "чтение 0–115", "запись рег. 4 = 25", "команда рег. 95 = 0xAA".
std::string RequestMeaning(const std::array<std::uint8_t, 8>& request);

// "норма", "нет ответа", "исключение 02" ...
std::string VerdictText(ExchangeVerdict verdict, std::uint8_t exceptionCode);

// One cell. The reply is cut after `replyBytes` bytes.
std::string ColumnText(const ExchangeRecord& record, ExchangeColumn column,
                       int replyBytes = kShownReplyBytes);

// The counters in one line, for the view's header.
std::string CountersText(const TrafficCounters& counters);

} // namespace korvan
