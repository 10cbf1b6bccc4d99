// The bus scan against korvan-sim through the real window: a unit at an address and speed the
// station does not use is found, connected to and polled; the scan with "Только до первого
// найденного" off; a line that spoils every answer; and a scan stopped half way, which leaves
// the station as it was.
#include "E2ETestSupport.h"
#include "ScanWindow.h"
#include "SimulatorProcess.h"
#include "monitor_code_3.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>

using namespace korvan;

namespace {

constexpr int kWaitMs = 30000;
constexpr char kPollingStopped[] = "идёт поиск блоков";

class BusScanE2ETest : public ::testing::Test {
  protected:
    void SetUp() override { e2e::ShownMessages().clear(); }
    void TearDown() override {
        win_.reset();
        EXPECT_EQ(sim_.Stop(), 0);
        EXPECT_TRUE(e2e::ShownMessages().empty()) << e2e::ShownMessages()[0].text;
    }

    void StartStation(const QStringList& options) {
        ASSERT_EQ(sim_.Start(QStringLiteral("/dev/ttyZZZSCAN%1").arg(getpid()),
                             options + QStringList{"--quiet"}),
                  "");
        win_ = std::make_unique<TWIN>();
        ASSERT_TRUE(win_->Link.SEND_TIM.isActive()) << "the port did not open";
        win_->ShowAtStart();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(win_.get()));
    }

    // F4 in the main window opens the scan's window.
    scan::ScanWindow* OpenScan() {
        win_->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(win_.get()));
        QTest::keyClick(win_.get(), Qt::Key_F4);
        auto* window = win_->findChild<scan::ScanWindow*>(QStringLiteral("BUS_SCAN"));
        if (window) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        }
        return window;
    }
    template <class T> T* In(QWidget* window, const char* name) {
        T* child = window->findChild<T*>(QString::fromLatin1(name));
        if (!child) throw std::runtime_error(std::string("no ") + name);
        return child;
    }
    void Plan(scan::ScanWindow* window, int first, int last, std::vector<int> speeds = {}) {
        In<QSpinBox>(window, "FIRST_ADDRESS")->setValue(first);
        In<QSpinBox>(window, "LAST_ADDRESS")->setValue(last);
        if (speeds.empty()) return;
        for (int baud : scan::kScanSpeeds)
            In<QCheckBox>(window, QStringLiteral("SPEED_%1").arg(baud).toLatin1())
                ->setChecked(std::find(speeds.begin(), speeds.end(), baud) != speeds.end());
    }
    bool WaitForEnd(scan::ScanWindow* window) {
        return QTest::qWaitFor([window] { return !window->Scan().Running(); }, kWaitMs);
    }
    QString Cell(scan::ScanWindow* window, int row, int column) {
        const QTableWidgetItem* item = In<QTableWidget>(window, "RESULTS")->item(row, column);
        return item ? item->text() : QString();
    }
    QString OnlineTip() { return win_->Widgets.ctrl.ONLINE->toolTip(); }
    bool LinkUp() {
        return QTest::qWaitFor([this] { return win_->Link.Engine.LinkUp(); }, kWaitMs);
    }
    bool Journalled(const QString& text) {
        const EventLog& log = win_->Link.Journal.Log();
        for (std::uint64_t s = log.FirstKept(); s < log.End(); ++s)
            if (log.At(s).text == text) return true;
        return false;
    }

    e2e::SimulatorProcess sim_;
    std::unique_ptr<TWIN> win_;
};

TEST_F(BusScanE2ETest, UnitAt37And19200IsFoundConnectedAndPolled) {
    ASSERT_NO_FATAL_FAILURE(StartStation({"--address", "37", "--baud", "19200"}));
    scan::ScanWindow* window = OpenScan();
    ASSERT_NE(window, nullptr) << "F4 opened no window";
    Plan(window, 30, 40);                    // every speed, the first ones without an answer
    QTest::keyClick(window, Qt::Key_Return); // "Начать" is the default button
    ASSERT_TRUE(window->Scan().Running());
    EXPECT_FALSE(win_->Link.SEND_TIM.isActive()) << "polling goes on during the scan";
    EXPECT_TRUE(OnlineTip().contains(QString::fromUtf8(kPollingStopped)));
    ASSERT_TRUE(WaitForEnd(window));

    ASSERT_EQ(window->Scan().Finds().size(), 1u);
    EXPECT_EQ(Cell(window, 0, 0), "37");
    EXPECT_EQ(Cell(window, 0, 1), "19200");
    EXPECT_EQ(Cell(window, 0, 2), "ЗОКТ-01, прошивка 3.05, блоков: 4");
    auto* rows = In<QTableWidget>(window, "RESULTS");
    EXPECT_EQ(QApplication::focusWidget(), rows) << "the keyboard is not in the results";
    EXPECT_TRUE(Journalled("Поиск блоков: найдено 1 (адрес 37, скорость 19200)"));
    // Reads only, and nothing to the broadcast address, which the unit would hear.
    for (const std::string& frame : sim_.ReceivedFrames().recent) {
        EXPECT_EQ(frame.substr(0, 4), "2503") << "the scan sent " << frame;
    }

    QTest::keyClick(rows, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return !win_->findChild<scan::ScanWindow*>(QStringLiteral("BUS_SCAN")); }));
    EXPECT_EQ(win_->Widgets.ctrl.PCSPD->currentText(), "19200");
    EXPECT_EQ(win_->Widgets.ctrl.SENDADR->Value(), "37");
    EXPECT_TRUE(OnlineTip().isEmpty());
    ASSERT_TRUE(LinkUp()) << "the found unit is not polled";
    EXPECT_TRUE(Journalled("Поиск блоков: подключение к адресу 37, скорость 19200"));
    // Polled with the station's own read from register 0 at address 37 (96 registers, then 116
    // once the firmware is known to have them), unlike the scan's probe of registers 80 to 86.
    ASSERT_TRUE(QTest::qWaitFor([this] {
        const auto recent = sim_.ReceivedFrames().recent;
        return !recent.empty() && recent.back().rfind("25030000", 0) == 0;
    }));
}

TEST_F(BusScanE2ETest, UnitAt57600And247IsFoundWithTheWholeSweep) {
    ASSERT_NO_FATAL_FAILURE(StartStation({"--address", "247", "--baud", "57600"}));
    scan::ScanWindow* window = OpenScan();
    ASSERT_NE(window, nullptr);
    Plan(window, 240, 247);
    In<QCheckBox>(window, "UNTIL_FIRST")->setChecked(false);
    In<QPushButton>(window, "START")->click();
    ASSERT_TRUE(WaitForEnd(window));
    EXPECT_EQ(window->Scan().ProbesDone(), 7 * 8) << "the sweep ended before its end";
    ASSERT_EQ(window->Scan().Finds().size(), 1u);
    EXPECT_EQ(Cell(window, 0, 0), "247");
    EXPECT_EQ(Cell(window, 0, 1), "57600");
    EXPECT_TRUE(Cell(window, 0, 2).startsWith("ЗОКТ-01, прошивка 3.05"))
        << Cell(window, 0, 2).toStdString();
    window->reject(); // closed without connecting
    EXPECT_EQ(win_->Widgets.ctrl.PCSPD->currentText(), "9600");
    EXPECT_EQ(win_->Widgets.ctrl.SENDADR->Value(), "1");
    EXPECT_EQ(win_->Link.COMPORT.BaudRate(), br9600);
    EXPECT_TRUE(win_->Link.SEND_TIM.isActive());
}

TEST_F(BusScanE2ETest, SpoiltAnswersShowAUnitWithABadLink) {
    ASSERT_NO_FATAL_FAILURE(StartStation({"--address", "5", "--corrupt", "100"}));
    scan::ScanWindow* window = OpenScan();
    ASSERT_NE(window, nullptr);
    Plan(window, 1, 10, {9600});
    In<QPushButton>(window, "START")->click();
    ASSERT_TRUE(WaitForEnd(window));
    ASSERT_EQ(window->Scan().Finds().size(), 1u);
    EXPECT_EQ(Cell(window, 0, 0), "5");
    EXPECT_EQ(Cell(window, 0, 2), "ответ с ошибкой CRC: устройство есть, связь плохая");
    EXPECT_EQ(window->Scan().ProbesDone(), 10);
}

TEST_F(BusScanE2ETest, ScanStoppedHalfWayLeavesTheStationAsItWas) {
    ASSERT_NO_FATAL_FAILURE(StartStation({}));
    ASSERT_TRUE(LinkUp());
    scan::ScanWindow* window = OpenScan();
    ASSERT_NE(window, nullptr);
    Plan(window, 2, 247); // the unit at 1 is not asked
    In<QPushButton>(window, "START")->click();
    EXPECT_FALSE(win_->Link.Engine.LinkUp()) << "the link stays up while the scan has the port";
    ASSERT_TRUE(QTest::qWaitFor([window] { return window->Scan().ProbesDone() >= 100; }, kWaitMs));
    QElapsedTimer stopping;
    stopping.start();
    In<QPushButton>(window, "STOP")->click();
    ASSERT_TRUE(WaitForEnd(window));
    EXPECT_LT(stopping.elapsed(), 500);
    EXPECT_TRUE(Journalled("Поиск блоков: найдено 0, поиск остановлен"));

    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_EQ(win_->Widgets.ctrl.PCSPD->currentText(), "9600");
    EXPECT_EQ(win_->Widgets.ctrl.SENDADR->Value(), "1");
    EXPECT_TRUE(OnlineTip().isEmpty());
    ASSERT_TRUE(LinkUp()) << "polling did not resume";
}

} // namespace
