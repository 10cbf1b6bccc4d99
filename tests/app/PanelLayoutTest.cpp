#include "PanelLayout.h"

#include <gtest/gtest.h>

using namespace korvan::layout;

namespace {

PanelWidths AllFolded() {
    PanelWidths widths{};
    widths.fill(kFoldedWidth);
    return widths;
}

} // namespace

TEST(PanelLayout, SpanOfUnfoldedAndFoldedPanels) {
    EXPECT_EQ(PanelsSpan(UnfoldedWidths()), 2718);
    EXPECT_EQ(PanelsSpan(AllFolded()), 118);
}

TEST(PanelLayout, LeftEdgesKeepThreePixelGaps) {
    PanelWidths widths = UnfoldedWidths();
    PanelLefts lefts = LeftEdges(widths);
    EXPECT_EQ(lefts[0], 0);
    EXPECT_EQ(lefts[UnitPanel(0)], 131);
    EXPECT_EQ(lefts[UnitPanel(9)], 131 + 9 * 259);

    Fold(widths, 0);
    EXPECT_EQ(LeftEdges(widths)[UnitPanel(0)], 11);
    EXPECT_TRUE(Unfold(widths, 0));
    EXPECT_EQ(LeftEdges(widths)[UnitPanel(0)], 131);
}

TEST(PanelLayout, FoldIsIdempotentAndUnfoldOnlyWhenNarrower) {
    PanelWidths widths = UnfoldedWidths();
    EXPECT_FALSE(Unfold(widths, UnitPanel(4)));
    Fold(widths, UnitPanel(4));
    Fold(widths, UnitPanel(4));
    EXPECT_EQ(widths[UnitPanel(4)], kFoldedWidth);
    EXPECT_TRUE(Unfold(widths, UnitPanel(4)));
    EXPECT_EQ(widths, UnfoldedWidths());
}

TEST(PanelLayout, FitToThreeUnitsLeavesCtrlAsTheOperatorLeftIt) {
    PanelWidths widths = UnfoldedWidths();
    Fold(widths, 0);
    ASSERT_TRUE(FitWidthsToUnits(widths, 3, 3));
    EXPECT_EQ(widths[0], kFoldedWidth);
    for (int unit = 0; unit <= 9; ++unit)
        EXPECT_EQ(widths[UnitPanel(unit)], unit <= 2 ? kUnitWidth : kFoldedWidth) << unit;
}

TEST(PanelLayout, FitToOneUnitFoldsEveryModuleAndTenUnfoldsAll) {
    PanelWidths widths = UnfoldedWidths();
    ASSERT_TRUE(FitWidthsToUnits(widths, 1, 1));
    for (int module = 1; module <= 9; ++module)
        EXPECT_EQ(widths[UnitPanel(module)], kFoldedWidth);
    EXPECT_EQ(widths[UnitPanel(0)], kUnitWidth);

    ASSERT_TRUE(FitWidthsToUnits(widths, 2, 200));
    EXPECT_EQ(widths, UnfoldedWidths());
}

TEST(PanelLayout, FitWithoutLinkOrWithoutUnitCountChangesNothing) {
    PanelWidths widths = UnfoldedWidths();
    Fold(widths, UnitPanel(0));
    Fold(widths, UnitPanel(5));
    const PanelWidths before = widths;
    EXPECT_FALSE(FitWidthsToUnits(widths, 3, 0));
    EXPECT_FALSE(FitWidthsToUnits(widths, 0, 4));
    EXPECT_EQ(widths, before);
}

TEST(PanelLayout, FitUnfoldsTheMasterTheOperatorFolded) {
    PanelWidths widths = UnfoldedWidths();
    Fold(widths, UnitPanel(0));
    ASSERT_TRUE(FitWidthsToUnits(widths, 1, 2));
    EXPECT_EQ(widths[UnitPanel(0)], kUnitWidth);
    EXPECT_EQ(widths[UnitPanel(1)], kUnitWidth);
    EXPECT_EQ(widths[UnitPanel(2)], kFoldedWidth);
}

TEST(PanelLayout, HeightSnapsAndScrollStaysInRange) {
    EXPECT_EQ(SnappedOuterHeight(450), 600);
    EXPECT_EQ(SnappedOuterHeight(599), 600);
    EXPECT_EQ(SnappedOuterHeight(601), 601);
    EXPECT_EQ(KeptScrollPosition(700, 1000), 700);
    EXPECT_EQ(KeptScrollPosition(700, 450), 450);
    EXPECT_EQ(KeptScrollPosition(700, -20), 0);
}
