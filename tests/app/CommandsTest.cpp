#include "Commands.h"
#include "PollEngineProbe.h"
#include "ScriptedHost.h"

#include <gtest/gtest.h>

namespace korvan {
namespace {

using test::ReadFrame;
using test::Rig;
using test::WriteFrame;

struct Box {
    MessageKind kind;
    std::string text;
};

// Answers the boxes as scripted; whileOpen runs while a box is open, as the poll cycle does.
class ScriptedMessages : public MessageHost {
  public:
    std::vector<Box> shown;
    bool answerOk = true;
    std::function<void()> whileOpen;

    bool ShowMessage(MessageKind kind, const std::string& text) override {
        shown.push_back({kind, text});
        if (whileOpen) whileOpen();
        return kind == MessageKind::Warning ? answerOk : true;
    }
};

using Command = void (*)(PollEngine&, MessageHost&);

TEST(Commands, ChecksComeFirstAndStoreNothing) {
    for (Command command : {&RES_BUTClick, &RESTOREClick, &FINDClick}) {
        Rig rig;
        ScriptedMessages messages;
        test::PollEngineProbe::StateOf(rig.engine).LayoutCountdown = -2;
        test::PollEngineProbe::StateOf(rig.engine).ShownImage[byte::UnitCount] =
            4; // link lost: the error, whatever the count
        const RegisterImage empty = rig.engine.WantedImage();
        command(rig.engine, messages);
        EXPECT_EQ(rig.engine.WantedImage(), empty);
        EXPECT_EQ(rig.engine.LayoutCountdown(), -2);
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].kind, MessageKind::Error);
        EXPECT_EQ(messages.shown[0].text, "Прибор не подключен!");

        rig.unit.registers[byte::UnitCount] = 0; // firmware without modules
        rig.Connect();
        const RegisterImage wanted = rig.engine.WantedImage();
        const int countdown = rig.engine.LayoutCountdown();
        command(rig.engine, messages);
        ASSERT_EQ(messages.shown.size(), 2u);
        EXPECT_EQ(messages.shown[1].kind, MessageKind::Information);
        EXPECT_EQ(messages.shown[1].text, "В данной версии прошивки функция не поддерживается!");
        EXPECT_EQ(rig.engine.WantedImage(), wanted);
        EXPECT_EQ(rig.engine.LayoutCountdown(), countdown);
        rig.Cycle();
        rig.Cycle();
        EXPECT_TRUE(rig.unit.writes.empty());
    }
}

TEST(Commands, ServiceCommandsAskAndStoreOnlyOnOk) {
    const struct {
        Command command;
        const char* question;
        std::uint8_t byte;
    } cases[] = {{&RES_BUTClick, "Сброс сигнала ПОЖАР! Продолжить?", 170},
                 {&RESTOREClick, "Восстановление заводских настроек ЗОКТ! Продолжить?", 85}};
    for (const auto& c : cases) {
        Rig rig;
        rig.Connect();
        ScriptedMessages messages;
        messages.answerOk = false;
        const RegisterImage wanted = rig.engine.WantedImage();
        const RegisterImage shown = rig.engine.ShownImage();
        c.command(rig.engine, messages);
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].kind, MessageKind::Warning);
        EXPECT_EQ(messages.shown[0].text, c.question);
        EXPECT_EQ(rig.engine.WantedImage(), wanted);
        EXPECT_EQ(rig.engine.ShownImage(), shown);

        rig.Cycle();
        rig.Cycle();
        EXPECT_TRUE(rig.unit.writes.empty());

        messages.answerOk = true;
        SetRegisterValue(rig.unit.registers, reg::ServiceCommand, 0x0100);
        rig.Cycle();
        c.command(rig.engine, messages);
        rig.Cycle();
        rig.Cycle();
        // The high byte goes back as the unit reported it.
        EXPECT_EQ(rig.LastSent(), WriteFrame(reg::ServiceCommand, 0x0100 | c.byte));
    }
}

TEST(Commands, QuestionOpenWhileThePollCycleRuns) {
    Rig rig;
    rig.Connect();
    ScriptedMessages messages;
    // While the question is open the link is lost and comes back with a changed image: the
    // answer still sends the command.
    messages.whileOpen = [&rig] {
        rig.unit.silent = true;
        for (int i = 0; i < 3; ++i)
            rig.Cycle();
        rig.unit.silent = false;
        SetRegisterValue(rig.unit.registers, reg::NetworkTimeout, 700);
        rig.Cycle();
    };
    RES_BUTClick(rig.engine, messages);
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(RegisterValue(rig.engine.WantedImage(), reg::NetworkTimeout), 700);
    rig.Cycle();
    rig.Cycle();
    EXPECT_EQ(rig.LastSent(), WriteFrame(reg::ServiceCommand, 170));
}

TEST(Commands, FindRestartsTheCountdownWithoutAQuestion) {
    Rig rig;
    rig.Connect();
    ASSERT_EQ(rig.host.fitCalls, 1);
    ScriptedMessages messages;
    FINDClick(rig.engine, messages);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(rig.engine.LayoutCountdown(), 5);
    rig.Cycle();
    EXPECT_EQ(rig.host.fitCalls, 2);
}

// A start delivered whenever the line comes back is a hazard: without a link it is refused as
// "Сброс" is, and one pressed with the link up that is not written before the link goes is
// dropped and said.
TEST(Commands, StartAndStopBelongToTheLinkTheyArePressedOn) {
    Rig rig;
    ScriptedMessages messages;
    EXPECT_FALSE(GO_BUTClick(rig.engine, messages));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Прибор не подключен!");
    EXPECT_EQ(rig.engine.WantedImage()[byte::CommandSignal], 0);

    rig.Connect();
    rig.Tick();
    EXPECT_TRUE(GO_BUTClick(rig.engine, messages));
    EXPECT_TRUE(ST_BUTClick(rig.engine, messages));
    rig.Answer();
    rig.Close();
    for (int i = 0; i < 3; ++i)
        rig.Cycle();
    EXPECT_EQ(rig.unit.writes, (std::vector<int>{reg::CommandSignal})); // only the stop
    EXPECT_EQ(RegisterValue(rig.unit.registers, reg::CommandSignal), 85);

    // Pressed, then the unit falls silent before the write goes out: the link is lost, the start
    // is dropped and said, and it never reaches the unit when it answers again.
    GO_BUTClick(rig.engine, messages);
    rig.unit.silent = true;
    for (int i = 0; i < 3; ++i)
        rig.Cycle();
    ASSERT_FALSE(rig.engine.LinkUp());
    ASSERT_EQ(rig.host.dropped.size(), 1u);
    EXPECT_EQ(rig.host.dropped[0].cause, DropCause::LinkLost);
    ASSERT_EQ(rig.host.dropped[0].choices.size(), 1u);
    EXPECT_EQ(rig.host.dropped[0].choices[0].value, 170);
    rig.unit.silent = false;
    for (int i = 0; i < 4; ++i)
        rig.Cycle();
    EXPECT_EQ(rig.unit.writes.size(), 1u);
    EXPECT_EQ(RegisterValue(rig.unit.registers, reg::CommandSignal), 85);
}

// "Останов" pressed while the write of "Пуск" is on the line: the echo confirms only what was sent,
// so the stop still goes out and the unit ends up stopped.
TEST(Commands, StopPressedWhileStartIsOnTheLineIsStillSent) {
    Rig rig;
    rig.Connect();
    ScriptedMessages messages;
    GO_BUTClick(rig.engine, messages);
    rig.Cycle();
    rig.Tick();
    ASSERT_EQ(rig.LastSent(), WriteFrame(reg::CommandSignal, 170));
    ST_BUTClick(rig.engine, messages);
    rig.Answer();
    rig.Close();
    for (int i = 0; i < 4; ++i)
        rig.Cycle();
    EXPECT_EQ(rig.unit.writes, (std::vector<int>{reg::CommandSignal, reg::CommandSignal}));
    EXPECT_EQ(RegisterValue(rig.unit.registers, reg::CommandSignal), 85);
}

TEST(Commands, RestoreAfterResetSendsOnlyTheRestore) {
    Rig rig;
    rig.Connect();
    ScriptedMessages messages;
    rig.Tick();
    RES_BUTClick(rig.engine, messages);
    RESTOREClick(rig.engine, messages);
    rig.Answer();
    rig.Close();
    std::vector<test::Bytes> writes;
    for (int i = 0; i < 4; ++i) {
        rig.Cycle();
        if (rig.LastSent()[1] == kWriteSingleRegister) writes.push_back(rig.LastSent());
    }
    EXPECT_EQ(writes, std::vector<test::Bytes>{WriteFrame(reg::ServiceCommand, 85)});
    EXPECT_EQ(rig.LastSent(), ReadFrame(96));
}

// A click chooses the opposite of what the indicator shows; grey (link lost, unit not in use)
// shows nothing to be opposite to, so a click there chooses nothing.
TEST(Commands, OutputClickChoosesFromTheColourShown) {
    const struct {
        Colour shown;
        bool chooses;
        std::uint16_t bit;
    } cases[] = {{kGreen, true, 1}, {kRed, true, 0}, {kYellow, true, 1}, {kGrey, false, 0}};
    for (const auto& c : cases) {
        Rig rig;
        rig.unit.registers[2 * (reg::UnitBlock(2) + reg::UnitOutputs) + 1] = c.bit ? 0 : 1;
        rig.Connect();
        const ControlRef out = ControlOf<&UnitControls::OUT>(2, 0);
        EXPECT_EQ(ClickOutput(rig.engine, out, c.shown).taken, c.chooses) << c.shown;
        const int reg = reg::UnitBlock(2) + reg::UnitOutputs;
        EXPECT_EQ(rig.engine.ChosenBits(reg), c.chooses ? 1 : 0) << c.shown;
        if (c.chooses) {
            EXPECT_EQ(RegisterValue(rig.engine.WantedImage(), reg) & 1, c.bit);
        }
    }
}

} // namespace
} // namespace korvan
