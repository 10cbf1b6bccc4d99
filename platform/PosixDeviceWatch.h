// Tells when serial devices may have come or gone: entries appearing in or leaving the device
// map's /dev (adapters' nodes, links to pseudo-terminals), and the end of a pseudo-terminal that a
// link in /dev leads to. Other pseudo-terminals, which terminals, multiplexers and build tools
// open and close by the hundred, never wake the caller. The caller waits for Fd() to become
// readable in its own event loop and then asks TakeChanges.
#pragma once

#include <string>
#include <vector>

namespace korvan::posix {

class DeviceWatch {
  public:
    // Watches the folders of the device map's current root; Fd() is -1 when that is impossible.
    DeviceWatch();
    ~DeviceWatch();
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    int Fd() const { return fd_; }
    // Reads every pending notification without blocking; true when an entry came or went.
    bool TakeChanges();

  private:
    // Watches the pseudo-terminal behind each link in /dev for its end.
    void WatchLinkedTerminals();

    int fd_ = -1;
    std::string root_;
};

} // namespace korvan::posix
