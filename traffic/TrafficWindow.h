// "Обмен — журнал": the traffic view. Counters above, one row per exchange below, newest at the
// bottom. While shown it takes the new exchanges from the record a few times a second, in one
// batch; while hidden it does nothing at all.
#pragma once

#include "LogWindow.h"
#include "TrafficLog.h"
#include "TrafficModel.h"

#include <QLabel>
#include <QPushButton>

namespace korvan {

class TrafficWindow : public LogWindow {
    Q_OBJECT
  public:
    explicit TrafficWindow(TrafficLog& log, QWidget* parent = nullptr);

    // Takes what the record gained since the last time, in one batch; nothing while paused.
    void Refresh() override;
    bool Paused() const;

    TrafficModel& Model() { return model_; }

  private:
    bool WriteCsv(std::ostream& out) const override; // the whole record
    QString RowsText(std::vector<int> rows) const override;
    void Reset();
    void ShowCounters();

    TrafficLog& log_;
    TrafficModel model_;
    QLabel* counters_;
    QPushButton* pause_;
    QPushButton* reset_;
    QPushButton* save_;
    std::uint64_t taken_; // sequence number of the next exchange to take from the record
};

} // namespace korvan
