// "Обмен — журнал": the traffic view. Counters above, one row per exchange below, newest at the
// bottom. While shown it takes the new exchanges from the record a few times a second, in one
// batch; while hidden it does nothing at all.
#pragma once

#include "TrafficLog.h"
#include "TrafficModel.h"

#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace korvan {

class TrafficWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRefreshMs = 200;

    explicit TrafficWindow(TrafficLog& log, QWidget* parent = nullptr);

    // Asks for the file "Сохранить…" writes to; empty means cancelled. Tests answer it.
    using SavePathChooser = std::function<QString(QWidget* parent)>;
    void SetSavePathChooser(SavePathChooser chooser) { chooser_ = std::move(chooser); }

    // Takes what the record gained since the last time (the refresh timer does this).
    void Refresh();
    bool Paused() const;
    bool Following() const { return following_; }
    bool SaveTo(const QString& path) const; // the whole record as CSV
    void CopySelectedRows() const;

    TrafficModel& Model() { return model_; }
    QTableView* Rows() const { return rows_; }

  signals:
    void SaveFailed(const QString& path); // the station tells the operator in its own way

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void Reset();
    void Save();
    void ShowCounters();

    TrafficLog& log_;
    TrafficModel model_;
    QLabel* counters_;
    QPushButton* pause_;
    QPushButton* reset_;
    QPushButton* save_;
    QTableView* rows_;
    QTimer refresh_;
    std::uint64_t taken_; // sequence number of the next exchange to take from the record
    bool following_ = true;
    SavePathChooser chooser_;
};

} // namespace korvan
