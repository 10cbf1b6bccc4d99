// The bands of the state diagram: one per signal of the units, each a run of states over time,
// built from the journal's events alone (the states they tell, never their words). It takes what
// the log gained when told to and forgets what the log dropped, so it is never a second record.
//
// A band is at rest, active or at fault as its unit told it last; grey while the link is lost
// (or the port failed), while its unit is out of the network or not in use; unknown before its
// unit first told anything. The link's own band is at rest while up and at fault while lost.
#pragma once

#include "EventLog.h"

#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

namespace korvan {

enum class BandKind : std::uint8_t { Input, Output, Relay, State, Link };
constexpr int kBandKindCount = 5;
QString BandKindText(BandKind kind); // "входы", "выходы", "реле", "состояние", "связь"

enum class BandState : std::uint8_t { Unknown, Grey, Rest, Active, Fault };

struct BandEdge {
    std::int64_t ms = 0;        // when the station saw it: the event's time, ms since the epoch
    std::uint64_t sequence = 0; // the event in the journal
    BandState state = BandState::Unknown;
};

struct Band {
    int unit = 0; // kNetworkUnit or 0..9
    BandKind kind = BandKind::Input;
    int item = -1;       // in CatalogueItems(); -1 for the link
    QString caption;     // short, for the row: "Вход 3", "Реле: Пуск", "Обмен"
    QString fullCaption; // the catalogue's
    std::deque<BandEdge> edges;
    int changes = 0; // edges between two states the unit told (rest, active, fault)

    // The state at `ms` and the edge that set it (edges.size() before the first).
    BandState StateAt(std::int64_t ms) const;
    std::size_t EdgeAt(std::int64_t ms) const;
};

// A state of a band in the window's words: "сработал", "включен", "Норма", "связь потеряна".
QString BandStateText(const Band& band, BandState state);

class StateBands {
  public:
    StateBands();

    // Takes the events the log gained; lets go of edges older than the log keeps, save the one
    // that gives each band its state at the start of what is kept.
    void Take(const EventLog& log);

    const std::vector<Band>& Bands() const { return bands_; }
    // A unit the journal saw in the network (the network itself once the link came up).
    bool Seen(int unit) const { return seen_[static_cast<std::size_t>(unit + 1)]; }
    // The first kept event's time and the last event's; 0 before any.
    std::int64_t StartMs() const { return startMs_; }
    std::int64_t EndMs() const { return endMs_; }
    std::uint64_t Taken() const { return taken_; }

  private:
    void Apply(const JournalEvent& event, std::uint64_t sequence);
    void Set(Band& band, BandState state, std::int64_t ms, std::uint64_t sequence);
    void Forget(std::uint64_t firstKept);

    std::vector<Band> bands_;
    std::array<std::vector<int>, 11> unitBands_{}; // bands of each unit, by slot; [unit + 1]
    std::array<bool, 11> seen_{};
    int linkBand_ = 0;
    std::int64_t startMs_ = 0;
    std::int64_t endMs_ = 0;
    std::uint64_t taken_ = 0;
};

std::int64_t EventMs(const JournalEvent& event);

} // namespace korvan
