// A virtual null-modem pair for tests and benchmarks: socat relays two pseudo-terminals and links
// them under unique names. One end is the port under test, the other end is the peer.
#pragma once

#include <string>

#include <sys/types.h>

namespace korvan::testing {

class PtyPair {
  public:
    // Starts socat and returns once both links exist; throws std::runtime_error on failure.
    PtyPair();
    // Ends socat if still running and removes the links.
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // The port end as TBComPort::Port names it: the device path minus "/dev/".
    const std::string& PortName() const { return portName_; }
    const std::string& PortPath() const { return portPath_; }
    const std::string& PeerPath() const { return peerPath_; }
    pid_t Pid() const { return pid_; }

    // Kills socat at once (both masters close: the ends hang up) and reaps it.
    void Kill();

  private:
    pid_t pid_ = -1;
    std::string folder_; // temporary folder of the links when /dev is not writable
    std::string portName_;
    std::string portPath_;
    std::string peerPath_;
};

// Opens the peer end for raw reads and writes; returns the descriptor or throws.
int OpenPeer(const std::string& path);

} // namespace korvan::testing
