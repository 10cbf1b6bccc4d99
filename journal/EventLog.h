// The event journal's storage: the last events of this run in a fixed ring, in memory only. Every
// event gets the next sequence number; the oldest drop off once the ring is full, and how many
// did is known, so the view can say so.
#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <vector>

namespace korvan {

// Units of the journal beyond those of the catalogue (kNetworkUnit, 0..9).
constexpr int kStationUnit = -2; // the station itself: start, stop, its port

enum class EventKind : std::uint8_t {
    State,   // "состояния": an indicator, a unit's state, the state at connection
    Setting, // "настройки": a setting changed on the unit by anyone but this station
    Operator, // "действия оператора": edits, commands, forced outputs, and their confirmation
    Link, // "связь": link lost and restored, units in and out, the port, start and stop
};
constexpr int kEventKindCount = 4;

enum class EventSource : std::uint8_t {
    Unit,     // "блок"
    Operator, // "оператор"
    Station,  // "станция"
};

struct JournalEvent {
    std::chrono::system_clock::time_point time{};
    QString text;
    std::int8_t unit = kStationUnit;
    EventKind kind = EventKind::Link;
    EventSource source = EventSource::Station;
    bool alarm = false; // a fault, a lost link or a unit gone: shown in colour
    // For views that draw states rather than read words: which indicators of `unit` the event
    // tells of (bit i: the unit's i-th indicator, UnitIndicators) and their states then, two
    // bits each at 2i (IndicatorState). A change tells its one indicator; a line at connection
    // (for the network: the link's line) and a unit coming into or leaving the network tell all
    // of them; a setting that takes its unit out of use, or back, tells those it greys or shows.
    std::uint16_t told = 0;
    std::uint32_t states = 0;
};

// An indicator's state as the journal tells it; grey (unit not in use or gone) is 0.
enum class IndicatorState : std::uint8_t { Grey, Rest, Active, Fault };
constexpr IndicatorState ToldState(const JournalEvent& event, int slot) {
    return static_cast<IndicatorState>(event.states >> (2 * slot) & 3u);
}

class EventLog {
  public:
    static constexpr int kCapacity = 100000;

    explicit EventLog(int capacity = kCapacity);

    void Add(JournalEvent event);

    int Capacity() const { return capacity_; }
    std::uint64_t FirstKept() const { return first_; }
    std::uint64_t End() const { return end_; }
    std::uint64_t Dropped() const { return first_; } // events that fell off the front
    const JournalEvent& At(std::uint64_t sequence) const;

  private:
    int capacity_;
    std::vector<JournalEvent> ring_;
    std::uint64_t first_ = 0;
    std::uint64_t end_ = 0;
};

QString UnitText(int unit); // "Станция", "Сеть", "ЗОКТ-01", "ЗОКТ-МР №k"
QString KindText(EventKind kind);       // "состояния", "настройки", ...
QString SourceText(EventSource source); // "блок", "оператор", "станция"
QString TimeText(std::chrono::system_clock::time_point time); // "09.12.2026 14:03:07.250"

} // namespace korvan
