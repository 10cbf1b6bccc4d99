#include "PtyLink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace korvan::sim {

namespace {

struct SpeedEntry {
    int baud;
    speed_t constant;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400},
};

std::runtime_error SystemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

} // namespace

unsigned SpeedConstant(int baud) {
    for (const SpeedEntry& e : kSpeeds)
        if (e.baud == baud) return e.constant;
    return 0;
}

int BaudOfTerminal(int fd) {
    termios tio{};
    if (fd < 0 || tcgetattr(fd, &tio) != 0) return 0;
    const speed_t speed = cfgetospeed(&tio);
    for (const SpeedEntry& e : kSpeeds)
        if (e.constant == speed) return e.baud;
    return 0;
}

Pty OpenPty(bool holdSlave, int baud) {
    Pty pty;
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.master < 0) throw SystemError("posix_openpt");
    char name[128];
    if (grantpt(pty.master) != 0 || unlockpt(pty.master) != 0 ||
        ptsname_r(pty.master, name, sizeof name) != 0) {
        const auto error = SystemError("pseudo-terminal set-up");
        ClosePty(pty);
        throw error;
    }
    pty.slavePath = name;
    fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    if (holdSlave) {
        pty.slaveHold = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (pty.slaveHold < 0) {
            const auto error = SystemError(std::string("open ") + name);
            ClosePty(pty);
            throw error;
        }
        // No echo, no line editing: until a program configures the port it must pass bytes
        // through untouched, or the replies would be echoed back as requests.
        termios tio{};
        tcgetattr(pty.slaveHold, &tio);
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        const speed_t speed = SpeedConstant(baud) ? SpeedConstant(baud) : B9600;
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        tcsetattr(pty.slaveHold, TCSANOW, &tio);
    }
    return pty;
}

void ClosePty(Pty& pty) {
    if (pty.slaveHold >= 0) close(pty.slaveHold);
    if (pty.master >= 0) close(pty.master);
    pty.slaveHold = -1;
    pty.master = -1;
}

bool OpenToEveryone(const Pty& pty) {
    return pty.slaveHold >= 0 && fchmod(pty.slaveHold, 0666) == 0;
}

std::string CreateLink(const std::string& linkPath, const std::string& target,
                       std::string* replaced) {
    struct stat st {};
    if (lstat(linkPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) return linkPath + " exists and is not a link";
        char old[512];
        const ssize_t n = readlink(linkPath.c_str(), old, sizeof old - 1);
        const std::string oldTarget = n > 0 ? std::string(old, static_cast<std::size_t>(n)) : "";
        if (oldTarget.rfind("/dev/pts/", 0) != 0)
            return linkPath + " is a link to " + oldTarget + ", not to a virtual port";
        if (unlink(linkPath.c_str()) != 0)
            return "cannot remove the old link " + linkPath + ": " + std::strerror(errno);
        if (replaced) *replaced = oldTarget;
    }
    if (symlink(target.c_str(), linkPath.c_str()) != 0)
        return "cannot create " + linkPath + ": " + std::strerror(errno);
    return {};
}

void RemoveLink(const std::string& linkPath, const std::string& target) {
    char current[512];
    const ssize_t n = readlink(linkPath.c_str(), current, sizeof current - 1);
    if (n > 0 && std::string(current, static_cast<std::size_t>(n)) == target)
        unlink(linkPath.c_str());
}

} // namespace korvan::sim
