#include "TrafficModel.h"

#include "ExchangeText.h"
#include "TrafficLog.h"

#include <QColor>

#include <algorithm>

namespace korvan {

TrafficModel::TrafficModel(int rowCap, QObject* parent)
    : QAbstractTableModel(parent), rowCap_(std::max(rowCap, 1)) {}

int TrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TrafficModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kExchangeColumnCount;
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const ExchangeRecord& record = Row(index.row());
    const auto column = static_cast<ExchangeColumn>(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(ColumnText(record, column));
    case Qt::ToolTipRole:
        // The whole reply, when the cell cuts it.
        if (column == ExchangeColumn::Reply && record.receivedCount > kShownReplyBytes)
            return QString::fromStdString(ColumnText(record, column, ExchangeRecord::kKeptBytes));
        return {};
    case Qt::BackgroundRole:
        if (IsFailure(record.verdict)) return QColor(0xFF, 0xE0, 0xE0);
        if (record.verdict == ExchangeVerdict::Exception) return QColor(0xFF, 0xF4, 0xC0);
        return {};
    case Qt::TextAlignmentRole:
        if (column == ExchangeColumn::Latency)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kExchangeColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(kExchangeColumnTitles[section]);
}

int TrafficModel::Append(const std::vector<ExchangeRecord>& records) {
    if (records.empty()) return 0;
    const std::size_t cap = static_cast<std::size_t>(rowCap_);
    const std::size_t incoming = std::min(records.size(), cap);
    const std::size_t overflow = rows_.size() + incoming > cap ? rows_.size() + incoming - cap : 0;
    if (overflow > 0) {
        beginRemoveRows({}, 0, static_cast<int>(overflow) - 1);
        rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(overflow));
        endRemoveRows();
    }
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(incoming) - 1);
    rows_.insert(rows_.end(), records.end() - static_cast<std::ptrdiff_t>(incoming), records.end());
    endInsertRows();
    return static_cast<int>(overflow);
}

void TrafficModel::Clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

QString TrafficModel::RowsText(std::vector<int> rows) const {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QString text;
    for (const int row : rows) {
        if (row < 0 || row >= rowCount()) continue;
        for (int column = 0; column < kExchangeColumnCount; ++column) {
            if (column > 0) text += QLatin1Char('\t');
            text += QString::fromStdString(ColumnText(Row(row), static_cast<ExchangeColumn>(column),
                                                      ExchangeRecord::kKeptBytes));
        }
        text += QLatin1Char('\n');
    }
    return text;
}

} // namespace korvan
