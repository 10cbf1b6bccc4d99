// The operator's choices through the engine: what reaches the unit when the line and the unit
// misbehave, a refused write, a refused wide read, and a change of unit.
#include "PollEngine.h"
#include "ScriptedHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace korvan {
namespace {

using test::Bytes;
using test::ReadFrame;
using test::Rig;
using test::WriteFrame;

// What the operator chose, and only that, reaches the unit, whatever the line and the unit do
// meanwhile: the newest choice wins, a choice outlives reads, failures and link loss, and each
// service command press is sent once.
TEST(PollEngine, OperatorChoicesReachTheUnitExactly) {
    struct Story {
        const char* name;
        std::function<void(Rig&)> play;
        std::vector<Bytes> writes; // every write request on the line, in order
    };
    const auto cycles = [](Rig& rig, int n) {
        for (int i = 0; i < n; ++i)
            rig.Cycle();
    };
    const std::vector<Story> stories{
        {"output on then off while the on-write is unanswered: the read between shows it off",
         [&](Rig& rig) {
             rig.engine.Choose(3, 0x0001, 0x0001);
             rig.Cycle();
             rig.unit.silent = true;
             rig.Cycle();
             rig.engine.Choose(3, 0x0001, 0x0000);
             rig.unit.silent = false;
             cycles(rig, 4);
         },
         {WriteFrame(3, 0x0001)}},
        {"two clicks between two responses write nothing",
         [&](Rig& rig) {
             rig.engine.Choose(3, 0x0001, 0x0001);
             rig.engine.Choose(3, 0x0001, 0x0000);
             cycles(rig, 4);
         },
         {}},
        {"a read does not repaint a choice, and the unit's own bits go along",
         [&](Rig& rig) {
             rig.engine.Choose(3, 0x0100, 0x0100);
             SetRegisterValue(rig.unit.registers, 3, 0x0002);
             cycles(rig, 4);
         },
         {WriteFrame(3, 0x0102)}},
        {"a choice made while the link is lost is written once it is back",
         [&](Rig& rig) {
             rig.unit.silent = true;
             cycles(rig, 3);
             rig.engine.Choose(reg::ServiceCommand, 0x00FF, 0x0001); // takes no choice
             rig.engine.Choose(reg::CommandSignal, 0x00FF, 170);
             rig.unit.silent = false;
             cycles(rig, 4);
         },
         {WriteFrame(reg::CommandSignal, 170)}},
        {"a start pressed on a started unit is no choice: it stops by itself and stays so",
         [&](Rig& rig) {
             SetRegisterValue(rig.unit.registers, reg::CommandSignal, 170);
             rig.Cycle();
             rig.engine.Choose(reg::CommandSignal, 0x00FF, 170);
             SetRegisterValue(rig.unit.registers, reg::CommandSignal, 85);
             cycles(rig, 4);
         },
         {}},
        {"reset while the unit reports 0xAA in register 95 is still sent",
         [&](Rig& rig) {
             SetRegisterValue(rig.unit.registers, reg::ServiceCommand, 0x00AA);
             rig.Cycle();
             rig.engine.SendServiceCommand(170);
             cycles(rig, 4);
         },
         {WriteFrame(reg::ServiceCommand, 0x00AA)}},
        {"a reset whose echo is lost is neither repeated nor cleared",
         [&](Rig& rig) {
             rig.engine.SendServiceCommand(170);
             rig.Cycle();
             rig.unit.silent = true;
             rig.Cycle();
             rig.unit.silent = false;
             cycles(rig, 4);
         },
         {WriteFrame(reg::ServiceCommand, 0x00AA)}},
        {"every press is sent once; reset then restore before the write sends the restore",
         [&](Rig& rig) {
             rig.engine.SendServiceCommand(170);
             cycles(rig, 2);
             rig.engine.SendServiceCommand(170);
             rig.engine.SendServiceCommand(85);
             cycles(rig, 4);
         },
         {WriteFrame(reg::ServiceCommand, 0x00AA), WriteFrame(reg::ServiceCommand, 0x0055)}},
        {"a lower choice goes first; a command waits behind it",
         [&](Rig& rig) {
             rig.engine.SendServiceCommand(85);
             rig.Want(reg::NetworkTimeout, 700);
             cycles(rig, 6);
         },
         {WriteFrame(reg::NetworkTimeout, 700), WriteFrame(reg::ServiceCommand, 0x0055)}},
    };
    for (const Story& story : stories) {
        SCOPED_TRACE(story.name);
        Rig rig;
        rig.Connect();
        const std::size_t first = rig.host.sent.size();
        story.play(rig);
        std::vector<Bytes> writes;
        for (std::size_t i = first; i < rig.host.sent.size(); ++i)
            if (rig.host.sent[i][1] == kWriteSingleRegister) writes.push_back(rig.host.sent[i]);
        EXPECT_EQ(writes, story.writes);
        EXPECT_EQ(rig.LastSent(), ReadFrame(96)); // nothing left to write
        for (int r = 0; r < kRegisterCount; ++r)
            EXPECT_EQ(rig.engine.ChosenBits(r), 0) << r;
    }
}

// A refused write does not starve the poll: reads go on in between, the same value is tried three
// times, then the choice goes and the operator is told once.
TEST(PollEngine, RefusedWriteIsTriedThreeTimesBetweenReadsThenGivenUp) {
    Rig rig;
    test::Recorder recorder;
    rig.engine.SetExchangeObserver(&recorder);
    rig.Connect();
    rig.unit.refuseWrites = true;
    rig.Want(reg::NetworkSpeed, 4);
    const std::size_t first = rig.host.sent.size();
    for (int i = 0; i < 8; ++i)
        rig.Cycle();
    const Bytes write = WriteFrame(reg::NetworkSpeed, 4);
    const std::vector<Bytes> expected{ReadFrame(96), write, ReadFrame(96), write,
                                      ReadFrame(96), write, ReadFrame(96), ReadFrame(96)};
    EXPECT_EQ(std::vector<Bytes>(rig.host.sent.begin() + first, rig.host.sent.end()), expected);
    EXPECT_EQ(rig.host.refusals, (std::vector<test::ScriptedHost::Refusal>{{81, 4, 2}}));
    EXPECT_EQ(RegisterValue(rig.engine.WantedImage(), reg::NetworkSpeed), 0);
    EXPECT_EQ(rig.engine.LinkCredit(), 3);
    EXPECT_EQ(std::count_if(recorder.records.begin(), recorder.records.end(),
                            [](const ExchangeRecord& r) { return r.writeAbandoned; }),
              1);
    EXPECT_TRUE(recorder.records[recorder.records.size() - 3].writeAbandoned);
}

// A unit that claims the wide registers but refuses to read them: refusals count against the link,
// which is lost after three; from then on it is read with 96 registers and shown.
TEST(PollEngine, RefusedWideReadLosesTheLinkThenReads96) {
    Rig rig;
    rig.unit.registers[byte::FirmwareMajor] = 3;
    rig.unit.widestRead = 96;
    rig.Cycle();
    ASSERT_EQ(rig.engine.ReadCount(), 116);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rig.engine.LinkCredit(), 3 - i);
        rig.Cycle();
        EXPECT_EQ(rig.LastSent(), ReadFrame(116));
    }
    EXPECT_EQ(rig.engine.LinkCredit(), 0);
    EXPECT_EQ(rig.host.controls.ctrl.ONLINE, kYellow);
    SetRegisterValue(rig.unit.registers, 2, 0x0001); // an input of the master comes on
    for (int i = 0; i < 3; ++i) {
        rig.Cycle();
        EXPECT_EQ(rig.LastSent(), ReadFrame(96));
    }
    EXPECT_EQ(rig.engine.LinkCredit(), 3);
    EXPECT_EQ(RegisterValue(rig.engine.ShownImage(), 2), 1);
}

// Another slave address: nothing chosen for the old unit, nor its reply in flight, reaches the
// new one, and the new unit is shown as it is.
TEST(PollEngine, RestartForgetsEverythingPendingForTheOldUnit) {
    Rig rig;
    rig.Connect();
    rig.Want(reg::NetworkTimeout, 700);
    rig.engine.SendServiceCommand(85);
    rig.Cycle();
    ASSERT_TRUE(rig.engine.PendingWrite());
    rig.Tick();
    rig.engine.EndSession(DropCause::AddressChanged);
    EXPECT_FALSE(rig.host.responseRunning);
    EXPECT_EQ(rig.engine.LinkCredit(), 0);
    EXPECT_FALSE(rig.engine.UnitShown());
    rig.host.address = "2";
    const int shows = rig.host.imageToControlsCalls;
    const std::size_t first = rig.host.sent.size();
    for (int i = 0; i < 4; ++i)
        rig.Cycle();
    for (std::size_t i = first; i < rig.host.sent.size(); ++i)
        EXPECT_EQ(rig.host.sent[i], ReadFrame(96, 2));
    EXPECT_EQ(rig.host.imageToControlsCalls, shows + 1);
    EXPECT_EQ(rig.engine.LinkCredit(), 3);
}

// What a link's session carried ends with it: a port failure, a port change, an address change or
// the reopening drops every open choice and command, said with its cause; a lost link drops
// commands and a write job's registers; a write the unit leaves unanswered is tried three times
// with reads between, then dropped; a late reply is never taken for the next answer.
TEST(PollEngine, ChoicesEndWithTheirLinkAndTheirTries) {
    struct Story {
        const char* name;
        std::function<void(Rig&)> play;
        std::vector<Bytes> writes;        // every write request on the line after `play` began
        std::vector<DropCause> dropped;   // the drops said, in order
        std::vector<int> unanswered = {}; // registers given up unanswered
    };
    const auto cycles = [](Rig& rig, int n) {
        for (int i = 0; i < n; ++i)
            rig.Cycle();
    };
    const std::vector<Story> stories{
        {"a port failure with a write and a reset pending: the next device gets a read first",
         [&](Rig& rig) {
             rig.Want(12, 250);
             rig.engine.SendServiceCommand(85);
             rig.unit.silentToWrites = true;
             cycles(rig, 2); // the write goes out unanswered
             rig.engine.EndSession(DropCause::PortLost);
             rig.unit = {}; // another unit behind the same name
             rig.unit.registers[byte::UnitCount] = 4;
             rig.Tick();
             EXPECT_EQ(rig.LastSent(), ReadFrame(96));
             rig.Answer();
             rig.Close();
             cycles(rig, 4);
         },
         {WriteFrame(12, 250)},
         {DropCause::PortLost}},
        {"a write job stops with the link; a hand edit made with it survives",
         [&](Rig& rig) {
             rig.engine.Choose(12, 0xFFFF, 250, PollEngine::ChoiceKind::Job);
             rig.engine.Choose(13, 0xFFFF, 251, PollEngine::ChoiceKind::Job);
             rig.Want(14, 252);
             const std::uint64_t breaks = rig.engine.LinkBreaks();
             rig.unit.silent = true;
             cycles(rig, 3);
             EXPECT_NE(rig.engine.LinkBreaks(), breaks);
             rig.unit.silent = false;
             cycles(rig, 5);
         },
         {WriteFrame(14, 252)},
         {}},
        {"a job stopped by the operator writes nothing more",
         [&](Rig& rig) {
             rig.engine.Choose(12, 0xFFFF, 250, PollEngine::ChoiceKind::Job);
             rig.engine.Choose(13, 0xFFFF, 251, PollEngine::ChoiceKind::Job);
             cycles(rig, 2);
             rig.engine.StopJob();
             cycles(rig, 4);
         },
         {WriteFrame(12, 250)},
         {}},
        {"a write the unit never answers: read between tries, dropped after the third",
         [&](Rig& rig) {
             rig.unit.silentToWrites = true;
             rig.Want(12, 250);
             cycles(rig, 8);
             EXPECT_TRUE(rig.engine.LinkUp());
         },
         {WriteFrame(12, 250), WriteFrame(12, 250), WriteFrame(12, 250)},
         {},
         {12}},
        {"a reset whose write fails at the port is not used up in silence",
         [&](Rig& rig) {
             rig.engine.SendServiceCommand(170);
             rig.Cycle();
             rig.host.failWrite = true;
             rig.Tick();
             EXPECT_EQ(rig.engine.ServiceCommandWaiting(), 170);
             rig.engine.EndSession(DropCause::PortLost);
             rig.host.failWrite = false;
             cycles(rig, 3);
         },
         {},
         {DropCause::PortLost}},
        {"a late reply between two exchanges is not the next one's answer",
         [&](Rig& rig) {
             SetRegisterValue(rig.unit.registers, 12, 99);
             rig.host.Receive(test::ReadReply(rig.unit.registers, 96));
             SetRegisterValue(rig.unit.registers, 12, 7);
             rig.Cycle();
             EXPECT_EQ(RegisterValue(rig.engine.ShownImage(), 12), 7);
         },
         {},
         {}},
    };
    for (const Story& story : stories) {
        SCOPED_TRACE(story.name);
        Rig rig;
        rig.Connect();
        const std::size_t first = rig.host.sent.size();
        story.play(rig);
        std::vector<Bytes> writes;
        for (std::size_t i = first; i < rig.host.sent.size(); ++i)
            if (rig.host.sent[i][1] == kWriteSingleRegister) writes.push_back(rig.host.sent[i]);
        EXPECT_EQ(writes, story.writes);
        std::vector<DropCause> causes;
        for (const DroppedChoices& d : rig.host.dropped)
            causes.push_back(d.cause);
        EXPECT_EQ(causes, story.dropped);
        std::vector<int> unanswered;
        for (const auto& u : rig.host.unanswered)
            unanswered.push_back(u.reg);
        EXPECT_EQ(unanswered, story.unanswered);
        for (int r = 0; r < kRegisterCount; ++r)
            EXPECT_EQ(rig.engine.ChosenBits(r), 0) << r;
    }
}

} // namespace
} // namespace korvan
