// Panel placement arithmetic of the main window, free of widgets so it can be checked alone.
// Panel 0 is CTRL, panels 1 .. 10 are DEV_0 .. DEV_9.
#pragma once

#include <array>

namespace korvan::layout {

constexpr int kPanelCount = 11;
constexpr int kPanelTop = 2;
constexpr int kPanelHeight = 696;
constexpr int kPanelGap = 3;
constexpr int kFoldedWidth = 8;
constexpr int kCtrlWidth = 128;
constexpr int kUnitWidth = 256;
constexpr int kMinOuterHeight = 600;

using PanelWidths = std::array<int, kPanelCount>;
using PanelLefts = std::array<int, kPanelCount>;

constexpr int UnitPanel(int unit) {
    return unit + 1;
}
constexpr int UnfoldedWidth(int panel) {
    return panel == 0 ? kCtrlWidth : kUnitWidth;
}

PanelWidths UnfoldedWidths();

// Left edges: CTRL at 0, every next panel 3 pixels right of its neighbour, folded ones included.
PanelLefts LeftEdges(const PanelWidths& widths);

// Right edge of the last panel: the width the panels span.
int PanelsSpan(const PanelWidths& widths);

// The unit panels' widths from the number of units on the network (master included). Returns
// false and changes nothing without a link or when the unit reports no module support.
bool FitWidthsToUnits(PanelWidths& widths, int linkCredit, int unitCount);

void Fold(PanelWidths& widths, int panel);

// Returns false when the panel is already at its unfolded width.
bool Unfold(PanelWidths& widths, int panel);

int SnappedOuterHeight(int outerHeight);

// A scroll position kept across a change of the scroll range.
int KeptScrollPosition(int remembered, int newMaximum);

} // namespace korvan::layout
