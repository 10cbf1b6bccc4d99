// The traffic record, its texts and the CSV file, on synthetic exchanges.
#include "ExchangeText.h"
#include "RussianCsv.h"
#include "TrafficCsv.h"
#include "TrafficLog.h"
#include "TrafficRecords.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

using namespace korvan;
using namespace korvan::testing;
using V = ExchangeVerdict;

namespace {

TEST(TrafficText, RequestMeaning) {
    const struct {
        Request request;
        const char* meaning;
    } cases[] = {
        {ReadOf(96), "чтение 0–95"},
        {ReadOf(116), "чтение 0–115"},
        {WriteOf(4, 25), "запись рег. 4 = 25"},
        {WriteOf(83, 65535), "запись рег. 83 = 65535"},
        {WriteOf(95, 0xAA), "команда рег. 95 = 0xAA"},
        {WriteOf(94, 0x155), "команда рег. 94 = 0x0155"},
        {{1, 0x10, 0, 0, 0, 1, 0, 0}, "функция 16"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RequestMeaning(c.request), c.meaning);
}

TEST(TrafficText, CellsOfOneExchange) {
    std::vector<std::uint8_t> reply(197, 0x11);
    ExchangeRecord e = Exchange(ReadOf(96), V::Good, reply, 12345);
    EXPECT_EQ(ColumnText(e, ExchangeColumn::Request), "01 03 00 00 00 60 45 E2");
    EXPECT_EQ(ColumnText(e, ExchangeColumn::Latency), "12.3");
    EXPECT_EQ(ColumnText(e, ExchangeColumn::Reply, 2), "11 11 … (всего 197 байт)");
    // Whole when nothing is cut; bytes that arrived beyond what was kept still show in the mark.
    EXPECT_EQ(ColumnText(e, ExchangeColumn::Reply, 256).size(), 197u * 3 - 1);
    e.receivedCount = 3;
    EXPECT_EQ(ColumnText(e, ExchangeColumn::Reply, 256), "11 11 11 … (всего 197 байт)");
    EXPECT_EQ(ColumnText(Exchange(ReadOf(96), V::NoReply), ExchangeColumn::Latency), "");
    EXPECT_EQ(ColumnText(Exchange(ReadOf(96), V::NoReply), ExchangeColumn::Reply), "");
    e.verdict = V::Exception;
    e.exceptionCode = 2;
    EXPECT_EQ(ColumnText(e, ExchangeColumn::Verdict), "исключение 02");
    // hh:mm:ss.mmm
    const std::string time = ColumnText(e, ExchangeColumn::Time);
    ASSERT_EQ(time.size(), 12u) << time;
    EXPECT_EQ(time[2], ':');
    EXPECT_EQ(time[8], '.');
}

TEST(TrafficLog, KeepsTheLastExchangesAndCountsEveryOne) {
    TrafficLog log(3);
    const struct {
        ExchangeRecord e;
        bool linkLost;
    } feed[] = {
        {Exchange(ReadOf(96), V::Good), false},       {Exchange(WriteOf(4, 1), V::Good), false},
        {Exchange(WriteOf(4, 1), V::NoReply), false}, {Exchange(ReadOf(96), V::BadCrc), false},
        {Exchange(ReadOf(96), V::Exception), true},   {Exchange(ReadOf(96), V::Incomplete), false},
    };
    for (auto f : feed) {
        f.e.linkLost = f.linkLost;
        log.ExchangeClosed(f.e);
    }
    EXPECT_EQ(log.Size(), 3);
    EXPECT_EQ(log.FirstKept(), 3u);
    EXPECT_EQ(log.End(), 6u);
    EXPECT_EQ(log.At(3).verdict, V::BadCrc);
    EXPECT_EQ(log.At(5).verdict, V::Incomplete);

    const TrafficCounters& c = log.Counters();
    EXPECT_EQ(c.requests, 6);
    EXPECT_EQ(c.Of(V::Good), 2);
    EXPECT_EQ(c.Of(V::NoReply), 1);
    EXPECT_EQ(c.Of(V::Exception), 1);
    EXPECT_EQ(c.linkLosses, 1);
    EXPECT_EQ(c.writesConfirmed, 1); // the unanswered write is not confirmed
    std::int64_t sum = 0;
    for (const std::int64_t n : c.verdicts)
        sum += n;
    EXPECT_EQ(sum, c.requests);
    EXPECT_NE(CountersText(c).find(
                  "Отказы: нет ответа 1, ошибка CRC 1, неполный ответ 1   Исключения: 1"),
              std::string::npos)
        << CountersText(c);
    EXPECT_TRUE(CountersText(c).ends_with("Потери связи: 1   Записи подтверждены: 1"))
        << CountersText(c);

    log.Clear();
    EXPECT_EQ(log.Size(), 0);
    EXPECT_EQ(log.Counters().requests, 0);
    log.ExchangeClosed(Exchange(ReadOf(96), V::WrongAddress));
    EXPECT_EQ(log.FirstKept(), 6u); // numbering goes on
    EXPECT_EQ(log.At(6).verdict, V::WrongAddress);
}

TEST(TrafficLog, HoldsTenThousandExchanges) {
    TrafficLog log;
    for (int i = 0; i < TrafficLog::kCapacity + 5; ++i) {
        ExchangeRecord e = Exchange(WriteOf(4, i % 1000), V::Good);
        e.receivedCount = i % 7;
        log.ExchangeClosed(e);
    }
    EXPECT_EQ(log.Size(), 10000);
    EXPECT_EQ(log.FirstKept(), 5u);
    EXPECT_EQ(RequestMeaning(log.At(5).request), "запись рег. 4 = 5");
    EXPECT_EQ(log.Counters().requests, 10005);
}

TEST(TrafficCsv, ReadsBackInTheRussianSpreadsheetDialect) {
    const std::vector<std::string> fields{"чтение 0–95", "a;b", "say \"hi\"", "two\r\nlines",
                                          "x,y",         "",    "\"; \"\n"};
    const std::vector<std::vector<std::string>> read =
        ReadRussianCsv(std::string(kCsvBom) + CsvRow(fields) + CsvRow({"1", "2"}));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0], fields);
    EXPECT_EQ(read[1], (std::vector<std::string>{"1", "2"}));
}

TEST(TrafficCsv, OneRowPerKeptExchangeOldestFirst) {
    TrafficLog log(2);
    log.ExchangeClosed(Exchange(ReadOf(96), V::NoReply));
    log.ExchangeClosed(Exchange(WriteOf(95, 0x55), V::Good, {1, 6, 0, 0x5F, 0, 0x55}, 4000));
    std::vector<std::uint8_t> longReply(237, 0xAB);
    log.ExchangeClosed(Exchange(ReadOf(116), V::WrongLength, longReply, 90000));
    std::ostringstream out;
    ASSERT_TRUE(WriteTrafficCsv(log, out));

    const std::vector<std::vector<std::string>> rows = ReadRussianCsv(out.str());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"Время", "Запрос", "Ответ", "Задержка, мс",
                                                 "Смысл", "Итог"}));
    ASSERT_EQ(rows[1].size(), 6u);
    EXPECT_EQ(
        std::vector<std::string>(rows[1].begin() + 2, rows[1].end()),
        (std::vector<std::string>{"01 06 00 5F 00 55", "4.0", "команда рег. 95 = 0x55", "норма"}));
    // A file read elsewhere and later: the date, milliseconds and the offset from UTC.
    EXPECT_TRUE(std::regex_match(
        rows[1][0], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
        << rows[1][0];
    // The saved reply is whole: 237 bytes, no cut mark.
    ASSERT_EQ(rows[2].size(), 6u);
    EXPECT_EQ(rows[2][3], "90.0");
    EXPECT_EQ(rows[2][5], "неверная длина");
    EXPECT_EQ(rows[2][2].find("…"), std::string::npos);
    EXPECT_EQ(std::count(rows[2][2].begin(), rows[2][2].end(), ' '), 236);
}

} // namespace
