// The state diagram drawn on any paint device: the window, a PNG, SVG or PDF file, a page of
// the commissioning report. Time runs to the right; one line per band, under a title line per
// unit; a band is drawn as steps, high and red while active (at fault: red with a yellow core),
// low and green at rest, low and grey while grey, nothing while unknown. Edges are dark lines;
// several in one pixel still make one, so a change shorter than a pixel is never lost.
#pragma once

#include "StateBands.h"

#include <QPainter>
#include <QRect>

#include <cstdint>
#include <optional>
#include <vector>

namespace korvan {

struct DiagramFrame {
    std::int64_t fromMs = 0; // the time across the plot
    std::int64_t toMs = 1000;
    std::int64_t nowMs = 0; // states run up to here
    std::vector<int> bands; // the bands shown, in order
    int firstLine = 0;      // the first line drawn: the vertical scroll
    int rowHeight = 18;
    std::optional<std::int64_t> markerA;
    std::optional<std::int64_t> markerB;
    std::optional<std::int64_t> cursorMs; // the hovered time
};

// A line of the diagram: a unit's title (band -1) or one of its bands.
struct DiagramLine {
    int unit = 0;
    int band = -1;
};
std::vector<DiagramLine> DiagramLines(const StateBands& bands, const std::vector<int>& shown);

// Where things are for a frame drawn in `area` with `font`.
class DiagramGeometry {
  public:
    DiagramGeometry(const QRect& area, const DiagramFrame& frame, const QFontMetrics& font);

    QRect Plot() const { return plot_; } // the bands' steps, under the time axis
    int CaptionWidth() const { return plot_.left() - area_.left(); }
    int AxisHeight() const { return plot_.top() - area_.top(); }
    int VisibleLines() const;
    double X(std::int64_t ms) const;
    std::int64_t Ms(double x) const;
    // The line under y counted from the first line, or -1 above or below them.
    int LineAt(int y) const;
    int LineTop(int line) const; // of a line counted from the first line drawn

  private:
    QRect area_;
    QRect plot_;
    std::int64_t from_;
    std::int64_t to_;
    int rowHeight_;
};

void PaintDiagram(QPainter& painter, const QRect& area, const StateBands& bands,
                  const DiagramFrame& frame);

// The whole run kept in the log, every band that changed, fitted into `area`, under a title:
// for a page of the commissioning report. `pollMs` is the poll period the note names.
void PaintRunDiagram(QPainter& painter, const QRect& area, const EventLog& log, int pollMs);

QString DiagramTimeText(std::int64_t ms); // "14:03:07,123"
QString DeltaText(std::int64_t ms);       // "Δ 15,02 с"
// That edges are at the times the station saw them, its poll period named.
QString PollNote(int pollMs);

} // namespace korvan
