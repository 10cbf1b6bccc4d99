// The window "Поиск блоков на линии": the speeds and addresses to try, "Начать" and "Остановить",
// the progress with the speed and address being tried and the time left, and the table of what
// answered, filled as it answers. From a row the operator connects the station to that unit. The
// window borrows the line at its first scan and gives it back when it closes, with the unit to
// connect to or without one.
#pragma once

#include "BusScan.h"

#include <QDialog>

#include <functional>
#include <ostream>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace korvan::scan {

// What the window asks of the station.
struct ScanHost {
    // Polling stops and the port is the scan's; called before the first scan of the window.
    std::function<void()> borrowLine;
    // The window closes: polling resumes, at `find`'s speed and address when there is one, else
    // at the old ones. Called once, and only when the line was borrowed.
    std::function<void(const ScanFind* find)> giveBack;
    // A scan ended with these finds (for the journal).
    std::function<void(const std::vector<ScanFind>& finds, ScanEnd end)> scanned;
};

class ScanWindow : public QDialog, private ScanListener {
    Q_OBJECT
  public:
    ScanWindow(ScanLine& line, ScanHost host, QWidget* parent);
    ~ScanWindow() override;

    BusScan& Scan() { return scan_; }

    // Asks for the file "Сохранить…" writes to; empty means cancelled. Tests answer it.
    using SavePathChooser = std::function<QString(QWidget* parent)>;
    void SetSavePathChooser(SavePathChooser chooser) { chooser_ = std::move(chooser); }
    bool SaveTo(const QString& path) const;

    void StartScan();
    void StopScan();
    // Connects the station to the selected row's unit and closes the window.
    void ConnectSelected();

  protected:
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Probing(int baud, int address) override;
    void Found(const ScanFind& find) override;
    void Finished(ScanEnd end, const std::string& failure) override;

    void ShowRunning(bool running);
    void CopySelectedRows() const;
    bool WriteCsv(std::ostream& out) const;
    void Save();

    BusScan scan_;
    ScanHost host_;
    bool borrowed_ = false;
    bool givenBack_ = false;
    int connectRow_ = -1; // the row the window closes connecting to
    SavePathChooser chooser_;

    std::vector<std::pair<int, QCheckBox*>> speeds_;
    QSpinBox* first_;
    QSpinBox* last_;
    QCheckBox* untilFirst_;
    QPushButton* start_;
    QPushButton* stop_;
    QProgressBar* progress_;
    QLabel* now_;
    QTableWidget* rows_;
    QLabel* summary_;
    QPushButton* connect_;
    QPushButton* save_;
};

} // namespace korvan::scan
