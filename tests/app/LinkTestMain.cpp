// Runs the link tests inside one QApplication with the station's style and font. Until a test
// gives its own, the windows see a machine without serial ports and every box is answered OK.
#include "LinkTestSupport.h"
#include "MessageBoxes.h"
#include "PosixWin32.h"
#include "QtWindowThread.h"
#include "StationLook.h"

#include <QApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvan::testing {

namespace fs = std::filesystem;

FakeMachine::FakeMachine(bool readable) : previous_(posix::DeviceMapRoot()) {
    QDir root(root_.path());
    root.mkpath(QStringLiteral("dev"));
    if (readable) root.mkpath(QStringLiteral("sys/class/tty"));
    posix::SetDeviceMapRoot(root_.path().toStdString());
}

FakeMachine::~FakeMachine() {
    posix::SetDeviceMapRoot(previous_);
}

void FakeMachine::AddPort(const std::string& name) {
    // A terminal with a driver behind it and its node, as the kernel lists a real serial port.
    // Names are bytes here, as in the system.
    const fs::path root = root_.path().toStdString();
    fs::create_directories(root / "sys/class/tty" / name / "device/driver");
    fs::create_directories((root / "dev" / name).parent_path());
    std::ofstream(root / "dev" / name) << "";
}

void FakeMachine::AddUsbPort(const std::string& name, const std::string& serial) {
    const fs::path root = root_.path().toStdString();
    const fs::path usb = root / "sys/devices/usb1" / name;
    fs::create_directories(usb / "1-1:1.0/driver");
    std::ofstream(usb / "idVendor") << "0403\n";
    std::ofstream(usb / "serial") << serial << "\n";
    fs::create_directories(root / "sys/class/tty" / name);
    fs::create_directory_symlink(usb / "1-1:1.0", root / "sys/class/tty" / name / "device");
    std::ofstream(root / "dev" / name) << "";
}

void FakeMachine::RemovePort(const std::string& name) {
    const fs::path root = root_.path().toStdString();
    fs::remove(root / "dev" / name);
    fs::remove_all(root / "sys/class/tty" / name);
}

MessageLog::MessageLog() {
    SetMessageBoxAnswerer([this](MessageKind kind, const std::string& text) {
        shown.push_back({kind, text});
        return answer;
    });
}

MessageLog::~MessageLog() {
    AnswerBoxesOk();
}

void AnswerBoxesOk() {
    SetMessageBoxAnswerer([](MessageKind, const std::string&) { return true; });
}

ModbusPeer::ModbusPeer(const std::string& device, const std::vector<std::string>& registers,
                       bool waiting) {
    std::vector<std::string> args{"/usr/bin/python3", KORVAN_MODBUS_PEER};
    if (waiting) args.push_back("--wait");
    args.push_back(device);
    args.insert(args.end(), registers.begin(), registers.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) < 0 || pipe2(out, O_CLOEXEC) < 0)
        throw std::runtime_error("pipe failed");
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // The slave goes with the test, also when the test dies.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(1);
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toPeer_ = in[1];
    fromPeer_ = out[0];
    if (pid_ < 0) throw std::runtime_error("fork failed");
    fcntl(fromPeer_, F_SETFL, O_NONBLOCK);
    WaitBlocking(waiting ? "waiting" : "ready");
}

void ModbusPeer::Go() {
    if (write(toPeer_, "go\n", 3) != 3) throw std::runtime_error("the Modbus slave is gone");
    WaitBlocking("ready");
}

void ModbusPeer::WaitBlocking(const std::string& line) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Count(line) == 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw std::runtime_error("the Modbus slave did not say " + line);
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("the Modbus slave ended before saying " + line);
        }
        Drain(static_cast<int>(std::min<long>(left.count(), 100)));
    }
}

ModbusPeer::~ModbusPeer() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (toPeer_ >= 0) close(toPeer_);
    if (fromPeer_ >= 0) close(fromPeer_);
}

void ModbusPeer::Drain(int waitMs) {
    pollfd p{fromPeer_, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fromPeer_, buffer, sizeof buffer)) > 0) {
        partial_.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = partial_.find('\n')) != std::string::npos) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
    }
}

int ModbusPeer::Count(const std::string& line) {
    Drain(0);
    int count = 0;
    for (const std::string& seen : lines_)
        count += seen == line;
    return count;
}

bool ModbusPeer::Set(int reg, int value) {
    return Command("set " + std::to_string(reg) + " " + std::to_string(value));
}

bool ModbusPeer::Bend(const std::string& kind) {
    return Command("bend " + kind);
}

bool ModbusPeer::Command(const std::string& command) {
    const int before = Count(command);
    const std::string line = command + "\n";
    if (write(toPeer_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return false;
    return WaitFor([&] { return Count(command) > before; });
}

speed_t PortSpeed(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return B0;
    termios t{};
    const bool ok = tcgetattr(fd, &t) == 0;
    close(fd);
    return ok ? cfgetospeed(&t) : B0;
}

PortHolder::PortHolder(const std::string& path)
    : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    held_ = fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

PortHolder::~PortHolder() {
    if (fd_ >= 0) close(fd_);
}

} // namespace korvan::testing

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KORVAN PRO"));
    korvan::InstallQtWindowThread();
    korvan::ApplyStationLook(app);

    const korvan::testing::FakeMachine noPorts;
    korvan::testing::AnswerBoxesOk();
    return RUN_ALL_TESTS();
}
