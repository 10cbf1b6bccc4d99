// Folding, fitting, resizing and scrolling of the real window.
#include "PollEngineProbe.h"
#include "monitor_code_3.h"

#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

using namespace korvan;
using korvan::layout::UnitPanel;

namespace {

class WindowBehaviour : public testing::Test {
  protected:
    void SetUp() override {
        win.resize(1000, 700);
        win.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
    }

    QWidget* Panel(int i) const { return win.Widgets.Panel(i); }
    int Left(int i) const { return Panel(i)->x(); }
    int Span() const { return Panel(10)->geometry().right() + 1; }
    void Click(QWidget* widget, QPoint at) { QTest::mouseClick(widget, Qt::LeftButton, {}, at); }

    TWIN win;
};

TEST_F(WindowBehaviour, StartsUnfoldedAndPlacesEveryPanel) {
    EXPECT_EQ(win.objectName(), "WIN");
    EXPECT_EQ(win.windowTitle(), "KORVAN PRO 3.01");
    EXPECT_EQ(Span(), 2718);
    EXPECT_EQ(win.Client()->width(), 2718);
    for (int i = 0; i < layout::kPanelCount; ++i) {
        EXPECT_EQ(Panel(i)->y(), 2) << i;
        EXPECT_EQ(Panel(i)->height(), 696) << i;
    }
    EXPECT_EQ(Left(UnitPanel(0)), 131);
    EXPECT_EQ(Left(UnitPanel(1)), 390);
}

TEST_F(WindowBehaviour, FoldLabelsAndPanelClicksFoldAndUnfold) {
    Click(win.Widgets.ctrl.MIN_CTRL, {3, 5});
    EXPECT_EQ(Panel(0)->width(), 8);
    EXPECT_EQ(Left(UnitPanel(0)), 11);

    // The strip that is left of a folded panel unfolds it.
    Click(Panel(0), {4, 300});
    EXPECT_EQ(Panel(0)->width(), 128);
    EXPECT_EQ(Left(UnitPanel(0)), 131);

    for (int k = 0; k < kUnitPanels; ++k)
        Click(win.Widgets.unit[k].MIN, {3, 5});
    Click(win.Widgets.ctrl.MIN_CTRL, {3, 5});
    EXPECT_EQ(Span(), 118);
    EXPECT_EQ(win.Client()->width(), 118);

    Click(Panel(UnitPanel(6)), {4, 10});
    EXPECT_EQ(Panel(UnitPanel(6))->width(), 256);
    EXPECT_EQ(Span(), 118 + 248);
}

TEST_F(WindowBehaviour, ClickOnAnUnfoldedPanelOrItsControlsChangesNothing) {
    const auto before = win.PanelWidths();
    Click(Panel(UnitPanel(3)), {4, 400}); // bare panel surface
    Click(win.Widgets.unit[3].DEV->findChild<QWidget*>("RELAYS_3"), {100, 80}); // inside a group
    Click(Panel(0), {60, 690});
    EXPECT_EQ(win.PanelWidths(), before);
    EXPECT_EQ(Left(UnitPanel(4)), 131 + 4 * 259);
}

TEST_F(WindowBehaviour, FitPanelsToUnits) {
    win.MIN_CTRLClick(win.Widgets.ctrl.MIN_CTRL);
    win.FitPanelsToUnits(3, 3);
    EXPECT_EQ(Panel(0)->width(), 8);
    for (int k = 0; k < kUnitPanels; ++k)
        EXPECT_EQ(Panel(UnitPanel(k))->width(), k < 3 ? 256 : 8) << k;
    EXPECT_EQ(Left(UnitPanel(3)), 11 + 3 * 259);

    const auto fitted = win.PanelWidths();
    win.FitPanelsToUnits(0, 7); // no link
    win.FitPanelsToUnits(3, 0); // firmware without modules
    EXPECT_EQ(win.PanelWidths(), fitted);

    win.FitPanelsToUnits(3, 1);
    for (int k = 1; k < kUnitPanels; ++k)
        EXPECT_EQ(Panel(UnitPanel(k))->width(), 8) << k;

    // The master comes back after the operator folded it, here from the poll engine's state.
    win.MIN_kClick(win.Widgets.unit[0].MIN);
    EXPECT_EQ(Panel(UnitPanel(0))->width(), 8);
    test::PollEngineProbe::StateOf(win.Link.Engine).ShownImage[byte::UnitCount] = 2;
    const auto fitFromEngine = [&] {
        win.FitPanelsToUnits(win.Link.Engine.LinkCredit(), UnitCount(win.Link.Engine.ShownImage()));
    };
    fitFromEngine(); // no link yet
    EXPECT_EQ(Panel(UnitPanel(0))->width(), 8);
    test::PollEngineProbe::StateOf(win.Link.Engine).LinkCredit = 3;
    fitFromEngine();
    EXPECT_EQ(Panel(UnitPanel(0))->width(), 256);
    EXPECT_EQ(Panel(UnitPanel(1))->width(), 256);
    EXPECT_EQ(Panel(UnitPanel(2))->width(), 8);
}

TEST_F(WindowBehaviour, OuterHeightSnapsTo600) {
    win.resize(900, 450);
    EXPECT_TRUE(QTest::qWaitFor([&] { return win.frameGeometry().height() == 600; }))
        << win.frameGeometry().height();
    // Above the minimum nothing is snapped.
    win.resize(900, 650);
    EXPECT_TRUE(QTest::qWaitFor([&] { return win.height() == 650; })) << win.height();
    EXPECT_GE(win.frameGeometry().height(), 650);
}

TEST_F(WindowBehaviour, HorizontalScrollPositionSurvivesFolding) {
    QScrollBar* bar = win.horizontalScrollBar();
    const int viewport = win.viewport()->width();
    ASSERT_EQ(bar->maximum(), 2718 - viewport);

    bar->setValue(1200);
    win.MIN_kClick(win.Widgets.unit[0].MIN);
    EXPECT_EQ(bar->maximum(), 2718 - 248 - viewport);
    EXPECT_EQ(bar->value(), 1200);
    win.DEV_kClick(win.Widgets.unit[0].DEV);
    EXPECT_EQ(bar->value(), 1200);

    // At the far right a fold shrinks the range below the old position: the view stays at the end.
    bar->setValue(bar->maximum());
    for (int k = 0; k < 6; ++k)
        win.MIN_kClick(win.Widgets.unit[k].MIN);
    EXPECT_EQ(bar->maximum(), 2718 - 6 * 248 - viewport);
    EXPECT_EQ(bar->value(), bar->maximum());
    // The content is still at the bar's position.
    EXPECT_EQ(win.Client()->x(), -bar->value());
}

TEST_F(WindowBehaviour, BackgroundFillsTheClientAreaAndIsScaledOncePerSize) {
    TBackground* background = win.Background();
    EXPECT_EQ(background->objectName(), "BACKGROUND");
    EXPECT_EQ(background->geometry(), win.viewport()->rect());
    EXPECT_EQ(background->Stretched().size(), win.viewport()->size());

    const int scaled = background->ScaleCount();
    for (int i = 0; i < 3; ++i) {
        background->repaint();
        win.Widgets.Panel(3)->repaint();
    }
    EXPECT_EQ(background->ScaleCount(), scaled);

    win.resize(1200, 760);
    ASSERT_TRUE(QTest::qWaitFor([&] { return win.viewport()->width() > 1100; }));
    EXPECT_EQ(background->geometry(), win.viewport()->rect());
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return background->Stretched().size() == win.viewport()->size(); }));
    EXPECT_EQ(background->ScaleCount(), scaled + 1);
}

} // namespace
