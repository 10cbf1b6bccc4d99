#include "EventLog.h"

#include "Catalogue.h"

#include <QDateTime>

#include <algorithm>

namespace korvan {

EventLog::EventLog(int capacity) : capacity_(std::max(capacity, 1)) {}

void EventLog::Add(JournalEvent event) {
    const auto slot = static_cast<std::size_t>(end_ % static_cast<std::uint64_t>(capacity_));
    if (ring_.size() < static_cast<std::size_t>(capacity_))
        ring_.push_back(std::move(event));
    else
        ring_[slot] = std::move(event);
    ++end_;
    if (end_ - first_ > static_cast<std::uint64_t>(capacity_)) ++first_;
}

const JournalEvent& EventLog::At(std::uint64_t sequence) const {
    return ring_[static_cast<std::size_t>(sequence % static_cast<std::uint64_t>(capacity_))];
}

QString UnitText(int unit) {
    if (unit == kStationUnit) return QStringLiteral("Станция");
    return CatalogueUnitName(unit);
}

QString KindText(EventKind kind) {
    switch (kind) {
    case EventKind::State:
        return QStringLiteral("состояния");
    case EventKind::Setting:
        return QStringLiteral("настройки");
    case EventKind::Operator:
        return QStringLiteral("действия оператора");
    case EventKind::Link:
        return QStringLiteral("связь");
    }
    return {};
}

QString SourceText(EventSource source) {
    switch (source) {
    case EventSource::Unit:
        return QStringLiteral("блок");
    case EventSource::Operator:
        return QStringLiteral("оператор");
    case EventSource::Station:
        return QStringLiteral("станция");
    }
    return {};
}

QString TimeText(std::chrono::system_clock::time_point time) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(ms.count())
        .toString(QStringLiteral("dd.MM.yyyy hh:mm:ss.zzz"));
}

} // namespace korvan
