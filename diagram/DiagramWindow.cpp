#include "DiagramWindow.h"

#include "Catalogue.h"

#include <QAction>
#include <QBuffer>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QPdfWriter>
#include <QPushButton>
#include <QSaveFile>
#include <QSvgGenerator>
#include <QVBoxLayout>

#include <chrono>

namespace korvan {

namespace {

constexpr std::array<const char*, kBandKindCount> kKindNames{
    "KIND_INPUTS", "KIND_OUTPUTS", "KIND_RELAYS", "KIND_STATE", "KIND_LINK"};
constexpr int kAnyUnit = -3;

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool WriteAtomically(const QString& path, const QByteArray& data) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit();
}

} // namespace

DiagramWindow::DiagramWindow(const EventLog& log, QWidget* parent)
    : QWidget(parent, Qt::Window), log_(log), canvas_(new DiagramCanvas(bands_, this)),
      scroll_(new QScrollBar(Qt::Vertical, this)), unit_(new QComboBox(this)),
      changedOnly_(new QCheckBox(QStringLiteral("только изменявшиеся"), this)),
      markers_(new QLabel(this)), note_(new QLabel(this)) {
    setObjectName(QStringLiteral("DIAGRAM"));
    setWindowTitle(QStringLiteral("Диаграмма состояний"));

    unit_->setObjectName(QStringLiteral("UNIT_FILTER"));
    unit_->addItem(QStringLiteral("Все блоки"), kAnyUnit);
    for (int unit = kNetworkUnit; unit < kUnitPanels; ++unit)
        unit_->addItem(CatalogueUnitName(unit), unit);
    auto* filters = new QHBoxLayout;
    filters->addWidget(unit_);
    for (int kind = 0; kind < kBandKindCount; ++kind) {
        kinds_[kind] = new QCheckBox(BandKindText(static_cast<BandKind>(kind)), this);
        kinds_[kind]->setObjectName(QString::fromLatin1(kKindNames[kind]));
        kinds_[kind]->setChecked(true);
        filters->addWidget(kinds_[kind]);
        connect(kinds_[kind], &QCheckBox::toggled, this, &DiagramWindow::ApplyFilter);
    }
    changedOnly_->setObjectName(QStringLiteral("CHANGED_ONLY"));
    filters->addWidget(changedOnly_);
    filters->addStretch(1);
    auto* whole = new QPushButton(QStringLiteral("Весь прогон"), this);
    whole->setObjectName(QStringLiteral("WHOLE_RUN"));
    auto* save = new QPushButton(QStringLiteral("Сохранить…"), this);
    save->setObjectName(QStringLiteral("SAVE"));
    filters->addWidget(whole);
    filters->addWidget(save);

    auto* plot = new QHBoxLayout;
    plot->setSpacing(0);
    plot->addWidget(canvas_, 1);
    plot->addWidget(scroll_);
    markers_->setObjectName(QStringLiteral("MARKERS"));
    note_->setObjectName(QStringLiteral("POLL_NOTE"));
    auto* below = new QHBoxLayout;
    below->addWidget(markers_, 1);
    below->addWidget(note_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addLayout(plot, 1);
    layout->addLayout(below);

    auto* saveKey = new QAction(this);
    saveKey->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    saveKey->setShortcutContext(Qt::WindowShortcut);
    addAction(saveKey);
    connect(saveKey, &QAction::triggered, this, &DiagramWindow::Save);
    connect(save, &QPushButton::clicked, this, &DiagramWindow::Save);
    connect(whole, &QPushButton::clicked, canvas_, &DiagramCanvas::ShowWholeRun);
    connect(unit_, &QComboBox::currentIndexChanged, this, &DiagramWindow::ApplyFilter);
    connect(changedOnly_, &QCheckBox::toggled, this, &DiagramWindow::ApplyFilter);
    connect(scroll_, &QScrollBar::valueChanged, canvas_, &DiagramCanvas::SetFirstLine);
    connect(canvas_, &DiagramCanvas::LinesChanged, this, [this] {
        scroll_->setRange(0, std::max(canvas_->LineCount() - canvas_->VisibleLines(), 0));
        scroll_->setPageStep(canvas_->VisibleLines());
        scroll_->setValue(canvas_->Frame().firstLine);
    });
    connect(canvas_, &DiagramCanvas::MarkersChanged, this, &DiagramWindow::ShowMarkers);
    connect(canvas_, &DiagramCanvas::EdgeClicked, this, &DiagramWindow::EdgeClicked);
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &DiagramWindow::Refresh);
    SetPollPeriod(500);
    ShowMarkers();
    resize(1200, 700);
}

void DiagramWindow::SetPollPeriod(int ms) {
    note_->setText(PollNote(ms));
}

void DiagramWindow::Refresh() {
    bands_.Take(log_);
    // New units and new changes may add bands; the list is made again only when events came.
    if (bands_.Taken() != shownFor_) ApplyFilter();
    canvas_->Advance(NowMs());
}

void DiagramWindow::ApplyFilter() {
    shownFor_ = bands_.Taken();
    const int unit = unit_->currentData().toInt();
    std::vector<int> shown;
    const std::vector<Band>& all = bands_.Bands();
    for (std::size_t b = 0; b < all.size(); ++b) {
        const Band& band = all[b];
        if (!bands_.Seen(band.unit)) continue;
        if (unit != kAnyUnit && band.unit != unit) continue;
        if (!kinds_[static_cast<std::size_t>(band.kind)]->isChecked()) continue;
        if (changedOnly_->isChecked() && band.changes == 0) continue;
        shown.push_back(static_cast<int>(b));
    }
    canvas_->SetShown(std::move(shown));
}

void DiagramWindow::ShowMarkers() {
    const DiagramFrame& frame = canvas_->Frame();
    if (!frame.markerA) {
        markers_->setText(QStringLiteral(
            "Двойной щелчок ставит маркер на ближайший фронт; Esc убирает маркеры."));
        return;
    }
    QString text = QStringLiteral("A %1").arg(DiagramTimeText(*frame.markerA));
    if (frame.markerB)
        text +=
            QStringLiteral("   B %1   %2")
                .arg(DiagramTimeText(*frame.markerB), DeltaText(*frame.markerB - *frame.markerA));
    markers_->setText(text);
}

bool DiagramWindow::SaveTo(const QString& path) const {
    const QString suffix = QFileInfo(path).suffix().toLower();
    DiagramFrame frame = canvas_->Frame();
    frame.cursorMs.reset();
    const QSize size = canvas_->size();
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (suffix == QLatin1String("png")) {
        QImage image(size, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.setFont(canvas_->font());
        PaintDiagram(painter, image.rect(), bands_, frame);
        painter.end();
        if (!image.save(&buffer, "PNG")) return false;
    } else if (suffix == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(windowTitle());
        QPainter painter(&svg);
        painter.setFont(canvas_->font());
        PaintDiagram(painter, QRect(QPoint(0, 0), size), bands_, frame);
    } else if (suffix == QLatin1String("pdf")) {
        QPdfWriter pdf(&buffer);
        pdf.setTitle(windowTitle());
        pdf.setCreator(QStringLiteral("KORVAN PRO"));
        // One page the size of the view, at the screen's 96 pixels per inch.
        pdf.setResolution(96);
        pdf.setPageSize(QPageSize(QSizeF(size.width() * 72.0 / 96, size.height() * 72.0 / 96),
                                  QPageSize::Point));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&pdf);
        painter.setFont(canvas_->font());
        PaintDiagram(painter, QRect(QPoint(0, 0), size), bands_, frame);
    } else {
        return false;
    }
    return WriteAtomically(path, buffer.data());
}

void DiagramWindow::Save() {
    const QString path =
        chooser_
            ? chooser_(this)
            : QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить диаграмму"),
                                           QStringLiteral("диаграмма.png"),
                                           QStringLiteral("PNG (*.png);;SVG (*.svg);;PDF (*.pdf)"));
    if (path.isEmpty()) return;
    if (!SaveTo(path)) emit SaveFailed(path);
}

void DiagramWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
    refresh_.start();
}

void DiagramWindow::hideEvent(QHideEvent* event) {
    refresh_.stop();
    QWidget::hideEvent(event);
}

void DiagramWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        canvas_->ClearMarkers();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace korvan
