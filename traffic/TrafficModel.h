// The rows of the traffic view: its own copy of the exchanges shown, so that a paused view stays
// as it is while the record goes on. At most a fixed number of rows; the oldest go first. Texts
// are made only for the cells the view asks for.
#pragma once

#include "ExchangeRecord.h"

#include <QAbstractTableModel>

#include <deque>
#include <vector>

namespace korvan {

class TrafficModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit TrafficModel(int rowCap, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Adds rows at the end, dropping the oldest beyond the cap; returns how many were dropped.
    int Append(const std::vector<ExchangeRecord>& records);
    void Clear();

    int RowCap() const { return rowCap_; }
    const ExchangeRecord& Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }

    // Whole rows as text, a tab between cells: for the clipboard.
    QString RowsText(std::vector<int> rows) const;

  private:
    int rowCap_;
    std::deque<ExchangeRecord> rows_;
};

} // namespace korvan
