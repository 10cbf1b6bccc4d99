#include "DiagramPainter.h"

#include "Catalogue.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <array>
#include <cmath>

namespace korvan {

namespace {

const QColor kRestColour(0x00, 0x80, 0x00);   // the window's green
const QColor kActiveColour(0xFF, 0x00, 0x00); // red
const QColor kFaultCore(0xFF, 0xFF, 0x00);    // the window's yellow of a fault
const QColor kGreyColour(0x80, 0x80, 0x80);
const QColor kEdgeColour(0x20, 0x20, 0x20);
const QColor kTitleBack(0xE4, 0xE8, 0xEE);
const QColor kGridColour(0xE0, 0xE0, 0xE0);
const QColor kMarkerColour(0x00, 0x50, 0xFF);

// The widest caption of a row, and a time label of the axis, each with a margin.
int CaptionColumn(const QFontMetrics& font) {
    return font.horizontalAdvance(QStringLiteral("Реле: Неисправность")) +
           3 * font.averageCharWidth();
}
int TickWidth(const QFontMetrics& font) {
    return font.horizontalAdvance(QStringLiteral("00:00:00,000")) + 2 * font.averageCharWidth();
}

// Steps of the time axis, ms: the smallest that leaves room for its labels is taken.
constexpr std::array<std::int64_t, 23> kTickSteps{
    10,     20,      50,      100,     200,      500,      1000,    2000,
    5000,   10000,   15000,   30000,   60000,    120000,   300000,  600000,
    900000, 1800000, 3600000, 7200000, 10800000, 21600000, 43200000};

QString ClockText(std::int64_t ms, bool withMs) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(withMs ? QStringLiteral("hh:mm:ss,zzz")
                                                              : QStringLiteral("hh:mm:ss"));
}

void PaintAxis(QPainter& p, const DiagramGeometry& g, const DiagramFrame& frame, int bottom) {
    const QRect plot = g.Plot();
    const double pxPerMs = plot.width() / static_cast<double>(frame.toMs - frame.fromMs);
    const int tickWidth = TickWidth(p.fontMetrics());
    std::int64_t step = kTickSteps.back();
    for (std::int64_t s : kTickSteps)
        if (s * pxPerMs >= tickWidth) {
            step = s;
            break;
        }
    // Ticks on round times of the local clock.
    const std::int64_t offset =
        static_cast<std::int64_t>(QDateTime::fromMSecsSinceEpoch(frame.fromMs).offsetFromUtc()) *
        1000;
    std::int64_t tick = ((frame.fromMs + offset + step - 1) / step) * step - offset;
    const int labelTop = plot.top() - p.fontMetrics().height() - 2;
    for (; tick <= frame.toMs; tick += step) {
        const int x = static_cast<int>(std::lround(g.X(tick)));
        p.setPen(kGridColour);
        p.drawLine(x, plot.top(), x, bottom);
        p.setPen(Qt::black);
        p.drawLine(x, plot.top() - 3, x, plot.top());
        p.drawText(QRect(x - tickWidth / 2, labelTop, tickWidth, p.fontMetrics().height()),
                   Qt::AlignCenter, ClockText(tick, step < 1000));
    }
    p.drawLine(plot.left(), plot.top(), plot.right(), plot.top());
}

// One band's steps over the plot, in the line at `top`. The steps and edges are gathered and
// drawn in one call per colour: a frame over a long run draws thousands of them.
void PaintBand(QPainter& p, const DiagramGeometry& g, const Band& band, const DiagramFrame& frame,
               int top, int height) {
    const QRect plot = g.Plot();
    const int high = top + 3;
    const int low = top + height * 3 / 5;
    const int bottom = top + height - 3;
    const std::int64_t end = std::min(frame.toMs, frame.nowMs);
    if (end <= frame.fromMs) return;
    const int endPx = static_cast<int>(std::lround(g.X(end)));

    thread_local std::vector<QRect> rest, grey, red, core;
    thread_local std::vector<QLine> lines;
    rest.clear();
    grey.clear();
    red.clear();
    core.clear();
    lines.clear();
    auto fill = [&](int from, int to, BandState state) {
        if (to <= from) return;
        switch (state) {
        case BandState::Rest:
            rest.emplace_back(from, low, to - from, bottom - low);
            break;
        case BandState::Grey:
            grey.emplace_back(from, low, to - from, bottom - low);
            break;
        case BandState::Fault:
            core.emplace_back(from, high + (bottom - high) / 3, to - from, (bottom - high) / 3);
            [[fallthrough]];
        case BandState::Active:
            red.emplace_back(from, high, to - from, bottom - high);
            break;
        case BandState::Unknown:
            break;
        }
    };

    const std::deque<BandEdge>& edges = band.edges;
    std::size_t next = band.EdgeAt(frame.fromMs);
    BandState state = BandState::Unknown;
    if (next < edges.size())
        state = edges[next++].state;
    else
        next = 0;
    int from = plot.left();
    int lastEdge = plot.left() - 1;
    for (; next < edges.size() && edges[next].ms <= end; ++next) {
        const int x = static_cast<int>(std::lround(g.X(edges[next].ms)));
        fill(from, x, state);
        from = std::max(from, x);
        state = edges[next].state;
        if (x != lastEdge) {
            lines.emplace_back(x, high, x, bottom - 1);
            lastEdge = x;
        }
    }
    fill(from, endPx, state);

    p.setPen(Qt::NoPen);
    const std::pair<const std::vector<QRect>*, QColor> fills[] = {
        {&rest, kRestColour}, {&grey, kGreyColour}, {&red, kActiveColour}, {&core, kFaultCore}};
    for (const auto& [rects, colour] : fills) {
        if (rects->empty()) continue;
        p.setBrush(colour);
        p.drawRects(rects->data(), static_cast<int>(rects->size()));
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(kEdgeColour);
    if (!lines.empty()) p.drawLines(lines.data(), static_cast<int>(lines.size()));
}

void PaintMarker(QPainter& p, const DiagramGeometry& g, std::int64_t ms, const QString& name,
                 int bottom) {
    const QRect plot = g.Plot();
    const double x = g.X(ms);
    if (x < plot.left() || x > plot.right()) return;
    const int px = static_cast<int>(std::lround(x));
    p.setPen(QPen(kMarkerColour, 1));
    p.drawLine(px, plot.top() - 3, px, bottom);
    p.drawText(
        QRect(px + 2, plot.top() - 2 * p.fontMetrics().height() - 4, 40, p.fontMetrics().height()),
        Qt::AlignLeft | Qt::AlignVCenter, name);
}

} // namespace

std::vector<DiagramLine> DiagramLines(const StateBands& bands, const std::vector<int>& shown) {
    std::vector<DiagramLine> lines;
    int unit = kStationUnit;
    for (int b : shown) {
        const Band& band = bands.Bands()[static_cast<std::size_t>(b)];
        if (band.unit != unit) {
            unit = band.unit;
            lines.push_back({unit, -1});
        }
        lines.push_back({unit, b});
    }
    return lines;
}

DiagramGeometry::DiagramGeometry(const QRect& area, const DiagramFrame& frame,
                                 const QFontMetrics& font)
    : area_(area), from_(frame.fromMs), to_(std::max(frame.toMs, frame.fromMs + 1)),
      rowHeight_(std::max(frame.rowHeight, 4)) {
    const int caption = CaptionColumn(font);
    const int axis = 2 * font.height() + 8;
    plot_ = QRect(area.left() + caption, area.top() + axis, std::max(area.width() - caption, 10),
                  std::max(area.height() - axis, 10));
}

int DiagramGeometry::VisibleLines() const {
    return plot_.height() / rowHeight_;
}

double DiagramGeometry::X(std::int64_t ms) const {
    return plot_.left() +
           static_cast<double>(ms - from_) * plot_.width() / static_cast<double>(to_ - from_);
}

std::int64_t DiagramGeometry::Ms(double x) const {
    return from_ + static_cast<std::int64_t>(std::llround(
                       (x - plot_.left()) * static_cast<double>(to_ - from_) / plot_.width()));
}

int DiagramGeometry::LineAt(int y) const {
    if (y < plot_.top()) return -1;
    const int line = (y - plot_.top()) / rowHeight_;
    return line < VisibleLines() ? line : -1;
}

int DiagramGeometry::LineTop(int line) const {
    return plot_.top() + line * rowHeight_;
}

void PaintDiagram(QPainter& p, const QRect& area, const StateBands& bands,
                  const DiagramFrame& frame) {
    p.save();
    p.fillRect(area, Qt::white);
    const DiagramGeometry g(area, frame, p.fontMetrics());
    const std::vector<DiagramLine> lines = DiagramLines(bands, frame.bands);
    const int first = std::clamp(frame.firstLine, 0, static_cast<int>(lines.size()));
    const int count = std::min(g.VisibleLines(), static_cast<int>(lines.size()) - first);
    const int bottom = g.LineTop(std::max(count, 0));
    PaintAxis(p, g, frame, bottom);

    const QRect plot = g.Plot();
    QFont bold = p.font();
    bold.setBold(true);
    const QFont plain = p.font();
    for (int i = 0; i < count; ++i) {
        const DiagramLine& line = lines[static_cast<std::size_t>(first + i)];
        const int top = g.LineTop(i);
        const QRect caption(area.left() + 4, top, g.CaptionWidth() - 8, frame.rowHeight);
        if (line.band < 0) {
            p.fillRect(QRect(area.left(), top, area.width(), frame.rowHeight), kTitleBack);
            p.setFont(bold);
            p.setPen(Qt::black);
            p.drawText(caption, Qt::AlignLeft | Qt::AlignVCenter, CatalogueUnitName(line.unit));
            p.setFont(plain);
            continue;
        }
        const Band& band = bands.Bands()[static_cast<std::size_t>(line.band)];
        p.setPen(Qt::black);
        p.drawText(caption, Qt::AlignLeft | Qt::AlignVCenter,
                   p.fontMetrics().elidedText(band.caption, Qt::ElideRight, caption.width()));
        p.save();
        p.setClipRect(plot);
        PaintBand(p, g, band, frame, top, frame.rowHeight);
        p.restore();
    }

    p.setClipRect(area);
    if (frame.markerA) PaintMarker(p, g, *frame.markerA, QStringLiteral("A"), bottom);
    if (frame.markerB) PaintMarker(p, g, *frame.markerB, QStringLiteral("B"), bottom);
    if (frame.markerA && frame.markerB) {
        p.setPen(kMarkerColour);
        p.drawText(
            QRect(area.left() + 4, area.top() + 2, g.CaptionWidth() - 8, p.fontMetrics().height()),
            Qt::AlignLeft | Qt::AlignVCenter, DeltaText(*frame.markerB - *frame.markerA));
    }
    if (frame.cursorMs) {
        const int x = static_cast<int>(std::lround(g.X(*frame.cursorMs)));
        p.setPen(QPen(kEdgeColour, 1, Qt::DashLine));
        p.drawLine(x, plot.top(), x, bottom);
    }
    p.restore();
}

void PaintRunDiagram(QPainter& p, const QRect& area, const EventLog& log, int pollMs) {
    StateBands bands;
    bands.Take(log);
    DiagramFrame frame;
    frame.fromMs = bands.StartMs();
    frame.toMs = frame.nowMs = std::max(bands.EndMs(), bands.StartMs() + 1000);
    for (std::size_t b = 0; b < bands.Bands().size(); ++b) {
        const Band& band = bands.Bands()[b];
        if (band.kind == BandKind::Link || band.changes > 0)
            frame.bands.push_back(static_cast<int>(b));
    }
    p.save();
    const int text = p.fontMetrics().height();
    p.setPen(Qt::black);
    p.drawText(
        QRect(area.left(), area.top(), area.width(), text * 2),
        Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
        QStringLiteral("Диаграмма состояний: %1 — %2. Показаны сигналы, которые "
                       "изменялись. %3")
            .arg(ClockText(frame.fromMs, false), ClockText(frame.toMs, false), PollNote(pollMs)));
    const QRect rest = area.adjusted(0, text * 2 + text / 2, 0, 0);
    const int lines = std::max(static_cast<int>(DiagramLines(bands, frame.bands).size()), 1);
    frame.rowHeight = std::clamp((rest.height() - 3 * text) / lines, 6, text * 2);
    PaintDiagram(p, rest, bands, frame);
    p.restore();
}

QString DiagramTimeText(std::int64_t ms) {
    return ClockText(ms, true);
}

QString DeltaText(std::int64_t ms) {
    return QStringLiteral("Δ %1 с").arg(
        QLocale(QLocale::Russian).toString(std::abs(ms) / 1000.0, 'f', 2));
}

QString PollNote(int pollMs) {
    return QStringLiteral("Фронты — в моменты, когда станция увидела изменения (период опроса "
                          "%1 мс).")
        .arg(pollMs);
}

} // namespace korvan
