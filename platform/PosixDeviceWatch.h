// Tells when serial devices may have come or gone: entries appearing in or leaving the device
// map's /dev (adapters' nodes, links to pseudo-terminals) and /dev/pts (the pair behind a link).
// The caller waits for Fd() to become readable in its own event loop and then asks TakeChanges.
#pragma once

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
    int fd_ = -1;
};

} // namespace korvan::posix
