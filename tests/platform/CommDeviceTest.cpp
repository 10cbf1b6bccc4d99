// Serial devices of the POSIX Win32 layer on a real pseudo-terminal pair.
#include "PosixPortClaim.h"
#include "PosixWin32.h"
#include "PtyPair.h"
#include "TermiosProbe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using korvan::testing::OpenPeer;
using korvan::testing::PtyPair;
using korvan::testing::ReadLineSettings;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
namespace fs = std::filesystem;

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

HANDLE OpenPort(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

struct Overlapped {
    Overlapped() {
        std::memset(&o, 0, sizeof o);
        o.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    }
    ~Overlapped() { CloseHandle(o.hEvent); }
    OVERLAPPED o;
};

class CommDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        pair = std::make_unique<PtyPair>();
        port = OpenPort(pair->PortPath());
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
        peer = OpenPeer(pair->PeerPath());
    }
    void TearDown() override {
        if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
        if (peer >= 0) close(peer);
    }
    void PeerWrite(const std::string& bytes) {
        ASSERT_EQ(write(peer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Waits until the port's input queue holds n bytes.
    bool InputReaches(DWORD n) {
        const auto limit = Clock::now() + std::chrono::seconds(5);
        for (;;) {
            COMSTAT stat{};
            DWORD errors = 0;
            if (ClearCommError(port, &errors, &stat) && stat.cbInQue >= n) return true;
            if (Clock::now() > limit) return false;
            std::this_thread::sleep_for(milliseconds(1));
        }
    }
    void SetTimeouts(DWORD interval, DWORD multiplier, DWORD constant) {
        COMMTIMEOUTS t{interval, multiplier, constant, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(port, &t));
    }

    std::unique_ptr<PtyPair> pair;
    HANDLE port = INVALID_HANDLE_VALUE;
    int peer = -1;
};

TEST(CommOpen, FailuresMapToTheWin32ErrorsTheComponentTellsApart) {
    EXPECT_EQ(OpenPort("/dev/ttyKVT_no_such_device"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // A link whose pair has gone.
    const std::string dangling =
        std::filesystem::temp_directory_path() / ("kvt-dangling-" + std::to_string(getpid()));
    ASSERT_EQ(symlink("/dev/pts/987654", dangling.c_str()), 0);
    EXPECT_EQ(OpenPort(dangling), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    unlink(dangling.c_str());

    // An empty port name makes the path of the device folder itself: neither absent nor busy.
    EXPECT_EQ(OpenPort("/dev/"), INVALID_HANDLE_VALUE);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(SetupComm(INVALID_HANDLE_VALUE, 2048, 2048));
}

TEST_F(CommDevice, IsExclusiveWhileOpenAndReleasedByClosing) {
    // flock holds against this process's second open too.
    EXPECT_EQ(OpenPort(pair->PortPath()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // No TIOCEXCL on a pseudo-terminal: it would outlive a killed station and lock users out.
    const int other = open(pair->PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    EXPECT_FALSE(korvan::testing::IsExclusive(other));
    close(other);
    CloseHandle(port);
    port = OpenPort(pair->PortPath());
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
}

// A process of its own with the device open, as a terminal program or a getty would have it.
class Holder {
  public:
    explicit Holder(const std::string& path) {
        int ready[2];
        if (pipe(ready) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
            if (fd >= 0 && write(ready[1], "r", 1) == 1) pause();
            _exit(1);
        }
        close(ready[1]);
        char c = 0;
        opened_ = read(ready[0], &c, 1) == 1;
        close(ready[0]);
    }
    ~Holder() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    bool Opened() const { return opened_; }
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    bool opened_ = false;
};

std::string ReadFileText(const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(CommDevice, OtherProgramsHoldingThePortRefuseTheOpenAndStaleLocksDoNot) {
    CloseHandle(port);
    port = INVALID_HANDLE_VALUE;
    const fs::path locks = fs::temp_directory_path() / ("kvt-locks-" + std::to_string(getpid()));
    fs::create_directories(locks);
    korvan::posix::SetLockFolders({locks.string()});
    const std::string linkName = fs::path(pair->PortPath()).filename();
    const std::string ownName = fs::canonical(pair->PortPath()).filename(); // pts number
    const auto lockFile = [&](const std::string& name) { return locks / ("LCK.." + name); };
    const auto writeLock = [&](const std::string& name, pid_t pid) {
        std::ofstream(lockFile(name)) << std::setw(10) << pid << "\n";
    };
    const auto busy = [&] {
        const HANDLE h = OpenPort(pair->PortPath());
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        return h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED;
    };

    {
        Holder holder(pair->PortPath());
        ASSERT_TRUE(holder.Opened());
        EXPECT_TRUE(busy()) << "a plain open by another process";
    }
    for (const std::string& name : {linkName, ownName}) {
        writeLock(name, getppid()); // alive, not us
        EXPECT_TRUE(busy()) << "a live lock on " << name;
        EXPECT_TRUE(fs::exists(lockFile(name)));
        fs::remove(lockFile(name));
    }

    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    writeLock(linkName, gone);
    std::ofstream(lockFile(ownName)) << "garbage\n";
    port = OpenPort(pair->PortPath());
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    std::ostringstream mine;
    mine << std::setw(10) << getpid() << "\n";
    EXPECT_EQ(ReadFileText(lockFile(linkName)), mine.str());
    EXPECT_EQ(ReadFileText(lockFile(ownName)), mine.str());
    CloseHandle(port);
    port = INVALID_HANDLE_VALUE;
    EXPECT_FALSE(fs::exists(lockFile(linkName)));
    EXPECT_FALSE(fs::exists(lockFile(ownName)));

    korvan::posix::SetLockFolders({});
    fs::remove_all(locks);
}

// Runs open in a child process as nobody; returns its last error and detail.
std::pair<DWORD, std::string> OpenAsNobody(const std::string& path) {
    int out[2];
    if (pipe(out) != 0) return {0, "no pipe"};
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
            setresuid(65534, 65534, 65534) != 0) {
            _exit(2);
        }
        const HANDLE h = OpenPort(path);
        const std::string report = std::to_string(h == INVALID_HANDLE_VALUE ? GetLastError() : 0) +
                                   " " + korvan::posix::LastErrorDetail();
        _exit(write(out[1], report.data(), report.size()) > 0 ? 0 : 1);
    }
    close(out[1]);
    char text[512] = {};
    const ssize_t n = read(out[0], text, sizeof text - 1);
    close(out[0]);
    waitpid(child, nullptr, 0);
    if (n <= 0) return {0, "no report"};
    const std::string report(text, static_cast<std::size_t>(n));
    const std::size_t space = report.find(' ');
    return {static_cast<DWORD>(std::stoul(report.substr(0, space))), report.substr(space + 1)};
}

TEST_F(CommDevice, TheRefusalNamesTheHolderOrTheLockFileThatCannotBeRemoved) {
    CloseHandle(port);
    port = INVALID_HANDLE_VALUE;
    {
        Holder holder(pair->PortPath());
        ASSERT_TRUE(holder.Opened());
        EXPECT_EQ(OpenPort(pair->PortPath()), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(korvan::posix::LastErrorDetail(),
                  "platform_tests (PID " + std::to_string(holder.Pid()) + ")");

        // The same pts number of another devpts instance (a container's) is another device.
        struct stat node {};
        ASSERT_EQ(stat(pair->PortPath().c_str(), &node), 0);
        EXPECT_EQ(korvan::posix::ProcessHolding(node), holder.Pid());
        node.st_dev ^= 1;
        EXPECT_EQ(korvan::posix::ProcessHolding(node), 0);
    }

    // Root's lock file, its program gone, in a sticky folder: an ordinary user cannot remove it.
    const fs::path locks = fs::temp_directory_path() / ("kvt-sticky-" + std::to_string(getpid()));
    fs::create_directories(locks);
    ASSERT_EQ(chmod(locks.c_str(), 01777), 0);
    ASSERT_EQ(chmod(pair->PortPath().c_str(), 0666), 0);
    korvan::posix::SetLockFolders({locks.string()});
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const fs::path lockFile = locks / ("LCK.." + fs::path(pair->PortPath()).filename().string());
    std::ofstream(lockFile) << std::setw(10) << gone << "\n";
    const auto [error, detail] = OpenAsNobody(pair->PortPath());
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(detail, lockFile.string() + " (root)");
    EXPECT_TRUE(fs::exists(lockFile));

    fs::remove(lockFile); // now nobody's open goes through
    EXPECT_EQ(OpenAsNobody(pair->PortPath()).first, 0u);
    korvan::posix::SetLockFolders({});
    fs::remove_all(locks);
}

TEST_F(CommDevice, LineSettingsReachTheTerminalAndTheDcbIsKeptAsSet) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 56000; // no constant of its own
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    ASSERT_TRUE(SetCommState(port, &dcb));

    const int other = open(pair->PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    auto line = ReadLineSettings(other);
    ASSERT_TRUE(line.ok);
    EXPECT_EQ(line.speed, 56000u);
    EXPECT_TRUE(line.arbitraryRate);
    EXPECT_TRUE(line.twoStopBits);
    EXPECT_TRUE(line.raw);
    EXPECT_TRUE(line.readsReturnAtOnce);
    EXPECT_FALSE(line.flowControl);
    EXPECT_TRUE(line.hangUpOnClose);

    DCB back{};
    ASSERT_TRUE(GetCommState(port, &back));
    // The pseudo-terminal forced 8 data bits and no parity; the DCB still says what was set.
    EXPECT_EQ(back.ByteSize, 7);
    EXPECT_EQ(back.Parity, EVENPARITY);
    EXPECT_EQ(back.BaudRate, 56000u);

    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(SetCommState(port, &dcb));
    line = ReadLineSettings(other);
    EXPECT_EQ(line.speed, 9600u);
    EXPECT_FALSE(line.arbitraryRate);
    EXPECT_FALSE(line.twoStopBits);
    close(other);

    // Combinations the Win32 driver refuses.
    DCB bad = dcb;
    bad.ByteSize = 5;
    bad.StopBits = TWOSTOPBITS;
    EXPECT_FALSE(SetCommState(port, &bad));
    bad = dcb;
    bad.StopBits = ONE5STOPBITS;
    EXPECT_FALSE(SetCommState(port, &bad));
    bad = dcb;
    bad.ByteSize = 9;
    EXPECT_FALSE(SetCommState(port, &bad));
    ASSERT_TRUE(GetCommState(port, &back));
    EXPECT_EQ(back.ByteSize, 8);
}

TEST_F(CommDevice, ModemLinesOfAPseudoTerminalReadOffAndEscapesSucceed) {
    DWORD status = 0xFFFF;
    EXPECT_TRUE(GetCommModemStatus(port, &status));
    EXPECT_EQ(status, 0u);
    for (DWORD f : {SETDTR, CLRDTR, SETRTS, CLRRTS})
        EXPECT_TRUE(EscapeCommFunction(port, f));
    EXPECT_FALSE(EscapeCommFunction(port, 77));
}

TEST_F(CommDevice, ReadWithMaxIntervalReturnsAtOnceWithWhatHasArrived) {
    SetTimeouts(MAXDWORD, 0, 0);
    char buffer[16] = {};
    Overlapped t;
    DWORD n = 99;
    EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &n, &t.o));
    EXPECT_EQ(n, 0u);

    PeerWrite("abc");
    ASSERT_TRUE(InputReaches(3));
    ASSERT_TRUE(ReadFile(port, buffer, 2, &n, &t.o) ||
                GetLastError() == static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_EQ(WaitForSingleObject(t.o.hEvent, INFINITE), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(port, &t.o, &n, FALSE));
    EXPECT_EQ(n, 2u); // never more than asked for
    EXPECT_EQ(std::string(buffer, 2), "ab");
    ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &n, &t.o));
    EXPECT_EQ(std::string(buffer, n), "c");
}

TEST_F(CommDevice, ReadTimeoutsFollowTheWin32Rules) {
    char buffer[8] = {};
    Overlapped t;
    DWORD n = 0;

    // A total timeout of multiplier x count + constant, with nothing arriving.
    SetTimeouts(0, 10, 40);
    auto start = Clock::now();
    EXPECT_FALSE(ReadFile(port, buffer, 4, &n, &t.o));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_TRUE(GetOverlappedResult(port, &t.o, &n, TRUE));
    EXPECT_EQ(n, 0u);
    EXPECT_GE(Clock::now() - start, milliseconds(80));

    // MAXDWORD interval and multiplier: return with the first bytes, or after the constant.
    SetTimeouts(MAXDWORD, MAXDWORD, 5000);
    std::thread writer([&] {
        std::this_thread::sleep_for(milliseconds(30));
        PeerWrite("xy");
    });
    start = Clock::now();
    if (!ReadFile(port, buffer, sizeof buffer, &n, &t.o)) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        EXPECT_TRUE(GetOverlappedResult(port, &t.o, &n, TRUE));
    }
    writer.join();
    EXPECT_GE(n, 1u);
    EXPECT_LT(Clock::now() - start, milliseconds(4000));

    // No timeouts at all: the read waits for every byte asked for.
    SetTimeouts(0, 0, 0);
    PurgeComm(port, PURGE_RXCLEAR);
    std::thread slowWriter([&] {
        for (char c : std::string("1234")) {
            std::this_thread::sleep_for(milliseconds(10));
            PeerWrite(std::string(1, c));
        }
    });
    if (!ReadFile(port, buffer, 4, &n, &t.o)) {
        EXPECT_TRUE(GetOverlappedResult(port, &t.o, &n, TRUE));
    }
    slowWriter.join();
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::string(buffer, 4), "1234");
}

// Totals near MAXDWORD are waits of weeks or centuries, never none: their deadline arithmetic
// once overflowed, and such a read came back at once with nothing.
TEST_F(CommDevice, HugeTotalTimeoutsWaitInsteadOfOverflowing) {
    constexpr DWORD kHuge[] = {MAXDWORD / 2, MAXDWORD - 1, MAXDWORD};
    const auto stillPending = [&](BOOL started, Overlapped& t) {
        const bool pending = !started && GetLastError() == ERROR_IO_PENDING &&
                             WaitForSingleObject(t.o.hEvent, 30) == WAIT_TIMEOUT;
        PurgeComm(port, PURGE_RXABORT | PURGE_TXABORT);
        WaitForSingleObject(t.o.hEvent, 5000);
        return pending;
    };
    std::vector<char> buffer(256 * 1024);
    for (DWORD multiplier : kHuge) {
        for (DWORD constant : {DWORD{0}, MAXDWORD - 1, MAXDWORD}) {
            for (DWORD count : {DWORD{1}, DWORD{4096}}) {
                for (DWORD interval : {DWORD{0}, MAXDWORD}) {
                    if (interval == MAXDWORD && multiplier == MAXDWORD &&
                        (constant == 0 || constant == MAXDWORD)) {
                        continue; // a read that returns at once, or refused settings
                    }
                    SCOPED_TRACE(::testing::Message() << "read " << interval << " " << multiplier
                                                      << " " << constant << " x" << count);
                    SetTimeouts(interval, multiplier, constant);
                    Overlapped t;
                    DWORD n = 0;
                    EXPECT_TRUE(stillPending(ReadFile(port, buffer.data(), count, &n, &t.o), t));
                }
            }
            // Nobody reads the peer: the write fills the line's buffer and has to wait.
            SCOPED_TRACE(::testing::Message() << "write " << multiplier << " " << constant);
            COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, multiplier, constant};
            ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
            Overlapped t;
            DWORD n = 0;
            const DWORD size = static_cast<DWORD>(buffer.size());
            EXPECT_TRUE(stillPending(WriteFile(port, buffer.data(), size, &n, &t.o), t));
            PurgeComm(port, PURGE_TXCLEAR);
        }
    }
}

TEST_F(CommDevice, WriteReachesThePeerAndEndsWithATransmitEmptyEvent) {
    ASSERT_TRUE(SetCommMask(port, EV_TXEMPTY | EV_RXCHAR));
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 100, 1000};
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
    Overlapped w;
    DWORD n = 0;
    if (!WriteFile(port, "\x01\x03\x00\x00", 4, &n, &w.o)) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    }
    ASSERT_EQ(WaitForSingleObject(w.o.hEvent, INFINITE), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(port, &w.o, &n, FALSE));
    EXPECT_EQ(n, 4u);
    char got[4];
    ASSERT_EQ(read(peer, got, 4), 4);
    EXPECT_EQ(std::memcmp(got, "\x01\x03\x00\x00", 4), 0);

    // The event happened while no wait was pending: the next wait reports it at once.
    Overlapped e;
    DWORD events = 0;
    if (!WaitCommEvent(port, &events, &e.o)) {
        ASSERT_EQ(WaitForSingleObject(e.o.hEvent, 1000), WAIT_OBJECT_0);
        ASSERT_TRUE(GetOverlappedResult(port, &e.o, &n, FALSE));
    }
    EXPECT_EQ(events, static_cast<DWORD>(EV_TXEMPTY));
}

TEST_F(CommDevice, ArrivalCompletesAPendingWaitOnceAndUnreadBytesDoNotRetrigger) {
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_RX80FULL));
    Overlapped e;
    DWORD events = 0;
    DWORD n = 0;
    EXPECT_FALSE(WaitCommEvent(port, &events, &e.o));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(WaitForSingleObject(e.o.hEvent, 50), WAIT_TIMEOUT);

    PeerWrite("12345");
    ASSERT_EQ(WaitForSingleObject(e.o.hEvent, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(port, &e.o, &n, FALSE));
    EXPECT_EQ(events, static_cast<DWORD>(EV_RXCHAR));

    // Nothing reads the five bytes; the next wait must block, without using the processor.
    ASSERT_TRUE(InputReaches(5));
    Overlapped f;
    DWORD more = 0;
    WaitCommEvent(port, &more, &f.o);
    const double cpu = ProcessCpuMs();
    EXPECT_EQ(WaitForSingleObject(f.o.hEvent, 300), WAIT_TIMEOUT);
    EXPECT_LT(ProcessCpuMs() - cpu, 30.0);

    // SetCommMask ends a pending wait with no events.
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    ASSERT_EQ(WaitForSingleObject(f.o.hEvent, 1000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(port, &f.o, &n, FALSE));
    EXPECT_EQ(more, 0u);
}

TEST_F(CommDevice, ReceiveQueueEightyPercentFullIsReportedWhenCrossed) {
    ASSERT_TRUE(SetupComm(port, 100, 100));
    ASSERT_TRUE(SetCommMask(port, EV_RX80FULL));
    PeerWrite(std::string(79, 'a'));
    ASSERT_TRUE(InputReaches(79));
    Overlapped e;
    DWORD events = 0;
    DWORD n = 0;
    EXPECT_FALSE(WaitCommEvent(port, &events, &e.o));
    PeerWrite("b");
    ASSERT_EQ(WaitForSingleObject(e.o.hEvent, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(port, &e.o, &n, FALSE));
    EXPECT_EQ(events, static_cast<DWORD>(EV_RX80FULL));

    COMSTAT stat{};
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(port, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 80u);
    EXPECT_EQ(errors, 0u); // a pseudo-terminal has no line-error counters
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR));
    ASSERT_TRUE(ClearCommError(port, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
}

TEST_F(CommDevice, PurgeAbortsAPendingRead) {
    SetTimeouts(0, 0, 0);
    char buffer[4];
    Overlapped t;
    DWORD n = 0;
    ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &n, &t.o));
    std::thread purger([&] {
        std::this_thread::sleep_for(milliseconds(20));
        PurgeComm(port, PURGE_RXABORT | PURGE_TXABORT);
    });
    EXPECT_EQ(WaitForSingleObject(t.o.hEvent, 5000), WAIT_OBJECT_0);
    purger.join();
    EXPECT_FALSE(GetOverlappedResult(port, &t.o, &n, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
}

TEST_F(CommDevice, AHungUpLineFailsTransfersAndItsWaitCostsNoProcessorTime) {
    ASSERT_TRUE(SetCommMask(port, 0x05BD));
    SetTimeouts(MAXDWORD, 0, 0);
    Overlapped e;
    DWORD events = 0;
    DWORD n = 0;
    EXPECT_FALSE(WaitCommEvent(port, &events, &e.o));

    close(peer);
    peer = -1;
    pair->Kill(); // both pseudo-terminal masters close: the port end hangs up

    // The pending wait reports nothing, and a new one only waits for SetCommMask or closing.
    const double cpu = ProcessCpuMs();
    EXPECT_EQ(WaitForSingleObject(e.o.hEvent, 300), WAIT_TIMEOUT);
    Overlapped w;
    char byte = 1;
    EXPECT_FALSE(WriteFile(port, &byte, 1, &n, &w.o) && n == 1);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    Overlapped r;
    EXPECT_FALSE(ReadFile(port, &byte, 1, &n, &r.o));
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(WaitForSingleObject(e.o.hEvent, 300), WAIT_TIMEOUT);
    EXPECT_LT(ProcessCpuMs() - cpu, 50.0);

    // What closing a port does on a dead line still works.
    EXPECT_TRUE(EscapeCommFunction(port, CLRDTR));
    EXPECT_TRUE(EscapeCommFunction(port, CLRRTS));
    EXPECT_TRUE(PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT));
    EXPECT_TRUE(SetCommMask(port, 0));
    EXPECT_EQ(WaitForSingleObject(e.o.hEvent, 1000), WAIT_OBJECT_0);
    EXPECT_TRUE(PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR));
    EXPECT_TRUE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
}

TEST_F(CommDevice, ClosingTheHandleAbortsPendingTransfersAndFreesTheDescriptors) {
    SetTimeouts(0, 0, 0);
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    Overlapped r;
    Overlapped e;
    const auto fds = std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                   std::filesystem::directory_iterator());
    char buffer[4];
    DWORD events = 0;
    DWORD n = 0;
    ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &n, &r.o));
    ASSERT_FALSE(WaitCommEvent(port, &events, &e.o));
    ASSERT_TRUE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
    EXPECT_EQ(WaitForSingleObject(r.o.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e.o.hEvent, 0), WAIT_OBJECT_0);
    // The port's terminal, epoll and reader-wake descriptors are gone.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                            std::filesystem::directory_iterator()),
              fds - 3);
    EXPECT_FALSE(ReadFile(port, buffer, 1, &n, &r.o));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
