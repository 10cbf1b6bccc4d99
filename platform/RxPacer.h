// When received characters are reported: as a UART with a receive FIFO reports them, when this many
// wait, or when the line has been quiet for a character time and a half (a fixed 750 us above
// 19200 baud, where that would be shorter). A reply thus costs a handful of events, not one event
// per byte. The pacer only decides; the device looks at the line and tells it the time and what
// waits in the queue, so it runs on any clock, a test's made-up one included.
//
// An idle line is watched for its first byte, which is looked at again a quiet time later: a lone
// byte is reported then. If more came meanwhile the bytes are flowing, and the next look is at the
// moment the trigger level is due at the line's pace; whatever that look finds, the event is raised
// (the level was reached, or fewer bytes came than the pace would bring: the line slowed or went
// quiet). After an event raised while bytes were flowing the line is not watched byte by byte: it
// is looked at when the next trigger level is due, and an empty queue then makes it idle again. A
// run of bytes thus costs about one wake-up per trigger level instead of one per quiet time. The
// price: the end of a run is noticed only at a trigger look, up to one trigger level of character
// times after its last byte (about 14.6 ms at 9600 baud, 1.2 ms at 115200), instead of one to two
// quiet times; a hang-up in that time is noticed at the look.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace korvan::posix {

class RxPacer {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kTrigger = 14;

    RxPacer() { SetLine(9600, 10); }

    // The line's speed and the bits of one character (start, data, parity, stop).
    void SetLine(std::uint32_t baud, int bitsPerCharacter);
    Clock::duration QuietTime() const { return quiet_; }

    // Bytes have arrived that no event has reported yet.
    bool Pending() const { return pending_; }
    // A look found the queue grown.
    void NoteArrival(Clock::time_point now);
    // Whether the bytes that arrived since the last event are to be reported now; `queued` is
    // what waits in the queue at this look.
    bool Due(Clock::time_point now, int queued);
    // The queue was emptied (read or purged): its bytes need no event.
    void Forget() { pending_ = false; }
    // The moment of the next look, or none: the line is to be watched for its next byte.
    std::optional<Clock::time_point> NextLook() const;

  private:
    bool Decide(Clock::time_point now, int queued);

    bool pending_ = false;           // bytes have arrived that no event has reported yet
    Clock::time_point firstArrival_; // of the bytes no event has reported yet
    Clock::time_point lastArrival_;  // the last look that found the queue grown
    bool flowing_ = false;           // more came within the first quiet time
    Clock::time_point triggerDue_;   // the trigger level's moment at the line's pace
    bool following_ = false;         // the last event came while bytes were flowing:
    Clock::time_point followUntil_;  // the line is looked at then, not watched
    Clock::duration quiet_{};
    Clock::duration character_{};
};

} // namespace korvan::posix
