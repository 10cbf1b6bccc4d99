// Terminal settings of the POSIX Win32 layer, kept apart because the kernel's arbitrary-rate
// interface (termios2) cannot share a translation unit with the C library's <termios.h>.
#pragma once

#include <cstdint>

namespace korvan::posix {

// Raw bytes in both directions: no line editing, echo, signals, translation or flow control;
// reads return at once (VMIN = VTIME = 0); the modem lines do not own the line (CLOCAL); DTR and
// RTS drop when the last descriptor closes (HUPCL).
// Returns 0 or errno.
int SetRawMode(int fd);

// Speed (any rate; the standard ones by their constant, the others through BOTHER), data bits
// (5 to 8), parity (Win32 code 0 to 4) and stop bits (Win32 code 0 to 2). Returns 0 or errno.
int SetLineFormat(int fd, std::uint32_t baudRate, int dataBits, int parity, int stopBits);

} // namespace korvan::posix
