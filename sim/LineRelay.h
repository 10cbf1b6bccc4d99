// The virtual null-modem cable between the station's port and the unit's port: two
// pseudo-terminals whose masters this relay joins. It carries the bytes at the line's speed,
// garbles them when the two ends are set to different speeds, and is where line faults happen:
// lost or damaged replies, a line gone quiet, and an adapter pulled out.
#pragma once

#include "PtyLink.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace korvan::sim {

// Seconds one character takes on the line: start bit, 8 data bits, stop bit.
inline double CharacterSeconds(int baud) {
    return 10.0 / baud;
}

// One direction of the line: a byte cannot arrive before the one in front of it has, and each
// takes a character time.
class LinePacer {
  public:
    // The moment a byte handed over at `handedOver` has fully arrived at the other end.
    double Arrival(double handedOver, int baud) {
        lineFree_ = (handedOver > lineFree_ ? handedOver : lineFree_) + CharacterSeconds(baud);
        return lineFree_;
    }
    void Reset() { lineFree_ = 0; }

  private:
    double lineFree_ = 0;
};

// What a receiver set to another speed makes of the bytes: more characters when it samples
// faster than the sender, fewer when slower, none of them the bytes that were sent.
class Garbler {
  public:
    explicit Garbler(std::uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {}
    void Garble(const std::uint8_t* data, std::size_t count, int senderBaud, int receiverBaud,
                std::vector<std::uint8_t>& out);

  private:
    std::uint8_t Next();
    std::uint32_t state_;
    double carry_ = 0;
};

enum class ReplyFate { Deliver, Drop, CorruptCrc };

// How the next reply of `length` bytes that the unit writes fares on the line.
struct ReplyPlan {
    int length = 0;
    ReplyFate fate = ReplyFate::Deliver;
};

struct RelayCounters {
    std::uint64_t toUnit = 0;    // bytes delivered to the unit
    std::uint64_t toStation = 0; // bytes delivered to the station
    std::uint64_t garbled = 0;   // bytes that crossed between ends at different speeds
    std::uint64_t lost = 0;      // bytes lost: dropped replies, silence, no station port
};

class LineRelay {
  public:
    static constexpr double kForever = std::numeric_limits<double>::infinity();

    // `unit` is the pseudo-terminal whose slave the unit's port is; `station` the one whose
    // slave the station opens. The relay owns both from here on.
    LineRelay(Pty unit, Pty station, std::uint32_t seed);
    ~LineRelay();
    LineRelay(const LineRelay&) = delete;
    LineRelay& operator=(const LineRelay&) = delete;

    // The unit's replies reach the station whole, when their last byte would have.
    void SetBurst(bool burst) { burst_ = burst; }
    void Start();
    void Stop();

    void PlanReply(const ReplyPlan& plan);
    // The reply last planned was never written.
    void CancelLastPlan();

    // Nothing passes in either direction until `until` (monotonic seconds); 0 ends it.
    void SetSilence(double until);
    double SilentUntil() const;

    // Closes the station's side as a pulled-out adapter would; returns once it is closed.
    void HangUp();
    bool HungUp() const;
    // Puts a new station side in after a hang-up; false (and `station` closed) when the old
    // one is still in.
    bool Plug(Pty station);
    std::string StationPath() const;

    RelayCounters Counters() const;

  private:
    struct Timed {
        std::uint8_t byte;
        double due;
    };

    void Run();
    void Wake();
    void TakeFromStation(int fd, double now, bool silent, int stationBaud, int unitBaud,
                         int paceBaud);
    void TakeFromUnit(double now, bool silent, bool stationOpen, int stationBaud, int unitBaud,
                      int paceBaud);
    void Deliver(std::deque<Timed>& queue, int fd, double now,
                 std::uint64_t RelayCounters::*counter);

    Pty unit_;
    int unitMaster_;
    int wake_ = -1;
    std::thread thread_;

    mutable std::mutex mutex_; // guards everything below that the other thread touches
    std::condition_variable changed_;
    Pty station_;
    bool hangUpRequested_ = false;
    bool hungUp_ = false;
    bool stop_ = false;
    double silentUntil_ = 0;
    std::deque<ReplyPlan> plans_;
    int planConsumed_ = 0;
    RelayCounters counters_;

    // Relay thread only.
    std::deque<Timed> toUnit_;
    std::deque<Timed> toStation_;
    LinePacer unitPacer_;
    LinePacer stationPacer_;
    Garbler garbler_;
    bool unitGone_ = false;
    std::atomic<bool> burst_{false};
};

} // namespace korvan::sim
