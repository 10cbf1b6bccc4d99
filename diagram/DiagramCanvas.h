// The plain widget the state diagram is drawn on, and how the operator reads it: the wheel zooms
// about the pointer (from the whole run to one second across), dragging pans, hovering shows the
// time with milliseconds and the state, a click on an edge names its event, a double click puts
// a marker (A, then B, then the nearer of the two moves) on the nearest edge. The right end
// follows the present unless the operator went back in time.
#pragma once

#include "DiagramPainter.h"

#include <QWidget>

#include <cstdint>

namespace korvan {

class DiagramCanvas : public QWidget {
    Q_OBJECT
  public:
    static constexpr std::int64_t kMinSpanMs = 1000;

    explicit DiagramCanvas(const StateBands& bands, QWidget* parent = nullptr);

    // The present moved to `nowMs` (and the bands may have grown): the view follows it.
    void Advance(std::int64_t nowMs);
    void SetShown(std::vector<int> bands);
    void SetFirstLine(int line);
    void ClearMarkers();
    void ShowWholeRun();

    const DiagramFrame& Frame() const { return frame_; }
    int LineCount() const { return lineCount_; }
    int VisibleLines() const;
    bool Following() const { return following_; }
    // The edge of the band in line `line` (counted from the first drawn) nearest to x within a
    // few pixels; null when there is none.
    const BandEdge* EdgeNear(int line, int x) const;

  signals:
    void EdgeClicked(std::uint64_t sequence);
    void MarkersChanged();
    void LinesChanged(); // their count or the visible count changed: the scroll bar follows

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    DiagramGeometry Geometry() const;
    // Puts [from, from + span] inside the run, and follows the present when it reaches it.
    void Place(std::int64_t from, std::int64_t span);
    std::int64_t RunStart() const;
    QString HoverText(int line, std::int64_t ms) const;

    const StateBands& bands_;
    DiagramFrame frame_;
    int lineCount_ = 0;
    bool whole_ = true;     // the span is the whole run
    bool following_ = true; // the right end is the present
    bool dragging_ = false;
    QPoint pressAt_;
    std::int64_t pressFrom_ = 0;
};

} // namespace korvan
