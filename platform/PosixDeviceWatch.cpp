#include "PosixDeviceWatch.h"

#include "PosixObjects.h"

#include <cstring>

#include <sys/inotify.h>
#include <unistd.h>

namespace korvan::posix {

namespace {

// IN_ATTRIB: a node's permissions mended, so that a port refused before may open now.
constexpr std::uint32_t kEntryEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ATTRIB;

std::string UnderRoot(const std::string& root, const std::string& path) {
    if (root.empty() || root == "/") return path;
    return (root.back() == '/' ? root.substr(0, root.size() - 1) : root) + path;
}

} // namespace

DeviceWatch::DeviceWatch() : root_(DeviceMapRoot()) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;
    if (inotify_add_watch(fd_, UnderRoot(root_, "/dev").c_str(), kEntryEvents) < 0) {
        close(fd_);
        fd_ = -1;
        return;
    }
    WatchLinkedTerminals();
}

DeviceWatch::~DeviceWatch() {
    if (fd_ >= 0) close(fd_);
}

void DeviceWatch::WatchLinkedTerminals() {
    // A node watched already keeps its watch; one that has ended took its watch with it.
    for (const LinkedTerminal& linked : LinksToPseudoTerminals(root_))
        inotify_add_watch(fd_, linked.node.c_str(), IN_DELETE_SELF | IN_ATTRIB);
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
            // IN_IGNORED, the removal of an ended node's watch, follows its IN_DELETE_SELF.
            if (event.mask & (kEntryEvents | IN_Q_OVERFLOW)) changed = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        }
    }
    if (changed) WatchLinkedTerminals();
    return changed;
}

} // namespace korvan::posix
