#include "CompareWindow.h"

#include "Catalogue.h"
#include "RecordsCatalogue.h"
#include "RussianCount.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

namespace korvan::records {

namespace {

enum Column { cUnit, cSetting, cFile, cUnitValue, cNote, cColumns };

QString UnitNames(const std::vector<int>& units) {
    return QString::fromStdString(UnitList(units));
}

QString Note(DifferenceKind kind) {
    switch (kind) {
    case DifferenceKind::ByHandOnly:
        return QStringLiteral("сетевая настройка: изменить вручную");
    case DifferenceKind::OtherFirmware:
        return QStringLiteral("другая версия прошивки: не записывается");
    case DifferenceKind::Writable:
        break;
    }
    return {};
}

} // namespace

CompareWindow::CompareWindow(SettingsRecord file, QString fileName, StationAccess station,
                             QWidget* parent)
    : QWidget(parent, Qt::Window), file_(std::move(file)), fileName_(fileName),
      station_(std::move(station)), header_(new QLabel(this)), network_(new QLabel(this)),
      absent_(new QLabel(this)), rows_(new QTableWidget(this)),
      write_(new QPushButton(QStringLiteral("Записать в блоки"), this)),
      stop_(new QPushButton(QStringLiteral("Остановить запись"), this)), status_(new QLabel(this)) {
    setObjectName(QStringLiteral("COMPARE"));
    setWindowTitle(QStringLiteral("Сравнение с файлом — %1").arg(fileName));
    header_->setObjectName(QStringLiteral("COMPARE_FILE"));
    header_->setText(QStringLiteral("Файл %1: сохранён %2, %3, порт %4, %5 бит/с, адрес %6")
                         .arg(fileName, QString::fromStdString(file_.savedAt),
                              QString::fromStdString(file_.station),
                              QString::fromStdString(file_.port))
                         .arg(file_.speed)
                         .arg(file_.slaveAddress));
    header_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    network_->setObjectName(QStringLiteral("COMPARE_NETWORK"));
    network_->setWordWrap(true);
    network_->setStyleSheet(QStringLiteral("color: #a00000"));
    absent_->setObjectName(QStringLiteral("COMPARE_ABSENT"));
    absent_->setWordWrap(true);
    rows_->setObjectName(QStringLiteral("DIFFERENCES"));
    rows_->setColumnCount(cColumns);
    rows_->setHorizontalHeaderLabels({QStringLiteral("Блок"), QStringLiteral("Параметр"),
                                      QStringLiteral("В файле"), QStringLiteral("В блоке"),
                                      QStringLiteral("Примечание")});
    rows_->verticalHeader()->hide();
    rows_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    rows_->setSelectionBehavior(QAbstractItemView::SelectRows);
    rows_->horizontalHeader()->setStretchLastSection(true);
    for (int column : {cUnit, cFile, cUnitValue})
        rows_->setColumnWidth(column, 130);
    rows_->setColumnWidth(cSetting, 340);
    write_->setObjectName(QStringLiteral("WRITE"));
    stop_->setObjectName(QStringLiteral("STOP_WRITING"));
    stop_->setEnabled(false);
    status_->setObjectName(QStringLiteral("COMPARE_STATUS"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(write_);
    buttons->addWidget(stop_);
    buttons->addWidget(status_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(header_);
    layout->addWidget(network_);
    layout->addWidget(absent_);
    layout->addWidget(rows_, 1);
    layout->addLayout(buttons);
    resize(1000, 600);

    connect(write_, &QPushButton::clicked, this, &CompareWindow::WriteTicked);
    connect(stop_, &QPushButton::clicked, this, &CompareWindow::StopWriting);
    connect(rows_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() != cUnit) return;
        const std::size_t row = static_cast<std::size_t>(item->row());
        if (row >= comparison_.differences.size()) return;
        const Difference& d = comparison_.differences[row];
        unticked_[{d.reg, d.mask, d.tag}] = item->checkState() != Qt::Checked;
    });
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &CompareWindow::Refresh);
    refresh_.start();
    Refresh();
}

void CompareWindow::Refresh() {
    const RegisterImage shown = station_.confirmed();
    if (!haveShown_ || shown != shown_) {
        shown_ = shown;
        haveShown_ = true;
        comparison_ = CompareSettings(file_, shown_, Catalogue().pieces);
        Rebuild();
    }
    if (writing_) ShowProgress();
}

void CompareWindow::Rebuild() {
    const std::vector<QString> fileWords = ImageWords(FileImage(file_, shown_));
    const std::vector<QString> unitWords = ImageWords(shown_);
    const QSignalBlocker quiet(rows_);
    rows_->setRowCount(static_cast<int>(comparison_.differences.size()));
    for (int row = 0; row < rows_->rowCount(); ++row) {
        const Difference& d = comparison_.differences[static_cast<std::size_t>(row)];
        const auto tag = static_cast<std::size_t>(d.tag);
        const QString cells[cColumns] = {QString::fromStdString(UnitName(d.unit)),
                                         SettingCaption(d.tag), fileWords[tag], unitWords[tag],
                                         Note(d.kind)};
        for (int column = 0; column < cColumns; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (column == cUnit && d.kind == DifferenceKind::Writable) {
                item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
                const bool off = unticked_.contains({d.reg, d.mask, d.tag}) &&
                                 unticked_.at({d.reg, d.mask, d.tag});
                item->setCheckState(off ? Qt::Unchecked : Qt::Checked);
            }
            rows_->setItem(row, column, item);
        }
    }
    ShowMismatch();
    QStringList notes;
    if (comparison_.differences.empty()) notes << QStringLiteral("Различий нет.");
    if (!comparison_.absentUnits.empty())
        notes
            << QStringLiteral("Нет в сети, пропущены: %1.").arg(UnitNames(comparison_.absentUnits));
    if (!comparison_.otherFirmwareUnits.empty())
        notes << QStringLiteral("Другая основная версия прошивки, запись не выполняется: %1.")
                     .arg(UnitNames(comparison_.otherFirmwareUnits));
    absent_->setText(notes.join(QLatin1Char(' ')));
    absent_->setVisible(!notes.isEmpty());
}

void CompareWindow::ShowMismatch() {
    mismatch_ = station_.network ? NetworkMismatch(file_, station_.network(), comparison_)
                                 : std::vector<std::string>{};
    QStringList lines;
    for (const std::string& line : mismatch_)
        lines << QStringLiteral("– ") + QString::fromStdString(line);
    network_->setText(QStringLiteral("Файл сохранён не для этой сети:\n") +
                      lines.join(QLatin1Char('\n')));
    network_->setVisible(!mismatch_.empty());
}

std::vector<bool> CompareWindow::Ticked() const {
    std::vector<bool> ticked;
    for (int row = 0; row < rows_->rowCount(); ++row) {
        const QTableWidgetItem* item = rows_->item(row, cUnit);
        ticked.push_back(item != nullptr && (item->flags() & Qt::ItemIsUserCheckable) &&
                         item->checkState() == Qt::Checked);
    }
    return ticked;
}

void CompareWindow::WriteTicked() {
    if (writing_) return;
    if (!station_.linkUp()) {
        station_.error("Прибор не подключен!");
        return;
    }
    const RegisterImage base = station_.wanted();
    plan_ = PlanWrite(comparison_, Ticked(), base, station_.throughWindow);
    if (plan_.writes.empty()) {
        status_->setText(QStringLiteral("Записывать нечего."));
        return;
    }
    ShowMismatch(); // the port, speed or address may have changed since the last look
    if (!station_.confirm(ConfirmationText(plan_, mismatch_))) return;
    // The question ran the window's events: the link may have gone and the units moved meanwhile.
    if (!station_.linkUp()) {
        station_.error("Прибор не подключен!");
        return;
    }
    writingFrom_ = station_.exchangesEnd();
    breaksAtStart_ = station_.linkBreaks();
    if (station_.writeStarted)
        station_.writeStarted("Запись из файла " + fileName_.toStdString() + ": " +
                              Counted(static_cast<long long>(plan_.writes.size()), kParameters) +
                              " в " + Counted(plan_.UnitCount(), kInUnits));
    station_.choose(plan_);
    writing_ = true;
    write_->setEnabled(false);
    stop_->setEnabled(true);
    ShowProgress();
}

void CompareWindow::StopWriting() {
    if (!writing_) return;
    station_.stop();
    std::set<int> sent;
    std::set<int> echoed;
    station_.writesSince(writingFrom_, sent, echoed);
    EndWriting(QStringLiteral("Запись остановлена."),
               MeasureProgress(plan_, sent, echoed, station_.confirmed()));
}

// Closing the window ends its job: nothing it started goes on unseen.
void CompareWindow::closeEvent(QCloseEvent* event) {
    StopWriting();
    QWidget::closeEvent(event);
}

void CompareWindow::ShowProgress() {
    std::set<int> sent;
    std::set<int> echoed;
    station_.writesSince(writingFrom_, sent, echoed);
    const WriteProgress progress = MeasureProgress(plan_, sent, echoed, shown_);
    // A lost link or an ended session has dropped the job in the engine; it stays stopped.
    if (station_.linkBreaks() != breaksAtStart_) {
        EndWriting(QStringLiteral("Связь потеряна, запись остановлена."), progress);
        return;
    }
    if (progress.left == 0) {
        EndWriting(QStringLiteral("Запись закончена."), progress);
        return;
    }
    status_->setText(QStringLiteral("Записано: %1, подтверждено: %2, осталось: %3.")
                         .arg(progress.written)
                         .arg(progress.confirmed)
                         .arg(progress.left));
}

void CompareWindow::EndWriting(const QString& why, const WriteProgress& progress) {
    writing_ = false;
    write_->setEnabled(true);
    stop_->setEnabled(false);
    const int total = static_cast<int>(plan_.writes.size());
    const std::string outcome = why.toStdString() + " Подтверждено " +
                                std::to_string(progress.confirmed) + " из " +
                                Counted(total, kOfParameters) + ".";
    if (station_.writeEnded)
        station_.writeEnded("Запись из файла " + fileName_.toStdString() + ": " + outcome,
                            progress.confirmed == total);
    QString text = QString::fromStdString(outcome);
    if (progress.left > 0)
        text += QStringLiteral(" Не подтверждено, не будет записано без новой команды: %1.")
                    .arg(progress.left);
    QStringList skipped;
    if (!plan_.absentUnits.empty())
        skipped << QStringLiteral("нет в сети: %1").arg(UnitNames(plan_.absentUnits));
    if (!plan_.otherFirmwareUnits.empty())
        skipped << QStringLiteral("другая прошивка: %1").arg(UnitNames(plan_.otherFirmwareUnits));
    if (plan_.skippedByHand > 0)
        skipped
            << QStringLiteral("сетевые настройки (%1) — только вручную").arg(plan_.skippedByHand);
    if (!plan_.unshowable.empty())
        skipped << QStringLiteral("значения, которых окно не показывает: %1")
                       .arg(plan_.unshowable.size());
    if (!skipped.isEmpty()) text += QStringLiteral(" Не записаны: %1.").arg(skipped.join("; "));
    status_->setText(text);
}

} // namespace korvan::records
