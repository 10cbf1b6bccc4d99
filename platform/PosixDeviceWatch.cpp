#include "PosixDeviceWatch.h"

#include "PosixWin32.h"

#include <cstring>
#include <string>

#include <sys/inotify.h>
#include <unistd.h>

namespace korvan::posix {

namespace {

constexpr std::uint32_t kEntryEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

std::string UnderRoot(const std::string& path) {
    std::string root = DeviceMapRoot();
    if (root.empty() || root == "/") return path;
    if (root.back() == '/') root.pop_back();
    return root + path;
}

} // namespace

DeviceWatch::DeviceWatch() {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;
    if (inotify_add_watch(fd_, UnderRoot("/dev").c_str(), kEntryEvents) < 0) {
        close(fd_);
        fd_ = -1;
        return;
    }
    // Without /dev/pts only a pair that ends without removing its link goes unnoticed.
    inotify_add_watch(fd_, UnderRoot("/dev/pts").c_str(), kEntryEvents);
}

DeviceWatch::~DeviceWatch() {
    if (fd_ >= 0) close(fd_);
}

bool DeviceWatch::TakeChanges() {
    if (fd_ < 0) return false;
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            if (event.mask & (kEntryEvents | IN_Q_OVERFLOW)) changed = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        }
    }
    return changed;
}

} // namespace korvan::posix
