#include "ExchangeText.h"

#include "ModbusFrames.h"
#include "RegisterImage.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace korvan {

const std::array<const char*, kExchangeColumnCount> kExchangeColumnTitles{
    "Время", "Запрос", "Ответ", "Задержка, мс", "Смысл", "Итог"};

namespace {

// Russian text takes two bytes a letter: the result is sized to what the format needs.
std::string Format(const char* format, auto... values) {
    const int length = std::snprintf(nullptr, 0, format, values...);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, values...);
    return text;
}

int Word(const std::array<std::uint8_t, 8>& request, int at) {
    return request[at] << 8 | request[at + 1];
}

struct VerdictName {
    ExchangeVerdict verdict;
    const char* text;
};

constexpr std::array<VerdictName, kVerdictCount> kVerdictNames{{
    {ExchangeVerdict::Good, "норма"},
    {ExchangeVerdict::NoReply, "нет ответа"},
    {ExchangeVerdict::BadCrc, "ошибка CRC"},
    {ExchangeVerdict::Incomplete, "неполный ответ"},
    {ExchangeVerdict::WrongLength, "неверная длина"},
    {ExchangeVerdict::WrongAddress, "чужой адрес"},
    {ExchangeVerdict::WrongFunction, "чужая функция"},
    {ExchangeVerdict::EchoMismatch, "эхо не совпало"},
    {ExchangeVerdict::Exception, "исключение"},
}};

const char* VerdictName(ExchangeVerdict verdict) {
    for (const auto& name : kVerdictNames)
        if (name.verdict == verdict) return name.text;
    return "?";
}

} // namespace

namespace {

// The local calendar time of `at`, and its milliseconds (0..999, also before 1970).
struct LocalTime {
    std::tm tm{};
    int millis = 0;
};

LocalTime Local(std::chrono::system_clock::time_point at) {
    using namespace std::chrono;
    const auto sinceEpoch = at.time_since_epoch();
    const std::time_t seconds = duration_cast<std::chrono::seconds>(sinceEpoch).count();
    const auto millis = duration_cast<milliseconds>(sinceEpoch).count() % 1000;
    LocalTime local;
    localtime_r(&seconds, &local.tm);
    local.millis = static_cast<int>(millis < 0 ? millis + 1000 : millis);
    return local;
}

} // namespace

std::string ClockText(std::chrono::system_clock::time_point at) {
    const LocalTime t = Local(at);
    return Format("%02d:%02d:%02d.%03d", t.tm.tm_hour, t.tm.tm_min, t.tm.tm_sec, t.millis);
}

std::string IsoTimeText(std::chrono::system_clock::time_point at) {
    const LocalTime t = Local(at);
    const long offset = t.tm.tm_gmtoff / 60; // minutes east of UTC
    const long offsetAbs = offset < 0 ? -offset : offset;
    return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", t.tm.tm_year + 1900,
                  t.tm.tm_mon + 1, t.tm.tm_mday, t.tm.tm_hour, t.tm.tm_min, t.tm.tm_sec, t.millis,
                  offset < 0 ? '-' : '+', offsetAbs / 60, offsetAbs % 60);
}

std::string HexText(const std::uint8_t* bytes, int count, int total) {
    count = std::max(count, 0);
    std::string text;
    text.reserve(static_cast<std::size_t>(count) * 3 + 24);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int i = 0; i < count; ++i) {
        if (i > 0) text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    if (total > count) text += Format(" … (всего %d байт)", total);
    return text;
}

std::string LatencyText(std::chrono::microseconds latency) {
    if (latency.count() < 0) return {};
    return Format("%.1f", static_cast<double>(latency.count()) / 1000.0);
}

std::string RequestMeaning(const std::array<std::uint8_t, 8>& request) {
    const int first = Word(request, 2);
    const int value = Word(request, 4);
    switch (request[1]) {
    case kReadHoldingRegisters:
        if (value == 0) return Format("чтение %d, 0 рег.", first);
        return Format("чтение %d–%d", first, first + value - 1);
    case kWriteSingleRegister:
        // The command registers carry codes, not quantities: shown as the unit's manual does.
        if (first == reg::CommandSignal || first == reg::ServiceCommand)
            return Format(value > 0xFF ? "команда рег. %d = 0x%04X" : "команда рег. %d = 0x%02X",
                          first, value);
        return Format("запись рег. %d = %d", first, value);
    default:
        return Format("функция %d", request[1]);
    }
}

std::string VerdictText(ExchangeVerdict verdict, std::uint8_t exceptionCode) {
    if (verdict == ExchangeVerdict::Exception)
        return Format("%s %02X", VerdictName(verdict), exceptionCode);
    return VerdictName(verdict);
}

std::string ColumnText(const ExchangeRecord& record, ExchangeColumn column, int replyBytes) {
    switch (column) {
    case ExchangeColumn::Time:
        return ClockText(record.sentAt);
    case ExchangeColumn::Request:
        return HexText(record.request.data(), static_cast<int>(record.request.size()),
                       static_cast<int>(record.request.size()));
    case ExchangeColumn::Reply: {
        const int kept = std::clamp(record.receivedCount, 0, ExchangeRecord::kKeptBytes);
        return HexText(record.received.data(), std::min(kept, std::max(replyBytes, 0)),
                       std::max(record.arrivedCount, kept));
    }
    case ExchangeColumn::Latency:
        return LatencyText(record.latency);
    case ExchangeColumn::Meaning:
        return RequestMeaning(record.request);
    case ExchangeColumn::Verdict:
        if (record.writeAbandoned)
            return VerdictText(record.verdict, record.exceptionCode) + ", запись отменена";
        return VerdictText(record.verdict, record.exceptionCode);
    }
    return {};
}

std::string CountersText(const TrafficCounters& c) {
    std::string text =
        Format("Запросы: %lld   Ответы: %lld   Отказы:", static_cast<long long>(c.requests),
               static_cast<long long>(c.Of(ExchangeVerdict::Good)));
    bool any = false;
    for (const auto& name : kVerdictNames) {
        if (!IsFailure(name.verdict) || c.Of(name.verdict) == 0) continue;
        text += Format("%s %s %lld", any ? "," : "", name.text,
                       static_cast<long long>(c.Of(name.verdict)));
        any = true;
    }
    if (!any) text += " нет";
    text += Format("   Исключения: %lld   Потери связи: %lld   Записи подтверждены: %lld",
                   static_cast<long long>(c.Of(ExchangeVerdict::Exception)),
                   static_cast<long long>(c.linkLosses), static_cast<long long>(c.writesConfirmed));
    return text;
}

} // namespace korvan
