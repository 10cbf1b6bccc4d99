// The whole station against korvan-sim: the real window, its port on a pseudo-terminal linked
// into /dev, and the simulated unit network on the other end of the line. Each test starts its
// own simulator under a link name that sorts after every port of the machine, so that the
// window, which opens the last port of its list, finds it.
#include "Binding.h"
#include "CompareWindow.h"
#include "E2ETestSupport.h"
#include "ExchangeText.h"
#include "FileIo.h"
#include "JournalFile.h"
#include "JournalWindow.h"
#include "RecordsCatalogue.h"
#include "RussianCount.h"
#include "RussianCsv.h"
#include "SettingsFile.h"
#include "SimulatorProcess.h"
#include "TrafficWindow.h"
#include "Widgets.h"
#include "monitor_code_3.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <numeric>
#include <set>
#include <sstream>
#include <unistd.h>

using namespace korvan;
using korvan::e2e::ShownMessages;

namespace {

constexpr int kWaitMs = 10000; // generous: the line and the window share two busy cores

// Read of registers 0 to 95 and of 0 to 115, slave 1, as they travel on the line.
constexpr char kRead96[] = "01030000006045E2";
constexpr char kRead116[] = "01030000007445ED";

bool Contains(const std::vector<std::string>& frames, const std::string& frame) {
    return std::find(frames.begin(), frames.end(), frame) != frames.end();
}

// Every indicator that shows the unit's state rather than a setting.
std::vector<QString> StatusIndicatorNames() {
    std::vector<QString> names{"PUSK", "RELAY1", "RELAY2", "RELAY3", "RELAY4",
                               "CS1",  "CS2",    "CU1",    "CU2"};
    for (int k = 0; k < 10; ++k) {
        names.push_back(QStringLiteral("OUT1_%1").arg(k));
        names.push_back(QStringLiteral("OUT2_%1").arg(k));
        for (int n = 1; n <= 5; ++n)
            names.push_back(QStringLiteral("IN%1_%2").arg(n).arg(k));
        names.push_back(QStringLiteral("STATE_%1").arg(k));
    }
    return names;
}

class StationE2ETest : public ::testing::Test {
  protected:
    void SetUp() override { ShownMessages().clear(); }

    void TearDown() override {
        // The window closes its port before the simulator and its link go.
        win_.reset();
        EXPECT_EQ(sim_.Stop(), 0) << "korvan-sim did not end cleanly";
        if (!expectMessages_) {
            EXPECT_TRUE(ShownMessages().empty()) << ShownMessages()[0].text;
        }
    }

    void StartSimulator(const QStringList& options = {}) {
        linkName_ = QStringLiteral("ttyZZZE2E%1").arg(getpid());
        const std::string error = sim_.Start("/dev/" + linkName_, options);
        ASSERT_EQ(error, "");
    }

    void StartWindow() {
        win_ = std::make_unique<TWIN>();
        ASSERT_EQ(Control<QComboBox>("COM")->currentText(), linkName_)
            << "another port sorts after the simulator's link";
        ASSERT_TRUE(win_->Link.SEND_TIM.isActive()) << "the port did not open";
        win_->ShowAtStart();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(win_.get()));
    }

    void StartStation(const QStringList& options = {}) {
        ASSERT_NO_FATAL_FAILURE(StartSimulator(options));
        ASSERT_NO_FATAL_FAILURE(StartWindow());
    }

    template <class T> T* Control(const QString& name) const {
        T* control = win_->findChild<T*>(name);
        if (!control) throw std::runtime_error("no control " + name.toStdString());
        return control;
    }
    TIndicator* Indicator(const QString& name) const { return Control<TIndicator>(name); }
    Colour ColourOf(const QString& name) const { return Indicator(name)->colour(); }

    template <class Condition> bool WaitFor(Condition condition) {
        return QTest::qWaitFor(condition, kWaitMs);
    }
    bool WaitForLink() {
        return WaitFor([this] { return ColourOf("ONLINE") == kGreen; });
    }
    bool WaitForRegister(int reg, int value) {
        return WaitFor([this, reg, value] { return sim_.Get(reg) == value; });
    }

    e2e::SimulatorProcess sim_;
    QString linkName_;
    std::unique_ptr<TWIN> win_;
    bool expectMessages_ = false;
};

TEST_F(StationE2ETest, FirstRequestReads96RegistersThenThe116OfFirmware3) {
    ASSERT_NO_FATAL_FAILURE(StartStation({"--firmware", "3.05"}));
    ASSERT_TRUE(WaitFor([this] { return Contains(sim_.ReceivedFrames().recent, kRead116); }));
    const e2e::SimulatorProcess::Frames frames = sim_.ReceivedFrames();
    ASSERT_LE(frames.total, static_cast<long>(frames.recent.size())) << "first frame forgotten";
    EXPECT_EQ(frames.recent[0], kRead96);
    EXPECT_EQ(frames.recent[1], kRead116) << "the first reply did not widen the read";
}

// A unit with the registers of firmware 2 that claims 3.05: its refusals of the wide read lose
// the link, then it is read with 96 registers, and what changes on it is shown again.
TEST_F(StationE2ETest, UnitRefusingTheWideReadIsLostThenReadWith96) {
    ASSERT_NO_FATAL_FAILURE(StartStation({"--firmware", "3.05", "--registers", "96", "--quiet"}));
    ASSERT_TRUE(WaitForLink());
    ASSERT_TRUE(WaitFor([this] { return ColourOf("ONLINE") == kYellow; }));
    EXPECT_EQ(ColourOf("IN1_0"), kGrey);
    // The tick that closes the third refused read sends the next request in the same breath when
    // it falls due before the response timer, so narrow reads may already follow the wide ones.
    e2e::SimulatorProcess::Frames lost = sim_.ReceivedFrames();
    while (!lost.recent.empty() && lost.recent.back() == kRead96)
        lost.recent.pop_back();
    ASSERT_GE(lost.recent.size(), 4u);
    for (std::size_t i = lost.recent.size() - 3; i < lost.recent.size(); ++i)
        EXPECT_EQ(lost.recent[i], kRead116) << i;
    ASSERT_TRUE(WaitForLink());
    sim_.Command("set 2 1"); // input 1 of the master comes on
    ASSERT_TRUE(WaitFor([this] { return ColourOf("IN1_0") == kRed; }));
    const e2e::SimulatorProcess::Frames after = sim_.ReceivedFrames();
    EXPECT_EQ(after.recent.back(), kRead96);
    const long since = std::min<long>(after.total - lost.total, after.recent.size());
    EXPECT_EQ(std::count(after.recent.end() - since, after.recent.end(), std::string(kRead116)), 0);
    bool refusalShown = false;
    for (std::uint64_t s = win_->Link.Traffic.FirstKept(); s < win_->Link.Traffic.End(); ++s)
        refusalShown |=
            ColumnText(win_->Link.Traffic.At(s), ExchangeColumn::Verdict) == "исключение 02";
    EXPECT_TRUE(refusalShown);
}

// A setting the unit refuses: tried three times with reads in between, then the operator is told
// once, the field shows the unit's value again and polling goes on.
TEST_F(StationE2ETest, WriteRefusedThreeTimesIsGivenUpWithAMessage) {
    ASSERT_NO_FATAL_FAILURE(StartStation({"--refuse-write", "83", "--quiet"}));
    ASSERT_TRUE(WaitForLink());
    const int timeout = sim_.Get(83);
    TEditField* del = Control<TEditField>("DEL");
    del->setFocus();
    del->selectAll();
    QTest::keyClicks(del, "1234");
    QTest::keyClick(del, Qt::Key_Return);
    expectMessages_ = true;
    ASSERT_TRUE(WaitFor([] { return !ShownMessages().empty(); }));
    EXPECT_EQ(ShownMessages()[0].text, "Блок отклонил запись: Таймаут, мс = 1234 (исключение 03)");
    const long total = sim_.ReceivedFrames().total;
    ASSERT_TRUE(WaitFor([&] { return sim_.ReceivedFrames().total >= total + 3; }));
    const e2e::SimulatorProcess::Frames frames = sim_.ReceivedFrames();
    EXPECT_EQ(std::count_if(frames.recent.begin(), frames.recent.end(),
                            [](const std::string& f) { return f.rfind("01060053", 0) == 0; }),
              3);
    EXPECT_EQ(frames.recent.back(), kRead116);
    EXPECT_EQ(ShownMessages().size(), 1u);
    EXPECT_EQ(del->text().toInt(), timeout);
    EXPECT_EQ(sim_.Get(83), timeout);
    EXPECT_EQ(ColourOf("ONLINE"), kGreen);
}

TEST_F(StationE2ETest, FirmwareWithoutExtendedRegistersKeepsReading96) {
    ASSERT_NO_FATAL_FAILURE(StartStation({"--firmware", "2.10"}));
    ASSERT_TRUE(WaitForLink());
    ASSERT_TRUE(WaitFor([this] { return sim_.ReceivedFrames().total >= 3; }));
    for (const std::string& frame : sim_.ReceivedFrames().recent)
        EXPECT_EQ(frame, kRead96);
}

TEST_F(StationE2ETest, PanelsFoldToTheUnitCountAndTheModuleSearchRefitsThem) {
    ASSERT_NO_FATAL_FAILURE(StartStation({"--units", "3"}));
    const auto widths = [this] {
        std::vector<int> w{Control<QWidget>("CTRL")->width()};
        for (int k = 0; k < 10; ++k)
            w.push_back(Control<QWidget>(QStringLiteral("DEV_%1").arg(k))->width());
        return w;
    };
    const std::vector<int> three{128, 256, 256, 256, 8, 8, 8, 8, 8, 8, 8};
    ASSERT_TRUE(WaitFor([&] { return widths() == three; }));
    EXPECT_EQ(widths(), three);

    // Two more modules join. The station sees it but keeps its panels until "@" asks for a
    // fit at the next reply.
    sim_.Command("set 85 5");
    ASSERT_TRUE(WaitFor([this] { return UnitCount(win_->Link.Engine.ShownImage()) == 5; }));
    EXPECT_EQ(widths(), three);
    QTest::mouseClick(Control<QPushButton>("FIND"), Qt::LeftButton);
    const std::vector<int> five{128, 256, 256, 256, 256, 256, 8, 8, 8, 8, 8};
    EXPECT_TRUE(WaitFor([&] { return widths() == five; }));
    EXPECT_EQ(widths(), five);
}

TEST_F(StationE2ETest, ClickOnAnOutputIndicatorWritesItsRegister) {
    ASSERT_NO_FATAL_FAILURE(StartSimulator());
    sim_.Command("set 3 0"); // master's outputs and relays all off
    ASSERT_NO_FATAL_FAILURE(StartWindow());
    ASSERT_TRUE(WaitForLink());
    ASSERT_EQ(ColourOf("OUT1_0"), kGreen);

    QTest::mouseClick(Indicator("OUT1_0"), Qt::LeftButton);
    EXPECT_EQ(ColourOf("OUT1_0"), kRed);
    ASSERT_TRUE(WaitForRegister(3, 1));
    EXPECT_TRUE(Contains(sim_.ReceivedFrames().recent, "010600030001B80A"));
    // Confirmed by the unit, the output keeps its colour through the following reads.
    const long written = sim_.ReceivedFrames().total;
    ASSERT_TRUE(WaitFor([&] { return sim_.ReceivedFrames().total >= written + 2; }));
    EXPECT_EQ(ColourOf("OUT1_0"), kRed);
    EXPECT_EQ(sim_.Get(3), 1);
}

TEST_F(StationE2ETest, TypedDelayReachesTheUnit) {
    ASSERT_NO_FATAL_FAILURE(StartStation());
    ASSERT_TRUE(WaitForLink());
    constexpr int kDelayOn1OfModule2 = 8 * 2 + 4;
    auto* field = Control<QLineEdit>("TD1_2");
    EXPECT_EQ(field->text().toStdString(), std::to_string(sim_.Get(kDelayOn1OfModule2)));

    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, "123");
    ASSERT_EQ(field->text(), "123");
    QTest::keyClick(field, Qt::Key_Return); // the entry counts once finished
    ASSERT_TRUE(WaitForRegister(kDelayOn1OfModule2, 123));
    EXPECT_TRUE(Contains(sim_.ReceivedFrames().recent, "01060014007B89ED"));
    EXPECT_EQ(field->text(), "123");
}

TEST_F(StationE2ETest, SilentLineGreysTheWindowUntilTheUnitAnswersAgain) {
    ASSERT_NO_FATAL_FAILURE(StartStation({"--units", "4"}));
    ASSERT_TRUE(WaitForLink());
    ASSERT_TRUE(WaitFor([this] { return !Control<QLabel>("VER")->text().isEmpty(); }));

    // The link's health and its indicator each time it changes; an exchange closes in either
    // timer's handler.
    struct Step {
        int credit;
        Colour online;
    };
    std::vector<Step> steps{{win_->Link.Engine.LinkCredit(), ColourOf("ONLINE")}};
    const auto record = [&] {
        if (win_->Link.Engine.LinkCredit() != steps.back().credit)
            steps.push_back({win_->Link.Engine.LinkCredit(), ColourOf("ONLINE")});
    };
    const QObject recording; // ends the recording before `steps` goes
    QObject::connect(&win_->Link.SEND_TIM, &QTimer::timeout, &recording, record);
    QObject::connect(&win_->Link.TIMEOUT, &QTimer::timeout, &recording, record);

    sim_.Command("silence on");
    ASSERT_TRUE(WaitFor([this] { return ColourOf("ONLINE") == kYellow; }));
    ASSERT_GE(steps.size(), 4u);
    const auto tail = steps.end() - 3;
    EXPECT_EQ(tail[0].credit, 2);
    EXPECT_EQ(tail[0].online, kGreen);
    EXPECT_EQ(tail[1].credit, 1);
    EXPECT_EQ(tail[1].online, kGreen);
    EXPECT_EQ(tail[2].credit, 0);
    EXPECT_EQ(tail[2].online, kYellow);
    for (const QString& name : StatusIndicatorNames())
        EXPECT_EQ(ColourOf(name), kGrey) << name.toStdString();
    EXPECT_EQ(Control<QLabel>("VER")->text(), "");

    sim_.Command("silence off");
    ASSERT_TRUE(WaitForLink());
    // Units in use show their state again; those not in use (drive type 0) are greyed anew by
    // the replies that follow.
    EXPECT_NE(Control<QLabel>("VER")->text(), "");
    ASSERT_TRUE(WaitFor([this] { return ColourOf("OUT1_4") == kGrey; }));
    EXPECT_EQ(ColourOf("STATE_4"), kGrey);
    for (const char* name : {"OUT1_0", "STATE_0", "RELAY1", "PUSK", "CU1", "OUT1_3", "STATE_3"})
        EXPECT_NE(ColourOf(name), kGrey) << name;
}

TEST_F(StationE2ETest, HangUpShowsOneBoxAndPollingResumesWhenThePortIsBackUnderItsName) {
    expectMessages_ = true;
    ASSERT_NO_FATAL_FAILURE(StartStation());
    ASSERT_TRUE(WaitForLink());

    sim_.Command("hangup");
    ASSERT_TRUE(WaitFor([] { return !ShownMessages().empty(); }));
    ASSERT_EQ(ShownMessages().size(), 1u);
    EXPECT_EQ(ShownMessages()[0].kind, MessageKind::Error);
    const std::string& text = ShownMessages()[0].text;
    EXPECT_EQ(text.substr(0, text.find('\n')), kPortErrorText);
    EXPECT_TRUE(text.ends_with(": устройство отключено")) << text;
    EXPECT_FALSE(win_->Link.SEND_TIM.isActive());
    EXPECT_EQ(ColourOf("ONLINE"), kYellow);
    EXPECT_EQ(ColourOf("OUT1_0"), kGrey);
    // Closed at once: no descriptor or lock file keeps the device from others.
    EXPECT_FALSE(win_->Link.COMPORT.IsOpen());
    EXPECT_FALSE(QFile::exists("/run/lock/LCK.." + linkName_));

    const long before = sim_.ReceivedFrames().total;
    sim_.Command("plug");
    ASSERT_TRUE(WaitFor([&] { return sim_.ReceivedFrames().total > before; }))
        << "polling did not resume";
    EXPECT_TRUE(WaitForLink());
    EXPECT_TRUE(win_->Link.SEND_TIM.isActive());
    EXPECT_EQ(ShownMessages().size(), 1u) << "a box at the reconnection";
    EXPECT_TRUE(Indicator("ONLINE")->toolTip().contains(QStringLiteral("снова открыт")))
        << Indicator("ONLINE")->toolTip().toStdString();
}

TEST_F(StationE2ETest, TrafficViewShowsTheVerdictsOfInjectedFaultsAndSavesThem) {
    // Firmware 2 answers registers 0 to 95 only; told that it is version 3, the station asks
    // for 116 and gets the unit's refusal.
    ASSERT_NO_FATAL_FAILURE(StartStation({"--firmware", "2.10", "--quiet"}));
    ASSERT_TRUE(WaitForLink());
    win_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(win_.get()));
    QTest::keyClick(win_.get(), Qt::Key_F2);
    TrafficWindow* view = win_->TrafficView();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    TrafficModel& rows = view->Model();
    const auto shown = [&](const char* verdict) {
        return WaitFor([&] {
            for (int r = 0; r < rows.rowCount(); ++r)
                if (ColumnText(rows.Row(r), ExchangeColumn::Verdict) == verdict) return true;
            return false;
        });
    };

    sim_.Command("corrupt 100");
    EXPECT_TRUE(shown("ошибка CRC"));
    sim_.Command("corrupt 0");
    sim_.Command("silence on");
    ASSERT_TRUE(WaitFor([this] { return ColourOf("ONLINE") == kYellow; }));
    EXPECT_TRUE(shown("нет ответа"));
    sim_.Command("silence off");
    ASSERT_TRUE(WaitForLink());
    sim_.Command("set 86 768");
    EXPECT_TRUE(shown("исключение 02"));

    // The verdicts are the station's own: the exchange that lost the link closed the third
    // failure in a row.
    win_->Link.SEND_TIM.stop();
    ASSERT_TRUE(WaitFor([this] { return !win_->Link.TIMEOUT.isActive(); }));
    view->Refresh();
    ASSERT_EQ(rows.rowCount(), win_->Link.Traffic.Size());
    int losses = 0;
    for (int r = 2; r < rows.rowCount(); ++r) {
        if (!rows.Row(r).linkLost) continue;
        ++losses;
        for (int back = 0; back < 3; ++back)
            EXPECT_TRUE(IsFailure(rows.Row(r - back).verdict)) << r - back;
    }
    EXPECT_GE(losses, 1);

    QTemporaryDir dir;
    const QString path = dir.filePath("обмен.csv");
    view->SetSavePathChooser([&](QWidget*) { return path; });
    QTest::mouseClick(view->findChild<QPushButton*>("SAVE"), Qt::LeftButton);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    std::vector<std::vector<std::string>> lines =
        korvan::testing::ReadRussianCsv(file.readAll().toStdString());
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(rows.rowCount()) + 1);
    lines.erase(lines.begin());
    std::vector<int> all(static_cast<std::size_t>(rows.rowCount()));
    std::iota(all.begin(), all.end(), 0);
    const QStringList copied = rows.RowsText(all).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(static_cast<std::size_t>(copied.size()), lines.size());
    for (int r = 0; r < copied.size(); ++r) {
        QStringList saved;
        for (const std::string& field : lines[static_cast<std::size_t>(r)])
            saved << QString::fromStdString(field);
        QStringList seen = copied[r].split('\t');
        ASSERT_FALSE(saved.isEmpty() || seen.isEmpty()) << r;
        // The file's time carries the date and the offset around the view's clock time.
        EXPECT_NE(saved.takeFirst().indexOf(QLatin1Char('T') + seen.takeFirst()), -1) << r;
        EXPECT_EQ(saved, seen) << r;
    }
}

// The commissioning round trip: settings set by hand on three units are saved, the units go back
// to factory values, the comparison lists every change, and writing from the file brings back
// exactly the saved settings, each register written once and no other written at all.
// An adapter pulled out with a write pending, and another unit behind the same name when a
// device comes back: the station's first frame to it is a read, and nothing chosen for the
// first unit reaches it; the journal says what was not sent.
TEST_F(StationE2ETest, ReplugLeadingToAnotherUnitGetsNothingOfTheFirst) {
    expectMessages_ = true;
    ASSERT_NO_FATAL_FAILURE(StartStation({"--quiet"}));
    ASSERT_TRUE(WaitForLink());
    constexpr int kDelayOn1OfModule1 = 8 + 4;
    sim_.Command("silence on"); // the write goes unanswered, and stays wanted
    auto* field = Control<TEditField>("TD1_1");
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, "250");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_NE(win_->Link.Engine.ChosenBits(kDelayOn1OfModule1), 0);
    sim_.Command("hangup");
    ASSERT_TRUE(WaitFor([this] { return !win_->Link.COMPORT.IsOpen(); }));
    EXPECT_EQ(win_->Link.Engine.ChosenBits(kDelayOn1OfModule1), 0);
    ASSERT_EQ(sim_.Stop(), 0);

    // Another unit under the same link: other values, the same address.
    ASSERT_NO_FATAL_FAILURE(StartSimulator({"--quiet"}));
    sim_.Command("set 12 33");
    ASSERT_TRUE(WaitForLink());
    ASSERT_TRUE(WaitFor([this] { return sim_.ReceivedFrames().total >= 6; }));
    const e2e::SimulatorProcess::Frames frames = sim_.ReceivedFrames();
    ASSERT_LE(frames.total, static_cast<long>(frames.recent.size()));
    for (const std::string& frame : frames.recent)
        EXPECT_EQ(frame.substr(2, 2), "03") << frame;
    EXPECT_EQ(sim_.Get(kDelayOn1OfModule1), 33);
    EXPECT_EQ(field->text(), "33");
    const EventLog& log = win_->Link.Journal.Log();
    bool said = false;
    for (std::uint64_t i = log.FirstKept(); i < log.End(); ++i)
        said = said ||
               log.At(i).text.contains(QStringLiteral("не отправлено: связь с портом потеряна"));
    EXPECT_TRUE(said);
}

// A write job from a file that a lost link stops stays stopped: the unit answering again gets
// none of the rest.
TEST_F(StationE2ETest, WriteJobStoppedByALostLinkStaysStopped) {
    ASSERT_NO_FATAL_FAILURE(StartStation({"--quiet", "--units", "2"}));
    ASSERT_TRUE(WaitForLink());
    QTemporaryDir dir;
    const QString path = dir.filePath("job.korvan.json");
    ASSERT_EQ(win_->SaveSettingsTo(path), "");
    const int delays[] = {4, 5, 6, 7, 12, 13};
    for (int reg : delays)
        sim_.Command("set " + std::to_string(reg) + " " + std::to_string(100 + reg));
    ASSERT_TRUE(
        WaitFor([this] { return RegisterValue(win_->Link.Engine.ShownImage(), 13) == 113; }));
    ASSERT_EQ(win_->OpenComparison(path), "");
    records::CompareWindow* view = win_->CompareView();
    ASSERT_NE(view, nullptr);
    const long before = sim_.ReceivedFrames().total;
    view->WriteTicked();
    ShownMessages().clear();
    ASSERT_TRUE(view->Writing());
    // The first register confirmed, the line falls silent.
    ASSERT_TRUE(WaitFor([&] {
        return std::count_if(std::begin(delays), std::end(delays),
                             [&](int reg) { return sim_.Get(reg) != 100 + reg; }) >= 1;
    }));
    sim_.Command("silence on");
    ASSERT_TRUE(WaitFor([&] { return !view->Writing(); }));
    EXPECT_TRUE(view->StatusText().contains(QStringLiteral("Связь потеряна, запись остановлена")))
        << view->StatusText().toStdString();
    sim_.Command("silence off");
    ASSERT_TRUE(WaitForLink());
    std::vector<int> held;
    for (int reg : delays)
        held.push_back(sim_.Get(reg));
    const long now = sim_.ReceivedFrames().total;
    ASSERT_TRUE(WaitFor([&] { return sim_.ReceivedFrames().total >= now + 6; }));
    for (std::size_t i = 0; i < std::size(delays); ++i)
        EXPECT_EQ(sim_.Get(delays[i]), held[i]) << delays[i];
    EXPECT_FALSE(view->Writing());
    EXPECT_GT(sim_.ReceivedFrames().total, before);
}

TEST_F(StationE2ETest, SettingsFileRoundTripThroughFactoryReset) {
    ASSERT_NO_FATAL_FAILURE(StartStation({"--units", "3", "--firmware", "3.05"}));
    ASSERT_TRUE(WaitForLink());
    ASSERT_TRUE(WaitFor([this] { return win_->Link.Engine.ReadCount() == 116; }));
    const auto simRegisters = [this] {
        std::istringstream words(sim_.Command("regs"));
        std::vector<int> regs;
        for (int value; words >> value;)
            regs.push_back(value);
        return regs;
    };
    // The units hold what the window shows, and the window wants nothing more.
    const auto settled = [&] {
        win_->EnsureControlsCurrent();
        RegisterImage wanted = win_->Link.Engine.ShownImage();
        korvan::ControlsToImage(win_->Controls, wanted);
        const std::vector<int> regs = simRegisters();
        for (int r = 0; r < 116; ++r)
            if (regs[r] != RegisterValue(win_->Link.Engine.ShownImage(), r)) return false;
        return !win_->Link.Engine.PendingWrite() && wanted == win_->Link.Engine.ShownImage();
    };

    const auto type = [this](const char* name, const char* text) {
        auto* field = Control<QLineEdit>(name);
        QTest::mouseClick(field, Qt::LeftButton);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, text);
    };
    const auto click = [this](const char* name) { Control<QAbstractButton>(name)->click(); };
    // A list chooses when an item is activated, as a click or a key on it does.
    const auto pick = [this](const char* name, int index) {
        auto* list = Control<QComboBox>(name);
        list->setCurrentIndex(index);
        emit list->activated(index);
    };
    pick("Ut_0", 2);
    type("TD1_0", "15");
    for (const char* name : {"FIN1_0", "O1_0", "CSNO", "TWO_1", "BIN0_1", "NZ_1", "Cd_2", "FINA_2"})
        click(name);
    type("TP2_1", "42");
    pick("Ut_2", 4);
    type("TD2_2", "7");
    ASSERT_TRUE(QTest::qWaitFor(settled, 60000));
    const std::vector<int> saved = simRegisters();

    QTemporaryDir dir;
    const QString path = dir.filePath("шкаф.korvan.json");
    ASSERT_EQ(win_->SaveSettingsTo(path), "");

    sim_.Command("factory");
    ASSERT_TRUE(WaitFor([&] { return settled() && simRegisters()[0] != saved[0]; }));
    const std::vector<int> factory = simRegisters();

    ASSERT_EQ(win_->OpenComparison(path), "");
    records::CompareWindow* view = win_->CompareView();
    ASSERT_NE(view, nullptr);
    const records::OwnedBits& owned = records::Catalogue().owned;
    std::set<int> changed; // every unit register whose settings the reset changed
    for (int r = 0; r < 116; ++r)
        if (!records::IsNetworkRegister(r) && ((saved[r] ^ factory[r]) & owned[r]) != 0)
            changed.insert(r);
    ASSERT_GE(changed.size(), 12u);
    std::set<int> listed;
    for (const records::Difference& d : view->Current().differences)
        if (d.kind == records::DifferenceKind::Writable) listed.insert(d.reg);
    EXPECT_EQ(listed, changed);

    // Every request from here on, without a gap: the simulator keeps the last 32.
    long seen = sim_.ReceivedFrames().total;
    std::vector<std::string> writes;
    bool gap = false;
    const auto collect = [&] {
        const e2e::SimulatorProcess::Frames frames = sim_.ReceivedFrames();
        const long fresh = frames.total - seen;
        const long kept = static_cast<long>(frames.recent.size());
        gap = gap || fresh > kept;
        for (long i = kept - std::min(fresh, kept); i < kept; ++i)
            if (frames.recent[i].substr(2, 2) == "06") writes.push_back(frames.recent[i]);
        seen = frames.total;
    };
    ShownMessages().clear();
    view->WriteTicked();
    ASSERT_EQ(ShownMessages().size(), 1u);
    const auto count = static_cast<long long>(changed.size());
    EXPECT_EQ(ShownMessages()[0].text,
              std::string(records::CountForm(
                  count, {"Будет изменён", "Будут изменены", "Будет изменено"})) +
                  " " + records::Counted(count, records::kParameters) + " в 3 блоках. Продолжить?");
    ShownMessages().clear();
    ASSERT_TRUE(view->Writing());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            collect();
            return !view->Writing();
        },
        120000));
    collect();
    EXPECT_FALSE(gap) << "requests went by unseen";
    EXPECT_TRUE(
        view->StatusText().contains(QStringLiteral("Подтверждено %1 из %1").arg(changed.size())))
        << view->StatusText().toStdString();

    std::set<int> written;
    for (const std::string& frame : writes)
        EXPECT_TRUE(written.insert(std::stoi(frame.substr(4, 4), nullptr, 16)).second)
            << "written twice: " << frame;
    EXPECT_EQ(written, changed);
    const std::vector<int> after = simRegisters();
    for (int r = 0; r < 116; ++r) {
        SCOPED_TRACE(r);
        const int mask = changed.contains(r) ? owned[r] : 0;
        EXPECT_EQ(after[r] & mask, saved[r] & mask);
        EXPECT_EQ(after[r] & ~mask, factory[r] & ~mask);
    }
    EXPECT_TRUE(view->Current().differences.empty() ||
                std::all_of(view->Current().differences.begin(), view->Current().differences.end(),
                            [](const records::Difference& d) {
                                return d.kind == records::DifferenceKind::ByHandOnly;
                            }));
}

TEST_F(StationE2ETest, JournalShowsWhatHappenedInOrderAndSavesWhatItShows) {
    ASSERT_NO_FATAL_FAILURE(StartStation({"--units", "3", "--quiet"}));
    ASSERT_TRUE(WaitForLink());
    const EventLog& log = win_->Link.Journal.Log();
    const auto logged = [&](std::uint64_t count) {
        return WaitFor([&] { return log.End() >= count; });
    };
    const std::string baseline = "состояние при подключении";
    ASSERT_TRUE(logged(6)) << "start, port, link and one line per unit";

    constexpr int kModule1Faults = 9;
    constexpr int kModule1Inputs = 10;
    sim_.Command("set " + std::to_string(kModule1Inputs) + " 4"); // input 3 trips
    ASSERT_TRUE(logged(7));
    sim_.Command("set " + std::to_string(kModule1Faults) + " 16"); // input 1 at fault
    ASSERT_TRUE(logged(9));
    sim_.Command("set " + std::to_string(kModule1Faults) + " 0");
    ASSERT_TRUE(logged(11));

    auto* field = Control<QLineEdit>("TD1_2");
    const std::string before = field->text().toStdString();
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, "123");
    QTest::keyClick(field, Qt::Key_Return); // the entry counts once finished
    ASSERT_TRUE(logged(13));
    QTest::mouseClick(Control<QPushButton>("GO_BUT"), Qt::LeftButton);
    ASSERT_TRUE(logged(17)) << "the command, its echo, and the command-signal inputs";

    sim_.Command("silence on");
    ASSERT_TRUE(logged(18));
    sim_.Command("silence off");
    ASSERT_TRUE(logged(22));

    win_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(win_.get()));
    QTest::keyClick(win_.get(), Qt::Key_F3);
    JournalWindow* view = win_->JournalView();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    win_->Link.SEND_TIM.stop(); // nothing more happens; the view shows the whole journal
    view->Refresh();
    // The keyboard starts in the rows: Ctrl+A, Ctrl+C copy them all.
    QApplication::clipboard()->clear();
    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    QTest::keyClick(focused, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(focused, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().count('\n'), view->Model().rowCount());

    struct Row {
        std::string unit, event, source;
    };
    const std::string port = "порт " + linkName_.toStdString() + " открыт";
    const Row expected[] = {
        {"Станция", "станция запущена", "станция"},
        {"Станция", port, "станция"},
        {"Сеть", "связь установлена", "станция"},
        {"ЗОКТ-01", baseline, "блок"},
        {"ЗОКТ-МР №1", baseline, "блок"},
        {"ЗОКТ-МР №2", baseline, "блок"},
        {"ЗОКТ-МР №1", "Вход 3 — сработал", "блок"},
        {"ЗОКТ-МР №1", "Вход 1 — неисправность", "блок"},
        {"ЗОКТ-МР №1", "Неисправность", "блок"},
        {"ЗОКТ-МР №1", "Вход 1 — в норме", "блок"},
        {"ЗОКТ-МР №1", "Норма", "блок"},
        {"ЗОКТ-МР №2", "Задержка вкл. 1: " + before + " → 123", "оператор"},
        {"ЗОКТ-МР №2", "Задержка вкл. 1: 123 — подтверждено", "блок"},
        {"Сеть", "Ком. сигнал ПУСК", "оператор"},
        {"Сеть", "Ком. сигнал ПУСК — подтверждено", "блок"},
        {"ЗОКТ-01", "Пуск U — сработал", "блок"},
        {"ЗОКТ-01", "Стоп U — в норме", "блок"},
        {"Сеть", "связь потеряна", "станция"},
        {"Сеть", "связь восстановлена", "станция"},
        {"ЗОКТ-01", baseline, "блок"},
        {"ЗОКТ-МР №1", baseline, "блок"},
        {"ЗОКТ-МР №2", baseline, "блок"},
    };
    JournalModel& rows = view->Model();
    ASSERT_EQ(rows.rowCount(), static_cast<int>(std::size(expected)));
    const auto cell = [&](int row, int column) {
        return rows.data(rows.index(row, column), Qt::DisplayRole).toString().toStdString();
    };
    for (int r = 0; r < rows.rowCount(); ++r) {
        const Row& want = expected[r];
        EXPECT_EQ(cell(r, JournalModel::Unit), want.unit) << r;
        if (want.event == baseline)
            EXPECT_EQ(cell(r, JournalModel::Event).rfind(baseline, 0), 0u) << cell(r, 2);
        else
            EXPECT_EQ(cell(r, JournalModel::Event), want.event) << r;
        EXPECT_EQ(cell(r, JournalModel::Source), want.source) << r;
        const bool alarm = want.event == "связь потеряна" || want.event == "Неисправность" ||
                           want.event == "Вход 1 — неисправность";
        EXPECT_EQ(rows.data(rows.index(r, 2), Qt::BackgroundRole).isValid(), alarm) << r;
    }

    // What the filter shows is what "Сохранить…" writes.
    QTemporaryDir dir;
    const QString path = dir.filePath("события.csv");
    view->SetSavePathChooser([&](QWidget*) { return path; });
    // The file as a spreadsheet set up for Russian reads it; times in ISO 8601 there.
    const auto saved = [&] {
        QTest::mouseClick(view->findChild<QPushButton*>("SAVE"), Qt::LeftButton);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        std::vector<std::vector<std::string>> read =
            korvan::testing::ReadRussianCsv(file.readAll().toStdString());
        EXPECT_EQ(read.at(0), (std::vector<std::string>{"Время", "Блок", "Событие", "Источник"}));
        read.erase(read.begin());
        return read;
    };
    const auto shownRows = [&] {
        std::vector<int> all(static_cast<std::size_t>(rows.rowCount()));
        std::iota(all.begin(), all.end(), 0);
        return rows.RowsText(all).split('\n', Qt::SkipEmptyParts);
    };
    const auto sameRows = [](const std::vector<std::vector<std::string>>& csv,
                             const QStringList& copied) {
        if (csv.size() != static_cast<std::size_t>(copied.size())) return false;
        for (int r = 0; r < copied.size(); ++r) {
            const QStringList cells = copied[r].split('\t');
            if (cells.size() != 4 || csv[r].size() != 4) return false;
            for (int c = 1; c < 4; ++c)
                if (csv[r][c] != cells[c].toStdString()) return false;
            // The same moment: "09.12.2026 22:01:24.250" and "2026-12-09T22:01:24.250+03:00".
            const QString iso = QString::fromStdString(csv[r][0]);
            if (iso.mid(11, 12) != cells[0].mid(11, 12)) return false;
        }
        return true;
    };
    EXPECT_TRUE(sameRows(saved(), shownRows()));

    auto* unit = view->findChild<QComboBox*>("UNIT_FILTER");
    unit->setCurrentIndex(unit->findText("ЗОКТ-МР №2"));
    view->findChild<QLineEdit*>("SEARCH")->setText("подтверждено");
    // The network's rows stay under a unit filter.
    ASSERT_TRUE(WaitFor([&] { return rows.rowCount() == 2; }));
    EXPECT_EQ(cell(0, JournalModel::Event), "Задержка вкл. 1: 123 — подтверждено");
    EXPECT_EQ(cell(1, JournalModel::Event), "Ком. сигнал ПУСК — подтверждено");
    const std::vector<std::vector<std::string>> filtered = saved();
    EXPECT_EQ(filtered.size(), 2u);
    EXPECT_TRUE(sameRows(filtered, shownRows()));
}

// A file saved for slave 7 on another port at 19200 with units 0-1, compared with slave 1 and
// four units: the differences of the network are at the top and in the question, and the
// write-back is journaled with its outcome.
TEST_F(StationE2ETest, FileOfAnotherNetworkIsNamedAndItsWriteBackJournaled) {
    ASSERT_NO_FATAL_FAILURE(StartStation({"--units", "4", "--quiet"}));
    ASSERT_TRUE(WaitFor([this] { return win_->Link.Engine.LinkUp(); }));
    QTemporaryDir dir;
    const QString path = dir.filePath("шкаф 7.korvan.json");
    ASSERT_EQ(win_->SaveSettingsTo(path), "");
    std::string bytes;
    ASSERT_EQ(records::ReadWholeFile(path.toStdString(), bytes), "");
    records::LoadedSettings loaded = records::SettingsFromJson(bytes, records::Catalogue().owned);
    ASSERT_EQ(loaded.error, "");
    records::SettingsRecord& file = loaded.record;
    file.slaveAddress = 7;
    file.port = "/dev/ttyS7";
    file.speed = 19200;
    file.units.resize(2);
    records::RecordedRegister& delay = file.units[1].registers.at(1); // ЗОКТ-МР №1, delay on 1
    ASSERT_EQ(delay.reg, reg::UnitBlock(1) + 4);
    delay.value = static_cast<std::uint16_t>(delay.value == 77 ? 78 : 77);
    ASSERT_EQ(records::WriteFileAtomically(path.toStdString(), records::SettingsToJson(file)), "");

    ASSERT_EQ(win_->OpenComparison(path), "");
    records::CompareWindow* view = win_->CompareView();
    ASSERT_NE(view, nullptr);
    const std::vector<std::string> mismatch{"адрес ведомого: в файле 7, сейчас 1",
                                            "порт: в файле /dev/ttyS7, сейчас " +
                                                win_->Link.COMPORT.Port(),
                                            "скорость: в файле 19200 бит/с, сейчас 9600 бит/с",
                                            "в сети, но нет в файле: ЗОКТ-МР №2, ЗОКТ-МР №3"};
    EXPECT_EQ(view->Mismatch(), mismatch);
    auto* top = view->findChild<QLabel*>("COMPARE_NETWORK");
    ASSERT_NE(top, nullptr);
    EXPECT_FALSE(top->isHidden());
    for (const std::string& line : mismatch)
        EXPECT_TRUE(top->text().contains(QString::fromStdString(line))) << line;

    ShownMessages().clear();
    const std::uint64_t before = win_->Link.Journal.Log().End();
    view->WriteTicked();
    ASSERT_EQ(ShownMessages().size(), 1u);
    const std::string question = ShownMessages()[0].text;
    EXPECT_EQ(question.rfind("Будет изменён 1 параметр в 1 блоке.", 0), 0u) << question;
    for (const std::string& line : mismatch)
        EXPECT_NE(question.find(line), std::string::npos) << question;
    ShownMessages().clear();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->Writing(); }, 30000));
    EXPECT_EQ(sim_.Get(delay.reg), delay.value);

    std::vector<std::string> written;
    const EventLog& log = win_->Link.Journal.Log();
    for (std::uint64_t e = before; e < log.End(); ++e)
        if (log.At(e).text.startsWith(QStringLiteral("Запись из файла")))
            written.push_back((UnitText(log.At(e).unit) + " | " + log.At(e).text + " | " +
                               SourceText(log.At(e).source))
                                  .toStdString());
    EXPECT_EQ(written, (std::vector<std::string>{
                           "Сеть | Запись из файла шкаф 7.korvan.json: 1 параметр в 1 блоке | "
                           "оператор",
                           "Сеть | Запись из файла шкаф 7.korvan.json: Запись закончена. "
                           "Подтверждено 1 из 1 параметра. | станция"}));
}

// The journal file survives a SIGKILL: the station runs in a child process (the test below) that
// keeps its journal in a file and prints each event as the journal takes it; a second after the
// event the child is killed, and the file has the event.
TEST_F(StationE2ETest, JournalFileHasTheEventOfASecondBeforeASigkill) {
    ASSERT_NO_FATAL_FAILURE(StartSimulator({"--units", "2", "--quiet"}));
    QTemporaryDir dir;
    const QString path = dir.filePath("журнал; смена 1.csv");
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KORVAN_E2E_CHILD_LINK", linkName_);
    environment.insert("KORVAN_E2E_CHILD_JOURNAL", path);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=StationE2ETest.JournalFileChild"});
    ASSERT_TRUE(child.waitForStarted());
    QByteArray printed;
    const auto saw = [&](const char* text) {
        return WaitFor([&] {
            printed += child.readAllStandardOutput();
            return printed.contains(text);
        });
    };
    ASSERT_TRUE(saw("связь установлена")) << printed.toStdString();
    constexpr int kModule1Inputs = 10;
    sim_.Command("set " + std::to_string(kModule1Inputs) + " 2"); // input 2 trips
    ASSERT_TRUE(saw("\nВход 2 — сработал\n")) << printed.toStdString();
    QTest::qWait(1000); // what the file promises: at most the last second is lost
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished());

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::vector<std::vector<std::string>> rows =
        korvan::testing::ReadRussianCsv(file.readAll().toStdString());
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[1].at(2), "станция запущена") << "the run so far";
    const auto tripped = std::find_if(rows.begin(), rows.end(), [](const auto& row) {
        return row.size() == 4 && row[1] == "ЗОКТ-МР №1" && row[2] == "Вход 2 — сработал";
    });
    std::string seen;
    for (const auto& row : rows)
        seen += "\n  " + (row.size() == 4 ? row[1] + " | " + row[2] : "?");
    EXPECT_NE(tripped, rows.end()) << "the file has:" << seen;
}

// The station whose journal file the test above kills; it runs only as that test's child.
TEST_F(StationE2ETest, JournalFileChild) {
    if (qEnvironmentVariableIsEmpty("KORVAN_E2E_CHILD_JOURNAL")) GTEST_SKIP();
    linkName_ = qEnvironmentVariable("KORVAN_E2E_CHILD_LINK");
    ASSERT_NO_FATAL_FAILURE(StartWindow());
    ASSERT_EQ(win_->StartJournalFile(qEnvironmentVariable("KORVAN_E2E_CHILD_JOURNAL")), "");
    const EventLog& log = win_->Link.Journal.Log();
    std::uint64_t printed = 0;
    // Runs until the test above kills it.
    static_cast<void>(QTest::qWaitFor(
        [&] {
            for (; printed < log.End(); ++printed)
                std::printf("%s\n", log.At(printed).text.toUtf8().constData());
            std::fflush(stdout);
            return false;
        },
        60000));
}

} // namespace
