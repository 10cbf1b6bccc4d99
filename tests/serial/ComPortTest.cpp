// TBComPort on a real pseudo-terminal pair, with the Qt window thread.
#include "BCPort.h"
#include "ComPortTestSupport.h"
#include "PosixWin32.h"
#include "PtyPair.h"
#include "WindowThread.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace korvan;
using korvan::testing::App;
using korvan::testing::Message;
using korvan::testing::OpenPeer;
using korvan::testing::PtyPair;
using korvan::testing::SyncMethodName;
namespace fs = std::filesystem;

bool OnWindowThread() {
    return QThread::currentThread() == App().thread();
}

std::size_t CountEntries(const char* folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Waits for a condition while the window thread's event loop runs.
bool Eventually(const std::function<bool()>& condition, int ms = 5000) {
    return QTest::qWaitFor(condition, ms);
}

// The Qt window thread, counting the hand-offs and sent messages queued for it.
class CountingHost : public win::WindowThreadHost {
  public:
    CountingHost() : inner_(win::GetWindowThreadHost()) { win::SetWindowThreadHost(this); }
    ~CountingHost() override { win::SetWindowThreadHost(inner_); }
    bool Available() const override { return inner_->Available(); }
    bool IsWindowThread() const override { return inner_->IsWindowThread(); }
    void PostServe() override {
        ++posted;
        inner_->PostServe();
    }
    void ReportException(std::exception_ptr e) override { inner_->ReportException(e); }

    std::atomic<int> posted{0};

  private:
    win::WindowThreadHost* inner_;
};

// Waits, without serving the window thread, until the event thread has queued n deliveries.
bool QueuedReach(CountingHost& host, int n) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (host.posted < n && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return host.posted == n;
}

} // namespace

namespace {

class ComPort : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        pair = std::make_unique<PtyPair>();
        peer = OpenPeer(pair->PeerPath());
        port.SetPort(pair->PortName());
    }
    void TearDown() override {
        port.Close();
        if (peer >= 0) close(peer);
    }
    void PeerWrite(const std::string& bytes) {
        ASSERT_EQ(write(peer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Collects what OnRxChar reports and reads, and on which thread it ran.
    void CollectReceived() {
        port.OnRxChar = [this](TBComPort* sender, std::int32_t count) {
            EXPECT_EQ(sender, &port);
            counts.push_back(count);
            onWindowThread.push_back(OnWindowThread());
            std::uint8_t buffer[256];
            const std::int32_t n = port.Read(buffer, std::min<std::int32_t>(count, 256));
            std::lock_guard lock(mutex);
            received.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
        };
    }
    std::size_t ReceivedSize() {
        std::lock_guard lock(mutex);
        return received.size();
    }

    std::unique_ptr<PtyPair> pair;
    int peer = -1;
    TBComPort port;
    std::mutex mutex;
    std::string received;
    std::vector<std::int32_t> counts;
    std::vector<bool> onWindowThread;
};

TEST_F(ComPort, ManyOpenCloseCyclesLeaveNoDescriptorAndNoThreadBehind) {
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(port.Close());
    const std::size_t fds = CountEntries("/proc/self/fd");
    const std::size_t tasks = CountEntries("/proc/self/task");
    for (int i = 0; i < 200; ++i) {
        port.SetSyncMethod(i % 3 == 0 ? smThreadSync : i % 3 == 1 ? smWindowSync : smNone);
        ASSERT_TRUE(port.Open());
        EXPECT_TRUE(port.Open()); // already open: nothing happens
        ASSERT_TRUE(port.Close());
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
    // The kernel reaps the last joined thread a moment after the join.
    Eventually([&] { return CountEntries("/proc/self/task") == tasks; }, 2000);
    EXPECT_EQ(CountEntries("/proc/self/task"), tasks);
}

TEST_F(ComPort, OpenFailuresCarryTheirMessagesAndLeaveThePortClosed) {
    ASSERT_TRUE(port.Open());
    TBComPort second;
    second.SetPort(pair->PortName());
    EXPECT_EQ(Message([&] { second.Open(); }), "Порт занят другой программой");
    EXPECT_FALSE(second.IsOpen());
    port.Close();
    EXPECT_TRUE(second.Open());
    second.Close();

    TBComPort absent;
    absent.SetPort("ttyKVT_absent_port");
    EXPECT_EQ(Message([&] { absent.Open(); }), "Попытка открыть несуществующий COM-порт");
    EXPECT_FALSE(absent.IsOpen());

    TBComPort unnamed;
    unnamed.SetPort("");
    EXPECT_EQ(Message([&] { unnamed.Open(); }), "Ошибка функции SetupComm");
    EXPECT_FALSE(unnamed.IsOpen());
    EXPECT_EQ(unnamed.Handle(), INVALID_HANDLE_VALUE);
}

TEST_F(ComPort, AUserWithoutTheRightToThePortIsToldSoNotThatItIsBusy) {
    ASSERT_EQ(chmod(pair->PortPath().c_str(), 0600), 0);
    const pid_t child = fork();
    if (child == 0) {
        // An ordinary user outside the dialout group.
        if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
            setresuid(65534, 65534, 65534) != 0) {
            _exit(2);
        }
        TBComPort other;
        other.SetPort(pair->PortName());
        const std::string text = Message([&] { other.Open(); });
        _exit(text == "Нет прав доступа к порту: пользователь должен входить в группу dialout" ? 0
                                                                                               : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(ComPort, TransfersOnAPortNeverOpenedRaise) {
    TBComPort never;
    EXPECT_EQ(never.Handle(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(never.Close());
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(Message([&] { never.Write(buffer, 8); }), "Ошибка записи в порт");
    EXPECT_EQ(Message([&] { never.Read(buffer, 8); }), "Ошибка чтения из порта");
    EXPECT_EQ(Message([&] { never.InputCount(); }), "Ошибка функции ClearCommError");
    EXPECT_EQ(Message([&] { never.ModemSignals(); }), "Ошибка функции GetCommModemStatus");
    EXPECT_EQ(Message([&] { never.SetDtrLine(true); }), "Ошибка функции EscapeCommFunction");
    EXPECT_EQ(Message([&] { never.AbortTransfers(); }), "Ошибка функции PurgeComm");
}

TEST_F(ComPort, SettersStoreWhileClosedAndFollowTheirRulesWhileOpen) {
    port.SetInBufSize(2049);
    EXPECT_EQ(port.InBufSize(), 2048);
    port.SetOutBufSize(1001);
    EXPECT_EQ(port.OutBufSize(), 1000);
    port.SetOutBufSize(-3); // only positive odd sizes are lowered
    EXPECT_EQ(port.OutBufSize(), -3);
    port.SetOutBufSize(2048);
    port.SetBaudRate(br19200);
    port.SetSyncMethod(smNone);

    ASSERT_TRUE(port.Open());
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port.Handle(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 19200u); // stored while closed, applied by Open
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fParity, 0u);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);

    port.SetBaudRate(br256000); // applied at once
    port.SetParity(paMark);
    ASSERT_TRUE(GetCommState(port.Handle(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 256000u);
    EXPECT_EQ(dcb.Parity, MARKPARITY);
    EXPECT_EQ(dcb.fParity, 1u);

    // A refused setting is stored; the device keeps its previous configuration.
    port.SetByteSize(bs5);
    port.SetStopBits(sb1_5);
    EXPECT_EQ(Message([&] { port.SetStopBits(sb2); }), "порт не принял настройки линии");
    EXPECT_EQ(port.StopBits(), sb2);
    ASSERT_TRUE(GetCommState(port.Handle(), &dcb));
    EXPECT_EQ(dcb.StopBits, ONE5STOPBITS);

    EXPECT_EQ(Message([&] { port.SetPort(port.Port()); }),
              "Нельзя менять свойство, пока порт открыт");
    EXPECT_EQ(Message([&] { port.SetSyncMethod(smNone); }), "(no EComPort)");
    EXPECT_EQ(Message([&] { port.SetSyncMethod(smThreadSync); }),
              "Нельзя менять свойство, пока порт открыт");
    EXPECT_EQ(port.SyncMethod(), smNone);
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(ComPort, TimeoutsReachTheDeviceNegativeOnesAsMaxDword) {
    port.Timeouts().SetReadTotalConstant(-7);
    ASSERT_TRUE(port.Open());
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(port.Handle(), &t));
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, MAXDWORD);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 100u);

    port.Timeouts().SetReadTotalConstant(0); // each field applies on change
    ASSERT_TRUE(GetCommTimeouts(port.Handle(), &t));
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);

    TComTimeouts other;
    other.SetReadInterval(5);
    other.SetWriteTotalMultiplier(-1);
    other.SetWriteTotalConstant(77);
    port.SetTimeouts(other);
    ASSERT_TRUE(GetCommTimeouts(port.Handle(), &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 5u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, MAXDWORD);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 77u);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), -1);
}

class SyncModes : public ComPort, public ::testing::WithParamInterface<TSyncMethod> {};

TEST_P(SyncModes, DeliverReceivedBytesOnTheSelectedThread) {
    port.SetSyncMethod(GetParam());
    CollectReceived();
    ASSERT_TRUE(port.Open());
    const std::string reply = "\x01\x03\xC0" + std::string(192, 'r') + "\x12\x34";
    for (std::size_t at = 0; at < reply.size(); at += 50)
        PeerWrite(reply.substr(at, 50));
    EXPECT_TRUE(Eventually([&] { return ReceivedSize() == reply.size(); }));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(received, reply);
    }
    ASSERT_FALSE(onWindowThread.empty());
    for (bool w : onWindowThread)
        EXPECT_EQ(w, GetParam() != smNone);
    for (std::int32_t c : counts)
        EXPECT_GT(c, 0);
    port.Close();
}

// A read waiting for more bytes than come: the event thread may take the bytes into it while the
// reader sleeps, and the reader must still return one interval after the last of them.
TEST_P(SyncModes, AFiniteIntervalReadEndsOneIntervalAfterItsLastByte) {
    using namespace std::chrono;
    port.SetSyncMethod(GetParam());
    ASSERT_TRUE(port.Open());
    port.Timeouts().SetReadInterval(20);
    constexpr auto kRescue = seconds(2);
    int late = 0;
    for (int run = 0; run < 60; ++run) {
        QCoreApplication::processEvents(); // the event thread is back in its wait
        std::atomic<bool> returned{false};
        std::thread writer([&] {
            std::this_thread::sleep_for(milliseconds(2));
            [[maybe_unused]] ssize_t n = write(peer, "abc", 3);
            // A read left without a deadline would wait for ever; late bytes end it, once the
            // reader rather than the event thread takes one.
            const auto limit = steady_clock::now() + kRescue;
            while (!returned) {
                std::this_thread::sleep_for(milliseconds(5));
                if (steady_clock::now() >= limit) n = write(peer, "z", 1);
            }
        });
        const auto start = steady_clock::now();
        std::uint8_t buffer[16];
        const std::int32_t n = port.Read(buffer, sizeof buffer);
        returned = true;
        const auto took = steady_clock::now() - start;
        writer.join();
        if (took >= kRescue) ++late;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), std::max(n, 0)).substr(0, 3), "abc");
        tcflush(peer, TCIOFLUSH);
        port.AbortTransfers();
        PurgeComm(port.Handle(), PURGE_RXCLEAR);
    }
    EXPECT_EQ(late, 0);
}

INSTANTIATE_TEST_SUITE_P(ComPort, SyncModes, ::testing::Values(smThreadSync, smWindowSync, smNone),
                         SyncMethodName);

TEST_F(ComPort, BytesArrivingWhileTheWindowThreadIsBusyComeInOneEvent) {
    CountingHost host;
    CollectReceived();
    ASSERT_TRUE(port.Open());
    PeerWrite("A");
    // The event thread has handed the first arrival over; this thread is busy and does not serve.
    ASSERT_TRUE(QueuedReach(host, 1));
    PeerWrite("BCDEFGHIJ");
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (port.InputCount() < 10 && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(port.InputCount(), 10);

    // The first event takes the later bytes too; nothing is reported for them again.
    EXPECT_TRUE(Eventually([&] { return ReceivedSize() == 10; }));
    QTest::qWait(50);
    EXPECT_EQ(counts, std::vector<std::int32_t>{10});
    EXPECT_EQ(received, "ABCDEFGHIJ");
}

TEST_F(ComPort, CloseRunsAPendingHandOffFirstAndNoHandlerRunsAfterIt) {
    CountingHost host;
    bool openInHandler = false;
    port.OnRxChar = [&](TBComPort*, std::int32_t count) {
        counts.push_back(count);
        openInHandler = port.IsOpen();
    };
    ASSERT_TRUE(port.Open());
    PeerWrite("xyz");
    ASSERT_TRUE(QueuedReach(host, 1));
    EXPECT_TRUE(counts.empty());

    ASSERT_TRUE(port.Close());
    EXPECT_EQ(counts, std::vector<std::int32_t>{3});
    EXPECT_TRUE(openInHandler);

    PeerWrite("more");
    QTest::qWait(100); // long enough for a stray delivery to show
    EXPECT_EQ(counts, std::vector<std::int32_t>{3});
}

TEST_F(ComPort, InWindowSyncModeCloseHandlesAMessageAlreadySentAndNothingAfter) {
    CountingHost host;
    int emptied = 0;
    bool openInHandler = false;
    port.SetSyncMethod(smWindowSync);
    port.OnTxEmpty = [&](TBComPort*) {
        ++emptied;
        openInHandler = port.IsOpen();
    };
    ASSERT_TRUE(port.Open());
    const std::uint8_t byte = 0x55;
    ASSERT_EQ(port.Write(&byte, 1), 1);
    ASSERT_TRUE(QueuedReach(host, 1));
    EXPECT_EQ(emptied, 0);

    ASSERT_TRUE(port.Close());
    EXPECT_EQ(emptied, 1);
    EXPECT_TRUE(openInHandler);
    QTest::qWait(100);
    EXPECT_EQ(emptied, 1);
}

TEST_F(ComPort, AHandlerExceptionEndsTheEventThreadInThreadSyncMode) {
    int calls = 0;
    port.OnRxChar = [&](TBComPort*, std::int32_t) {
        ++calls;
        throw EComPort("Ошибка чтения из порта");
    };
    ASSERT_TRUE(port.Open());
    PeerWrite("1");
    EXPECT_TRUE(Eventually([&] { return calls == 1; }));
    PeerWrite("2");
    QTest::qWait(100);
    EXPECT_EQ(calls, 1); // no further events until the port is opened again
    ASSERT_TRUE(port.Close());
    port.OnRxChar = [&](TBComPort*, std::int32_t) { ++calls; };
    ASSERT_TRUE(port.Open());
    PeerWrite("3");
    EXPECT_TRUE(Eventually([&] { return calls == 2; }));
}

TEST_F(ComPort, InWindowSyncModeAHandlerExceptionGoesToTheReportAndEventsGoOn) {
    std::vector<std::string> reported;
    win::SetExceptionReport([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            reported.push_back(x.what());
        }
    });
    int calls = 0;
    port.SetSyncMethod(smWindowSync);
    port.OnRxChar = [&](TBComPort*, std::int32_t n) {
        ++calls;
        std::uint8_t buffer[256];
        port.Read(buffer, n);
        throw EComPort("Ошибка чтения из порта");
    };
    ASSERT_TRUE(port.Open());
    PeerWrite("1");
    EXPECT_TRUE(Eventually([&] { return calls == 1; }));
    PeerWrite("2");
    EXPECT_TRUE(Eventually([&] { return calls == 2; }));
    EXPECT_EQ(reported,
              (std::vector<std::string>{"Ошибка чтения из порта", "Ошибка чтения из порта"}));
    win::SetExceptionReport(nullptr);
}

TEST_F(ComPort, AfterThePeerDiesWritesAndReadsRaiseAndNothingSpins) {
    CollectReceived();
    ASSERT_TRUE(port.Open());
    PeerWrite("ok");
    ASSERT_TRUE(Eventually([&] { return ReceivedSize() == 2; }));

    close(peer);
    peer = -1;
    pair->Kill();
    const std::uint8_t request[8] = {1, 3, 0, 0, 0, 0x60, 0x45, 0xE2};
    std::uint8_t buffer[8];
    EXPECT_EQ(Message([&] { port.Write(request, 8); }), "Ошибка записи в порт");
    EXPECT_EQ(Message([&] { port.Read(buffer, 8); }), "Ошибка чтения из порта");

    const double cpu = ProcessCpuMs();
    QTest::qWait(2000); // the window thread's event loop runs meanwhile, as in the station
    EXPECT_LT(ProcessCpuMs() - cpu, 100.0);
    EXPECT_EQ(Message([&] { port.Write(request, 8); }), "Ошибка записи в порт");
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
}

// Received bytes are reported as a UART with a receive FIFO reports them: a reply sent at line
// pace comes in a few large events, and a lone byte still comes promptly.
TEST_F(ComPort, ABurstAtLinePaceComesWholeInOrderInFewerEventsThanBytes) {
    CollectReceived();
    std::chrono::steady_clock::time_point wrote, got;
    port.OnRxChar = [&, collect = port.OnRxChar](TBComPort* sender, std::int32_t count) {
        collect(sender, count);
        if (ReceivedSize() == 237) got = std::chrono::steady_clock::now();
    };
    ASSERT_TRUE(port.Open()); // 9600 baud: a character every 1.04 ms
    std::string reply(237, '\0');
    for (std::size_t i = 0; i < reply.size(); ++i)
        reply[i] = static_cast<char>(i * 7 + 1);
    std::thread line([&] {
        auto due = std::chrono::steady_clock::now();
        for (char c : reply) {
            std::this_thread::sleep_until(due += std::chrono::microseconds(1042));
            if (write(peer, &c, 1) != 1) return;
        }
        wrote = std::chrono::steady_clock::now();
    });
    // Served from a blocking event loop, so that no event waits for the window thread to look.
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (ReceivedSize() == reply.size()) loop.quit();
    });
    check.start(20);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    line.join();
    EXPECT_EQ(received, reply);
    // About 17 at an exact pace; a loaded machine stretches some gaps past the quiet time.
    EXPECT_LT(counts.size(), reply.size() / 3) << counts.size() << " events";
    // The end of the run is noticed within about one trigger level of characters (14.6 ms);
    // the rest of the bound is for a loaded machine.
    using Ms = std::chrono::duration<double, std::milli>;
    EXPECT_LT(Ms(got - wrote).count(), 60.0);
}

TEST_F(ComPort, ALoneByteComesWithinAFewMilliseconds) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point sent;
    std::vector<double> latencyMs;
    QEventLoop loop; // blocks in the event loop, so a hand-off is served the moment it comes
    port.OnRxChar = [&](TBComPort*, std::int32_t count) {
        latencyMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        std::uint8_t buffer[16];
        port.Read(buffer, std::min<std::int32_t>(count, 16));
        loop.quit();
    };
    ASSERT_TRUE(port.Open());
    for (int i = 0; i < 31; ++i) {
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        sent = Clock::now();
        PeerWrite("x");
        loop.exec();
        ASSERT_EQ(latencyMs.size(), static_cast<std::size_t>(i + 1));
    }
    std::sort(latencyMs.begin(), latencyMs.end());
    // 1.56 ms of quiet at 9600 baud, then the hand-off; the bound leaves room for a busy machine.
    EXPECT_LT(latencyMs[latencyMs.size() / 2], 10.0);
}

class PortList : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("kvt-ports-" + std::to_string(getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "sys/class/tty");
        fs::create_directories(root / "dev/pts");
        fs::create_directories(root / "drivers/serial");
        korvan::posix::SetDeviceMapRoot(root.string());
    }
    void TearDown() override {
        korvan::posix::SetDeviceMapRoot("/");
        fs::remove_all(root);
    }
    void AddTty(const std::string& name, const char* type = nullptr) {
        const fs::path tty = root / "sys/class/tty" / name;
        fs::create_directories(tty / "device");
        fs::create_directory_symlink(root / "drivers/serial", tty / "device/driver");
        if (type) std::ofstream(tty / "type") << type << "\n";
        std::ofstream(root / "dev" / name) << "";
    }
    void AddPtyLink(const std::string& name, const std::string& number) {
        std::ofstream(root / "dev/pts" / number) << "";
        fs::remove(root / "dev" / name);
        fs::create_symlink("/dev/pts/" + number, root / "dev" / name);
    }
    fs::path root;
};

TEST_F(PortList, IsSortedAsTextIgnoringCaseWithPhantomsLeftOut) {
    AddTty("ttyS0", "0");
    AddTty("ttyS1", "4");
    AddTty("ttyS2", "4");
    AddTty("ttyS10", "4");
    AddTty("ttyUSB0");
    AddPtyLink("ttyZSIM0", "5");
    AddPtyLink("COM10", "6");
    AddPtyLink("com2", "7");
    AddPtyLink("COM1", "8");
    std::vector<std::string> list{"stale"};
    ListSerialPorts(list);
    EXPECT_EQ(list, (std::vector<std::string>{"COM1", "COM10", "com2", "ttyS1", "ttyS10", "ttyS2",
                                              "ttyUSB0", "ttyZSIM0"}));
}

TEST_F(PortList, KeepsDuplicatesAndCanBeEmpty) {
    std::vector<std::string> list{"stale"};
    ListSerialPorts(list);
    EXPECT_TRUE(list.empty());

    AddTty("ttyS1", "4");
    AddPtyLink("ttyS1", "3"); // a link in /dev named like a terminal of the class
    ListSerialPorts(list);
    EXPECT_EQ(list, (std::vector<std::string>{"ttyS1", "ttyS1"}));
}

TEST_F(PortList, AnUnreadableMapRaisesAndLeavesTheListAlone) {
    fs::remove_all(root / "sys");
    std::vector<std::string> list{"COM3"};
    EXPECT_EQ(Message([&] { ListSerialPorts(list); }), "Ошибка обращения к системному реестру");
    EXPECT_EQ(list, std::vector<std::string>{"COM3"});
}

} // namespace
