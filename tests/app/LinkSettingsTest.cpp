// Start-up and the link settings of the real window: the port list, the port and speed choices,
// on virtual lines whose far end the test watches.
#include "LinkTestSupport.h"
#include "PtyPair.h"
#include "WindowThread.h"
#include "monitor_code_3.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include <unistd.h>

using namespace korvan;
using namespace korvan::testing;

namespace {

using Message = MessageLog::Message;
// The error box: its fixed text, then the cause.
Message PortError(const std::string& cause) {
    return {MessageKind::Error, std::string(kPortErrorText) + "\n" + cause};
}

TEST(StartUp, EmptyPortListStopsPollingWithTheErrorBox) {
    MessageLog log;
    FakeMachine machine;
    TWIN win;
    EXPECT_EQ(win.Widgets.ctrl.COM->count(), 1); // only "Сетевой порт…"
    EXPECT_FALSE(win.Link.COMPORT.IsOpen());
    EXPECT_FALSE(win.Link.SEND_TIM.isActive());
    EXPECT_EQ(log.shown, std::vector<Message>{PortError("Последовательные порты не найдены")});
    EXPECT_EQ(win.Widgets.ctrl.ONLINE->colour(), kYellow);
}

TEST(StartUp, UnreadablePortListGoesToTheStandardReportAndPollingFailsLater) {
    MessageLog log;
    FakeMachine machine(false);
    std::vector<std::string> reported;
    korvan::win::SetExceptionReport([&](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            reported.push_back(e.what());
        }
    });
    auto win = std::make_unique<TWIN>();
    korvan::win::SetExceptionReport({});

    EXPECT_EQ(reported, std::vector<std::string>{"Ошибка обращения к системному реестру"});
    EXPECT_TRUE(log.shown.empty());
    ASSERT_EQ(win->Widgets.ctrl.COM->count(), 1);
    EXPECT_EQ(win->Widgets.ctrl.COM->itemText(0), "");
    EXPECT_FALSE(win->Link.COMPORT.IsOpen());
    EXPECT_TRUE(win->Link.SEND_TIM.isActive());

    // The first poll tick finds no port.
    ASSERT_TRUE(WaitFor([&] { return !log.shown.empty(); }));
    EXPECT_EQ(log.shown, std::vector<Message>{PortError("Ошибка записи в порт")});
    EXPECT_FALSE(win->Link.SEND_TIM.isActive());
}

class LinkSettings : public ::testing::Test {
  protected:
    // The window comes up on the last port of the list.
    void Start() {
        win = std::make_unique<TWIN>();
        win->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(win.get()));
        ASSERT_TRUE(win->Link.COMPORT.IsOpen());
        ASSERT_TRUE(log.shown.empty());
    }
    PtyPair& AddLine() {
        PtyPair& line = lines.emplace_back();
        machine.AddPort(line.PortName());
        return line;
    }
    int Item(const PtyPair& pair) const {
        return win->Widgets.ctrl.COM->findText(QString::fromStdString(pair.PortName()));
    }
    int Intervals() const {
        return win->Link.SEND_TIM.interval() == win->Link.TIMEOUT.interval()
                   ? win->Link.SEND_TIM.interval()
                   : -1;
    }

    MessageLog log;
    FakeMachine machine;
    std::deque<PtyPair> lines;
    std::unique_ptr<TWIN> win;
};

TEST_F(LinkSettings, SpeedReopensThePortAndSetsBothTimers) {
    const PtyPair& line = AddLine();
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(PortSpeed(line.PortPath()), B9600);
    EXPECT_EQ(Intervals(), 500);
    TDropList* pcspd = win->Widgets.ctrl.PCSPD;
    ASSERT_EQ(pcspd->currentText(), "9600");

    pcspd->setCurrentIndex(pcspd->findText("1200"));
    EXPECT_EQ(PortSpeed(line.PortPath()), B1200);
    EXPECT_EQ(Intervals(), 4000);
    EXPECT_FALSE(PortIsFree(line.PortPath()));

    pcspd->setCurrentIndex(pcspd->findText("19200"));
    EXPECT_EQ(PortSpeed(line.PortPath()), B19200);
    EXPECT_EQ(Intervals(), 500);

    // Moving through the open list changes nothing.
    pcspd->showPopup();
    ASSERT_TRUE(pcspd->DroppedDown());
    pcspd->setCurrentIndex(pcspd->findText("2400"));
    pcspd->hidePopup();
    EXPECT_EQ(PortSpeed(line.PortPath()), B19200);
    EXPECT_EQ(Intervals(), 500);

    pcspd->setCurrentIndex(pcspd->findText("4800"));
    EXPECT_EQ(PortSpeed(line.PortPath()), B4800);
    EXPECT_EQ(Intervals(), 1000);
    EXPECT_TRUE(win->Link.SEND_TIM.isActive());
    EXPECT_TRUE(log.shown.empty());
}

// A speed change closes and reopens the port: a reopen that fails is told at once with its cause,
// like any other failure of the port, and polling stops.
TEST_F(LinkSettings, SpeedChangeThatCannotReopenTellsWhyAndStopsPolling) {
    const PtyPair& line = AddLine();
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(::unlink(line.PortPath().c_str()), 0); // the open port stays usable, its name goes
    TDropList* pcspd = win->Widgets.ctrl.PCSPD;
    pcspd->setCurrentIndex(pcspd->findText("19200"));
    ASSERT_EQ(log.shown.size(), 1u);
    EXPECT_EQ(log.shown[0], PortError("Попытка открыть несуществующий COM-порт"));
    EXPECT_FALSE(win->Link.COMPORT.IsOpen());
    EXPECT_FALSE(win->Link.SEND_TIM.isActive());
    EXPECT_EQ(win->Widgets.ctrl.ONLINE->colour(), kYellow);
}

TEST_F(LinkSettings, HeldPortStopsPollingAndAFreePortPickedBackPolls) {
    const PtyPair& first = AddLine();
    const PtyPair& second = AddLine();
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(win->Widgets.ctrl.COM->count(), 3); // and "Сетевой порт…"
    const PtyPair& opened = Item(first) == 1 ? first : second;
    const PtyPair& other = &opened == &first ? second : first;
    ASSERT_EQ(win->Widgets.ctrl.COM->currentIndex(), Item(opened));
    ASSERT_FALSE(PortIsFree(opened.PortPath()));

    {
        const PortHolder holder(other.PortPath());
        ASSERT_TRUE(holder.Holds());
        win->Widgets.ctrl.COM->setCurrentIndex(Item(other));
    }
    EXPECT_EQ(log.shown, std::vector<Message>{PortError("Порт занят другой программой")});
    EXPECT_FALSE(win->Link.SEND_TIM.isActive());
    EXPECT_FALSE(win->Link.COMPORT.IsOpen());
    EXPECT_TRUE(PortIsFree(opened.PortPath()));
    EXPECT_EQ(win->Widgets.ctrl.ONLINE->colour(), kYellow);

    // A port that opens polls, also after a failure.
    win->Widgets.ctrl.COM->setCurrentIndex(Item(opened));
    EXPECT_TRUE(win->Link.COMPORT.IsOpen());
    EXPECT_FALSE(PortIsFree(opened.PortPath()));
    EXPECT_TRUE(win->Link.SEND_TIM.isActive());
    EXPECT_EQ(log.shown.size(), 1u);
}

TEST_F(LinkSettings, TheListFollowsPortsComingAndGoingWithoutReopeningTheOpenOne) {
    const PtyPair& opened = AddLine();
    ASSERT_NO_FATAL_FAILURE(Start());
    const void* handle = win->Link.COMPORT.Handle(); // a reopen would get a new handle
    TDropList* com = win->Widgets.ctrl.COM;

    const PtyPair& plugged = AddLine();
    EXPECT_TRUE(WaitFor([&] { return Item(plugged) >= 0; }, 2000));
    machine.RemovePort(opened.PortName()); // the open port's device goes too: it stays selected
    machine.RemovePort(plugged.PortName());
    EXPECT_TRUE(WaitFor([&] { return Item(plugged) < 0; }, 2000));
    EXPECT_EQ(com->currentIndex(), Item(opened));
    EXPECT_EQ(win->Link.COMPORT.Handle(), handle);
    EXPECT_TRUE(win->Link.COMPORT.IsOpen());

    machine.AddPort(plugged.PortName());
    ASSERT_TRUE(WaitFor([&] { return Item(plugged) >= 0; }, 2000));
    EXPECT_EQ(win->Link.COMPORT.Handle(), handle);
    com->setCurrentIndex(Item(plugged));
    EXPECT_EQ(win->Link.COMPORT.Port(), plugged.PortName());
    EXPECT_TRUE(win->Link.COMPORT.IsOpen());
    EXPECT_FALSE(PortIsFree(plugged.PortPath()));
    EXPECT_TRUE(PortIsFree(opened.PortPath()));
    EXPECT_TRUE(log.shown.empty());
}

// A USB adapter pulled out and plugged in again may come back under another name.
TEST_F(LinkSettings, ALostAdapterIsOpenedAgainByItsSerialNumberUnderANewName) {
    auto pulled = std::make_unique<PtyPair>();
    machine.AddUsbPort(pulled->PortName(), "A10K3XYZ");
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(win->Link.COMPORT.Port(), pulled->PortName());

    pulled->Kill();
    machine.RemovePort(pulled->PortName());
    ASSERT_TRUE(WaitFor([&] { return !log.shown.empty(); }));
    EXPECT_FALSE(win->Link.SEND_TIM.isActive());
    const PtyPair& other = AddLine(); // another adapter: not ours
    const PtyPair back;
    machine.AddUsbPort(back.PortName(), "A10K3XYZ");
    ASSERT_TRUE(WaitFor([&] { return win->Link.COMPORT.IsOpen(); }));
    EXPECT_EQ(win->Link.COMPORT.Port(), back.PortName());
    EXPECT_EQ(win->Widgets.ctrl.COM->currentIndex(), Item(back));
    EXPECT_TRUE(win->Link.SEND_TIM.isActive());
    EXPECT_TRUE(PortIsFree(other.PortPath()));
    EXPECT_EQ(log.shown.size(), 1u);
    win.reset();
}

TEST_F(LinkSettings, APortWhoseNameIsNotTextOpensByItsBytes) {
    const PtyPair& line = AddLine();
    machine.RemovePort(line.PortName());
    const std::string name = "ttyKVT\xC0\xFF" + std::to_string(getpid());
    struct Link {
        std::string path;
        ~Link() { unlink(path.c_str()); }
    } link{"/dev/" + name};
    ASSERT_EQ(symlink(line.PortPath().c_str(), link.path.c_str()), 0);
    machine.AddPort(name);
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(win->Link.COMPORT.Port(), name);
    EXPECT_FALSE(PortIsFree(line.PortPath()));
    win.reset();
}

} // namespace
