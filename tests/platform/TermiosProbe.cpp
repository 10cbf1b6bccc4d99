#include "TermiosProbe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace korvan::testing {

LineSettings ReadLineSettings(int fd) {
    LineSettings s;
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) < 0) return s;
    s.ok = true;
    s.speed = t.c_ospeed;
    s.arbitraryRate = (t.c_cflag & CBAUD) == BOTHER;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        s.dataBits = 5;
        break;
    case CS6:
        s.dataBits = 6;
        break;
    case CS7:
        s.dataBits = 7;
        break;
    default:
        s.dataBits = 8;
        break;
    }
    s.parity = t.c_cflag & PARENB;
    s.twoStopBits = t.c_cflag & CSTOPB;
    s.raw = !(t.c_lflag & (ICANON | ECHO | ISIG)) && !(t.c_oflag & OPOST);
    s.readsReturnAtOnce = t.c_cc[VMIN] == 0 && t.c_cc[VTIME] == 0;
    s.flowControl = (t.c_cflag & CRTSCTS) || (t.c_iflag & (IXON | IXOFF));
    s.hangUpOnClose = t.c_cflag & HUPCL;
    return s;
}

bool IsExclusive(int fd) {
    int exclusive = 0;
    return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}

} // namespace korvan::testing
