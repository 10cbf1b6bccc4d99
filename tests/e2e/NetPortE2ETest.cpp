// The station through a serial device server: ser2net, started for real, bridges a TCP port to
// korvan-sim's line (plain TCP and RFC 2217), and a Modbus TCP gateway made of pymodbus forwards
// to it. The station first opens a decoy simulator as its serial port (it opens the last port of
// its list at start), then the operator chooses "Сетевой порт…" and types the address.
#include "E2ETestSupport.h"
#include "NetPortDialog.h"
#include "PosixNetConnect.h"
#include "Rfc2217.h"
#include "SilentNetwork.h"
#include "SimulatorProcess.h"
#include "monitor_code_3.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace korvan;
using korvan::e2e::ShownMessages;

namespace {

constexpr int kWaitMs = 15000;

// A TCP port on the loopback that nobody listens on at this moment.
int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    close(s);
    return ntohs(a.sin_port);
}

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The longest time the window thread went without serving its events, by a 5 ms timer.
class StallMeter {
  public:
    StallMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, since_.restart());
            ++ticks_;
        });
        since_.start();
        timer_.start();
    }
    qint64 LongestMs() const { return longest_; }
    int Ticks() const { return ticks_; }

  private:
    QTimer timer_;
    QElapsedTimer since_;
    qint64 longest_ = 0;
    int ticks_ = 0;
};

class NetPortE2ETest : public ::testing::Test {
  protected:
    void SetUp() override { ShownMessages().clear(); }

    void TearDown() override {
        win_.reset();
        StopServer();
        EXPECT_EQ(unit_.Stop(), 0);
        EXPECT_EQ(decoy_.Stop(), 0);
    }

    // The decoy the window opens at start, the unit behind the server, and the window.
    void StartRig(const QStringList& unitOptions = {}) {
        ASSERT_EQ(decoy_.Start(QStringLiteral("/dev/ttyZZZNET%1").arg(getpid()), {}), "");
        unitLink_ = dir_.filePath(QStringLiteral("ttyUNIT"));
        ASSERT_EQ(unit_.Start(unitLink_, unitOptions), "");
        unit_.Command("set 3 0");
        win_ = std::make_unique<TWIN>();
        ASSERT_TRUE(win_->Link.SEND_TIM.isActive()) << "the decoy did not open";
        win_->ShowAtStart();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(win_.get()));
        port_ = FreePort();
    }

    // ser2net in plain TCP ("tcp") or RFC 2217 ("telnet(rfc2217),tcp") mode at 9600 8N1.
    void StartSer2net(const char* accepter) {
        const QString config = QStringLiteral("connection: &unit\n"
                                              "  accepter: %1,127.0.0.1,%2\n"
                                              "  connector: serialdev,%3,9600n81,local\n"
                                              "  options:\n"
                                              "    kickolduser: true\n")
                                   .arg(QString::fromUtf8(accepter))
                                   .arg(port_)
                                   .arg(unitLink_);
        server_.start(QStringLiteral("ser2net"),
                      {"-n", "-u", "-P", dir_.filePath("ser2net.pid"), "-Y", config});
        ASSERT_TRUE(server_.waitForStarted());
        WaitUntilListening();
    }

    void StartGateway() {
        server_.start(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral(KORVAN_E2E_DIR "/mbtcp_gateway.py"), QString::number(port_),
                       unitLink_});
        ASSERT_TRUE(server_.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([this] { return server_.canReadLine(); }, kWaitMs));
        ASSERT_EQ(server_.readLine().trimmed(), "ready");
    }

    void WaitUntilListening() {
        ASSERT_TRUE(QTest::qWaitFor(
            [this] {
                std::string cause;
                const int fd =
                    posix::ConnectTcp("127.0.0.1", port_, std::chrono::seconds(1), cause);
                if (fd >= 0) close(fd);
                return fd >= 0;
            },
            kWaitMs));
    }

    void StopServer() {
        if (server_.state() == QProcess::NotRunning) return;
        server_.kill();
        server_.waitForFinished();
    }

    // As the operator: the last item of the list, the address typed, the mode, Enter. The window
    // runs its own event loop, so it is filled in from a timer inside that loop.
    void ChooseNetworkPort(int mode) {
        bool typed = false;
        bool focused = false;
        QTimer operatorHand;
        operatorHand.setInterval(50);
        QObject::connect(&operatorHand, &QTimer::timeout, [&] {
            auto* dialog = dynamic_cast<NetPortDialog*>(QApplication::activeModalWidget());
            if (typed || !dialog || !dialog->isVisible()) return;
            typed = true;
            auto* address = dialog->findChild<QLineEdit*>("NetAddress");
            focused = dialog->focusWidget() == address;
            QTest::keyClicks(address, QStringLiteral("127.0.0.1:%1").arg(port_));
            dialog->findChild<QComboBox*>("NetMode")->setCurrentIndex(mode);
            QTest::keyClick(address, Qt::Key_Return);
        });
        operatorHand.start();
        QComboBox* com = Control<QComboBox>("COM");
        com->setCurrentIndex(com->count() - 1);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return typed && !QApplication::activeModalWidget(); }, kWaitMs));
        EXPECT_TRUE(focused) << "the keyboard was not in the address";
    }

    template <class T> T* Control(const QString& name) const {
        T* control = win_->findChild<T*>(name);
        if (!control) throw std::runtime_error("no control " + name.toStdString());
        return control;
    }
    Colour Online() const { return Control<TIndicator>("ONLINE")->colour(); }
    long UnitFrames() const { return unit_.ReceivedFrames().total; }
    // Polling reaches the unit behind the server and its replies are good.
    bool WaitForUnit() {
        const long before = UnitFrames();
        return QTest::qWaitFor([&] { return UnitFrames() > before + 1 && Online() == kGreen; },
                               kWaitMs);
    }
    QString Name(const char* scheme) const {
        return QStringLiteral("%1://127.0.0.1:%2").arg(QString::fromUtf8(scheme)).arg(port_);
    }

    QTemporaryDir dir_;
    e2e::SimulatorProcess decoy_;
    e2e::SimulatorProcess unit_;
    QString unitLink_;
    QProcess server_;
    int port_ = 0;
    std::unique_ptr<TWIN> win_;
};

} // namespace

TEST_F(NetPortE2ETest, RawTcpThroughSer2netPollsWritesAndReconnectsAfterARestart) {
    ASSERT_NO_FATAL_FAILURE(StartRig());
    ASSERT_NO_FATAL_FAILURE(StartSer2net("tcp"));
    ASSERT_NO_FATAL_FAILURE(ChooseNetworkPort(0));
    EXPECT_EQ(Control<QComboBox>("COM")->currentText(), Name("tcp"));
    EXPECT_EQ(win_->Link.COMPORT.Port(), Name("tcp").toStdString());
    EXPECT_FALSE(Control<QComboBox>("PCSPD")->toolTip().isEmpty());
    ASSERT_TRUE(WaitForUnit());

    QTest::mouseClick(Control<TIndicator>("OUT1_0"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return unit_.Get(3) == 1; }, kWaitMs));
    // Confirmed at the station too: a choice open when the port fails is dropped and said.
    ASSERT_TRUE(QTest::qWaitFor([this] { return win_->Link.Engine.ChosenBits(3) == 0; }, kWaitMs));

    // The server goes: one box with the cause, the link-lost look.
    StopServer();
    ASSERT_TRUE(QTest::qWaitFor([] { return !ShownMessages().empty(); }, kWaitMs));
    ASSERT_EQ(ShownMessages().size(), 1u);
    // Seen at the read (the server closed) or at the next write (the connection lost).
    EXPECT_TRUE(ShownMessages()[0].text.ends_with(": соединение закрыто сервером") ||
                ShownMessages()[0].text.ends_with(": соединение с преобразователем потеряно"))
        << ShownMessages()[0].text;
    EXPECT_EQ(Online(), kYellow);
    // Back: the station reconnects by itself and polls again, with no second box.
    ASSERT_NO_FATAL_FAILURE(StartSer2net("tcp"));
    EXPECT_TRUE(WaitForUnit());
    EXPECT_EQ(ShownMessages().size(), 1u);
    EXPECT_EQ(Control<QComboBox>("COM")->currentText(), Name("tcp"));
}

TEST_F(NetPortE2ETest, Rfc2217SpeedChangeReachesTheUnitsLine) {
    ASSERT_NO_FATAL_FAILURE(StartRig({"--baud", "19200"}));
    ASSERT_NO_FATAL_FAILURE(StartSer2net("telnet(rfc2217),tcp"));
    ASSERT_NO_FATAL_FAILURE(ChooseNetworkPort(1));
    EXPECT_EQ(Control<QComboBox>("COM")->currentText(), Name("rfc2217"));
    EXPECT_TRUE(Control<QComboBox>("PCSPD")->toolTip().isEmpty());
    // At 9600 the unit at 19200 hears only garbage.
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return unit_.Command("stats").find("garbled=0") == std::string::npos; }, kWaitMs));
    EXPECT_EQ(UnitFrames(), 0);

    Control<QComboBox>("PCSPD")->setCurrentIndex(4); // "19200"
    EXPECT_TRUE(WaitForUnit());
    EXPECT_TRUE(ShownMessages().empty());
}

TEST_F(NetPortE2ETest, GatewayForwardsToTheUnitAndItsNoAnswerExceptionLosesTheLink) {
    ASSERT_NO_FATAL_FAILURE(StartRig());
    port_ = FreePort();
    ASSERT_NO_FATAL_FAILURE(StartGateway());
    ASSERT_NO_FATAL_FAILURE(ChooseNetworkPort(2));
    EXPECT_EQ(Control<QComboBox>("COM")->currentText(), Name("mbtcp"));
    ASSERT_TRUE(WaitForUnit());

    // Slave 5 is behind no one: the gateway answers 0x0B, a failed exchange each time.
    auto* address = Control<QLineEdit>("SENDADR");
    address->selectAll();
    QTest::keyClicks(address, QStringLiteral("5"));
    QTest::keyClick(address, Qt::Key_Return);
    const TrafficLog& traffic = win_->Link.Traffic;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return traffic.Counters().Of(ExchangeVerdict::Exception) >= 3 && Online() == kYellow;
        },
        kWaitMs))
        << "address " << Control<QLineEdit>("SENDADR")->text().toStdString() << ", exceptions "
        << traffic.Counters().Of(ExchangeVerdict::Exception) << ", last verdict "
        << static_cast<int>(traffic.At(traffic.End() - 1).verdict) << ", gateway said "
        << server_.readAllStandardError().right(600).toStdString();
    const ExchangeRecord& last = traffic.At(traffic.End() - 1);
    EXPECT_EQ(last.verdict, ExchangeVerdict::Exception);
    EXPECT_EQ(last.exceptionCode, 0x0B);
    EXPECT_TRUE(ShownMessages().empty());
}

TEST_F(NetPortE2ETest, NetworkFallenSilentIsSeenDeadWithinTenSecondsAndReconnectedWhenBack) {
    ASSERT_TRUE(korvan::testing::EnterOwnNetwork()) << "a network namespace of its own needs root";
    ASSERT_NO_FATAL_FAILURE(StartRig());
    ASSERT_NO_FATAL_FAILURE(StartSer2net("tcp"));
    ASSERT_NO_FATAL_FAILURE(ChooseNetworkPort(0));
    ASSERT_TRUE(WaitForUnit());
    // The slowest poll, 4 s at 1200 baud (in raw mode the speed sets the timers only): a request
    // goes up to 4 s after the drop, and the end must still be seen within 10 s of it.
    Control<QComboBox>("PCSPD")->setCurrentIndex(0);
    ASSERT_EQ(win_->Link.SEND_TIM.interval(), 4000);

    ASSERT_TRUE(korvan::testing::Silence(port_, true));
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = ProcessCpuMs();
    // The engine's own link loss comes after three unanswered requests; the socket's end is what
    // brings the box with its cause.
    ASSERT_TRUE(QTest::qWaitFor([] { return !ShownMessages().empty(); }, 12000));
    const qint64 noticedMs = wall.elapsed();
    const double cpuMs = ProcessCpuMs() - cpuBefore;
    std::printf("dead peer noticed after %lld ms, %.0f ms of CPU meanwhile\n",
                static_cast<long long>(noticedMs), cpuMs);
    EXPECT_LT(noticedMs, 10000);
    EXPECT_TRUE(ShownMessages()[0].text.ends_with(": узел перестал отвечать"))
        << ShownMessages()[0].text;
    EXPECT_EQ(Online(), kYellow);
    // A thread spinning on the dead socket would take as much CPU as the wait took time.
    EXPECT_LT(cpuMs, 0.2 * static_cast<double>(noticedMs));
    // A speed chosen while the port is lost waits for its reconnect: no connect on the window
    // thread, no second box.
    {
        StallMeter meter;
        Control<QComboBox>("PCSPD")->setCurrentIndex(4);
        ASSERT_TRUE(QTest::qWaitFor([&] { return meter.Ticks() >= 5; }, kWaitMs));
        EXPECT_LT(meter.LongestMs(), 500);
    }

    // The path is back: the station reconnects by itself, with no second box.
    ASSERT_TRUE(korvan::testing::Silence(port_, false));
    EXPECT_TRUE(WaitForUnit());
    EXPECT_EQ(ShownMessages().size(), 1u);
}

// A converter that agrees to RFC 2217 but never answers a line setting, and takes no further
// connection (its queue is full): the speed goes over the open connection, and the window does
// not wait for it.
TEST_F(NetPortE2ETest, Rfc2217SpeedChangeGoesOverTheOpenConnectionWithoutHoldingTheWindow) {
    ASSERT_NO_FATAL_FAILURE(StartRig());
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
    ASSERT_EQ(listen(listener, 0), 0);
    port_ = ntohs(a.sin_port);
    ASSERT_NO_FATAL_FAILURE(ChooseNetworkPort(1));

    int peer = -1;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; }, kWaitMs));
    using namespace netport::telnet;
    const std::uint8_t agree[] = {kIac, kDo,   kBinary,         kIac, kDo,   kSuppressGoAhead,
                                  kIac, kDo,   kComPort,        kIac, kWill, kBinary,
                                  kIac, kWill, kSuppressGoAhead};
    ASSERT_EQ(write(peer, agree, sizeof agree), static_cast<ssize_t>(sizeof agree));
    std::string heard;
    auto hears = [&](std::uint32_t baud) {
        char buffer[512];
        for (ssize_t n; (n = recv(peer, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
            heard.append(buffer, static_cast<std::size_t>(n));
        }
        const char command[] = {
            char(kIac),       char(kSb),       char(kComPort), char(kSetBaudRate), char(baud >> 24),
            char(baud >> 16), char(baud >> 8), char(baud),     char(kIac),         char(kSe)};
        return heard.find(std::string(command, sizeof command)) != std::string::npos;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return hears(9600); }, kWaitMs));
    std::string cause;
    const int filler = posix::ConnectTcp("127.0.0.1", port_, std::chrono::seconds(1), cause);
    ASSERT_GE(filler, 0) << cause;

    StallMeter meter;
    ASSERT_TRUE(QTest::qWaitFor([&] { return meter.Ticks() >= 5; }, kWaitMs));
    Control<QComboBox>("PCSPD")->setCurrentIndex(4); // "19200"
    EXPECT_TRUE(QTest::qWaitFor([&] { return hears(19200); }, kWaitMs));
    const int ticks = meter.Ticks();
    ASSERT_TRUE(QTest::qWaitFor([&] { return meter.Ticks() >= ticks + 5; }, kWaitMs));
    std::printf("longest window stall around the speed change: %lld ms\n",
                static_cast<long long>(meter.LongestMs()));
    EXPECT_LT(meter.LongestMs(), 500);
    EXPECT_TRUE(win_->Link.COMPORT.IsOpen());
    EXPECT_TRUE(ShownMessages().empty());
    close(filler);
    close(peer);
    close(listener);
}
