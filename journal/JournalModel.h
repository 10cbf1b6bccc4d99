// The rows of the journal view: the events of the log that pass the operator's filter, newest at
// the bottom. The model keeps only their sequence numbers; texts are made for the cells the view
// asks for. It takes what the log gained when told to, so a hidden view costs nothing.
#pragma once

#include "EventLog.h"

#include <QAbstractTableModel>

#include <array>
#include <deque>
#include <ostream>
#include <vector>

namespace korvan {

constexpr int kAnyUnit = -3; // the unit filter lets every unit through

// A filter by one unit (0..9) keeps the network's rows too: the link lost and back, the commands
// to all units, writes from a file, all of which are part of that unit's story.

struct JournalFilter {
    int unit = kAnyUnit;
    std::array<bool, kEventKindCount> kinds{true, true, true, true}; // by EventKind
    QString search; // found in any column, whatever the case

    bool Accepts(const JournalEvent& event) const;
};

class JournalModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { Time, Unit, Event, Source, ColumnCount };

    explicit JournalModel(const EventLog& log, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Shows the log again through another filter.
    void SetFilter(JournalFilter filter);
    const JournalFilter& Filter() const { return filter_; }

    // Takes the events the log gained and lets go of those it dropped; returns how many rows
    // went from the top.
    int Take();

    const JournalEvent& RowEvent(int row) const;
    // The row of the event `sequence` in the log, or -1 when the filter hides it or it is gone.
    int RowOf(std::uint64_t sequence) const;
    static QString CellText(const JournalEvent& event, int column);

    // Whole rows as text, a tab between cells: for the clipboard.
    QString RowsText(std::vector<int> rows) const;
    // Every row shown, as the journal's CSV (JournalCsv.h); false when the stream failed.
    bool WriteCsv(std::ostream& out) const;

  private:
    const EventLog& log_;
    JournalFilter filter_;
    std::deque<std::uint64_t> rows_; // sequence numbers in the log
    std::uint64_t taken_;
};

} // namespace korvan
