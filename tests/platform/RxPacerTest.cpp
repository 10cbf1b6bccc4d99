// The receive pacing on made-up time: bytes arrive at given moments, the device looks at the line
// when the pacer asks (or at the next arrival while it watches the line), and a reader takes every
// byte of each event. The rows give the events: when, and how many bytes each reported.
#include "RxPacer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace korvan::posix {
namespace {

using Clock = RxPacer::Clock;

struct Event {
    double atUs;
    int bytes;
};

struct Arrivals {
    double startUs = 0;
    int count = 0;
    double gapUs = 0; // 0: all at once
};

std::vector<Event> EventsOf(std::uint32_t baud, int bits, std::vector<Arrivals> runs) {
    std::vector<double> times;
    for (const Arrivals& run : runs)
        for (int i = 0; i < run.count; ++i)
            times.push_back(run.startUs + i * run.gapUs);
    const Clock::time_point zero{};
    auto at = [&](double us) { return zero + std::chrono::nanoseconds(std::llround(us * 1000)); };
    RxPacer pacer;
    pacer.SetLine(baud, bits);
    std::vector<Event> events;
    std::size_t arrived = 0;
    std::size_t counted = 0; // what the last look found waiting, or took
    std::size_t taken = 0;
    Clock::time_point now = zero;
    for (int looks = 0; looks < 1000; ++looks) {
        const auto planned = pacer.NextLook();
        if (planned) {
            now = *planned;
        } else if (arrived < times.size()) {
            now = std::max(now, at(times[arrived]));
        } else {
            break; // watching an idle line with nothing more to come
        }
        while (arrived < times.size() && at(times[arrived]) <= now)
            ++arrived;
        if (arrived > counted) pacer.NoteArrival(now);
        counted = arrived;
        const int queued = static_cast<int>(arrived - taken);
        if (pacer.Due(now, queued)) {
            events.push_back(
                {std::chrono::duration<double, std::micro>(now - zero).count(), queued});
            taken = arrived;
        }
        if (!planned && arrived == times.size() && !pacer.NextLook()) break;
    }
    return events;
}

struct Row {
    const char* what;
    std::uint32_t baud;
    int bits;
    std::vector<Arrivals> arrivals;
    std::vector<Event> expected;
};

// Character times: 1041.67 us at 9600 8N1, 1145.83 us at 9600 8E1, 8333.33 us at 1200.
const Row kRows[] = {
    {"a lone byte waits one quiet time (1.5 characters)", 9600, 10, {{0, 1}}, {{1562.5, 1}}},
    {"quiet time at 1200", 1200, 10, {{0, 1}}, {{12500, 1}}},
    {"quiet time at 19200", 19200, 10, {{0, 1}}, {{781.25, 1}}},
    {"quiet time with parity", 9600, 11, {{0, 1}}, {{1718.75, 1}}},
    {"fixed quiet time above 19200", 38400, 10, {{0, 1}}, {{750, 1}}},
    {"fixed quiet time at 115200", 115200, 10, {{0, 1}}, {{750, 1}}},
    {"the trigger level at the line's pace: one event",
     9600,
     10,
     {{0, 14, 1041.67}},
     {{14062.5, 14}}},
    {"a run ending below the next level: reported at the next trigger look",
     9600,
     10,
     {{0, 20, 1041.67}},
     {{14062.5, 14}, {28645.8, 6}}},
    {"a lump of several levels at once: at once", 9600, 10, {{0, 40}}, {{0, 40}}},
    {"two lone bytes far apart: two events",
     9600,
     10,
     {{0, 1}, {50000, 1}},
     {{1562.5, 1}, {51562.5, 1}}},
};

TEST(RxPacer, EventsOfArrivals) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        const std::vector<Event> events = EventsOf(row.baud, row.bits, row.arrivals);
        ASSERT_EQ(events.size(), row.expected.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            EXPECT_NEAR(events[i].atUs, row.expected[i].atUs, 1.0) << i;
            EXPECT_EQ(events[i].bytes, row.expected[i].bytes) << i;
        }
    }
}

} // namespace
} // namespace korvan::posix
