// Holding a serial device against every other program, not only those that ask for flock.
//
// What keeps others off while we hold the device:
//  - flock on the descriptor: refuses every program that also asks for it;
//  - the UUCP lock file /run/lock/LCK..NAME (/var/lock is the same folder on Debian), as minicom,
//    picocom, cu and the other serial programs of the distribution take and honour it; locks of
//    processes that have ended are removed;
//  - before we take the device, a look through /proc for another process that has it open (on a
//    pseudo-terminal only one of the same devpts instance: a container's pts/3 is not ours),
//    taken after the flock, so that a claimant that opened the device beside us to ask for the
//    flock, lost and is closing again, is waited for briefly rather than counted as a holder;
//  - TIOCEXCL on a real port: the kernel refuses every later open but root's.
// Everything but TIOCEXCL is advisory: a program that ignores the lock file and opens the device
// after us is not kept out, and /proc shows an unprivileged user only its own processes.
#pragma once

#include <string>

#include <sys/stat.h>
#include <vector>

namespace korvan::posix {

// What a claim took; ReleaseDevice gives it back.
struct PortClaim {
    bool flocked = false;
    bool exclusive = false; // TIOCEXCL set
    std::vector<std::string> lockFiles;
    // Why a claim failed, when that can be told: "picocom (PID 812)", or a lock file's path and
    // owner "/run/lock/LCK..ttyUSB0 (root)".
    std::string refusal;
};

// Claims the device open on fd (opened through path). Returns 0; EBUSY when another process
// holds it (flock, a live lock file or an open descriptor); ESTALE when a lock file of a process
// that has ended is in the way and may not be removed by us (another user's, in the sticky lock
// folder); or another errno. On failure the descriptor is closed (before the holder is looked for,
// so that it never counts against a claimant that won) and nothing stays taken.
int ClaimDevice(int fd, const std::string& path, PortClaim& claim);
void ReleaseDevice(int fd, PortClaim& claim);

// The id of a process other than ours that has the device of node (an fstat of it) open, or 0
// when /proc shows none. The far end of a pseudo-terminal, a process also holding its master, does
// not count.
pid_t ProcessHolding(const struct stat& node);

// The folders where lock files are looked for, the first usable one taking ours. Tests give
// their own; an empty list restores /run/lock and /var/lock.
void SetLockFolders(const std::vector<std::string>& folders);

} // namespace korvan::posix
