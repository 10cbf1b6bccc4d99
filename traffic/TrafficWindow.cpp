#include "TrafficWindow.h"

#include "ExchangeText.h"
#include "TrafficCsv.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include <algorithm>

namespace korvan {

namespace {

constexpr int kColumnWidths[kExchangeColumnCount] = {90, 170, 520, 90, 150, 110};

} // namespace

TrafficWindow::TrafficWindow(TrafficLog& log, QWidget* parent)
    : LogWindow(parent, QStringLiteral("Сохранить журнал обмена"), QStringLiteral("обмен.csv")),
      log_(log), model_(log.Capacity(), this), counters_(new QLabel(this)),
      pause_(new QPushButton(QStringLiteral("Пауза"), this)),
      reset_(new QPushButton(QStringLiteral("Сбросить"), this)),
      save_(new QPushButton(QStringLiteral("Сохранить…"), this)), taken_(log.FirstKept()) {
    QTableView* rows = MakeRows(&model_, kColumnWidths);
    rows->horizontalHeader()->setStretchLastSection(true);
    setObjectName(QStringLiteral("TRAFFIC"));
    setWindowTitle(QStringLiteral("Обмен — журнал"));
    counters_->setObjectName(QStringLiteral("COUNTERS"));
    counters_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pause_->setObjectName(QStringLiteral("PAUSE"));
    pause_->setCheckable(true);
    reset_->setObjectName(QStringLiteral("RESET"));
    save_->setObjectName(QStringLiteral("SAVE"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(pause_);
    buttons->addWidget(reset_);
    buttons->addWidget(save_);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(counters_);
    layout->addLayout(buttons);
    layout->addWidget(rows);

    connect(pause_, &QPushButton::toggled, this, [this](bool paused) {
        pause_->setText(paused ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
        if (!paused) Refresh();
    });
    connect(reset_, &QPushButton::clicked, this, &TrafficWindow::Reset);
    connect(save_, &QPushButton::clicked, this, &TrafficWindow::Save);
    resize(1240, 560);
    ShowCounters();
}

bool TrafficWindow::Paused() const {
    return pause_->isChecked();
}

void TrafficWindow::Refresh() {
    if (Paused()) return;
    // What dropped out of the record while the view was hidden or paused is gone for the view too.
    const std::uint64_t from = std::max(taken_, log_.FirstKept());
    std::vector<ExchangeRecord> batch;
    batch.reserve(static_cast<std::size_t>(log_.End() - from));
    for (std::uint64_t s = from; s < log_.End(); ++s)
        batch.push_back(log_.At(s));
    taken_ = log_.End();
    ShowCounters();
    if (batch.empty()) return;

    const ScrollPlace place = Place();
    KeepPlace(place, model_.Append(batch));
}

void TrafficWindow::ShowCounters() {
    counters_->setText(QString::fromStdString(CountersText(log_.Counters())));
}

void TrafficWindow::Reset() {
    log_.Clear();
    model_.Clear();
    taken_ = log_.End();
    StartFollowing();
    ShowCounters();
}

bool TrafficWindow::WriteCsv(std::ostream& out) const {
    return WriteTrafficCsv(log_, out);
}

QString TrafficWindow::RowsText(std::vector<int> rows) const {
    return model_.RowsText(std::move(rows));
}

} // namespace korvan
