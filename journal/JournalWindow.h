// "Журнал событий": the event journal's view. A filter by unit and by kind and a text search
// above, one row per event below, newest at the bottom, following the end unless the operator
// scrolled up. While shown it takes the new events a few times a second; hidden, it does nothing.
#pragma once

#include "EventLog.h"
#include "JournalModel.h"
#include "LogWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <array>
#include <optional>

namespace korvan {

class JournalWindow : public LogWindow {
    Q_OBJECT
  public:
    explicit JournalWindow(const EventLog& log, QWidget* parent = nullptr);

    void Refresh() override; // takes what the log gained (the refresh timer does this)

    JournalModel& Model() { return model_; }

    // Selects the event `sequence` of the log and shows its row, clearing a filter that hides
    // it; false when the log no longer keeps it.
    bool SelectSequence(std::uint64_t sequence);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    bool WriteCsv(std::ostream& out) const override; // the rows the filter shows
    void ShowSelected();
    QString RowsText(std::vector<int> rows) const override;
    void ApplyFilter();
    void ShowDropped();

    const EventLog& log_;
    JournalModel model_;
    QComboBox* unit_;
    std::array<QCheckBox*, kEventKindCount> kinds_;
    QLineEdit* search_;
    QPushButton* save_;
    QLabel* dropped_;
    QTimer searchPause_;                  // the search is applied once the operator stops typing
    std::optional<std::uint64_t> toShow_; // selected while hidden: scrolled to once shown
};

} // namespace korvan
