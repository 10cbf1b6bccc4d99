#include "LogWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QScrollBar>
#include <QShowEvent>

#include <algorithm>
#include <fstream>

namespace korvan {

namespace {

QString& LastFolder() {
    static QString folder;
    return folder;
}

} // namespace

QString DialogFolder() {
    return LastFolder().isEmpty() ? QDir::homePath() : LastFolder();
}

void RememberFolder(const QString& path) {
    LastFolder() = QFileInfo(path).absolutePath();
}

LogWindow::LogWindow(QWidget* parent, const QString& saveTitle, const QString& saveFileName)
    : QWidget(parent, Qt::Window) {
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &LogWindow::Refresh);
    chooser_ = [saveTitle, saveFileName](QWidget* parent) {
        const QString path = QFileDialog::getSaveFileName(
            parent, saveTitle, QDir(DialogFolder()).filePath(saveFileName),
            QStringLiteral("CSV (*.csv)"));
        if (!path.isEmpty()) RememberFolder(path);
        return path;
    };
}

QTableView* LogWindow::MakeRows(QAbstractItemModel* model, std::span<const int> columnWidths) {
    rows_ = new QTableView(this);
    rows_->setObjectName(QStringLiteral("ROWS"));
    rows_->setModel(model);
    rows_->setSelectionBehavior(QAbstractItemView::SelectRows);
    rows_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    rows_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    rows_->setWordWrap(false);
    rows_->verticalHeader()->hide();
    // Fixed row heights keep a full log cheap to lay out.
    rows_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    rows_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    for (int column = 0; column < static_cast<int>(columnWidths.size()); ++column)
        rows_->setColumnWidth(column, columnWidths[column]);
    auto* copy = new QAction(QStringLiteral("Копировать"), rows_);
    copy->setObjectName(QStringLiteral("COPY"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    rows_->addAction(copy);
    rows_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copy, &QAction::triggered, this, &LogWindow::CopySelectedRows);
    // The operator scrolling up stops the view from following the end; back at the end, it
    // follows again.
    connect(rows_->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int value) { following_ = value >= rows_->verticalScrollBar()->maximum(); });
    return rows_;
}

LogWindow::ScrollPlace LogWindow::Place() const {
    return {following_, rows_->verticalScrollBar()->value()};
}

void LogWindow::KeepPlace(ScrollPlace place, int dropped) {
    if (place.follow)
        rows_->scrollToBottom();
    else
        rows_->verticalScrollBar()->setValue(std::max(place.top - dropped, 0));
    following_ = place.follow;
}

bool LogWindow::SaveTo(const QString& path) const {
    std::ofstream out(QFile::encodeName(path).toStdString(), std::ios::binary | std::ios::trunc);
    return out && WriteCsv(out);
}

void LogWindow::Save() {
    const QString path = chooser_ ? chooser_(this) : QString();
    if (path.isEmpty()) return;
    if (!SaveTo(path)) emit SaveFailed(path);
}

void LogWindow::CopySelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : rows_->selectionModel()->selectedRows())
        rows.push_back(index.row());
    if (rows.empty()) return;
    QApplication::clipboard()->setText(RowsText(std::move(rows)));
}

void LogWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The keyboard starts in the rows: Ctrl+A, Ctrl+C right away copy them all.
    if (rows_ != nullptr && !event->spontaneous()) rows_->setFocus(Qt::OtherFocusReason);
    Refresh();
    refresh_.start();
}

void LogWindow::hideEvent(QHideEvent* event) {
    refresh_.stop();
    QWidget::hideEvent(event);
}

} // namespace korvan
