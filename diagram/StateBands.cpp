#include "StateBands.h"

#include "Catalogue.h"
#include "EventJournal.h"

#include <algorithm>

namespace korvan {

namespace {

BandKind KindOf(const CatalogueItem& item) {
    switch (item.words) {
    case IndicatorWords::Input:
        return BandKind::Input;
    case IndicatorWords::State:
        return BandKind::State;
    default:
        return item.name.startsWith(QStringLiteral("RELAY")) ? BandKind::Relay : BandKind::Output;
    }
}

// A relay's caption is its group's and its own; the row keeps its own.
QString ShortCaption(const CatalogueItem& item, BandKind kind) {
    if (kind != BandKind::Relay) return item.caption;
    return QStringLiteral("Реле: ") + item.caption.section(QStringLiteral(": "), -1);
}

BandState FromTold(IndicatorState state) {
    switch (state) {
    case IndicatorState::Grey:
        return BandState::Grey;
    case IndicatorState::Rest:
        return BandState::Rest;
    case IndicatorState::Active:
        return BandState::Active;
    case IndicatorState::Fault:
        return BandState::Fault;
    }
    return BandState::Unknown;
}

// A state the unit told, as against grey and unknown: a step between two of them is a change.
bool Told(BandState state) {
    return state == BandState::Rest || state == BandState::Active || state == BandState::Fault;
}

} // namespace

std::int64_t EventMs(const JournalEvent& event) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(event.time.time_since_epoch())
        .count();
}

QString BandKindText(BandKind kind) {
    switch (kind) {
    case BandKind::Input:
        return QStringLiteral("входы");
    case BandKind::Output:
        return QStringLiteral("выходы");
    case BandKind::Relay:
        return QStringLiteral("реле");
    case BandKind::State:
        return QStringLiteral("состояние");
    case BandKind::Link:
        return QStringLiteral("связь");
    }
    return {};
}

QString BandStateText(const Band& band, BandState state) {
    if (state == BandState::Unknown) return QStringLiteral("нет данных");
    if (band.kind == BandKind::Link)
        return state == BandState::Rest ? QStringLiteral("связь есть")
                                        : QStringLiteral("связь потеряна");
    if (state == BandState::Grey) return QStringLiteral("серый: нет связи или блок не в работе");
    const Colour colour = state == BandState::Rest     ? kGreen
                          : state == BandState::Active ? kRed
                                                       : kYellow;
    return IndicatorColourWords(CatalogueItems()[static_cast<std::size_t>(band.item)].words,
                                colour);
}

std::size_t Band::EdgeAt(std::int64_t ms) const {
    const auto after = std::upper_bound(edges.begin(), edges.end(), ms,
                                        [](std::int64_t t, const BandEdge& e) { return t < e.ms; });
    if (after == edges.begin()) return edges.size();
    return static_cast<std::size_t>(after - edges.begin()) - 1;
}

BandState Band::StateAt(std::int64_t ms) const {
    const std::size_t at = EdgeAt(ms);
    return at < edges.size() ? edges[at].state : BandState::Unknown;
}

StateBands::StateBands() {
    const std::vector<CatalogueItem>& items = CatalogueItems();
    linkBand_ = 0;
    Band& link = bands_.emplace_back();
    link.unit = kNetworkUnit;
    link.kind = BandKind::Link;
    link.caption = link.fullCaption = QStringLiteral("Обмен");
    for (int unit = kNetworkUnit; unit < kUnitPanels; ++unit) {
        for (int index : UnitIndicators(unit)) {
            const CatalogueItem& item = items[static_cast<std::size_t>(index)];
            const BandKind kind = KindOf(item);
            unitBands_[static_cast<std::size_t>(unit + 1)].push_back(
                static_cast<int>(bands_.size()));
            Band& band = bands_.emplace_back();
            band.unit = unit;
            band.kind = kind;
            band.item = index;
            band.caption = ShortCaption(item, kind);
            band.fullCaption = item.caption;
        }
    }
}

void StateBands::Take(const EventLog& log) {
    if (log.FirstKept() > taken_) Forget(log.FirstKept());
    for (std::uint64_t s = std::max(taken_, log.FirstKept()); s < log.End(); ++s)
        Apply(log.At(s), s);
    taken_ = log.End();
    if (log.End() > log.FirstKept()) startMs_ = EventMs(log.At(log.FirstKept()));
}

void StateBands::Set(Band& band, BandState state, std::int64_t ms, std::uint64_t sequence) {
    const BandState was = band.edges.empty() ? BandState::Unknown : band.edges.back().state;
    if (was == state) return;
    if (Told(was) && Told(state)) ++band.changes;
    band.edges.push_back({ms, sequence, state});
}

void StateBands::Apply(const JournalEvent& event, std::uint64_t sequence) {
    const std::int64_t ms = EventMs(event);
    endMs_ = std::max(endMs_, ms);
    if (event.told != 0 && event.unit >= kNetworkUnit && event.unit < kUnitPanels) {
        const std::vector<int>& unitSlots = unitBands_[static_cast<std::size_t>(event.unit + 1)];
        seen_[static_cast<std::size_t>(event.unit + 1)] = true;
        for (std::size_t slot = 0; slot < unitSlots.size(); ++slot)
            if (event.told >> slot & 1u)
                Set(bands_[static_cast<std::size_t>(unitSlots[slot])],
                    FromTold(ToldState(event, static_cast<int>(slot))), ms, sequence);
    }
    // The journal marks a lost link, and only that, as an alarm of the network; a port that
    // fails is an alarm of the station. Both leave every indicator grey.
    const bool network = event.kind == EventKind::Link && event.unit == kNetworkUnit;
    const bool portFailed = event.unit == kStationUnit && event.alarm;
    if (network && !event.alarm) {
        seen_[0] = true;
        Set(bands_[static_cast<std::size_t>(linkBand_)], BandState::Rest, ms, sequence);
    } else if ((network && event.alarm) || portFailed) {
        for (Band& band : bands_) {
            if (band.kind == BandKind::Link)
                Set(band, BandState::Fault, ms, sequence);
            else if (!band.edges.empty())
                Set(band, BandState::Grey, ms, sequence);
        }
    }
}

void StateBands::Forget(std::uint64_t firstKept) {
    for (Band& band : bands_) {
        while (band.edges.size() > 1 && band.edges[1].sequence < firstKept) {
            if (Told(band.edges[0].state) && Told(band.edges[1].state)) --band.changes;
            band.edges.pop_front();
        }
    }
}

} // namespace korvan
