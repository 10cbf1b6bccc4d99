#include "PtyPair.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace korvan::testing {

namespace {

std::atomic<int> pairCounter{0};

// Reads socat's log until it reports its transfer loop (both links exist by then).
bool WaitUntilReady(int logFd, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string log;
    char buffer[512];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{logFd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = read(logFd, buffer, sizeof buffer);
        if (n <= 0) return false;
        log.append(buffer, static_cast<std::size_t>(n));
        if (log.find("starting data transfer loop") != std::string::npos) return true;
    }
}

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

} // namespace

PtyPair::PtyPair() {
    const int index = pairCounter++;
    std::string base;
    if (access("/dev", W_OK) == 0) {
        base = "/dev/ttyKVT" + std::to_string(getpid()) + "_" + std::to_string(index);
        portName_ = base.substr(5) + "a";
    } else {
        char pattern[] = "/tmp/korvan-pty-XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        folder_ = pattern;
        base = folder_ + "/tty";
        portName_ = ".." + base + "a"; // /dev/../tmp/...
    }
    portPath_ = base + "a";
    peerPath_ = base + "b";

    int log[2];
    if (pipe2(log, O_CLOEXEC) < 0) throw std::runtime_error("pipe failed");
    const std::string socat = FindProgram("socat");
    const std::string a = "pty,raw,echo=0,link=" + portPath_;
    const std::string b = "pty,raw,echo=0,link=" + peerPath_;
    const char* argv[] = {"socat", "-d", "-d", a.c_str(), b.c_str(), nullptr};
    const pid_t parent = getpid();
    pid_ = socat.empty() ? -1 : fork();
    if (pid_ == 0) {
        // socat ends (and removes its links) with the test, also when the test is killed.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        dup2(log[1], STDERR_FILENO);
        const int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, STDIN_FILENO);
        execv(socat.c_str(), const_cast<char* const*>(argv));
        _exit(127);
    }
    close(log[1]);
    if (pid_ < 0) {
        close(log[0]);
        throw std::runtime_error("socat could not be started");
    }
    const bool ready = WaitUntilReady(log[0], std::chrono::seconds(10));
    close(log[0]);
    if (!ready) {
        Kill();
        throw std::runtime_error("socat did not come up");
    }
}

PtyPair::~PtyPair() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    unlink(portPath_.c_str());
    unlink(peerPath_.c_str());
    if (!folder_.empty()) rmdir(folder_.c_str());
}

void PtyPair::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

int OpenPeer(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

} // namespace korvan::testing
