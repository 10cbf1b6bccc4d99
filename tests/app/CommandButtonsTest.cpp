// The operator's commands through the window's own buttons and indicators, and the message box
// the operator really sees.
#include "LinkTestSupport.h"
#include "MessageBoxes.h"
#include "PollEngineProbe.h"
#include "monitor_code_3.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

using namespace korvan;
using namespace korvan::testing;

namespace {

using Message = MessageLog::Message;

// A window without a port: nothing is polled, so only the test changes the engine's state.
class CommandButtons : public ::testing::Test {
  protected:
    void SetUp() override {
        win.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
        ASSERT_FALSE(win.Link.SEND_TIM.isActive());
        log.shown.clear(); // the start-up box about the missing port
    }

    void Click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }
    const RegisterImage& Wanted() const { return win.Link.Engine.WantedImage(); }
    void LinkUp(int units) {
        test::PollEngineProbe::StateOf(win.Link.Engine).LinkCredit = 3;
        test::PollEngineProbe::StateOf(win.Link.Engine).ShownImage[byte::UnitCount] =
            static_cast<std::uint8_t>(units);
    }

    MessageLog log;
    FakeMachine machine;
    TWIN win;
};

TEST_F(CommandButtons, ResetAndRestoreCheckTheLinkAndAsk) {
    struct Case {
        QPushButton* button;
        const char* question;
        std::uint8_t command;
    };
    const Case cases[] = {{win.Widgets.ctrl.RES_BUT, kResetQuestion, kCommandReset},
                          {win.Widgets.ctrl.RESTORE, kRestoreQuestion, kCommandRestore}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.question);
        test::PollEngineProbe::StateOf(win.Link.Engine).LinkCredit = 0;
        test::PollEngineProbe::StateOf(win.Link.Engine).ShownImage[byte::UnitCount] = 2;
        const RegisterImage before = Wanted();
        const int waiting = win.Link.Engine.ServiceCommandWaiting();
        log.shown.clear();

        Click(c.button); // no link
        LinkUp(0);
        Click(c.button); // firmware without modules
        LinkUp(2);
        log.answer = false;
        Click(c.button);
        EXPECT_EQ(win.Link.Engine.ServiceCommandWaiting(), waiting);
        EXPECT_EQ(log.shown, (std::vector<Message>{{MessageKind::Error, kNotConnectedText},
                                                   {MessageKind::Information, kNotSupportedText},
                                                   {MessageKind::Warning, c.question}}));

        log.answer = true;
        Click(c.button);
        EXPECT_EQ(win.Link.Engine.ServiceCommandWaiting(), c.command);
        EXPECT_EQ(Wanted(), before);
        EXPECT_EQ(log.shown.size(), 4u);
    }
}

// Start and stop need the link; with it, PUSK follows at once. An indicator that is grey says
// nothing of its output, so a click there chooses nothing; one that shows its output toggles it.
TEST_F(CommandButtons, StartNeedsTheLinkAndIndicatorClicksToggleWhatTheyShow) {
    Click(win.Widgets.ctrl.GO_BUT);
    EXPECT_EQ(log.shown, (std::vector<Message>{{MessageKind::Error, kNotConnectedText}}));
    EXPECT_EQ(win.Widgets.ctrl.PUSK->colour(), kGrey);
    EXPECT_EQ(Wanted()[byte::CommandSignal], 0);
    for (TIndicator* indicator : {win.Widgets.unit[3].OUT[0], win.Widgets.master.RELAY[1]}) {
        ASSERT_EQ(indicator->colour(), kGrey);
        Click(indicator);
        EXPECT_EQ(indicator->colour(), kGrey);
    }
    EXPECT_EQ(Wanted(), RegisterImage{});
    log.shown.clear();

    RegisterImage unit{};
    for (int k = 0; k < kUnitPanels; ++k)
        SetRegisterValue(unit, reg::UnitBlock(k), 1); // every unit in use
    test::PollEngineProbe::ShowUnit(win.Link.Engine, unit);
    for (TIndicator* indicator : {win.Widgets.unit[3].OUT[0], win.Widgets.master.RELAY[1]})
        indicator->setColour(kGreen); // as the read shows them
    Click(win.Widgets.ctrl.GO_BUT);
    EXPECT_EQ(win.Widgets.ctrl.PUSK->colour(), kRed);
    EXPECT_EQ(Wanted()[byte::CommandSignal], kCommandStart);
    Click(win.Widgets.ctrl.ST_BUT);
    EXPECT_EQ(win.Widgets.ctrl.PUSK->colour(), kGreen);
    EXPECT_EQ(Wanted()[byte::CommandSignal], kCommandStop);

    for (TIndicator* indicator : {win.Widgets.unit[3].OUT[0], win.Widgets.master.RELAY[1]}) {
        SCOPED_TRACE(indicator->objectName().toStdString());
        QTest::mouseRelease(indicator, Qt::LeftButton);
        EXPECT_EQ(indicator->colour(), kRed);
        Click(indicator);
        EXPECT_EQ(indicator->colour(), kGreen);
    }
    // Nothing else was switched.
    EXPECT_EQ(RegisterValue(Wanted(), reg::UnitBlock(3) + reg::UnitOutputs), 0);
    EXPECT_EQ(RegisterValue(Wanted(), reg::UnitOutputs), 0);
    EXPECT_EQ(win.Widgets.unit[3].OUT[1]->colour(), kGrey);
    EXPECT_TRUE(log.shown.empty());
}

TEST_F(CommandButtons, RealConfirmationBoxAnsweredCancel) {
    LinkUp(2);
    const RegisterImage before = Wanted();
    SetMessageBoxAnswerer({});

    // Waits for the modal box that the click opens, notes what it shows and clicks Cancel.
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList buttons;
        bool answered = false;
    } seen;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        watch.stop();
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (const QAbstractButton* button : box->buttons())
            seen.buttons << button->text();
        seen.buttons.sort();
        if (QAbstractButton* cancel = box->button(QMessageBox::Cancel)) {
            QTest::mouseClick(cancel, Qt::LeftButton);
            seen.answered = true;
        } else {
            box->reject();
        }
    });
    watch.start();
    Click(win.Widgets.ctrl.RES_BUT);
    watch.stop();

    EXPECT_TRUE(seen.answered);
    EXPECT_EQ(seen.title, "Warning");
    EXPECT_EQ(seen.text, kResetQuestion);
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, (QStringList{"Cancel", "OK"}));
    EXPECT_EQ(Wanted(), before);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

} // namespace
