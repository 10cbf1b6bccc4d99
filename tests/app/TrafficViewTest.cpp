// The traffic view on the real window, fed with synthetic exchanges.
#include "AppTestSupport.h"
#include "ExchangeText.h"
#include "PollEngineProbe.h"
#include "TrafficRecords.h"
#include "TrafficWindow.h"
#include "monitor_code_3.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHelpEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

using namespace korvan;
using namespace korvan::testing;
using V = ExchangeVerdict;

namespace {

class TrafficView : public ::testing::Test {
  protected:
    void SetUp() override {
        ShownMessages().clear();
        win.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
    }

    TrafficWindow* Open() {
        win.OpenTrafficView();
        TrafficWindow* view = win.TrafficView();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view));
        return view;
    }
    void Feed(int count, V verdict = V::Good) {
        for (int i = 0; i < count; ++i)
            win.Link.Traffic.ExchangeClosed(Exchange(WriteOf(4, i), verdict, {1, 6}, 1500));
    }
    QString Cell(int row, ExchangeColumn column) {
        TrafficModel& model = win.TrafficView()->Model();
        return model.data(model.index(row, static_cast<int>(column)), Qt::DisplayRole).toString();
    }
    QString Counters() { return win.TrafficView()->findChild<QLabel*>("COUNTERS")->text(); }

    TWIN win;
};

TEST_F(TrafficView, OpensByF2AndByDoubleClickWithoutTouchingTheWindow) {
    const auto widths = win.PanelWidths();
    const QRect onlineAt = win.Widgets.ctrl.ONLINE->geometry();
    ASSERT_EQ(win.TrafficView(), nullptr);

    win.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&win));
    QTest::keyClick(win.Widgets.ctrl.SENDADR, Qt::Key_F2); // from inside an edit field too
    TrafficWindow* view = win.TrafficView();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(view->windowTitle(), "Обмен — журнал");
    EXPECT_TRUE(view->isWindow());

    for (QWidget* target :
         {static_cast<QWidget*>(win.Widgets.ctrl.ONLINE), win.findChild<QWidget*>("Labonline")}) {
        view->close();
        ASSERT_FALSE(view->isVisible());
        QTest::mouseDClick(target, Qt::LeftButton);
        EXPECT_TRUE(view->isVisible()) << target->objectName().toStdString();
        EXPECT_EQ(win.TrafficView(), view);
    }
    EXPECT_EQ(win.PanelWidths(), widths);
    EXPECT_EQ(win.Widgets.ctrl.ONLINE->geometry(), onlineAt);
    EXPECT_EQ(win.Widgets.ctrl.ONLINE->colour(), kYellow);
}

TEST_F(TrafficView, RowsFollowTheEndUnlessScrolledUp) {
    TrafficWindow* view = Open();
    view->resize(900, 300);
    Feed(200);
    view->Refresh();
    QScrollBar* bar = view->Rows()->verticalScrollBar();
    ASSERT_EQ(view->Model().rowCount(), 200);
    EXPECT_EQ(Cell(199, ExchangeColumn::Meaning), "запись рег. 4 = 199");
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->maximum() > 0; }));
    EXPECT_EQ(bar->value(), bar->maximum());

    // Scrolled up, new rows arrive below without moving the view.
    bar->setValue(50);
    Feed(20, V::NoReply);
    view->Refresh();
    EXPECT_EQ(view->Model().rowCount(), 220);
    EXPECT_EQ(Cell(219, ExchangeColumn::Verdict), "нет ответа");
    EXPECT_EQ(bar->value(), 50);
    EXPECT_FALSE(view->Following());

    // Back at the end, it follows again; the timer brings the rows while the window is shown.
    bar->setValue(bar->maximum());
    Feed(5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->Model().rowCount() == 225; }));
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(TrafficView, RowsAreCappedAndAScrolledViewKeepsItsRows) {
    TrafficWindow* view = Open();
    Feed(TrafficLog::kCapacity);
    view->Refresh();
    QScrollBar* bar = view->Rows()->verticalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->maximum() > 100; }));
    bar->setValue(100);
    const QString looked = Cell(100, ExchangeColumn::Meaning);
    Feed(30);
    view->Refresh();
    EXPECT_EQ(view->Model().rowCount(), TrafficLog::kCapacity);
    EXPECT_EQ(Cell(bar->value(), ExchangeColumn::Meaning), looked);
}

TEST_F(TrafficView, PauseFreezesResetClears) {
    TrafficWindow* view = Open();
    Feed(3);
    view->Refresh();
    const QString counters = Counters();
    QPushButton* pause = view->findChild<QPushButton*>("PAUSE");
    ASSERT_EQ(pause->text(), "Пауза");
    QTest::mouseClick(pause, Qt::LeftButton);
    EXPECT_EQ(pause->text(), "Продолжить");
    Feed(4, V::BadCrc);
    view->Refresh();
    EXPECT_EQ(view->Model().rowCount(), 3);
    EXPECT_EQ(Counters(), counters);
    EXPECT_EQ(win.Link.Traffic.Size(), 7); // recorded underneath
    QTest::mouseClick(pause, Qt::LeftButton);
    EXPECT_EQ(pause->text(), "Пауза");
    EXPECT_EQ(view->Model().rowCount(), 7);
    EXPECT_NE(Counters().indexOf("ошибка CRC 4"), -1) << Counters().toStdString();

    QPushButton* reset = view->findChild<QPushButton*>("RESET");
    ASSERT_EQ(reset->text(), "Сбросить");
    QTest::mouseClick(reset, Qt::LeftButton);
    EXPECT_EQ(view->Model().rowCount(), 0);
    EXPECT_EQ(win.Link.Traffic.Size(), 0);
    EXPECT_TRUE(Counters().startsWith("Запросы: 0")) << Counters().toStdString();
    Feed(1);
    view->Refresh();
    EXPECT_EQ(view->Model().rowCount(), 1);
}

TEST_F(TrafficView, SavesTheRecordAndReportsAFailure) {
    TrafficWindow* view = Open();
    Feed(2);
    Feed(1, V::WrongAddress);
    QTemporaryDir dir;
    QString path = dir.filePath("журнал.csv");
    view->SetSavePathChooser([&](QWidget*) { return path; });
    QPushButton* save = view->findChild<QPushButton*>("SAVE");
    ASSERT_EQ(save->text(), "Сохранить…");
    QTest::mouseClick(save, Qt::LeftButton);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[3].endsWith(";запись рег. 4 = 0;чужой адрес")) << lines[3].toStdString();
    EXPECT_TRUE(ShownMessages().empty());

    path = dir.filePath("нет/такой/папки.csv");
    QTest::mouseClick(save, Qt::LeftButton);
    ASSERT_EQ(ShownMessages().size(), 1u);
    EXPECT_EQ(ShownMessages()[0].kind, MessageKind::Error);
    EXPECT_EQ(ShownMessages()[0].text, "Не удалось сохранить журнал обмена.");
}

TEST_F(TrafficView, CopiesTheSelectedRowsAsText) {
    TrafficWindow* view = Open();
    Feed(3);
    view->Refresh();
    QTableView* rows = view->Rows();
    rows->selectionModel()->select(view->Model().index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    rows->selectionModel()->select(view->Model().index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QApplication::clipboard()->clear();
    view->CopySelectedRows();
    const QStringList lines = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith("\t01 06\t1.5\tзапись рег. 4 = 0\tнорма"))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains("запись рег. 4 = 2"));
}

TEST_F(TrafficView, FoldedStripTellsWhichUnitItIs) {
    win.MIN_kClick(win.Widgets.unit[3].MIN);
    TPanel* strip = win.Widgets.unit[3].DEV;
    EXPECT_EQ(win.StripToolTip(4), "ЗОКТ-МР №3: нет связи");
    test::PollEngineProbe::StateOf(win.Link.Engine).LinkCredit = 3;
    EXPECT_EQ(win.StripToolTip(4), "ЗОКТ-МР №3: не используется");
    test::PollEngineProbe::StateOf(win.Link.Engine).ShownImage[2 * 24 + 1] =
        2; // drive type of module 3
    EXPECT_EQ(win.StripToolTip(4), "ЗОКТ-МР №3: норма");
    test::PollEngineProbe::StateOf(win.Link.Engine).ShownImage[2 * 25 + 1] =
        1; // a fault of module 3
    EXPECT_EQ(win.StripToolTip(4), "ЗОКТ-МР №3: неисправность");
    EXPECT_EQ(win.StripToolTip(1), ""); // unfolded
    win.MIN_CTRLClick(win.Widgets.ctrl.MIN_CTRL);
    EXPECT_EQ(win.StripToolTip(0), "Общие");

    QHelpEvent hover(QEvent::ToolTip, {4, 300}, strip->mapToGlobal(QPoint(4, 300)));
    QApplication::sendEvent(strip, &hover);
    EXPECT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }));
    EXPECT_EQ(QToolTip::text(), "ЗОКТ-МР №3: неисправность");
    QToolTip::hideText();
}

} // namespace
