// The station as a process of its own, ended by the system's stop signals and by SIGKILL, on a
// virtual line. The same program is the station (--station ROOT) with EscapeCommFunction recorded
// on its standard output, and the tests that start it.
#include "MessageBoxes.h"
#include "PosixWin32.h"
#include "PtyPair.h"
#include "QtWindowThread.h"
#include "StationMain.h"
#include "StopSignals.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
void Record(const std::string& what, DWORD value) {
    const std::string line = what + " " + std::to_string(value) + "\n";
    [[maybe_unused]] ssize_t n = write(STDOUT_FILENO, line.data(), line.size());
}
} // namespace

extern "C" {
BOOL __real_EscapeCommFunction(HANDLE, DWORD);
BOOL __real_SetCommMask(HANDLE, DWORD);
BOOL __wrap_EscapeCommFunction(HANDLE file, DWORD function) {
    Record("escape", function);
    return __real_EscapeCommFunction(file, function);
}
BOOL __wrap_SetCommMask(HANDLE file, DWORD mask) {
    Record("mask", mask);
    return __real_SetCommMask(file, mask);
}
}

namespace {

namespace fs = std::filesystem;
using korvan::testing::PtyPair;

int RunStationProcess(char* program, const char* root) {
    korvan::InstallStopSignals(); // as the program entry does first
    const char starting[] = "starting\n";
    [[maybe_unused]] ssize_t n = write(STDOUT_FILENO, starting, sizeof starting - 1);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char* argv[] = {program, nullptr};
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KORVAN PRO"));
    korvan::InstallQtWindowThread();
    korvan::posix::SetDeviceMapRoot(root);
    korvan::SetMessageBoxAnswerer([](korvan::MessageKind, const std::string& text) {
        const std::string line = "box " + text + "\n";
        [[maybe_unused]] ssize_t n = write(STDOUT_FILENO, line.data(), line.size());
        return true;
    });
    return korvan::RunStation();
}

std::string self;

// A machine whose only serial port is the line's port end.
struct OnePortMachine {
    explicit OnePortMachine(const std::string& port) {
        root = fs::temp_directory_path() /
               ("kvt-stop-" + std::to_string(getpid()) + "-" + std::to_string(++count));
        fs::create_directories(root / "sys/class/tty" / port / "device/driver");
        fs::create_directories((root / "dev" / port).parent_path());
        std::ofstream(root / "dev" / port) << "";
    }
    ~OnePortMachine() { fs::remove_all(root); }
    fs::path root;
    static inline int count = 0;
};

class Station {
  public:
    explicit Station(const fs::path& root) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(1);
            dup2(out[1], STDOUT_FILENO);
            execl(self.c_str(), self.c_str(), "--station", root.c_str(), nullptr);
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
    }
    ~Station() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    bool WaitStarting() {
        return WaitOutput([&] { return output_.find("starting\n") != std::string::npos; });
    }
    // Waits until the station's port is open: its event thread has asked for the line events.
    bool WaitOpen() {
        return WaitOutput([&] { return output_.find(kOpened) != std::string::npos; });
    }
    static constexpr char kOpened[] = "mask 129\n"; // the events the station handles
    // Sends the signal and returns the wait status of the ended process.
    int End(int signal) {
        kill(pid_, signal);
        return WaitEnd();
    }
    void Signal(int signal) { kill(pid_, signal); }
    int WaitEnd() {
        int status = -1;
        const bool ended = WaitOutput([&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
        if (ended) pid_ = -1;
        WaitOutput([] { return false; }, 0); // what it wrote last
        return ended ? status : -1;
    }
    const std::string& Output() const { return output_; }

  private:
    template <class Done> bool WaitOutput(Done done, int ms = 10000) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            char buffer[512];
            ssize_t n;
            pollfd p{out_, POLLIN, 0};
            while (poll(&p, 1, 0) > 0 && (n = read(out_, buffer, sizeof buffer)) > 0)
                output_.append(buffer, static_cast<std::size_t>(n));
            if (done()) return true;
            if (std::chrono::steady_clock::now() >= limit) return false;
            poll(&p, 1, 20); // output, or the next look at the process
        }
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};

// Whether an ordinary user (nobody, no groups) can open the device now.
bool NobodyCanOpen(const std::string& path) {
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
            setresuid(65534, 65534, 65534) != 0) {
            _exit(2);
        }
        _exit(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) >= 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool LockFileLeft(const std::string& port) {
    return fs::exists("/run/lock/LCK.." + fs::path(port).filename().string());
}

TEST(StopSignals, CloseTheWindowInOrderFreeThePortAndExitWithZero) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        PtyPair line;
        ASSERT_EQ(chmod(line.PortPath().c_str(), 0666), 0);
        ASSERT_TRUE(NobodyCanOpen(line.PortPath()));
        OnePortMachine machine(line.PortName());
        Station station(machine.root);
        ASSERT_TRUE(station.WaitOpen()) << station.Output();

        const int status = station.End(signal);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        // DTR (6), then RTS (4) dropped, then the event thread ended, as the port's Close does.
        const std::string& out = station.Output();
        EXPECT_EQ(out.substr(out.rfind(Station::kOpened)),
                  std::string(Station::kOpened) + "escape 6\nescape 4\nmask 0\n");
        EXPECT_EQ(out.find("box "), std::string::npos) << out;
        EXPECT_TRUE(NobodyCanOpen(line.PortPath()));
        EXPECT_FALSE(LockFileLeft(line.PortPath()));
    }
}

// A second signal once fell between the window's closing and the exit, where the default
// action was back: about one run in ten ended by the signal. Gaps of 5 to 45 ms, 40 runs.
TEST(StopSignals, TwoInAnyRhythmOrOneBeforeTheWindowStillExitWithZero) {
    PtyPair line;
    ASSERT_EQ(chmod(line.PortPath().c_str(), 0666), 0);
    OnePortMachine machine(line.PortName());
    for (int run = 0; run < 40; ++run) {
        SCOPED_TRACE(run);
        Station station(machine.root);
        ASSERT_TRUE(station.WaitOpen()) << station.Output();
        station.Signal(SIGTERM);
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + run % 5 * 10));
        station.Signal(SIGTERM);
        const int status = station.WaitEnd();
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_FALSE(LockFileLeft(line.PortPath()));

    // Before the window exists: the application object is still being made.
    Station early(machine.root);
    ASSERT_TRUE(early.WaitStarting());
    const int status = early.End(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(early.Output().find("box "), std::string::npos) << early.Output();
    EXPECT_FALSE(LockFileLeft(line.PortPath()));
    EXPECT_TRUE(NobodyCanOpen(line.PortPath()));
}

TEST(StopSignals, AfterSigkillTheNextStartAndOtherUsersStillOpenThePort) {
    PtyPair line;
    ASSERT_EQ(chmod(line.PortPath().c_str(), 0666), 0);
    OnePortMachine machine(line.PortName());
    {
        Station killed(machine.root);
        ASSERT_TRUE(killed.WaitOpen()) << killed.Output();
        const int status = killed.End(SIGKILL);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
    }
    EXPECT_TRUE(LockFileLeft(line.PortPath())); // the dead station's, stale now
    EXPECT_TRUE(NobodyCanOpen(line.PortPath()));

    Station next(machine.root);
    ASSERT_TRUE(next.WaitOpen()) << next.Output();
    EXPECT_EQ(next.Output().find("box "), std::string::npos) << next.Output();
    const int status = next.End(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(LockFileLeft(line.PortPath()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--station") == 0) {
        return RunStationProcess(argv[0], argv[2]);
    }
    self = fs::canonical("/proc/self/exe").string();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
