#include "DiagramCanvas.h"

#include "Catalogue.h"

#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace korvan {

namespace {

constexpr int kNearPx = 5;        // how far from an edge a click or a marker still finds it
constexpr int kDragPx = 4;        // a press that moves further is a drag, not a click
constexpr double kZoomStep = 0.8; // span per notch of the wheel

} // namespace

DiagramCanvas::DiagramCanvas(const StateBands& bands, QWidget* parent)
    : QWidget(parent), bands_(bands) {
    setObjectName(QStringLiteral("DIAGRAM_CANVAS"));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(400, 200);
}

DiagramGeometry DiagramCanvas::Geometry() const {
    return DiagramGeometry(rect(), frame_, fontMetrics());
}

int DiagramCanvas::VisibleLines() const {
    return Geometry().VisibleLines();
}

std::int64_t DiagramCanvas::RunStart() const {
    return bands_.StartMs() != 0 ? bands_.StartMs() : frame_.nowMs;
}

void DiagramCanvas::Advance(std::int64_t nowMs) {
    frame_.nowMs = nowMs;
    if (whole_)
        Place(RunStart(), nowMs - RunStart());
    else if (following_)
        Place(nowMs - (frame_.toMs - frame_.fromMs), frame_.toMs - frame_.fromMs);
    update();
}

void DiagramCanvas::Place(std::int64_t from, std::int64_t span) {
    const std::int64_t start = RunStart();
    const std::int64_t run = std::max<std::int64_t>(frame_.nowMs - start, kMinSpanMs);
    span = std::clamp(span, kMinSpanMs, run);
    whole_ = span >= run;
    from = std::clamp(from, start, std::max(start, frame_.nowMs - span));
    frame_.fromMs = from;
    frame_.toMs = from + span;
    following_ = frame_.toMs >= frame_.nowMs;
}

void DiagramCanvas::ShowWholeRun() {
    whole_ = true;
    Advance(frame_.nowMs);
}

void DiagramCanvas::SetShown(std::vector<int> bands) {
    frame_.bands = std::move(bands);
    lineCount_ = static_cast<int>(DiagramLines(bands_, frame_.bands).size());
    SetFirstLine(frame_.firstLine);
    emit LinesChanged();
}

void DiagramCanvas::SetFirstLine(int line) {
    frame_.firstLine = std::clamp(line, 0, std::max(lineCount_ - VisibleLines(), 0));
    update();
}

void DiagramCanvas::ClearMarkers() {
    frame_.markerA.reset();
    frame_.markerB.reset();
    update();
    emit MarkersChanged();
}

const BandEdge* DiagramCanvas::EdgeNear(int line, int x) const {
    const std::vector<DiagramLine> lines = DiagramLines(bands_, frame_.bands);
    const int at = frame_.firstLine + line;
    if (line < 0 || at >= static_cast<int>(lines.size())) return nullptr;
    const int b = lines[static_cast<std::size_t>(at)].band;
    if (b < 0) return nullptr;
    const Band& band = bands_.Bands()[static_cast<std::size_t>(b)];
    const DiagramGeometry g = Geometry();
    const std::int64_t from = g.Ms(x - kNearPx);
    const std::int64_t to = g.Ms(x + kNearPx);
    const std::int64_t ms = g.Ms(x);
    const BandEdge* nearest = nullptr;
    const auto first = std::lower_bound(band.edges.begin(), band.edges.end(), from,
                                        [](const BandEdge& e, std::int64_t t) { return e.ms < t; });
    for (auto e = first; e != band.edges.end() && e->ms <= to; ++e)
        if (nearest == nullptr || std::llabs(e->ms - ms) < std::llabs(nearest->ms - ms))
            nearest = &*e;
    return nearest;
}

QString DiagramCanvas::HoverText(int line, std::int64_t ms) const {
    QString text = DiagramTimeText(ms);
    const std::vector<DiagramLine> lines = DiagramLines(bands_, frame_.bands);
    const int at = frame_.firstLine + line;
    if (line < 0 || at >= static_cast<int>(lines.size())) return text;
    const DiagramLine& l = lines[static_cast<std::size_t>(at)];
    text += QStringLiteral("\n") + CatalogueUnitName(l.unit);
    if (l.band < 0) return text;
    const Band& band = bands_.Bands()[static_cast<std::size_t>(l.band)];
    return text + QStringLiteral(", ") + band.fullCaption + QStringLiteral(": ") +
           BandStateText(band, band.StateAt(ms));
}

void DiagramCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintDiagram(painter, rect(), bands_, frame_);
}

void DiagramCanvas::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    SetFirstLine(frame_.firstLine);
    emit LinesChanged();
}

void DiagramCanvas::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) return;
    const DiagramGeometry g = Geometry();
    const double x = std::clamp<double>(event->position().x(), g.Plot().left(), g.Plot().right());
    const std::int64_t anchor = g.Ms(x);
    const double share = (x - g.Plot().left()) / g.Plot().width();
    const auto span = static_cast<std::int64_t>(std::llround(
        static_cast<double>(frame_.toMs - frame_.fromMs) * std::pow(kZoomStep, notches)));
    const std::int64_t clamped = std::max(span, kMinSpanMs);
    Place(anchor - static_cast<std::int64_t>(std::llround(share * static_cast<double>(clamped))),
          clamped);
    update();
    event->accept();
}

void DiagramCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    pressAt_ = event->position().toPoint();
    pressFrom_ = frame_.fromMs;
    dragging_ = false;
}

void DiagramCanvas::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const DiagramGeometry g = Geometry();
    if (event->buttons() & Qt::LeftButton) {
        if (!dragging_ && std::abs(at.x() - pressAt_.x()) < kDragPx) return;
        dragging_ = true;
        const double msPerPx = static_cast<double>(frame_.toMs - frame_.fromMs) / g.Plot().width();
        Place(pressFrom_ -
                  static_cast<std::int64_t>(std::llround((at.x() - pressAt_.x()) * msPerPx)),
              frame_.toMs - frame_.fromMs);
        update();
        return;
    }
    if (!g.Plot().contains(at)) {
        frame_.cursorMs.reset();
        QToolTip::hideText();
        update();
        return;
    }
    frame_.cursorMs = g.Ms(at.x());
    QToolTip::showText(event->globalPosition().toPoint(),
                       HoverText(g.LineAt(at.y()), *frame_.cursorMs), this);
    update();
}

void DiagramCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (dragging_) {
        dragging_ = false;
        return;
    }
    const QPoint at = event->position().toPoint();
    const BandEdge* edge = EdgeNear(Geometry().LineAt(at.y()), at.x());
    if (edge != nullptr) emit EdgeClicked(edge->sequence);
}

void DiagramCanvas::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const DiagramGeometry g = Geometry();
    if (!g.Plot().contains(at)) return;
    const BandEdge* edge = EdgeNear(g.LineAt(at.y()), at.x());
    const std::int64_t ms = edge != nullptr ? edge->ms : g.Ms(at.x());
    if (!frame_.markerA)
        frame_.markerA = ms;
    else if (!frame_.markerB)
        frame_.markerB = ms;
    else if (std::llabs(*frame_.markerA - ms) < std::llabs(*frame_.markerB - ms))
        frame_.markerA = ms;
    else
        frame_.markerB = ms;
    update();
    emit MarkersChanged();
}

void DiagramCanvas::leaveEvent(QEvent* event) {
    frame_.cursorMs.reset();
    update();
    QWidget::leaveEvent(event);
}

} // namespace korvan
