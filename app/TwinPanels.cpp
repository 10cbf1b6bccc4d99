// TWIN: the panels side by side, their folding and unfolding, and their widths fitted to the units
// on the network. The arithmetic is in PanelLayout; here it meets the widgets.
#include "monitor_code_3.h"

#include <QResizeEvent>
#include <QScrollBar>

using namespace korvan;

layout::PanelWidths TWIN::PanelWidths() const {
    layout::PanelWidths widths{};
    for (int i = 0; i < layout::kPanelCount; ++i)
        widths[i] = Widgets.Panel(i)->width();
    return widths;
}

void TWIN::ApplyWidths(const layout::PanelWidths& widths) {
    for (int i = 0; i < layout::kPanelCount; ++i)
        Widgets.Panel(i)->resize(widths[i], layout::kPanelHeight);
}

void TWIN::LayoutPanels() {
    QScrollBar* bar = horizontalScrollBar();
    const int remembered = bar->value();

    const layout::PanelWidths widths = PanelWidths();
    const layout::PanelLefts lefts = layout::LeftEdges(widths);
    for (int i = 0; i < layout::kPanelCount; ++i)
        Widgets.Panel(i)->setGeometry(lefts[i], layout::kPanelTop, widths[i], layout::kPanelHeight);
    client_->resize(layout::PanelsSpan(widths), layout::kPanelTop + layout::kPanelHeight);
    BACKGROUND->setGeometry(viewport()->rect());

    bar->setValue(layout::KeptScrollPosition(remembered, bar->maximum()));
}

void TWIN::FitPanelsToUnits(int linkCredit, int unitCount) {
    layout::PanelWidths widths = PanelWidths();
    if (!layout::FitWidthsToUnits(widths, linkCredit, unitCount)) return;
    ApplyWidths(widths);
    LayoutPanels();
}

void TWIN::FoldPanel(int panel) {
    layout::PanelWidths widths = PanelWidths();
    layout::Fold(widths, panel);
    ApplyWidths(widths);
    LayoutPanels();
}

void TWIN::UnfoldPanel(int panel) {
    layout::PanelWidths widths = PanelWidths();
    if (!layout::Unfold(widths, panel)) return;
    ApplyWidths(widths);
    LayoutPanels();
}

void TWIN::MIN_CTRLClick(QObject*) {
    FoldPanel(0);
}

void TWIN::MIN_kClick(QObject* Sender) {
    for (int k = 0; k < kUnitPanels; ++k)
        if (Widgets.unit[k].MIN == Sender) FoldPanel(layout::UnitPanel(k));
}

void TWIN::CTRLClick(QObject*) {
    UnfoldPanel(0);
}

void TWIN::DEV_kClick(QObject* Sender) {
    for (int k = 0; k < kUnitPanels; ++k)
        if (Widgets.unit[k].DEV == Sender) UnfoldPanel(layout::UnitPanel(k));
}

void TWIN::FormResize() {
    const int outer = frameGeometry().height();
    const int snapped = layout::SnappedOuterHeight(outer);
    if (snapped != outer) resize(width(), height() + snapped - outer);
    LayoutPanels();
}

void TWIN::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    FormResize();
}

bool TWIN::viewportEvent(QEvent* event) {
    // The scroll bars come and go with the panels' span; the picture follows the client area.
    if (event->type() == QEvent::Resize) BACKGROUND->setGeometry(viewport()->rect());
    return QScrollArea::viewportEvent(event);
}
