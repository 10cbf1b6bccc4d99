#include "TrafficWindow.h"

#include "ExchangeText.h"
#include "TrafficCsv.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollBar>
#include <QVBoxLayout>

#include <fstream>

namespace korvan {

namespace {

constexpr int kColumnWidths[kExchangeColumnCount] = {90, 170, 520, 90, 150, 110};

} // namespace

TrafficWindow::TrafficWindow(TrafficLog& log, QWidget* parent)
    : QWidget(parent, Qt::Window), log_(log), model_(log.Capacity(), this),
      counters_(new QLabel(this)), pause_(new QPushButton(QStringLiteral("Пауза"), this)),
      reset_(new QPushButton(QStringLiteral("Сбросить"), this)),
      save_(new QPushButton(QStringLiteral("Сохранить…"), this)), rows_(new QTableView(this)),
      taken_(log.FirstKept()) {
    setObjectName(QStringLiteral("TRAFFIC"));
    setWindowTitle(QStringLiteral("Обмен — журнал"));
    counters_->setObjectName(QStringLiteral("COUNTERS"));
    counters_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pause_->setObjectName(QStringLiteral("PAUSE"));
    pause_->setCheckable(true);
    reset_->setObjectName(QStringLiteral("RESET"));
    save_->setObjectName(QStringLiteral("SAVE"));

    rows_->setObjectName(QStringLiteral("ROWS"));
    rows_->setModel(&model_);
    rows_->setSelectionBehavior(QAbstractItemView::SelectRows);
    rows_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    rows_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    rows_->setWordWrap(false);
    rows_->verticalHeader()->hide();
    // Fixed row heights keep ten thousand rows cheap to lay out.
    rows_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    rows_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    rows_->horizontalHeader()->setStretchLastSection(true);
    for (int column = 0; column < kExchangeColumnCount; ++column)
        rows_->setColumnWidth(column, kColumnWidths[column]);
    auto* copy = new QAction(QStringLiteral("Копировать"), rows_);
    copy->setObjectName(QStringLiteral("COPY"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    rows_->addAction(copy);
    rows_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copy, &QAction::triggered, this, &TrafficWindow::CopySelectedRows);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(pause_);
    buttons->addWidget(reset_);
    buttons->addWidget(save_);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(counters_);
    layout->addLayout(buttons);
    layout->addWidget(rows_);

    connect(pause_, &QPushButton::toggled, this, [this](bool paused) {
        pause_->setText(paused ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
        if (!paused) Refresh();
    });
    connect(reset_, &QPushButton::clicked, this, &TrafficWindow::Reset);
    connect(save_, &QPushButton::clicked, this, &TrafficWindow::Save);
    // The operator scrolling up stops the view from following the end; back at the end, it
    // follows again.
    connect(rows_->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int value) { following_ = value >= rows_->verticalScrollBar()->maximum(); });

    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &TrafficWindow::Refresh);
    chooser_ = [](QWidget* parent) {
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Сохранить журнал обмена"),
                                            QStringLiteral("обмен.csv"),
                                            QStringLiteral("CSV (*.csv)"));
    };
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

    QScrollBar* bar = rows_->verticalScrollBar();
    const bool follow = following_;
    const int top = bar->value();
    const int dropped = model_.Append(batch);
    if (follow) {
        rows_->scrollToBottom();
    } else {
        // The rows the operator looks at stay in place when older ones drop off above them.
        bar->setValue(std::max(top - dropped, 0));
    }
    following_ = follow;
}

void TrafficWindow::ShowCounters() {
    counters_->setText(QString::fromStdString(CountersText(log_.Counters())));
}

void TrafficWindow::Reset() {
    log_.Clear();
    model_.Clear();
    taken_ = log_.End();
    following_ = true;
    ShowCounters();
}

bool TrafficWindow::SaveTo(const QString& path) const {
    std::ofstream out(QFile::encodeName(path).toStdString(), std::ios::binary | std::ios::trunc);
    return out && WriteTrafficCsv(log_, out);
}

void TrafficWindow::Save() {
    const QString path = chooser_ ? chooser_(this) : QString();
    if (path.isEmpty()) return;
    if (!SaveTo(path)) emit SaveFailed(path);
}

void TrafficWindow::CopySelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : rows_->selectionModel()->selectedRows())
        rows.push_back(index.row());
    if (rows.empty()) return;
    QApplication::clipboard()->setText(model_.RowsText(std::move(rows)));
}

void TrafficWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
    refresh_.start();
}

void TrafficWindow::hideEvent(QHideEvent* event) {
    refresh_.stop();
    QWidget::hideEvent(event);
}

} // namespace korvan
