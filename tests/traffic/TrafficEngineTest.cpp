// The record fed by the real poll engine: the verdicts of a sequence of line events, and the
// counters that sum them up.
#include "ExchangeText.h"
#include "ScriptedHost.h"
#include "TrafficLog.h"

#include <gtest/gtest.h>

using namespace korvan;
using namespace korvan::test;
using V = ExchangeVerdict;

namespace {

TEST(TrafficEngine, RecordsEveryExchangeWithTheEnginesVerdict) {
    Rig rig;
    TrafficLog log;
    rig.engine.SetExchangeObserver(&log);
    const RegisterImage zeros{};
    const auto reply = [&](Bytes bytes) {
        rig.Tick();
        rig.Deliver(bytes);
        rig.Close();
    };
    const auto answered = [&](const std::function<void(Bytes&)>& bend) {
        rig.Tick();
        Bytes answer = rig.unit.Answer(rig.LastSent());
        bend(answer);
        rig.Deliver(answer);
        rig.Close();
    };
    const struct {
        const char* event;
        std::function<void()> run;
        V verdict;
        const char* meaning;
    } steps[] = {
        {"first read", [&] { rig.Cycle(); }, V::Good, "чтение 0–95"},
        {"silence", [&] { reply({}); }, V::NoReply, "чтение 0–95"},
        {"silence", [&] { reply({}); }, V::NoReply, "чтение 0–95"},
        {"silence", [&] { reply({}); }, V::NoReply, "чтение 0–95"},
        {"back", [&] { rig.Cycle(); }, V::Good, "чтение 0–95"},
        {"bad CRC", [&] { answered([](Bytes& a) { a.back() ^= 0x40; }); }, V::BadCrc,
         "чтение 0–95"},
        {"refused",
         [&] {
             reply(WithCrc({1, 0x83, 2}));
         },
         V::Exception, "чтение 0–95"},
        {"other slave", [&] { reply(ReadReply(zeros, 96, 7)); }, V::WrongAddress, "чтение 0–95"},
        {"good again", [&] { rig.Cycle(); }, V::Good, "чтение 0–95"},
        {"short", [&] { reply(ReadReply(zeros, 10)); }, V::WrongLength, "чтение 0–95"},
        {"operator's change",
         [&] {
             rig.Want(reg::NetworkTimeout, 1000);
             rig.Cycle();
         },
         V::Good, "чтение 0–95"},
        {"its write", [&] { rig.Cycle(); }, V::Good, "запись рег. 83 = 1000"},
    };
    for (const auto& step : steps)
        step.run();

    ASSERT_EQ(log.Size(), static_cast<int>(std::size(steps)));
    for (int i = 0; i < log.Size(); ++i) {
        SCOPED_TRACE(steps[i].event);
        const ExchangeRecord& r = log.At(static_cast<std::uint64_t>(i));
        EXPECT_EQ(r.verdict, steps[i].verdict);
        EXPECT_EQ(RequestMeaning(r.request), steps[i].meaning);
        // The third failure in a row; a refusal is one too.
        EXPECT_EQ(r.linkLost, i == 3 || i == 7);
    }
    EXPECT_EQ(log.At(6).exceptionCode, 2);

    const TrafficCounters& c = log.Counters();
    EXPECT_EQ(c.requests, static_cast<std::int64_t>(rig.host.sent.size()));
    EXPECT_EQ(c.Of(V::Good), 5);
    EXPECT_EQ(c.Of(V::NoReply), 3);
    EXPECT_EQ(c.linkLosses, 2);
    EXPECT_EQ(c.writesConfirmed, 1);
    std::int64_t failures = 0;
    for (int v = 0; v < kVerdictCount; ++v)
        if (IsFailure(static_cast<V>(v))) failures += c.verdicts[v];
    EXPECT_EQ(failures, 6);
}

} // namespace
