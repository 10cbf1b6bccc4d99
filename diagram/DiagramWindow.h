// "Диаграмма состояний": the run as a logic analyser shows it, one band per signal of the units
// the journal saw, grouped by unit. Filters by unit and kind and "только изменявшиеся" above;
// the markers' times and their interval and the note on the poll period below. "Сохранить…"
// (Ctrl+S) writes what is shown as PNG, SVG or PDF by the name's extension. While shown it
// takes the journal's new events a few times a second; hidden, it does nothing.
#pragma once

#include "DiagramCanvas.h"
#include "StateBands.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>

namespace korvan {

class DiagramWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRefreshMs = 250;

    explicit DiagramWindow(const EventLog& log, QWidget* parent = nullptr);

    void SetPollPeriod(int ms);
    // Takes what the log gained and moves to the present (the refresh timer does this).
    void Refresh();
    // What is shown, by the extension: .png, .svg or .pdf. False when it was not written.
    bool SaveTo(const QString& path) const;

    // Asks for the file "Сохранить…" writes to; empty means cancelled. Tests answer it.
    using SavePathChooser = std::function<QString(QWidget* parent)>;
    void SetSavePathChooser(SavePathChooser chooser) { chooser_ = std::move(chooser); }

    DiagramCanvas* Canvas() const { return canvas_; }
    const StateBands& Bands() const { return bands_; }

  signals:
    void EdgeClicked(std::uint64_t sequence); // the station selects it in the journal
    void SaveFailed(const QString& path);

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void ApplyFilter();
    void ShowMarkers();
    void Save();

    const EventLog& log_;
    StateBands bands_;
    DiagramCanvas* canvas_;
    QScrollBar* scroll_;
    QComboBox* unit_;
    std::array<QCheckBox*, kBandKindCount> kinds_{};
    QCheckBox* changedOnly_;
    QLabel* markers_;
    QLabel* note_;
    QTimer refresh_;
    std::uint64_t shownFor_ = ~std::uint64_t{0}; // the log's end the filter last looked at
    SavePathChooser chooser_;
};

} // namespace korvan
