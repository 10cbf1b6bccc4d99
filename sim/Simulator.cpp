#include "Simulator.h"

#include "Clock.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace korvan::sim {

namespace {

constexpr int kScenarioTickMs = 100;
constexpr std::size_t kMaxClients = 16;
constexpr std::size_t kMaxLine = 1024;
constexpr int kFreshPortBaud = 9600; // what an unconfigured serial port is set to

bool ParseNumber(const std::string& text, long min, long max, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && value >= min && value <= max;
}

sockaddr_un SocketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        throw std::runtime_error("control socket path too long: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

} // namespace

Simulator::Simulator(const Options& options)
    : options_(options), network_(options.network, MonotonicSeconds()) {}

Simulator::~Simulator() {
    Shutdown();
}

void Simulator::Start() {
    // Held open on our side as well, so the line stays up while the unit's port is reopened.
    Pty unitSide = OpenPty(true, options_.network.baud);
    try {
        unit_ = std::make_unique<ModbusUnit>(unitSide.slavePath, options_.network.baud,
                                             options_.network.address, network_, nullptr,
                                             options_.seed);
    } catch (...) {
        ClosePty(unitSide);
        throw;
    }
    unit_->SetDropPercent(options_.dropPercent);
    unit_->SetCorruptPercent(options_.corruptPercent);
    unit_->SetVerbose(options_.verbose);

    Pty stationSide = OpenPty(true, kFreshPortBaud);
    OpenToEveryone(stationSide);
    const std::string target = stationSide.slavePath;
    relay_ = std::make_unique<LineRelay>(std::move(unitSide), std::move(stationSide),
                                         options_.seed * 2654435761u + 1);
    unit_->SetRelay(relay_.get());
    relay_->SetBurst(options_.burst);
    relay_->Start();
    if (options_.silenceSeconds > 0)
        relay_->SetSilence(MonotonicSeconds() + options_.silenceSeconds);
    if (options_.hangUpAfter > 0) hangUpAt_ = MonotonicSeconds() + options_.hangUpAfter;

    ListenControl();

    const std::string error = CreateLink(options_.linkPath, target);
    if (!error.empty()) throw std::runtime_error(error);
    linkTarget_ = target;
}

void Simulator::ListenControl() {
    const sockaddr_un address = SocketAddress(options_.controlPath);
    struct stat st {};
    if (lstat(options_.controlPath.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode))
            throw std::runtime_error(options_.controlPath + " exists and is not a socket");
        // A socket file nobody listens on is what a killed simulator leaves behind.
        const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool alive =
            connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        close(probe);
        if (alive)
            throw std::runtime_error(options_.controlPath + " is in use by another simulator");
        unlink(options_.controlPath.c_str());
    }
    listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listen_ < 0 ||
        bind(listen_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listen_, 8) != 0)
        throw std::runtime_error("control socket " + options_.controlPath + ": " +
                                 std::strerror(errno));
}

void Simulator::Shutdown() {
    if (!linkTarget_.empty()) {
        RemoveLink(options_.linkPath, linkTarget_);
        linkTarget_.clear();
    }
    for (Client& c : clients_)
        close(c.fd);
    clients_.clear();
    if (listen_ >= 0) {
        close(listen_);
        unlink(options_.controlPath.c_str());
        listen_ = -1;
    }
    if (relay_) relay_->Stop();
    unit_.reset();
    relay_.reset();
}

std::string Simulator::ReadyLine() const {
    return "ready link=" + options_.linkPath + " tty=" + relay_->StationPath() +
           " control=" + options_.controlPath + " dump=" + options_.dumpPath;
}

bool Simulator::WriteDump(const std::string& path) const {
    // Written aside and renamed, so whoever waits for the file never reads half of it.
    const std::string temporary = path + ".part";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (!file) return false;
    for (int r = 0; r < network_.MappedRegisters(); ++r)
        std::fprintf(file, "%d %u\n", r, static_cast<unsigned>(network_.Get(r)));
    const bool ok = std::fclose(file) == 0;
    return ok && std::rename(temporary.c_str(), path.c_str()) == 0;
}

std::string Simulator::Command(const std::string& line, double now) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    if (words.empty()) return "error empty command";
    const std::string& verb = words[0];
    const auto argument = [&words](std::size_t i) { return i < words.size() ? words[i] : ""; };
    long number = 0;

    if (verb == "drop" || verb == "corrupt") {
        if (words.size() != 2 || !ParseNumber(words[1], 0, 100, number))
            return "error " + verb + " needs a percentage 0..100";
        if (verb == "drop")
            unit_->SetDropPercent(static_cast<int>(number));
        else
            unit_->SetCorruptPercent(static_cast<int>(number));
        return "ok";
    }
    if (verb == "silence") {
        const std::string what = argument(1);
        if (what == "on") {
            relay_->SetSilence(LineRelay::kForever);
        } else if (what == "off") {
            relay_->SetSilence(0);
        } else {
            char* end = nullptr;
            const double seconds = std::strtod(what.c_str(), &end);
            if (what.empty() || *end != '\0' || !(seconds >= 0) || std::isinf(seconds))
                return "error silence needs seconds, on or off";
            relay_->SetSilence(seconds > 0 ? now + seconds : 0);
        }
        return "ok";
    }
    if (verb == "hangup") {
        relay_->HangUp();
        if (!linkTarget_.empty()) {
            RemoveLink(options_.linkPath, linkTarget_);
            linkTarget_.clear();
        }
        return "ok";
    }
    if (verb == "plug") {
        if (!relay_->HungUp()) return "error the port is plugged in";
        Pty station = OpenPty(true, kFreshPortBaud);
        OpenToEveryone(station);
        const std::string target = station.slavePath;
        const std::string error = CreateLink(options_.linkPath, target);
        if (!error.empty()) {
            ClosePty(station);
            return "error " + error;
        }
        if (!relay_->Plug(std::move(station))) {
            RemoveLink(options_.linkPath, target);
            return "error the port is plugged in";
        }
        linkTarget_ = target;
        return "ok tty=" + target;
    }
    if (verb == "get") {
        if (words.size() != 2 || !ParseNumber(words[1], 0, kRegisters - 1, number))
            return "error get needs a register 0..127";
        return "ok " + std::to_string(network_.Get(static_cast<int>(number)));
    }
    if (verb == "set") {
        long value = 0;
        if (words.size() != 3 || !ParseNumber(words[1], 0, kRegisters - 1, number) ||
            !ParseNumber(words[2], 0, 0xFFFF, value))
            return "error set needs a register 0..127 and a value 0..65535";
        network_.Set(static_cast<int>(number), static_cast<std::uint16_t>(value), now);
        return "ok";
    }
    if (verb == "regs") {
        std::string answer = "ok";
        for (int r = 0; r < network_.MappedRegisters(); ++r)
            answer += " " + std::to_string(network_.Get(r));
        return answer;
    }
    if (verb == "dump") {
        const std::string path = words.size() > 1 ? words[1] : options_.dumpPath;
        return WriteDump(path) ? "ok " + path : "error cannot write " + path;
    }
    if (verb == "factory") {
        // The unit's own restore, the same the service command 0x55 starts.
        network_.StationWrote(regs::ServiceCommand, kServiceFactory, now);
        return "ok";
    }
    if (verb == "scenario") {
        const std::string what = argument(1);
        if (what != "on" && what != "off") return "error scenario needs on or off";
        network_.SetScenario(what == "on", now);
        return "ok";
    }
    if (verb == "stats") {
        const ServeCounters& s = unit_->Counters();
        const RelayCounters r = relay_->Counters();
        std::ostringstream out;
        out << "ok requests=" << s.requests << " replies=" << s.replies
            << " exceptions=" << s.exceptions << " dropped=" << s.dropped
            << " corrupted=" << s.corrupted << " bad_frames=" << s.badFrames
            << " to_unit=" << r.toUnit << " to_station=" << r.toStation << " garbled=" << r.garbled
            << " lost=" << r.lost << " hung_up=" << (relay_->HungUp() ? 1 : 0)
            << " silent=" << (relay_->SilentUntil() > now ? 1 : 0)
            << " drop=" << unit_->DropPercent() << " corrupt=" << unit_->CorruptPercent()
            << " scenario=" << (network_.ScenarioEnabled() ? 1 : 0);
        return out.str();
    }
    if (verb == "frames") {
        // How many requests came in all, then the last ones kept, in hexadecimal.
        std::string answer = "ok " + std::to_string(unit_->Counters().requests);
        static const char kHex[] = "0123456789ABCDEF";
        for (const std::vector<std::uint8_t>& frame : unit_->RecentRequests()) {
            answer += ' ';
            for (std::uint8_t b : frame) {
                answer += kHex[b >> 4];
                answer += kHex[b & 0xF];
            }
        }
        return answer;
    }
    if (verb == "help")
        return "ok drop corrupt silence hangup plug get set regs dump factory scenario stats "
               "frames";
    return "error unknown command " + verb;
}

void Simulator::ServeClient(Client& client, double now, bool& closed) {
    char buffer[512];
    const ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        closed = true;
        return;
    }
    if (n < 0) return;
    client.pending.append(buffer, static_cast<std::size_t>(n));
    std::size_t newline;
    while ((newline = client.pending.find('\n')) != std::string::npos) {
        std::string line = client.pending.substr(0, newline);
        client.pending.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string answer = Command(line, now) + "\n";
        if (send(client.fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) {
            closed = true;
            return;
        }
    }
    if (client.pending.size() > kMaxLine) closed = true;
}

void Simulator::Run(int signalFd) {
    while (true) {
        std::vector<pollfd> fds;
        fds.push_back({signalFd, POLLIN, 0});
        fds.push_back({listen_, POLLIN, 0});
        fds.push_back({unit_->Fd(), POLLIN, 0});
        for (const Client& c : clients_)
            fds.push_back({c.fd, POLLIN, 0});
        int timeout = network_.ScenarioEnabled() ? kScenarioTickMs : -1;
        if (hangUpAt_ > 0) {
            const int untilHangUp =
                static_cast<int>(std::ceil((hangUpAt_ - MonotonicSeconds()) * 1000.0));
            timeout = std::max(0, timeout < 0 ? untilHangUp : std::min(timeout, untilHangUp));
        }
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));

        const double now = MonotonicSeconds();
        network_.Advance(now);
        if (hangUpAt_ > 0 && now >= hangUpAt_) {
            hangUpAt_ = 0;
            Command("hangup", now);
        }

        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) == sizeof info) {
                if (info.ssi_signo != SIGUSR1) return;
                if (!WriteDump(options_.dumpPath))
                    std::fprintf(stderr, "korvan-sim: cannot write %s\n",
                                 options_.dumpPath.c_str());
            }
        }
        if (fds[2].revents & POLLIN) unit_->ServeOne(now);
        if (fds[1].revents & POLLIN) {
            const int fd = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0 && clients_.size() < kMaxClients)
                clients_.push_back({fd, {}});
            else if (fd >= 0)
                close(fd);
        }
        // Clients accepted in this round are not in fds yet; they are polled next round.
        const std::size_t polled = fds.size() - 3;
        for (std::size_t i = polled; i-- > 0;) {
            if (!(fds[3 + i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            bool closed = false;
            ServeClient(clients_[i], now, closed);
            if (closed) {
                close(clients_[i].fd);
                clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }
}

} // namespace korvan::sim
