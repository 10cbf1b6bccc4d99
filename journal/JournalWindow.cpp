#include "JournalWindow.h"

#include "Catalogue.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace korvan {

namespace {

constexpr int kColumnWidths[JournalModel::ColumnCount] = {140, 110, 640, 80};
constexpr int kSearchPauseMs = 250;

constexpr std::array<const char*, kEventKindCount> kKindNames{"KIND_STATE", "KIND_SETTING",
                                                              "KIND_OPERATOR", "KIND_LINK"};

} // namespace

JournalWindow::JournalWindow(const EventLog& log, QWidget* parent)
    : LogWindow(parent, QStringLiteral("Сохранить журнал событий"), QStringLiteral("события.csv")),
      log_(log), model_(log, this), unit_(new QComboBox(this)), search_(new QLineEdit(this)),
      save_(new QPushButton(QStringLiteral("Сохранить…"), this)), dropped_(new QLabel(this)) {
    QTableView* rows = MakeRows(&model_, kColumnWidths);
    rows->horizontalHeader()->setSectionResizeMode(JournalModel::Event, QHeaderView::Stretch);
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

    auto* filters = new QHBoxLayout;
    filters->addWidget(unit_);
    for (QCheckBox* kind : kinds_)
        filters->addWidget(kind);
    filters->addWidget(search_, 1);
    filters->addWidget(save_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(dropped_);
    layout->addWidget(rows);

    connect(unit_, &QComboBox::currentIndexChanged, this, &JournalWindow::ApplyFilter);
    searchPause_.setSingleShot(true);
    searchPause_.setInterval(kSearchPauseMs);
    connect(search_, &QLineEdit::textChanged, &searchPause_, qOverload<>(&QTimer::start));
    connect(&searchPause_, &QTimer::timeout, this, &JournalWindow::ApplyFilter);
    // What the log gained since the last refresh goes into the file too.
    connect(save_, &QPushButton::clicked, this, [this] {
        Refresh();
        Save();
    });
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
    Rows()->scrollToBottom();
    StartFollowing();
}

void JournalWindow::Refresh() {
    ShowDropped();
    const ScrollPlace place = Place();
    const int before = model_.rowCount();
    const int dropped = model_.Take();
    if (model_.rowCount() == before && dropped == 0) return;
    KeepPlace(place, dropped);
}

bool JournalWindow::SelectSequence(std::uint64_t sequence) {
    Refresh();
    if (model_.RowOf(sequence) < 0 && sequence >= log_.FirstKept() && sequence < log_.End()) {
        const QSignalBlocker unitQuiet(unit_);
        unit_->setCurrentIndex(0);
        for (QCheckBox* kind : kinds_) {
            const QSignalBlocker quiet(kind);
            kind->setChecked(true);
        }
        const QSignalBlocker searchQuiet(search_);
        search_->clear();
        ApplyFilter();
    }
    const int row = model_.RowOf(sequence);
    if (row < 0) return false;
    Rows()->selectRow(row);
    toShow_ = sequence;
    if (isVisible()) ShowSelected();
    return true;
}

void JournalWindow::ShowSelected() {
    const int row = toShow_ ? model_.RowOf(*toShow_) : -1;
    toShow_.reset();
    if (row >= 0) Rows()->scrollTo(model_.index(row, 0), QAbstractItemView::PositionAtCenter);
}

void JournalWindow::showEvent(QShowEvent* event) {
    LogWindow::showEvent(event); // takes the new events and goes to the end when following
    // The rows have their size only once laid out.
    if (toShow_) QTimer::singleShot(0, this, &JournalWindow::ShowSelected);
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

bool JournalWindow::WriteCsv(std::ostream& out) const {
    return model_.WriteCsv(out);
}

QString JournalWindow::RowsText(std::vector<int> rows) const {
    return model_.RowsText(std::move(rows));
}

} // namespace korvan
