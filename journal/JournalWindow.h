// "Журнал событий": the event journal's view. A filter by unit and by kind and a text search
// above, one row per event below, newest at the bottom, following the end unless the operator
// scrolled up. While shown it takes the new events a few times a second; hidden, it does nothing.
#pragma once

#include "EventLog.h"
#include "JournalModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>

namespace korvan {

class JournalWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRefreshMs = 200;

    explicit JournalWindow(const EventLog& log, QWidget* parent = nullptr);

    // Asks for the file "Сохранить…" writes to; empty means cancelled. Tests answer it.
    using SavePathChooser = std::function<QString(QWidget* parent)>;
    void SetSavePathChooser(SavePathChooser chooser) { chooser_ = std::move(chooser); }

    void Refresh(); // takes what the log gained (the refresh timer does this)
    bool Following() const { return following_; }
    bool SaveTo(const QString& path) const; // the rows the filter shows, as CSV
    void CopySelectedRows() const;

    JournalModel& Model() { return model_; }
    QTableView* Rows() const { return rows_; }

  signals:
    void SaveFailed(const QString& path); // the station tells the operator in its own way

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void ApplyFilter();
    void Save();
    void ShowDropped();

    const EventLog& log_;
    JournalModel model_;
    QComboBox* unit_;
    std::array<QCheckBox*, kEventKindCount> kinds_;
    QLineEdit* search_;
    QPushButton* save_;
    QLabel* dropped_;
    QTableView* rows_;
    QTimer refresh_;
    QTimer searchPause_; // the search is applied once the operator stops typing
    bool following_ = true;
    SavePathChooser chooser_;
};

} // namespace korvan
