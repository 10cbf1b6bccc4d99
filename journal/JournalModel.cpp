#include "JournalModel.h"

#include "Catalogue.h"
#include "JournalCsv.h"

#include <QBrush>
#include <QColor>

#include <algorithm>

namespace korvan {

namespace {

const char* const kTitles[JournalModel::ColumnCount] = {"Время", "Блок", "Событие", "Источник"};

} // namespace

bool JournalFilter::Accepts(const JournalEvent& event) const {
    const bool network = event.unit == kNetworkUnit && unit >= 0;
    if (unit != kAnyUnit && event.unit != unit && !network) return false;
    if (!kinds[static_cast<std::size_t>(event.kind)]) return false;
    if (search.isEmpty()) return true;
    for (int column = 0; column < JournalModel::ColumnCount; ++column)
        if (JournalModel::CellText(event, column).contains(search, Qt::CaseInsensitive))
            return true;
    return false;
}

JournalModel::JournalModel(const EventLog& log, QObject* parent)
    : QAbstractTableModel(parent), log_(log), taken_(log.FirstKept()) {}

int JournalModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int JournalModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const JournalEvent& JournalModel::RowEvent(int row) const {
    return log_.At(rows_[static_cast<std::size_t>(row)]);
}

int JournalModel::RowOf(std::uint64_t sequence) const {
    const auto at = std::lower_bound(rows_.begin(), rows_.end(), sequence);
    if (at == rows_.end() || *at != sequence) return -1;
    return static_cast<int>(at - rows_.begin());
}

QString JournalModel::CellText(const JournalEvent& event, int column) {
    switch (column) {
    case Time:
        return TimeText(event.time);
    case Unit:
        return UnitText(event.unit);
    case Event:
        return event.text;
    case Source:
        return SourceText(event.source);
    }
    return {};
}

QVariant JournalModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    // A row the log dropped since the last Take is gone; the next Take removes it.
    if (rows_[static_cast<std::size_t>(index.row())] < log_.FirstKept()) return {};
    const JournalEvent& event = RowEvent(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return CellText(event, index.column());
    case Qt::BackgroundRole:
        if (event.alarm) return QBrush(QColor(255, 214, 214));
        return {};
    case Qt::ForegroundRole:
        if (event.alarm) return QBrush(QColor(160, 0, 0));
        return {};
    default:
        return {};
    }
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section < 0 || section >= ColumnCount) return {};
    return QString::fromUtf8(kTitles[section]);
}

void JournalModel::SetFilter(JournalFilter filter) {
    beginResetModel();
    filter_ = std::move(filter);
    rows_.clear();
    for (std::uint64_t s = log_.FirstKept(); s < log_.End(); ++s)
        if (filter_.Accepts(log_.At(s))) rows_.push_back(s);
    taken_ = log_.End();
    endResetModel();
}

int JournalModel::Take() {
    std::size_t gone = 0;
    while (gone < rows_.size() && rows_[gone] < log_.FirstKept())
        ++gone;
    if (gone > 0) {
        beginRemoveRows({}, 0, static_cast<int>(gone) - 1);
        rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(gone));
        endRemoveRows();
    }
    std::vector<std::uint64_t> fresh;
    for (std::uint64_t s = std::max(taken_, log_.FirstKept()); s < log_.End(); ++s)
        if (filter_.Accepts(log_.At(s))) fresh.push_back(s);
    taken_ = log_.End();
    if (!fresh.empty()) {
        const int first = rowCount();
        beginInsertRows({}, first, first + static_cast<int>(fresh.size()) - 1);
        rows_.insert(rows_.end(), fresh.begin(), fresh.end());
        endInsertRows();
    }
    return static_cast<int>(gone);
}

QString JournalModel::RowsText(std::vector<int> rows) const {
    std::sort(rows.begin(), rows.end());
    QString text;
    for (int row : rows) {
        if (row < 0 || row >= rowCount()) continue;
        const JournalEvent& event = RowEvent(row);
        for (int column = 0; column < ColumnCount; ++column) {
            if (column > 0) text += u'\t';
            text += CellText(event, column);
        }
        text += u'\n';
    }
    return text;
}

bool JournalModel::WriteCsv(std::ostream& out) const {
    out << JournalCsvTitleRow();
    for (std::uint64_t s : rows_) {
        if (s < log_.FirstKept() || !out) continue;
        out << JournalCsvRow(log_.At(s));
    }
    out.flush();
    return static_cast<bool>(out);
}

} // namespace korvan
