#include "PanelLayout.h"

#include <algorithm>

namespace korvan::layout {

PanelWidths UnfoldedWidths() {
    PanelWidths widths{};
    for (int i = 0; i < kPanelCount; ++i)
        widths[i] = UnfoldedWidth(i);
    return widths;
}

PanelLefts LeftEdges(const PanelWidths& widths) {
    PanelLefts lefts{};
    for (int i = 1; i < kPanelCount; ++i)
        lefts[i] = lefts[i - 1] + widths[i - 1] + kPanelGap;
    return lefts;
}

int PanelsSpan(const PanelWidths& widths) {
    return LeftEdges(widths)[kPanelCount - 1] + widths[kPanelCount - 1];
}

bool FitWidthsToUnits(PanelWidths& widths, int linkCredit, int unitCount) {
    if (linkCredit == 0 || unitCount == 0) return false;
    // The master's panel comes back even when the operator folded it; CTRL stays as it is.
    widths[UnitPanel(0)] = kUnitWidth;
    for (int module = 1; module <= 9; ++module)
        widths[UnitPanel(module)] = unitCount > module ? kUnitWidth : kFoldedWidth;
    return true;
}

void Fold(PanelWidths& widths, int panel) {
    widths[panel] = kFoldedWidth;
}

bool Unfold(PanelWidths& widths, int panel) {
    if (widths[panel] >= UnfoldedWidth(panel)) return false;
    widths[panel] = UnfoldedWidth(panel);
    return true;
}

int SnappedOuterHeight(int outerHeight) {
    return std::max(outerHeight, kMinOuterHeight);
}

int KeptScrollPosition(int remembered, int newMaximum) {
    return std::clamp(remembered, 0, std::max(newMaximum, 0));
}

} // namespace korvan::layout
