// The real window polls a Modbus slave that nobody here wrote (Debian's pymodbus) on the far end
// of a virtual line: reads, the larger read of newer firmware, a change made in a control reaching
// the slave, and the link lost and found again when the slave stops and comes back.
#include "LinkTestSupport.h"
#include "PtyPair.h"
#include "monitor_code_3.h"

#include <QAbstractItemView>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>

using namespace korvan;
using namespace korvan::testing;

namespace {

// A master unit in use (drive type 1) at address 7, one unit on the network, firmware 2.05, the
// first unit's start sources 1 and 3.
const std::vector<std::string> kUnit{"0=1", "80=7", "85=1", "86=0x0205", "96=5"};

// Every exchange as the engine judged it.
struct Verdicts : ExchangeObserver {
    std::vector<std::pair<ExchangeVerdict, std::uint8_t>> seen; // verdict, function asked for
    void ExchangeClosed(const ExchangeRecord& record) noexcept override {
        seen.emplace_back(record.verdict, record.request[1]);
    }
    int Count(ExchangeVerdict verdict) const {
        return static_cast<int>(std::count_if(seen.begin(), seen.end(),
                                              [&](const auto& s) { return s.first == verdict; }));
    }
};

class PeerExchange : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.AddPort(line.PortName());
        peer = std::make_unique<ModbusPeer>(line.PeerPath(), kUnit);
    }
    // Nothing may block the window thread after this, or exchanges fail for want of time.
    void Start() {
        win = std::make_unique<TWIN>();
        ASSERT_TRUE(win->Link.COMPORT.IsOpen());
        ASSERT_TRUE(WaitFor([&] { return Online() == kGreen; }));
    }

    Colour Online() const { return win->Widgets.ctrl.ONLINE->colour(); }
    // Lets the window poll the slave `count` more times.
    void Polls(int count) {
        const int reads = peer->Reads();
        ASSERT_TRUE(WaitFor([&] { return peer->Reads() >= reads + count; }));
    }
    std::vector<std::string> Writes() {
        std::vector<std::string> writes;
        for (const std::string& seen : peer->Lines())
            if (seen.rfind("write", 0) == 0) writes.push_back(seen);
        return writes;
    }
    static void Type(TEditField* field, const char* keys) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, keys);
    }
    std::uint16_t Shown(int reg) const { return RegisterValue(win->Link.Engine.ShownImage(), reg); }

    // Whether every status indicator shows the link-lost grey.
    bool AllStatusGrey() const {
        const WindowWidgets& w = win->Widgets;
        std::vector<const TIndicator*> all{w.ctrl.PUSK, w.master.CS1, w.master.CS2, w.master.CU1,
                                           w.master.CU2};
        all.insert(all.end(), w.master.RELAY.begin(), w.master.RELAY.end());
        for (const UnitWidgets& u : w.unit) {
            all.insert(all.end(), u.OUT.begin(), u.OUT.end());
            all.insert(all.end(), u.IN.begin(), u.IN.end());
            all.push_back(u.STATE);
        }
        for (const TIndicator* indicator : all)
            if (indicator->colour() != kGrey) return false;
        return w.ctrl.VER->text().isEmpty();
    }

    MessageLog log;
    FakeMachine machine;
    PtyPair line;
    std::unique_ptr<ModbusPeer> peer;
    std::unique_ptr<TWIN> win;
};

TEST_F(PeerExchange, ReadsFollowTheFirmwareAndAnEditReachesTheSlave) {
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_GE(peer->Count("read 0 96"), 1);
    EXPECT_EQ(peer->Count("read 0 116"), 0);
    EXPECT_EQ(win->Link.Engine.ReadCount(), 96);
    EXPECT_EQ(win->Widgets.ctrl.ADR->text(), "7");
    EXPECT_FALSE(win->Widgets.unit[0].FIN[0]->isChecked()); // register 96 is not read yet

    // Firmware 3.xx: from the next applied read on, registers 96 to 115 come too.
    ASSERT_TRUE(peer->Set(86, 0x0301));
    ASSERT_TRUE(WaitFor([&] { return peer->Count("read 0 116") >= 2; }));
    EXPECT_EQ(win->Link.Engine.ReadCount(), 116);
    EXPECT_EQ(Shown(96), 5);
    EXPECT_TRUE(win->Widgets.unit[0].FIN[0]->isChecked());
    EXPECT_FALSE(win->Widgets.unit[0].FIN[1]->isChecked());
    EXPECT_TRUE(win->Widgets.unit[0].FIN[2]->isChecked());

    // The operator types a new address; one single-register write carries it.
    TEditField* adr = win->Widgets.ctrl.ADR;
    adr->selectAll();
    QTest::keyClicks(adr, "12");
    ASSERT_EQ(adr->text(), "12");
    QTest::keyClick(adr, Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return Shown(80) == 12; }));
    EXPECT_EQ(peer->Count("write 80 12"), 1);
    EXPECT_EQ(RegisterValue(win->Link.Engine.WantedImage(), 80), 12);

    // The next reads bring the same image back: nothing more is written.
    const int reads = peer->Reads();
    ASSERT_TRUE(WaitFor([&] { return peer->Reads() >= reads + 2; }));
    for (const std::string& seen : peer->Lines())
        EXPECT_TRUE(seen.rfind("write", 0) != 0 || seen == "write 80 12") << seen;
    EXPECT_FALSE(win->Link.Engine.PendingWrite());
    EXPECT_EQ(Online(), kGreen);
    EXPECT_TRUE(log.shown.empty());
}

TEST_F(PeerExchange, LinkLostAfterThreeFailedExchangesAndBackAtTheFirstReply) {
    // The slave is stopped and started again between two polls, so which requests can get an
    // answer is known exactly. Each row is the window right after a poll tick closed the exchange
    // in flight, with the slave's answered reads counted before that tick.
    struct Row {
        int credit;
        Colour online;
        Colour out;
        bool allGrey;
        int answered;
    };
    std::vector<Row> rows;
    auto next = std::make_unique<ModbusPeer>(line.PeerPath(), kUnit, true);
    ASSERT_NO_FATAL_FAILURE(Start());
    // The test's tick takes the place of the link's.
    ASSERT_TRUE(QObject::disconnect(&win->Link.SEND_TIM, &QTimer::timeout, nullptr, nullptr));
    QObject::connect(&win->Link.SEND_TIM, &QTimer::timeout, win.get(), [&] {
        const int answered = peer ? peer->Reads() : -1;
        if (rows.size() == 1) peer.reset(); // requests 1, 2 and 3 go unanswered
        if (rows.size() == 5) {             // request 4 is dropped, request 5 answered
            peer = std::move(next);
            peer->Go();
        }
        win->SEND_TIMTimer();
        rows.push_back({win->Link.Engine.LinkCredit(), Online(),
                        win->Widgets.unit[0].OUT[0]->colour(), AllStatusGrey(), answered});
    });
    ASSERT_TRUE(WaitFor([&] { return rows.size() >= 7; }, 30000));

    EXPECT_EQ(rows[1].credit, 3);
    for (int i = 2; i <= 3; ++i) {
        EXPECT_EQ(rows[i].credit, 4 - i) << i;
        EXPECT_EQ(rows[i].online, kGreen) << i;
        EXPECT_EQ(rows[i].out, kGreen) << i;
    }
    for (int i = 4; i <= 5; ++i) {
        EXPECT_EQ(rows[i].credit, 0) << i;
        EXPECT_EQ(rows[i].online, kYellow) << i;
        EXPECT_TRUE(rows[i].allGrey) << i;
    }
    // The new slave's first answer brings the link and the colours back.
    EXPECT_EQ(rows[6].answered, 1);
    EXPECT_EQ(rows[6].credit, 3);
    EXPECT_EQ(rows[6].online, kGreen);
    EXPECT_EQ(rows[6].out, kGreen);
    EXPECT_TRUE(log.shown.empty());
}

// A slave that misbehaves now and then, and a unit whose registers carry bits no control shows:
// a wrong-length reply, a reply from another address and a wrong echo each fail their exchange,
// none of them nor the unshown bits leads to a write, and every good reply refreshes the window.
TEST_F(PeerExchange, MisbehavingSlaveFailsItsExchangesAndNothingIsWritten) {
    peer.reset(); // one slave on the line
    peer = std::make_unique<ModbusPeer>(
        line.PeerPath(),
        std::vector<std::string>{"0=0xC001", "3=0xF0FC", "80=0x0107", "81=0x0103", "82=0x0301",
                                 "84=0x0202", "85=1", "86=0x0305", "96=0xF805", "106=0xFC01"});
    Verdicts verdicts;
    ASSERT_NO_FATAL_FAILURE(Start());
    win->Link.Engine.SetExchangeObserver(&verdicts);
    ASSERT_TRUE(WaitFor([&] { return peer->Count("read 0 116") >= 2; }));
    EXPECT_EQ(win->Widgets.ctrl.ADR->text(), "263");

    for (const auto& [kind, verdict] : {std::pair{"length", ExchangeVerdict::WrongLength},
                                        std::pair{"address", ExchangeVerdict::WrongAddress}}) {
        ASSERT_TRUE(peer->Bend(kind));
        ASSERT_TRUE(WaitFor([&] { return verdicts.Count(verdict) == 1; })) << kind;
        EXPECT_EQ(Shown(80), 0x0107) << kind;
        EXPECT_EQ(win->Link.Engine.LinkCredit(), 2) << kind;
        ASSERT_TRUE(WaitFor([&] { return win->Link.Engine.LinkCredit() == 3; })) << kind;
    }

    // The operator's own write, answered with a wrong echo the first time: it fails, and the read
    // that follows shows the unit holding the value, so it is not written again.
    ASSERT_TRUE(peer->Bend("echo"));
    TEditField* delay = win->Widgets.unit[0].delay[0];
    delay->selectAll();
    QTest::keyClicks(delay, "12");
    QTest::keyClick(delay, Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return Shown(4) == 12; }));
    EXPECT_EQ(verdicts.Count(ExchangeVerdict::EchoMismatch), 1);
    EXPECT_EQ(peer->Count("bent echo"), 1);

    // From here on every exchange is a read whose reply is applied: the window follows a change
    // of the unit at the next poll.
    const std::size_t from = verdicts.seen.size();
    ASSERT_TRUE(peer->Set(2, 0x0001));
    ASSERT_TRUE(WaitFor([&] { return win->Widgets.unit[0].IN[0]->colour() == kRed; }));
    const int reads = peer->Reads();
    ASSERT_TRUE(WaitFor([&] { return peer->Reads() >= reads + 4; }));
    for (std::size_t i = from; i < verdicts.seen.size(); ++i) {
        EXPECT_EQ(verdicts.seen[i].first, ExchangeVerdict::Good) << i;
        EXPECT_EQ(verdicts.seen[i].second, kReadHoldingRegisters) << i;
    }
    std::vector<std::string> writes;
    for (const std::string& seen : peer->Lines())
        if (seen.rfind("write", 0) == 0) writes.push_back(seen);
    EXPECT_EQ(writes, (std::vector<std::string>{"write 4 12"}));
    EXPECT_EQ(Shown(80), 0x0107);
    EXPECT_EQ(Shown(96), 0xF805);
    win->Link.Engine.SetExchangeObserver(nullptr);
    EXPECT_TRUE(log.shown.empty());
}

// An entry is the operator's once it is finished: typing with pauses in between writes once, no
// poll overwrites the field meanwhile (the unit changes a register at every step), Esc brings the
// unit's value back, and an entry that is no number or out of range is not written and says why.
TEST_F(PeerExchange, EntriesAreWrittenOnlyWhenFinishedAndValid) {
    ASSERT_NO_FATAL_FAILURE(Start());
    TEditField* delay = win->Widgets.unit[0].delay[0];
    Type(delay, "");
    int input = 0;
    QString typed;
    for (const char* key : {"2", "5", "0"}) {
        QTest::keyClicks(delay, key);
        typed += QLatin1String(key);
        EXPECT_TRUE(delay->Editing());
        EXPECT_EQ(delay->palette().color(QPalette::Base),
                  QColor::fromRgba(TEditField::kEditingBackground));
        ASSERT_TRUE(peer->Set(2, ++input));
        ASSERT_NO_FATAL_FAILURE(Polls(2));
        EXPECT_EQ(Shown(2), input);
        EXPECT_EQ(delay->text(), typed);
    }
    EXPECT_EQ(delay->text(), "250");
    EXPECT_TRUE(Writes().empty());
    QTest::keyClick(delay, Qt::Key_Return);
    EXPECT_FALSE(delay->Editing());
    ASSERT_TRUE(WaitFor([&] { return Shown(4) == 250; }));

    Type(delay, "7");
    QTest::keyClick(delay, Qt::Key_Escape);
    EXPECT_EQ(delay->text(), "250");

    TEditField* adr = win->Widgets.ctrl.ADR;
    for (const char* entry : {"abc", "300", "0", "128"}) {
        Type(adr, entry);
        QTest::keyClick(adr, Qt::Key_Return);
        EXPECT_EQ(adr->text(), "7") << entry;
        EXPECT_TRUE(adr->toolTip().startsWith("Не записано: ")) << entry;
        EXPECT_NE(adr->toolTip().indexOf(entry), -1) << adr->toolTip().toStdString();
    }
    ASSERT_NO_FATAL_FAILURE(Polls(3));
    EXPECT_EQ(Writes(), std::vector<std::string>{"write 4 250"});
}

// A list opened and closed without a choice writes nothing and then shows what the unit changed
// meanwhile; an item chosen is written.
TEST_F(PeerExchange, AListOpenedAndClosedWritesNothing) {
    ASSERT_NO_FATAL_FAILURE(Start());
    TDropList* panel = win->Widgets.ctrl.PANEL;
    ASSERT_EQ(panel->currentIndex(), 0);
    panel->showPopup();
    ASSERT_TRUE(peer->Set(84, 2));
    ASSERT_NO_FATAL_FAILURE(Polls(2));
    EXPECT_EQ(panel->currentIndex(), 0); // the operator's business while it is open
    QTest::keyClick(panel->view(), Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return panel->currentIndex() == 2; }));
    ASSERT_NO_FATAL_FAILURE(Polls(2));
    EXPECT_TRUE(Writes().empty());

    panel->showPopup();
    QAbstractItemView* items = panel->view();
    QTest::mouseClick(items->viewport(), Qt::LeftButton, {},
                      items->visualRect(items->model()->index(3, 0)).center());
    ASSERT_TRUE(WaitFor([&] { return Shown(84) == 3; }));
    EXPECT_EQ(Writes(), std::vector<std::string>{"write 84 3"});
}

// The slave address counts once finished and valid; a new one starts afresh, and what was chosen
// for the old unit is not sent to the new one.
TEST_F(PeerExchange, SlaveAddressTakesEffectOnlyWhenFinishedAndValid) {
    ASSERT_NO_FATAL_FAILURE(Start());
    TEditField* sendadr = win->Widgets.ctrl.SENDADR;
    const auto lastAddress = [&] {
        return win->Link.Traffic.At(win->Link.Traffic.End() - 1).request[0];
    };
    ASSERT_EQ(lastAddress(), 1);
    for (const char* entry : {"", "0", "248"}) {
        Type(sendadr, entry);
        if (*entry == 0) QTest::keyClick(sendadr, Qt::Key_Backspace);
        ASSERT_NO_FATAL_FAILURE(Polls(1));
        QTest::keyClick(sendadr, Qt::Key_Return);
        EXPECT_EQ(sendadr->text(), "1") << entry;
        EXPECT_FALSE(sendadr->toolTip().isEmpty()) << entry;
    }
    ASSERT_NO_FATAL_FAILURE(Polls(2));
    EXPECT_EQ(lastAddress(), 1);

    Type(win->Widgets.ctrl.ADR, "12");
    QTest::keyClick(win->Widgets.ctrl.ADR, Qt::Key_Return);
    Type(sendadr, "2");
    QTest::keyClick(sendadr, Qt::Key_Return);
    EXPECT_EQ(Online(), kYellow); // afresh: the link starts from lost
    ASSERT_TRUE(WaitFor([&] { return Online() == kGreen; }));
    ASSERT_NO_FATAL_FAILURE(Polls(3));
    EXPECT_EQ(lastAddress(), 2);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(win->Widgets.ctrl.ADR->text(), "7");
}

} // namespace
