#include "PollEngine.h"
#include "PollEngineProbe.h"
#include "ScriptedHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>

namespace korvan {
namespace {

using test::Bytes;
using test::ReadFrame;
using test::ReadReply;
using test::Rig;
using test::WithCrc;
using test::WriteFrame;

bool SameBytes(const RegisterImage& a, const RegisterImage& b, int from, int to) {
    return std::equal(a.begin() + from, a.begin() + to, b.begin() + from);
}

TEST(PollEngine, FirstValidReadAfterStartShowsTheUnit) {
    Rig rig;
    SetRegisterValue(rig.unit.registers, reg::NetworkAddress, 7);
    rig.unit.registers[byte::FirmwareMajor] = 2;

    rig.Cycle();
    EXPECT_EQ(rig.LastSent(), ReadFrame(96));
    EXPECT_FALSE(rig.engine.PendingWrite());
    EXPECT_EQ(rig.engine.LinkCredit(), 3);
    EXPECT_EQ(rig.host.controls.ctrl.ONLINE, kGreen);
    EXPECT_TRUE(SameBytes(rig.engine.ShownImage(), rig.unit.registers, 0, 192));
    EXPECT_TRUE(SameBytes(rig.engine.WantedImage(), rig.unit.registers, 0, 192));
    EXPECT_TRUE(SameBytes(rig.engine.ReadImage(), rig.unit.registers, 0, 192));
    EXPECT_GE(rig.host.imageToControlsCalls, 1);
    EXPECT_EQ(rig.host.fitCalls, 1);
    EXPECT_EQ(rig.engine.LayoutCountdown(), 0);
    EXPECT_FALSE(rig.host.responseRunning);
    EXPECT_TRUE(std::all_of(rig.engine.RxBuffer().begin(), rig.engine.RxBuffer().end(),
                            [](std::uint8_t b) { return b == 0; }));

    // A choice made once the unit is shown is written, once, and the panels are not fitted
    // again.
    rig.Want(reg::NetworkAddress, 5);
    rig.Cycle();
    EXPECT_EQ(rig.LastSent(), ReadFrame(96));
    EXPECT_TRUE(rig.engine.PendingWrite());
    EXPECT_EQ(rig.engine.PendingRegister(), reg::NetworkAddress);
    rig.Cycle();
    EXPECT_EQ(rig.LastSent(), WriteFrame(reg::NetworkAddress, 5));
    EXPECT_FALSE(rig.engine.PendingWrite());
    EXPECT_EQ(rig.unit.writes, std::vector<int>{reg::NetworkAddress});
    EXPECT_EQ(rig.host.fitCalls, 1);
}

TEST(PollEngine, ReadSizeFollowsFirmwareAndFallsBackAfterAFailure) {
    Rig rig;
    rig.unit.registers[byte::FirmwareMajor] = 3;
    for (int i = 192; i < 232; ++i)
        rig.unit.registers[i] = static_cast<std::uint8_t>(i);
    // Bytes beyond the widest read keep whatever they held.
    RegisterImage& readImage = test::PollEngineProbe::StateOf(rig.engine).ReadImage;
    std::fill(readImage.begin() + 232, readImage.end(), 0x5A);

    rig.Cycle();
    EXPECT_EQ(rig.LastSent(), ReadFrame(96));
    EXPECT_EQ(rig.engine.ReadCount(), 116);
    EXPECT_EQ(rig.engine.ReadLength(), 232);
    EXPECT_EQ(rig.engine.ShownImage()[200], 0); // not read yet

    rig.Tick();
    EXPECT_EQ(rig.LastSent(), ReadFrame(116));
    const Bytes reply = rig.unit.Answer(rig.LastSent());
    ASSERT_EQ(reply.size(), 237u);
    rig.Deliver(reply);
    EXPECT_EQ(rig.engine.RxCount(), 237);
    rig.Close();
    EXPECT_TRUE(SameBytes(rig.engine.ReadImage(), rig.unit.registers, 0, 232));
    EXPECT_TRUE(std::all_of(rig.engine.ReadImage().begin() + 232, rig.engine.ReadImage().end(),
                            [](std::uint8_t b) { return b == 0x5A; }));
    EXPECT_TRUE(SameBytes(rig.engine.ShownImage(), rig.unit.registers, 0, 232));

    rig.unit.silent = true;
    rig.Cycle();
    EXPECT_EQ(rig.LastSent(), ReadFrame(116));
    EXPECT_EQ(rig.engine.ReadCount(), 96);
    EXPECT_EQ(rig.engine.ReadLength(), 192);

    rig.unit.silent = false;
    rig.Cycle();
    EXPECT_EQ(rig.LastSent(), ReadFrame(96));
    rig.Cycle();
    EXPECT_EQ(rig.LastSent(), ReadFrame(116));
}

TEST(PollEngine, ThreeFailedExchangesLoseTheLink) {
    Rig rig;
    rig.Connect();
    ASSERT_EQ(rig.engine.LinkCredit(), 3);
    rig.unit.silent = true;

    rig.Cycle();
    rig.Cycle();
    EXPECT_EQ(rig.engine.LinkCredit(), 1);
    EXPECT_EQ(rig.host.controls.ctrl.ONLINE, kGreen);
    EXPECT_EQ(rig.host.linkLostCalls, 0);

    rig.Cycle();
    EXPECT_EQ(rig.engine.LinkCredit(), 0);
    EXPECT_EQ(rig.host.linkLostCalls, 1);
    EXPECT_EQ(rig.host.controls.ctrl.ONLINE, kYellow);
    EXPECT_EQ(rig.host.controls.unit[4].OUT[0], kGrey);

    // Every further failure shows the loss again; the credit stays at 0 and the countdown runs on.
    rig.Cycle();
    EXPECT_EQ(rig.engine.LinkCredit(), 0);
    EXPECT_EQ(rig.host.linkLostCalls, 2);
    EXPECT_EQ(rig.engine.LayoutCountdown(), -4);

    // A partial reply and a reply with a broken CRC fail the same way.
    rig.unit.silent = false;
    rig.Connect();
    rig.Tick();
    Bytes reply = rig.unit.Answer(rig.LastSent());
    reply.resize(100);
    rig.Deliver(reply);
    rig.Close();
    rig.Tick();
    reply = rig.unit.Answer(rig.LastSent());
    reply[50] ^= 1;
    rig.Deliver(reply);
    rig.Close();
    EXPECT_EQ(rig.engine.LinkCredit(), 1);

    // One applied reply brings the link back, and the greyed units get their colours again.
    rig.unit.silent = true;
    rig.Cycle();
    ASSERT_EQ(rig.host.controls.unit[4].OUT[0], kGrey);
    rig.unit.silent = false;
    rig.Cycle();
    EXPECT_EQ(rig.engine.LinkCredit(), 3);
    EXPECT_EQ(rig.host.controls.ctrl.ONLINE, kGreen);
    EXPECT_EQ(rig.host.controls.unit[4].OUT[0], kGreen);
}

TEST(PollEngine, ChangesAreWrittenOneByOneWhileTheUnitIsShown) {
    Rig rig;
    rig.Connect();
    rig.Want(reg::NetworkTimeout, 1200);
    rig.Want(reg::NetworkAddress, 9);
    SetRegisterValue(rig.unit.registers, 17, 0x0004); // a fault appears on the unit meanwhile
    const int shows = rig.host.imageToControlsCalls;
    const std::size_t first = rig.host.sent.size();

    rig.Cycle();
    EXPECT_EQ(RegisterValue(rig.engine.ShownImage(), 17), 4);
    EXPECT_EQ(rig.host.imageToControlsCalls, shows + 1);
    for (int i = 0; i < 4; ++i)
        rig.Cycle();
    EXPECT_EQ(rig.host.imageToControlsCalls, shows + 1);
    const std::vector<Bytes> expected{ReadFrame(96), WriteFrame(reg::NetworkAddress, 9),
                                      ReadFrame(96), WriteFrame(reg::NetworkTimeout, 1200),
                                      ReadFrame(96)};
    EXPECT_EQ(std::vector<Bytes>(rig.host.sent.begin() + first, rig.host.sent.end()), expected);
}

TEST(PollEngine, StatusRegistersAreNeverWritten) {
    std::vector<int> status{85};
    for (int k = 0; k < 10; ++k) {
        status.push_back(8 * k + 1);
        status.push_back(8 * k + 2);
    }
    for (int r : {81, 82, 80, 3, 94}) {
        Rig rig;
        rig.Connect();
        rig.Want(r, 0x0102);
        rig.Cycle();
        rig.Cycle();
        EXPECT_EQ(rig.LastSent(), WriteFrame(r, 0x0102)) << r;
    }
    for (int r : status) {
        Rig rig;
        rig.Connect();
        rig.Want(r, 0x0102);
        const int sentBefore = static_cast<int>(rig.host.sent.size());
        for (int i = 0; i < 3; ++i)
            rig.Cycle();
        for (auto f = rig.host.sent.begin() + sentBefore; f != rig.host.sent.end(); ++f)
            EXPECT_EQ(*f, ReadFrame(96)) << r;
        EXPECT_FALSE(rig.engine.PendingWrite()) << r;
        EXPECT_EQ(rig.engine.LinkCredit(), 3);
    }

    // A status difference below a writable one does not hide it.
    Rig rig;
    rig.Connect();
    rig.Want(9, 1);
    rig.Want(10, 1);
    rig.Want(11, 2);
    rig.Cycle();
    rig.Cycle();
    EXPECT_EQ(rig.LastSent(), WriteFrame(11, 2));
}

// An unanswered write does not starve the window: the next tick reads, and the write goes out
// again only after a read has shown the unit (and whether it took the value).
TEST(PollEngine, UnansweredWriteIsFollowedByReads) {
    Rig rig;
    rig.Connect();
    rig.Want(reg::NetworkTimeout, 1000);
    rig.Cycle(); // the difference is found
    rig.unit.silent = true;
    const int sentBefore = static_cast<int>(rig.host.sent.size());
    for (int i = 0; i < 6; ++i)
        rig.Cycle();
    ASSERT_EQ(rig.engine.LinkCredit(), 0);
    ASSERT_EQ(static_cast<int>(rig.host.sent.size()), sentBefore + 6);
    EXPECT_EQ(rig.host.sent[sentBefore], WriteFrame(reg::NetworkTimeout, 1000));
    for (auto f = rig.host.sent.begin() + sentBefore + 1; f != rig.host.sent.end(); ++f)
        EXPECT_EQ(*f, ReadFrame(96));

    // The unit answers again: a read, then the write, which the echo confirms.
    rig.unit.silent = false;
    rig.Cycle();
    EXPECT_EQ(rig.LastSent(), ReadFrame(96));
    EXPECT_TRUE(rig.engine.PendingWrite());
    rig.Cycle();
    EXPECT_EQ(rig.LastSent(), WriteFrame(reg::NetworkTimeout, 1000));
    EXPECT_EQ(RegisterValue(rig.engine.ShownImage(), reg::NetworkTimeout), 1000);
    EXPECT_EQ(rig.engine.ChosenBits(reg::NetworkTimeout), 0);
}

TEST(PollEngine, OversizeInputStaysInsideTheBuffers) {
    Rig rig;
    rig.Connect();
    const RegisterImage shown = rig.engine.ShownImage();

    // More than RxBuffer holds within one exchange, over several receive events.
    rig.Tick();
    Bytes reply = rig.unit.Answer(rig.LastSent());
    rig.Deliver(reply);
    rig.Deliver(Bytes(40, 0x11));
    rig.Deliver(Bytes(100, 0x22));
    EXPECT_EQ(rig.engine.RxCount(), 256);
    EXPECT_TRUE(rig.host.waiting.empty());
    rig.Close();
    EXPECT_EQ(rig.engine.LinkCredit(), 2);
    EXPECT_EQ(rig.engine.ShownImage(), shown);

    // One event reporting the whole 2048-byte driver queue.
    rig.Tick();
    rig.Deliver(Bytes(2000, 0xEE));
    EXPECT_EQ(rig.engine.RxCount(), 256);
    EXPECT_LE(rig.host.largestReadAsked, 256);
    EXPECT_TRUE(rig.host.waiting.empty());
    EXPECT_EQ(rig.engine.ShownImage(), shown);
    EXPECT_EQ(rig.engine.WantedImage(), shown);
    rig.Close();
    EXPECT_EQ(rig.engine.LinkCredit(), 1);

    // Nothing of the surplus is left to spoil the next exchange.
    SetRegisterValue(rig.unit.registers, reg::NetworkAddress, 33);
    rig.Cycle();
    EXPECT_EQ(rig.engine.LinkCredit(), 3);
    EXPECT_EQ(RegisterValue(rig.engine.ShownImage(), reg::NetworkAddress), 33);
}

TEST(PollEngine, OutputClickTravelsToTheUnit) {
    Rig rig;
    rig.Connect();
    ASSERT_EQ(RegisterValue(rig.engine.ShownImage(), 3), 0);

    rig.engine.Choose(3, 0x0001, 0x0001); // OUT1_0 clicked red
    rig.Cycle();
    EXPECT_EQ(rig.engine.PendingRegister(), 3);
    EXPECT_TRUE(rig.engine.PendingWrite());
    EXPECT_EQ(rig.engine.ShownImage()[7], 0);
    rig.Tick();
    EXPECT_EQ(rig.LastSent(), (Bytes{0x01, 0x06, 0x00, 0x03, 0x00, 0x01, 0xB8, 0x0A}));
    rig.Answer();
    rig.Close();
    EXPECT_EQ(rig.engine.ShownImage()[7], 1);
    EXPECT_FALSE(rig.engine.PendingWrite());
    rig.Tick();
    EXPECT_EQ(rig.LastSent(), ReadFrame(96));
}

TEST(PollEngine, AddressFieldIsReadAtEveryTick) {
    Rig rig;
    rig.host.address = "7";
    rig.Tick();
    EXPECT_EQ(rig.LastSent(), ReadFrame(96, 7));
    rig.host.address = "-1a"; // a failed conversion still gives its digits
    rig.Tick();
    EXPECT_EQ(rig.LastSent(), ReadFrame(96, 1));
    rig.host.address = "300";
    rig.Tick();
    EXPECT_EQ(rig.LastSent(), ReadFrame(96, 44));
}

TEST(PollEngine, PollTickClosesAnOpenExchangeFirst) {
    Rig rig;
    rig.Tick();
    rig.Answer();
    // The response timer fell due together with the next poll tick, which came first.
    ASSERT_TRUE(rig.host.responseRunning);
    rig.Tick();
    EXPECT_EQ(rig.engine.LinkCredit(), 3);
    EXPECT_EQ(rig.engine.RxCount(), 0);
    EXPECT_TRUE(rig.host.responseRunning);
    EXPECT_EQ(rig.host.sent.size(), 2u);
}

TEST(PollEngine, PortFailures) {
    Rig rig;
    rig.Connect();
    rig.host.calls.clear();
    rig.host.failWrite = true;
    rig.Tick();
    EXPECT_EQ(rig.host.calls,
              (std::vector<std::string>{"StartResponseTimer", "StopResponseTimer", "PortFailed"}));
    EXPECT_FALSE(rig.host.responseRunning);
    EXPECT_FALSE(rig.host.pollRunning);

    // A read failure keeps the response timer: the open exchange fails when it closes. Nothing
    // of the failing event is kept, not even the chunks read before the failure.
    Rig reading;
    reading.Connect();
    reading.Tick();
    reading.Deliver(Bytes(10, 0x01));
    reading.host.calls.clear();
    reading.host.readsUntilFailure = 1;
    reading.Deliver(Bytes(600, 0x02));
    EXPECT_EQ(reading.host.calls, (std::vector<std::string>{"PortFailed"}));
    EXPECT_EQ(reading.engine.RxCount(), 10);
    EXPECT_TRUE(std::all_of(reading.engine.RxBuffer().begin() + 10, reading.engine.RxBuffer().end(),
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(reading.host.responseRunning);
    EXPECT_EQ(reading.host.controls.ctrl.ONLINE, kYellow);
    reading.Close();
    EXPECT_EQ(reading.engine.LinkCredit(), 2);
}

// The answer with its last frame bytes changed and a good CRC again.
Bytes Bent(Bytes frame, const std::function<void(Bytes&)>& change) {
    frame.resize(frame.size() - 2);
    change(frame);
    return WithCrc(frame);
}

// What arrives counts only as the answer to the request just sent; anything else fails the
// exchange, except the unit's refusal of that request. The observer hears of every exchange.
TEST(PollEngine, EveryExchangeIsJudgedAgainstTheRequestJustSent) {
    using enum ExchangeVerdict;
    using Reply = std::function<Bytes(const Bytes& answer)>;
    struct Case {
        const char* name;
        bool write; // the request is the operator's write of register 83
        Reply reply;
        ExchangeVerdict verdict;
        std::uint8_t code = 0;
    };
    const RegisterImage zeros{};
    const std::vector<Case> cases{
        {"read answered", false, [](const Bytes& a) { return a; }, Good},
        {"read unanswered", false, [](const Bytes&) { return Bytes{}; }, NoReply},
        {"read, one byte", false, [](const Bytes&) { return Bytes{1}; }, Incomplete},
        {"read, cut short", false,
         [](Bytes a) {
             a.resize(53);
             return a;
         },
         Incomplete},
        {"read, cut short, wrong address", false,
         [](Bytes a) {
             a.resize(53);
             a[0] = 2;
             return a;
         },
         BadCrc},
        {"read, CRC broken", false,
         [](Bytes a) {
             a.back() ^= 1;
             return a;
         },
         BadCrc},
        {"read, 300 bytes", false, [](const Bytes&) { return Bytes(300, 0x11); }, BadCrc},
        {"read, 25 bytes", false, [&](const Bytes&) { return ReadReply(zeros, 10); }, WrongLength},
        {"read, 95 registers", false, [&](const Bytes&) { return ReadReply(zeros, 95); },
         WrongLength},
        {"read, byte count", false,
         [](const Bytes& a) { return Bent(a, [](Bytes& f) { f[2] = 190; }); }, WrongLength},
        {"read, address 0x37", false, [&](const Bytes&) { return ReadReply(zeros, 96, 0x37); },
         WrongAddress},
        {"read, FF FF", false,
         [](const Bytes&) {
             return Bytes{0xFF, 0xFF};
         },
         WrongAddress},
        {"read, function 4", false,
         [](const Bytes& a) { return Bent(a, [](Bytes& f) { f[1] = 4; }); }, WrongFunction},
        {"read, a write echo", false, [](const Bytes&) { return WriteFrame(80, 5); },
         WrongFunction},
        {"read refused", false,
         [](const Bytes&) {
             return WithCrc({1, 0x83, 2});
         },
         Exception, 2},
        {"read refused, long", false,
         [](const Bytes&) {
             return WithCrc({1, 0x83, 2, 0});
         },
         WrongLength},
        {"read refused, address", false,
         [](const Bytes&) {
             return WithCrc({0x37, 0x83, 2});
         },
         WrongAddress},
        {"write echoed", true, [](const Bytes& a) { return a; }, Good},
        {"write unanswered", true, [](const Bytes&) { return Bytes{}; }, NoReply},
        {"write, CRC broken", true,
         [](Bytes a) {
             a[6] ^= 1;
             return a;
         },
         BadCrc},
        {"write, cut short", true,
         [](Bytes a) {
             a.resize(5);
             return a;
         },
         Incomplete},
        {"write, value", true, [](const Bytes& a) { return Bent(a, [](Bytes& f) { f[5] ^= 1; }); },
         EchoMismatch},
        {"write, register", true,
         [](const Bytes& a) { return Bent(a, [](Bytes& f) { f[3] = 80; }); }, EchoMismatch},
        {"write, address", true, [](const Bytes& a) { return Bent(a, [](Bytes& f) { f[0] = 2; }); },
         WrongAddress},
        {"write, longer", true,
         [](const Bytes& a) { return Bent(a, [](Bytes& f) { f.push_back(0); }); }, WrongLength},
        {"write, a read reply", true, [&](const Bytes&) { return ReadReply(zeros, 96); },
         WrongFunction},
        {"write refused", true,
         [](const Bytes&) {
             return WithCrc({1, 0x86, 3});
         },
         Exception, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        test::Recorder recorder;
        rig.engine.SetExchangeObserver(&recorder);
        rig.Connect();
        SetRegisterValue(rig.unit.registers, reg::NetworkAddress, 33);
        if (c.write) {
            rig.Want(reg::NetworkTimeout, 1000);
            rig.Cycle(); // a good read; the choice is found
            EXPECT_EQ(recorder.records.back().verdict, Good);
        }
        test::PollEngineProbe::StateOf(rig.engine).LinkCredit =
            1; // so that a failure loses the link
        const RegisterImage shown = rig.engine.ShownImage();

        const auto before = std::chrono::system_clock::now();
        rig.Tick();
        const Bytes reply = c.reply(rig.unit.Answer(rig.LastSent()));
        rig.Deliver(reply);
        rig.Close();
        const auto after = std::chrono::system_clock::now();

        const bool failed = c.verdict != Good; // a refusal counts against the link too
        ASSERT_EQ(recorder.records.size(), c.write ? 4u : 3u);
        const ExchangeRecord& r = recorder.records.back();
        EXPECT_EQ(r.verdict, c.verdict);
        EXPECT_EQ(r.exceptionCode, c.code);
        EXPECT_EQ(r.linkLost, failed);
        EXPECT_EQ(Bytes(r.request.begin(), r.request.end()), rig.LastSent());
        EXPECT_EQ(r.arrivedCount, static_cast<int>(reply.size()));
        ASSERT_EQ(r.receivedCount, std::min<int>(static_cast<int>(reply.size()), 256));
        EXPECT_TRUE(
            std::equal(r.received.begin(), r.received.begin() + r.receivedCount, reply.begin()));
        EXPECT_TRUE(r.sentAt >= before && r.sentAt <= after);
        EXPECT_EQ(r.latency.count() >= 0, !reply.empty());
        if (reply.empty()) {
            EXPECT_EQ(r.latency.count(), -1);
        }

        EXPECT_EQ(rig.engine.LinkCredit(), failed ? 0 : (c.verdict == Good && !c.write ? 3 : 1));
        EXPECT_EQ(rig.engine.ReadCount(), 96);
        if (c.verdict == Good && !c.write) {
            EXPECT_EQ(RegisterValue(rig.engine.ShownImage(), reg::NetworkAddress), 33);
            continue;
        }
        // Nothing of a reply that does not answer the request reaches the images.
        RegisterImage expected = shown;
        if (c.verdict == Good) SetRegisterValue(expected, reg::NetworkTimeout, 1000);
        EXPECT_EQ(rig.engine.ShownImage(), expected);
        // A refused or unanswered write lets the next tick read.
        EXPECT_FALSE(rig.engine.PendingWrite());
    }
}

} // namespace
} // namespace korvan
