// What the traffic view and the event journal share: a window of rows over a log that grows at
// the bottom. While shown it takes what the log gained a few times a second; hidden, it does
// nothing. It follows the end unless the operator scrolled up, copies the selected rows as text
// and saves its rows as CSV to a file the operator picks.
#pragma once

#include <QAbstractItemModel>
#include <QString>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <ostream>
#include <span>
#include <vector>

namespace korvan {

// Where the station's file dialogs open: the folder of the file last picked in this run, else the
// home folder. Kept in memory only, like everything of the station.
QString DialogFolder();
void RememberFolder(const QString& path);

class LogWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRefreshMs = 200;

    // Asks for the file "Сохранить…" writes to; empty means cancelled. Tests answer it.
    using SavePathChooser = std::function<QString(QWidget* parent)>;
    void SetSavePathChooser(SavePathChooser chooser) { chooser_ = std::move(chooser); }

    // Takes what the log gained since the last time (the refresh timer does this).
    virtual void Refresh() = 0;
    bool Following() const { return following_; }
    bool SaveTo(const QString& path) const; // false when the file could not be written
    void CopySelectedRows() const;

    QTableView* Rows() const { return rows_; }

  signals:
    void SaveFailed(const QString& path); // the station tells the operator in its own way

  protected:
    // The save dialog offers saveTitle and saveFileName.
    LogWindow(QWidget* parent, const QString& saveTitle, const QString& saveFileName);

    // Makes the table of rows over model, one row per line at fixed heights, with a copy action.
    // The views call it where the table's place in the focus order is.
    QTableView* MakeRows(QAbstractItemModel* model, std::span<const int> columnWidths);

    // Where the operator looks, taken before the model changes and kept after: the end when
    // following, else the same rows when `dropped` older ones fell off above them.
    struct ScrollPlace {
        bool follow;
        int top;
    };
    ScrollPlace Place() const;
    void KeepPlace(ScrollPlace place, int dropped);
    void StartFollowing() { following_ = true; }

    // Asks for a file and saves to it; a failure is reported through SaveFailed.
    void Save();

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    virtual bool WriteCsv(std::ostream& out) const = 0;
    virtual QString RowsText(std::vector<int> rows) const = 0;

    QTableView* rows_ = nullptr;
    QTimer refresh_;
    bool following_ = true;
    SavePathChooser chooser_;
};

} // namespace korvan
