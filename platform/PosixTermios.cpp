#include "PosixTermios.h"

#include <cerrno>

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace korvan::posix {

namespace {

struct StandardRate {
    std::uint32_t rate;
    unsigned int code;
};

// Rates that have their own constant; a driver that knows no BOTHER still understands these.
constexpr StandardRate kStandardRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600},
};

int Get(int fd, termios2& t) {
    return ioctl(fd, TCGETS2, &t) < 0 ? errno : 0;
}
int Put(int fd, const termios2& t) {
    return ioctl(fd, TCSETS2, &t) < 0 ? errno : 0;
}

} // namespace

int SetRawMode(int fd) {
    termios2 t{};
    if (int error = Get(fd, t)) return error;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                   IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~CRTSCTS;
    // HUPCL: the kernel drops DTR and RTS when the last descriptor closes, also when the process
    // was killed and could not drop them itself.
    t.c_cflag |= CLOCAL | CREAD | HUPCL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return Put(fd, t);
}

int SetLineFormat(int fd, std::uint32_t baudRate, int dataBits, int parity, int stopBits) {
    termios2 t{};
    if (int error = Get(fd, t)) return error;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    switch (dataBits) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    case 8:
        t.c_cflag |= CS8;
        break;
    default:
        return EINVAL;
    }
    switch (parity) {
    case 0:
        break; // none
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break; // odd
    case 2:
        t.c_cflag |= PARENB;
        break; // even
    case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break; // mark
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break; // space
    default:
        return EINVAL;
    }
    // The UART sends 1.5 stop bits for CSTOPB with 5 data bits and 2 with more.
    if (stopBits != 0) t.c_cflag |= CSTOPB;

    unsigned int code = BOTHER;
    for (const StandardRate& r : kStandardRates) {
        if (r.rate == baudRate) code = r.code;
    }
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT)); // input speed follows the output speed
    t.c_cflag |= code;
    t.c_ispeed = baudRate;
    t.c_ospeed = baudRate;
    return Put(fd, t);
}

} // namespace korvan::posix
