// Reads a terminal's settings through the kernel's termios2 interface (it cannot share a file
// with <termios.h>).
#pragma once

#include <cstdint>

namespace korvan::testing {

struct LineSettings {
    bool ok = false;
    std::uint32_t speed = 0;    // output speed in bits per second
    bool arbitraryRate = false; // set through BOTHER
    int dataBits = 0;
    bool parity = false;
    bool twoStopBits = false;
    bool raw = false;               // no canonical mode, echo, signals or output processing
    bool readsReturnAtOnce = false; // VMIN = VTIME = 0
    bool flowControl = false;       // CRTSCTS, IXON or IXOFF
    bool hangUpOnClose = false;     // HUPCL: DTR and RTS drop with the last descriptor
};

LineSettings ReadLineSettings(int fd);

// TIOCGEXCL: the terminal is in exclusive mode.
bool IsExclusive(int fd);

} // namespace korvan::testing
