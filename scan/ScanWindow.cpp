#include "ScanWindow.h"

#include "ExchangeText.h"
#include "TrafficCsv.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <fstream>

namespace korvan::scan {

namespace {

constexpr const char* kTitles[] = {"Адрес", "Скорость", "Что ответило", "Найдено"};
constexpr int kColumns = 4;

QString Minutes(Micros time) {
    const long long seconds = (time.count() + 999'999) / 1'000'000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString LocalTime(std::chrono::system_clock::time_point at) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(ms.count()).toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

ScanWindow::ScanWindow(ScanLine& line, ScanHost host, QWidget* parent)
    : QDialog(parent), scan_(line, *this), host_(std::move(host)) {
    setObjectName(QStringLiteral("BUS_SCAN"));
    setWindowTitle(QStringLiteral("Поиск блоков на линии"));
    // One master on the line: the main window waits while the scan has the port.
    setModal(true);

    auto* speeds = new QGroupBox(QStringLiteral("Скорость"));
    auto* speedRow = new QHBoxLayout(speeds);
    for (int baud : kScanSpeeds) {
        auto* box = new QCheckBox(QString::number(baud));
        box->setObjectName(QStringLiteral("SPEED_%1").arg(baud));
        box->setChecked(true);
        speedRow->addWidget(box);
        speeds_.emplace_back(baud, box);
    }

    first_ = new QSpinBox;
    last_ = new QSpinBox;
    first_->setObjectName(QStringLiteral("FIRST_ADDRESS"));
    last_->setObjectName(QStringLiteral("LAST_ADDRESS"));
    for (QSpinBox* box : {first_, last_})
        box->setRange(kLowestAddress, kHighestAddress);
    first_->setValue(kLowestAddress);
    last_->setValue(kHighestAddress);
    untilFirst_ = new QCheckBox(QStringLiteral("Только до первого найденного"));
    untilFirst_->setObjectName(QStringLiteral("UNTIL_FIRST"));
    untilFirst_->setChecked(true);
    auto* addresses = new QHBoxLayout;
    addresses->addWidget(new QLabel(QStringLiteral("Адреса с")));
    addresses->addWidget(first_);
    addresses->addWidget(new QLabel(QStringLiteral("по")));
    addresses->addWidget(last_);
    addresses->addSpacing(16);
    addresses->addWidget(untilFirst_);
    addresses->addStretch();

    start_ = new QPushButton(QStringLiteral("Начать"));
    stop_ = new QPushButton(QStringLiteral("Остановить"));
    start_->setObjectName(QStringLiteral("START"));
    stop_->setObjectName(QStringLiteral("STOP"));
    start_->setDefault(true);
    addresses->addWidget(start_);
    addresses->addWidget(stop_);

    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("PROGRESS"));
    progress_->setValue(0);
    now_ = new QLabel(QStringLiteral("Поиск не начат"));
    now_->setObjectName(QStringLiteral("NOW"));

    rows_ = new QTableWidget(0, kColumns);
    rows_->setObjectName(QStringLiteral("RESULTS"));
    QStringList titles;
    for (const char* title : kTitles)
        titles << QString::fromUtf8(title);
    rows_->setHorizontalHeaderLabels(titles);
    rows_->setSelectionBehavior(QAbstractItemView::SelectRows);
    rows_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    rows_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    rows_->verticalHeader()->hide();
    rows_->setColumnWidth(0, 60);
    rows_->setColumnWidth(1, 80);
    rows_->setColumnWidth(2, 380);
    rows_->horizontalHeader()->setStretchLastSection(true);
    rows_->installEventFilter(this); // Return connects
    auto* copy = new QAction(QStringLiteral("Копировать"), rows_);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    rows_->addAction(copy);
    rows_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copy, &QAction::triggered, this, &ScanWindow::CopySelectedRows);
    connect(rows_, &QTableWidget::cellDoubleClicked, this, [this] { ConnectSelected(); });

    summary_ = new QLabel;
    summary_->setObjectName(QStringLiteral("SUMMARY"));
    connect_ = new QPushButton(QStringLiteral("Подключиться"));
    save_ = new QPushButton(QStringLiteral("Сохранить…"));
    auto* close = new QPushButton(QStringLiteral("Закрыть"));
    connect_->setObjectName(QStringLiteral("CONNECT"));
    save_->setObjectName(QStringLiteral("SAVE"));
    for (QPushButton* button : {stop_, connect_, save_, close})
        button->setAutoDefault(false);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(summary_, 1);
    bottom->addWidget(connect_);
    bottom->addWidget(save_);
    bottom->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(speeds);
    layout->addLayout(addresses);
    layout->addWidget(progress_);
    layout->addWidget(now_);
    layout->addWidget(rows_, 1);
    layout->addLayout(bottom);
    resize(720, 480);

    connect(start_, &QPushButton::clicked, this, &ScanWindow::StartScan);
    connect(stop_, &QPushButton::clicked, this, &ScanWindow::StopScan);
    connect(connect_, &QPushButton::clicked, this, &ScanWindow::ConnectSelected);
    connect(save_, &QPushButton::clicked, this, &ScanWindow::Save);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    chooser_ = [](QWidget* parent) {
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Сохранить найденные блоки"),
                                            QStringLiteral("блоки на линии.csv"),
                                            QStringLiteral("CSV (*.csv)"));
    };
    ShowRunning(false);
}

ScanWindow::~ScanWindow() {
    // Closed without done() (the station ends): the port still goes back.
    if (scan_.Running()) scan_.Stop();
    if (borrowed_ && !givenBack_) host_.giveBack(nullptr);
}

void ScanWindow::StartScan() {
    if (scan_.Running()) return;
    ScanPlan plan;
    for (const auto& [baud, box] : speeds_)
        if (box->isChecked()) plan.speeds.push_back(baud);
    plan.firstAddress = first_->value();
    plan.lastAddress = last_->value();
    plan.stopAtFirstUnit = untilFirst_->isChecked();
    if (plan.speeds.empty() || plan.firstAddress > plan.lastAddress) {
        now_->setText(QStringLiteral("Нечего искать: отметьте скорость и задайте адреса"));
        return;
    }
    if (!borrowed_) {
        host_.borrowLine();
        borrowed_ = true;
    }
    rows_->setRowCount(0);
    summary_->clear();
    progress_->setRange(0, static_cast<int>(plan.speeds.size()) *
                               (plan.lastAddress - plan.firstAddress + 1));
    progress_->setValue(0);
    ShowRunning(true);
    scan_.Start(plan);
}

void ScanWindow::StopScan() {
    scan_.Stop();
}

void ScanWindow::ShowRunning(bool running) {
    start_->setEnabled(!running);
    stop_->setEnabled(running);
    for (const auto& [baud, box] : speeds_)
        box->setEnabled(!running);
    first_->setEnabled(!running);
    last_->setEnabled(!running);
    untilFirst_->setEnabled(!running);
    connect_->setEnabled(!running && rows_->rowCount() > 0);
    save_->setEnabled(!running && rows_->rowCount() > 0);
}

void ScanWindow::Probing(int baud, int address) {
    progress_->setValue(scan_.ProbesDone());
    now_->setText(QStringLiteral("Скорость %1, адрес %2 — осталось %3")
                      .arg(baud)
                      .arg(address)
                      .arg(Minutes(scan_.TimeLeft())));
}

void ScanWindow::Found(const ScanFind& find) {
    const int row = rows_->rowCount();
    rows_->insertRow(row);
    const QString cells[kColumns] = {QString::number(find.address), QString::number(find.baud),
                                     QString::fromStdString(ProbeText(find.verdict)),
                                     LocalTime(find.at)};
    for (int column = 0; column < kColumns; ++column)
        rows_->setItem(row, column, new QTableWidgetItem(cells[column]));
}

void ScanWindow::Finished(ScanEnd end, const std::string& failure) {
    progress_->setValue(end == ScanEnd::Stopped || end == ScanEnd::PortFailed
                            ? scan_.ProbesDone()
                            : progress_->maximum());
    switch (end) {
    case ScanEnd::Swept:
        now_->setText(QStringLiteral("Поиск закончен"));
        break;
    case ScanEnd::UnitFound:
        now_->setText(QStringLiteral("Поиск закончен: найден ЗОКТ-01"));
        break;
    case ScanEnd::Stopped:
        now_->setText(QStringLiteral("Поиск остановлен"));
        break;
    case ScanEnd::PortFailed:
        now_->setText(QStringLiteral("Поиск прерван: ошибка порта (%1)")
                          .arg(QString::fromStdString(failure)));
        break;
    }
    summary_->setText(QStringLiteral("Найдено: %1; опрошено адресов: %2; помех на линии: %3")
                          .arg(scan_.Finds().size())
                          .arg(scan_.ProbesDone())
                          .arg(scan_.LineFaults()));
    ShowRunning(false);
    // The keyboard goes to the results: Return connects to the first unit found.
    if (rows_->rowCount() > 0) {
        rows_->setFocus();
        rows_->selectRow(0);
        connect_->setDefault(true);
    } else {
        start_->setDefault(true);
    }
    if (host_.scanned) host_.scanned(scan_.Finds(), end);
}

void ScanWindow::ConnectSelected() {
    if (scan_.Running()) return;
    const QModelIndexList selected = rows_->selectionModel()->selectedRows();
    const int row = selected.isEmpty() ? rows_->currentRow() : selected.first().row();
    if (row < 0 || row >= static_cast<int>(scan_.Finds().size())) return;
    connectRow_ = row;
    accept();
}

void ScanWindow::done(int result) {
    scan_.Stop();
    if (borrowed_ && !givenBack_) {
        givenBack_ = true;
        host_.giveBack(connectRow_ >= 0 ? &scan_.Finds()[connectRow_] : nullptr);
    }
    QDialog::done(result);
}

bool ScanWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == rows_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && rows_->rowCount() > 0) {
            ConnectSelected();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ScanWindow::CopySelectedRows() const {
    QString text;
    for (int row = 0; row < rows_->rowCount(); ++row) {
        if (!rows_->selectionModel()->isRowSelected(row, {})) continue;
        for (int column = 0; column < kColumns; ++column)
            text += (column ? QStringLiteral("\t") : QString()) + rows_->item(row, column)->text();
        text += u'\n';
    }
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

bool ScanWindow::WriteCsv(std::ostream& out) const {
    for (int column = 0; column < kColumns; ++column)
        out << (column ? "," : "") << CsvField(kTitles[column]);
    out << "\r\n";
    for (const ScanFind& find : scan_.Finds())
        out << find.address << ',' << find.baud << ',' << CsvField(ProbeText(find.verdict)) << ','
            << CsvField(IsoTimeText(find.at)) << "\r\n";
    out.flush();
    return static_cast<bool>(out);
}

bool ScanWindow::SaveTo(const QString& path) const {
    std::ofstream out(QFile::encodeName(path).toStdString(), std::ios::binary | std::ios::trunc);
    return out && WriteCsv(out);
}

void ScanWindow::Save() {
    const QString path = chooser_ ? chooser_(this) : QString();
    if (path.isEmpty()) return;
    if (!SaveTo(path)) summary_->setText(QStringLiteral("Не удалось сохранить %1").arg(path));
}

} // namespace korvan::scan
