#include "PosixNetConnect.h"

#include "Endpoint.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <thread>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvan::posix {

namespace {

// Keepalive probes from 2 s of quiet, every 2 s, three of them; and unacknowledged data gives up
// after 4 s: a dead peer is noticed within 10 s whether the station sends or not, at 1200 baud
// too (a request goes up to a poll, 4 s there, after the peer died; the end is told at once).
void SetKeepalive(int fd) {
    const int on = 1, idle = 2, interval = 2, count = 3;
    const unsigned userTimeoutMs = 4000;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
    // A request is one small write that waits for its answer: no Nagle delay.
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// The connect of one address; 0, or the errno that ended it (ETIMEDOUT at the limit).
int ConnectOne(int fd, const addrinfo* address, std::chrono::steady_clock::time_point deadline) {
    if (connect(fd, address->ai_addr, address->ai_addrlen) == 0) return 0;
    if (errno != EINPROGRESS) return errno;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return ETIMEDOUT;
        pollfd p{fd, POLLOUT, 0};
        const int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return r == 0 ? ETIMEDOUT : errno;
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0) return errno;
        return error;
    }
}

std::mutex parkedMutex;
std::map<std::string, int>& Parked() {
    static std::map<std::string, int> parked;
    return parked;
}

} // namespace

int ConnectTcp(const std::string& host, unsigned port, std::chrono::milliseconds limit,
               std::string& cause) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        cause = kHostNotFound;
        return -1;
    }
    bool refused = false;
    int fd = -1;
    for (const addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        const int s =
            socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) continue;
        const int error = ConnectOne(s, a, deadline);
        if (error == 0) {
            fd = s;
        } else {
            refused = refused || error == ECONNREFUSED;
            close(s);
        }
    }
    freeaddrinfo(found);
    if (fd < 0) {
        cause = refused ? kConnectionRefused : kHostSilent;
        return -1;
    }
    SetKeepalive(fd);
    return fd;
}

void ParkConnection(const std::string& name, int fd) {
    std::lock_guard lock(parkedMutex);
    const auto [it, added] = Parked().emplace(name, fd);
    if (!added) {
        close(it->second); // an older one nobody took
        it->second = fd;
    }
}

int TakeParkedConnection(const std::string& name) {
    std::lock_guard lock(parkedMutex);
    auto it = Parked().find(name);
    if (it == Parked().end()) return -1;
    const int fd = it->second;
    Parked().erase(it);
    return fd;
}

struct ConnectAttempt::Shared {
    std::mutex mutex;
    int done = -1; // eventfd, readable when the attempt has ended
    bool finished = false;
    int fd = -1;
    std::string cause;
    std::string name;
    ~Shared() {
        if (fd >= 0) close(fd);
        if (done >= 0) close(done);
    }
};

ConnectAttempt::ConnectAttempt(const std::string& name) : shared_(std::make_shared<Shared>()) {
    shared_->done = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    shared_->name = name;
    const auto endpoint = netport::ParseEndpointName(name);
    auto finish = [](Shared& s, int fd, std::string cause) {
        std::lock_guard lock(s.mutex);
        s.fd = fd;
        s.cause = std::move(cause);
        s.finished = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(s.done, &one, sizeof one);
    };
    if (!endpoint) {
        finish(*shared_, -1, kHostNotFound);
        return;
    }
    std::thread([shared = shared_, endpoint = *endpoint, finish] {
        std::string cause;
        const int fd = ConnectTcp(endpoint.host, endpoint.port, kConnectLimit, cause);
        finish(*shared, fd, cause);
    }).detach();
}

ConnectAttempt::~ConnectAttempt() = default;

int ConnectAttempt::Fd() const {
    return shared_->done;
}

bool ConnectAttempt::Done() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->finished;
}

bool ConnectAttempt::ParkIfConnected() {
    std::lock_guard lock(shared_->mutex);
    if (!shared_->finished || shared_->fd < 0) return false;
    ParkConnection(shared_->name, shared_->fd);
    shared_->fd = -1;
    return true;
}

std::string ConnectAttempt::Cause() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->cause;
}

} // namespace korvan::posix
