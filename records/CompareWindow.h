// "Сравнение с файлом": every difference between a settings file and the units as they are now,
// following the live values, and the writing of the ticked ones back into the units through the
// station's own write-back.
#pragma once

#include "SettingsDiff.h"
#include "WritePlan.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <tuple>

namespace korvan::records {

// What the window needs of the station; the main window hands it in.
struct StationAccess {
    std::function<bool()> linkUp;
    std::function<RegisterImage()> confirmed; // as last read and confirmed by the units
    std::function<RegisterImage()> wanted;    // as the window's controls want it now
    ThroughWindow throughWindow;
    // Hands the plan's registers to the write-back as a write job, and shows them.
    std::function<void(const WritePlan&)> choose;
    std::function<void()> stop; // withdraws what the job has not yet had confirmed
    // Changes whenever the link is lost or its session ends: the engine then drops the job.
    std::function<std::uint64_t()> linkBreaks;
    std::function<std::uint64_t()> exchangesEnd; // sequence of the next exchange
    // Registers whose writes went out, and were echoed, from the exchange `from` on.
    std::function<void(std::uint64_t from, std::set<int>& sent, std::set<int>& echoed)> writesSince;
    std::function<bool(const std::string&)> confirm; // OK/Cancel question
    std::function<void(const std::string&)> error;
    std::function<LinkFacts()> network; // the port, speed and slave address polled now
    // The event journal hears of a writing: what it writes, then how it ended.
    std::function<void(const std::string&)> writeStarted;
    std::function<void(const std::string&, bool complete)> writeEnded;
};

class CompareWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRefreshMs = 300;

    CompareWindow(SettingsRecord file, QString fileName, StationAccess station,
                  QWidget* parent = nullptr);

    // Looks at the units again: the list follows, and so does the progress of a writing.
    void Refresh();
    // "Записать в блоки": asks, then hands the ticked differences to the write-back.
    void WriteTicked();
    // "Остановить запись": what is not yet confirmed is withdrawn at once.
    void StopWriting();

    const Comparison& Current() const { return comparison_; }
    bool Writing() const { return writing_; }
    QTableWidget* Rows() const { return rows_; }
    QString StatusText() const { return status_->text(); }
    // Where the file's network is not this one, one line each; shown at the top.
    const std::vector<std::string>& Mismatch() const { return mismatch_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    using Key = std::tuple<int, int, int>; // register, mask, setting
    void Rebuild();
    void ShowMismatch();
    std::vector<bool> Ticked() const;
    void ShowProgress();

    SettingsRecord file_;
    QString fileName_;
    StationAccess station_;
    QLabel* header_;
    QLabel* network_; // the file's network against this one
    QLabel* absent_;
    QTableWidget* rows_;
    QPushButton* write_;
    QPushButton* stop_;
    QLabel* status_;
    QTimer refresh_;

    RegisterImage shown_{};
    bool haveShown_ = false;
    Comparison comparison_;
    std::vector<std::string> mismatch_;
    std::map<Key, bool> unticked_; // the operator's choices survive a refresh

    bool writing_ = false;
    WritePlan plan_;
    std::uint64_t writingFrom_ = 0;
    std::uint64_t breaksAtStart_ = 0;
    // Finishes the job's display: `why` heads the status line.
    void EndWriting(const QString& why, const WriteProgress& progress);
};

} // namespace korvan::records
