#include "LineRelay.h"

#include "Clock.h"

#include <cerrno>
#include <cmath>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace korvan::sim {

namespace {

constexpr std::size_t kChunk = 4096;

timespec ToTimespec(double seconds) {
    if (seconds < 0) seconds = 0;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
    return ts;
}

} // namespace

std::uint8_t Garbler::Next() {
    // xorshift32: cheap, and reproducible from the seed.
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<std::uint8_t>(state_ >> 24);
}

void Garbler::Garble(const std::uint8_t* data, std::size_t count, int senderBaud, int receiverBaud,
                     std::vector<std::uint8_t>& out) {
    const double ratio =
        senderBaud > 0 && receiverBaud > 0 ? static_cast<double>(receiverBaud) / senderBaud : 1.0;
    for (std::size_t i = 0; i < count; ++i) {
        carry_ += ratio;
        while (carry_ >= 1.0) {
            carry_ -= 1.0;
            std::uint8_t b = Next();
            if (b == data[i]) b = static_cast<std::uint8_t>(~b); // never the byte that was sent
            out.push_back(b);
        }
    }
}

LineRelay::LineRelay(Pty unit, Pty station, std::uint32_t seed)
    : unit_(std::move(unit)), unitMaster_(unit_.master), station_(std::move(station)),
      garbler_(seed) {
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

LineRelay::~LineRelay() {
    Stop();
    ClosePty(station_);
    ClosePty(unit_);
    if (wake_ >= 0) close(wake_);
}

void LineRelay::Start() {
    thread_ = std::thread([this] { Run(); });
}

void LineRelay::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    Wake();
    if (thread_.joinable()) thread_.join();
}

void LineRelay::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wake_, &one, sizeof one);
}

void LineRelay::PlanReply(const ReplyPlan& plan) {
    std::lock_guard lock(mutex_);
    plans_.push_back(plan);
}

void LineRelay::CancelLastPlan() {
    std::lock_guard lock(mutex_);
    const bool underWay = plans_.size() == 1 && planConsumed_ > 0;
    if (!plans_.empty() && !underWay) plans_.pop_back();
}

void LineRelay::SetSilence(double until) {
    {
        std::lock_guard lock(mutex_);
        silentUntil_ = until;
    }
    Wake();
}

double LineRelay::SilentUntil() const {
    std::lock_guard lock(mutex_);
    return silentUntil_;
}

void LineRelay::HangUp() {
    std::unique_lock lock(mutex_);
    if (hungUp_) return;
    hangUpRequested_ = true;
    lock.unlock();
    Wake();
    lock.lock();
    changed_.wait(lock, [this] { return hungUp_ || stop_; });
}

bool LineRelay::HungUp() const {
    std::lock_guard lock(mutex_);
    return hungUp_;
}

bool LineRelay::Plug(Pty station) {
    {
        std::lock_guard lock(mutex_);
        if (!hungUp_) {
            // The relay thread may be using the present port: it is never swapped under it.
            ClosePty(station);
            return false;
        }
        station_ = std::move(station);
        hungUp_ = false;
    }
    Wake();
    return true;
}

std::string LineRelay::StationPath() const {
    std::lock_guard lock(mutex_);
    return station_.slavePath;
}

RelayCounters LineRelay::Counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

void LineRelay::Deliver(std::deque<Timed>& queue, int fd, double now,
                        std::uint64_t RelayCounters::*counter) {
    std::uint8_t out[kChunk];
    std::size_t n = 0;
    while (!queue.empty() && queue.front().due <= now && n < sizeof out) {
        out[n++] = queue.front().byte;
        queue.pop_front();
    }
    if (n == 0) return;
    ssize_t written = fd >= 0 ? write(fd, out, n) : -1;
    if (written < 0)
        written = 0; // nobody reads the far end (or it is gone): the bytes are lost on the line
    std::lock_guard lock(mutex_);
    counters_.*counter += static_cast<std::uint64_t>(written);
    counters_.lost += n - static_cast<std::size_t>(written);
}

void LineRelay::TakeFromStation(int fd, double now, bool silent, int stationBaud, int unitBaud,
                                int paceBaud) {
    std::uint8_t in[kChunk];
    const ssize_t n = read(fd, in, sizeof in);
    if (n <= 0) return;
    const auto count = static_cast<std::size_t>(n);
    if (silent) {
        std::lock_guard lock(mutex_);
        counters_.lost += count;
        return;
    }
    std::vector<std::uint8_t> bytes(in, in + count);
    if (stationBaud != unitBaud) {
        bytes.clear();
        garbler_.Garble(in, count, stationBaud, unitBaud, bytes);
        std::lock_guard lock(mutex_);
        counters_.garbled += count;
    }
    for (std::uint8_t b : bytes)
        toUnit_.push_back({b, unitPacer_.Arrival(now, paceBaud)});
}

void LineRelay::TakeFromUnit(double now, bool silent, bool stationOpen, int stationBaud,
                             int unitBaud, int paceBaud) {
    std::uint8_t in[kChunk];
    const ssize_t n = read(unitMaster_, in, sizeof in);
    if (n < 0 && errno == EIO)
        unitGone_ = true; // cannot happen while we hold the slave; never spin on it
    if (n <= 0) return;
    std::vector<std::uint8_t> passed;
    std::uint64_t lost = 0;
    {
        std::lock_guard lock(mutex_);
        for (ssize_t i = 0; i < n; ++i) {
            std::uint8_t b = in[i];
            bool keep = true;
            if (!plans_.empty()) {
                const ReplyPlan& plan = plans_.front();
                const int index = planConsumed_++;
                if (plan.fate == ReplyFate::Drop)
                    keep = false;
                else if (plan.fate == ReplyFate::CorruptCrc && index == plan.length - 1)
                    b ^= 0xA5; // the last CRC byte no longer matches
                if (planConsumed_ >= plan.length) {
                    plans_.pop_front();
                    planConsumed_ = 0;
                }
            }
            if (keep && !silent && stationOpen)
                passed.push_back(b);
            else
                ++lost;
        }
        counters_.lost += lost;
    }
    if (passed.empty()) return;
    if (stationBaud != unitBaud) {
        std::vector<std::uint8_t> garbled;
        garbler_.Garble(passed.data(), passed.size(), unitBaud, stationBaud, garbled);
        {
            std::lock_guard lock(mutex_);
            counters_.garbled += passed.size();
        }
        passed.swap(garbled);
    }
    const std::size_t first = toStation_.size();
    for (std::uint8_t b : passed)
        toStation_.push_back({b, stationPacer_.Arrival(now, paceBaud)});
    if (burst_) {
        const double last = toStation_.back().due;
        for (std::size_t i = first; i < toStation_.size(); ++i)
            toStation_[i].due = last;
    }
}

void LineRelay::Run() {
    while (true) {
        int stationFd = -1;
        double silentUntil = 0;
        {
            std::lock_guard lock(mutex_);
            if (stop_) break;
            if (hangUpRequested_) {
                ClosePty(station_);
                hangUpRequested_ = false;
                hungUp_ = true;
                toStation_.clear();
                stationPacer_.Reset();
                changed_.notify_all();
            }
            stationFd = station_.master;
            silentUntil = silentUntil_;
        }

        double now = MonotonicSeconds();
        double next = kForever;
        if (!toUnit_.empty()) next = toUnit_.front().due;
        if (!toStation_.empty() && toStation_.front().due < next) next = toStation_.front().due;
        if (silentUntil > now && silentUntil < next) next = silentUntil;

        pollfd fds[3] = {
            {wake_, POLLIN, 0}, {unitGone_ ? -1 : unitMaster_, POLLIN, 0}, {stationFd, POLLIN, 0}};
        const timespec timeout = ToTimespec(next - now);
        const int ready = ppoll(fds, 3, std::isinf(next) ? nullptr : &timeout, nullptr);
        if (ready < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            std::uint64_t value = 0;
            [[maybe_unused]] const ssize_t n = read(wake_, &value, sizeof value);
        }

        now = MonotonicSeconds();
        {
            // What woke us may be the silence being changed: take its latest value.
            std::lock_guard lock(mutex_);
            silentUntil = silentUntil_;
        }
        const bool silent = now < silentUntil;
        const int unitBaud = BaudOfTerminal(unitMaster_);
        const int stationBaud = stationFd >= 0 ? BaudOfTerminal(stationFd) : 0;
        const int paceBaud = stationBaud > 0 ? stationBaud : (unitBaud > 0 ? unitBaud : 9600);

        if (fds[2].revents & POLLIN)
            TakeFromStation(stationFd, now, silent, stationBaud, unitBaud, paceBaud);
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
            TakeFromUnit(now, silent, stationFd >= 0, stationBaud, unitBaud, paceBaud);

        if (silent) {
            // A line gone quiet carries nothing, not even what was already under way.
            std::lock_guard lock(mutex_);
            counters_.lost += toUnit_.size() + toStation_.size();
            toUnit_.clear();
            toStation_.clear();
        }
        Deliver(toUnit_, unitMaster_, now, &RelayCounters::toUnit);
        Deliver(toStation_, stationFd, now, &RelayCounters::toStation);
    }
}

} // namespace korvan::sim
