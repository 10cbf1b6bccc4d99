// Pseudo-terminals and the link in /dev that makes one of them look like a serial port.
#pragma once

#include <string>

namespace korvan::sim {

struct Pty {
    int master = -1;
    int slaveHold = -1; // our own handle on the slave, so the master never reads as hung up
    std::string slavePath;
    bool IsOpen() const { return master >= 0; }
};

// Opens a new pseudo-terminal pair, the master non-blocking. With holdSlave the slave is kept
// open by us as well and set raw at `baud` 8N1, as an unused serial port would be.
// Throws std::runtime_error on failure.
Pty OpenPty(bool holdSlave, int baud);
void ClosePty(Pty& pty);

// Lets every user open the slave: the simulator may run as root (to link into /dev) while the
// station runs as the desktop user. Returns false when the mode cannot be changed.
bool OpenToEveryone(const Pty& pty);

// The line speed a termios holds, in baud; 0 when it is hung up or not a known speed.
int BaudOfTerminal(int fd);
unsigned SpeedConstant(int baud); // B9600 for 9600 ...; 0 when unknown

// Links `linkPath` to `target`. An existing link into /dev/pts is a virtual port's, left behind
// by a simulator that was killed, and is replaced (its terminal number may have been given to
// someone else since, so whether it still exists proves nothing); `replaced` then names its old
// target. Anything else at that path is left alone. Returns an error text, empty on success.
std::string CreateLink(const std::string& linkPath, const std::string& target,
                       std::string* replaced = nullptr);

// Removes the link when it still points to `target`.
void RemoveLink(const std::string& linkPath, const std::string& target);

} // namespace korvan::sim
