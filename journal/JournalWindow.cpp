#include "JournalWindow.h"

#include "Catalogue.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QScrollBar>
#include <QVBoxLayout>

#include <fstream>

namespace korvan {

namespace {

constexpr int kColumnWidths[JournalModel::ColumnCount] = {140, 110, 640, 80};
constexpr int kSearchPauseMs = 250;

constexpr std::array<const char*, kEventKindCount> kKindNames{"KIND_STATE", "KIND_SETTING",
                                                              "KIND_OPERATOR", "KIND_LINK"};

} // namespace

JournalWindow::JournalWindow(const EventLog& log, QWidget* parent)
    : QWidget(parent, Qt::Window), log_(log), model_(log, this), unit_(new QComboBox(this)),
      search_(new QLineEdit(this)), save_(new QPushButton(QStringLiteral("Сохранить…"), this)),
      dropped_(new QLabel(this)), rows_(new QTableView(this)) {
    setObjectName(QStringLiteral("JOURNAL"));
    setWindowTitle(QStringLiteral("Журнал событий"));

    unit_->setObjectName(QStringLiteral("UNIT_FILTER"));
    unit_->addItem(QStringLiteral("Все блоки"), kAnyUnit);
    unit_->addItem(UnitText(kStationUnit), kStationUnit);
    for (int unit = kNetworkUnit; unit < kUnitPanels; ++unit)
        unit_->addItem(UnitText(unit), unit);
    for (int kind = 0; kind < kEventKindCount; ++kind) {
        kinds_[kind] = new QCheckBox(KindText(static_cast<EventKind>(kind)), this);
        kinds_[kind]->setObjectName(QString::fromLatin1(kKindNames[kind]));
        kinds_[kind]->setChecked(true);
        connect(kinds_[kind], &QCheckBox::toggled, this, &JournalWindow::ApplyFilter);
    }
    search_->setObjectName(QStringLiteral("SEARCH"));
    search_->setPlaceholderText(QStringLiteral("Поиск"));
    search_->setClearButtonEnabled(true);
    save_->setObjectName(QStringLiteral("SAVE"));
    dropped_->setObjectName(QStringLiteral("DROPPED"));
    dropped_->setStyleSheet(QStringLiteral("color: #a00000"));

    rows_->setObjectName(QStringLiteral("ROWS"));
    rows_->setModel(&model_);
    rows_->setSelectionBehavior(QAbstractItemView::SelectRows);
    rows_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    rows_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    rows_->setWordWrap(false);
    rows_->verticalHeader()->hide();
    // Fixed row heights keep a hundred thousand rows cheap to lay out.
    rows_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    rows_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    for (int column = 0; column < JournalModel::ColumnCount; ++column)
        rows_->setColumnWidth(column, kColumnWidths[column]);
    rows_->horizontalHeader()->setSectionResizeMode(JournalModel::Event, QHeaderView::Stretch);
    auto* copy = new QAction(QStringLiteral("Копировать"), rows_);
    copy->setObjectName(QStringLiteral("COPY"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    rows_->addAction(copy);
    rows_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copy, &QAction::triggered, this, &JournalWindow::CopySelectedRows);

    auto* filters = new QHBoxLayout;
    filters->addWidget(unit_);
    for (QCheckBox* kind : kinds_)
        filters->addWidget(kind);
    filters->addWidget(search_, 1);
    filters->addWidget(save_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(dropped_);
    layout->addWidget(rows_);

    connect(unit_, &QComboBox::currentIndexChanged, this, &JournalWindow::ApplyFilter);
    searchPause_.setSingleShot(true);
    searchPause_.setInterval(kSearchPauseMs);
    connect(search_, &QLineEdit::textChanged, &searchPause_, qOverload<>(&QTimer::start));
    connect(&searchPause_, &QTimer::timeout, this, &JournalWindow::ApplyFilter);
    connect(save_, &QPushButton::clicked, this, &JournalWindow::Save);
    // The operator scrolling up stops the view from following the end; back at the end, it
    // follows again.
    connect(rows_->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int value) { following_ = value >= rows_->verticalScrollBar()->maximum(); });

    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &JournalWindow::Refresh);
    chooser_ = [](QWidget* parent) {
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Сохранить журнал событий"),
                                            QStringLiteral("события.csv"),
                                            QStringLiteral("CSV (*.csv)"));
    };
    resize(1100, 560);
    ShowDropped();
}

void JournalWindow::ApplyFilter() {
    searchPause_.stop();
    JournalFilter filter;
    filter.unit = unit_->currentData().toInt();
    for (int kind = 0; kind < kEventKindCount; ++kind)
        filter.kinds[kind] = kinds_[kind]->isChecked();
    filter.search = search_->text().trimmed();
    model_.SetFilter(std::move(filter));
    rows_->scrollToBottom();
    following_ = true;
}

void JournalWindow::Refresh() {
    ShowDropped();
    QScrollBar* bar = rows_->verticalScrollBar();
    const bool follow = following_;
    const int top = bar->value();
    const int before = model_.rowCount();
    const int dropped = model_.Take();
    if (model_.rowCount() == before && dropped == 0) return;
    if (follow) {
        rows_->scrollToBottom();
    } else {
        // The rows the operator looks at stay in place when older ones drop off above them.
        bar->setValue(std::max(top - dropped, 0));
    }
    following_ = follow;
}

void JournalWindow::ShowDropped() {
    const std::uint64_t dropped = log_.Dropped();
    dropped_->setVisible(dropped > 0);
    if (dropped == 0) return;
    const QLocale locale(QLocale::Russian);
    dropped_->setText(
        QStringLiteral("Журнал хранит последние %1 событий; более старые удалены: %2.")
            .arg(locale.toString(log_.Capacity()),
                 locale.toString(static_cast<qulonglong>(dropped))));
}

bool JournalWindow::SaveTo(const QString& path) const {
    std::ofstream out(QFile::encodeName(path).toStdString(), std::ios::binary | std::ios::trunc);
    return out && model_.WriteCsv(out);
}

void JournalWindow::Save() {
    Refresh();
    const QString path = chooser_ ? chooser_(this) : QString();
    if (path.isEmpty()) return;
    if (!SaveTo(path)) emit SaveFailed(path);
}

void JournalWindow::CopySelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : rows_->selectionModel()->selectedRows())
        rows.push_back(index.row());
    if (rows.empty()) return;
    QApplication::clipboard()->setText(model_.RowsText(std::move(rows)));
}

void JournalWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
    refresh_.start();
}

void JournalWindow::hideEvent(QHideEvent* event) {
    refresh_.stop();
    QWidget::hideEvent(event);
}

} // namespace korvan
