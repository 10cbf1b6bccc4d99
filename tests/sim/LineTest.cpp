#include "Clock.h"
#include "LineRelay.h"
#include "PtyLink.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace korvan::sim;

namespace {

int OpenRaw(const std::string& path, int baud) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fd;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, SpeedConstant(baud));
    cfsetospeed(&tio, SpeedConstant(baud));
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

void SetBaud(int fd, int baud) {
    termios tio{};
    tcgetattr(fd, &tio);
    cfsetispeed(&tio, SpeedConstant(baud));
    cfsetospeed(&tio, SpeedConstant(baud));
    tcsetattr(fd, TCSANOW, &tio);
}

// Everything that arrives until `count` bytes are in or nothing came for `quietSeconds`.
std::vector<std::uint8_t> Receive(int fd, std::size_t count, double quietSeconds) {
    std::vector<std::uint8_t> got;
    while (got.size() < count) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(quietSeconds * 1000)) <= 0) break;
        std::uint8_t buffer[512];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

void Send(int fd, const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

std::vector<std::uint8_t> Pattern(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return v;
}

// The counters are updated right after the bytes are handed on, so a reader can be a moment
// ahead of them.
template <typename Condition> bool WaitUntil(Condition condition, double seconds = 2.0) {
    const double deadline = MonotonicSeconds() + seconds;
    while (!condition()) {
        if (MonotonicSeconds() > deadline) return false;
        usleep(1000);
    }
    return true;
}

class TempDir {
  public:
    TempDir() {
        char name[] = "/tmp/korvan-sim-test-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string& leaf) const { return path_ + "/" + leaf; }

  private:
    std::string path_;
};

} // namespace

TEST(LinePacer, CharactersQueueBehindEachOther) {
    LinePacer pacer;
    double last = 0;
    for (int i = 0; i < 197; ++i)
        last = pacer.Arrival(0.0, 9600);
    EXPECT_NEAR(last, 197 * 10.0 / 9600, 1e-9); // a 96-register reply: about 205 ms
    // Handed over while the line is busy: behind the rest.
    EXPECT_NEAR(pacer.Arrival(0.1, 9600), last + 10.0 / 9600, 1e-9);
    // Handed over on an idle line: one character time later.
    EXPECT_NEAR(pacer.Arrival(5.0, 1200), 5.0 + 10.0 / 1200, 1e-9);
}

TEST(Garbler, ReceiverSpeedDecidesHowManyCharactersAppear) {
    const std::vector<std::uint8_t> sent = Pattern(100);
    Garbler garbler(7);
    std::vector<std::uint8_t> slower;
    garbler.Garble(sent.data(), sent.size(), 19200, 9600, slower);
    EXPECT_EQ(slower.size(), 50u);
    std::vector<std::uint8_t> faster;
    garbler.Garble(sent.data(), sent.size(), 9600, 19200, faster);
    EXPECT_EQ(faster.size(), 200u);
}

TEST(Garbler, NeverPassesTheSentBytesAndIsReproducible) {
    const std::vector<std::uint8_t> sent = Pattern(256);
    Garbler a(42);
    Garbler b(42);
    Garbler c(43);
    std::vector<std::uint8_t> outA, outB, outC;
    a.Garble(sent.data(), sent.size(), 9600, 9600, outA);
    b.Garble(sent.data(), sent.size(), 9600, 9600, outB);
    c.Garble(sent.data(), sent.size(), 9600, 9600, outC);
    ASSERT_EQ(outA.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i)
        EXPECT_NE(outA[i], sent[i]) << i;
    EXPECT_EQ(outA, outB);
    EXPECT_NE(outA, outC);
}

TEST(Pty, MasterSeesTheSpeedTheSlaveIsSetTo) {
    Pty pty = OpenPty(true, 19200);
    EXPECT_EQ(BaudOfTerminal(pty.master), 19200);
    const int other = OpenRaw(pty.slavePath, 4800);
    ASSERT_GE(other, 0);
    EXPECT_EQ(BaudOfTerminal(pty.master), 4800);
    close(other);
    EXPECT_TRUE(OpenToEveryone(pty));
    EXPECT_EQ(std::filesystem::status(pty.slavePath).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read | std::filesystem::perms::group_write |
                  std::filesystem::perms::others_read | std::filesystem::perms::others_write);
    ClosePty(pty);
    EXPECT_EQ(BaudOfTerminal(-1), 0);
}

TEST(Link, VirtualPortLinksAreReplacedOtherFilesNever) {
    TempDir dir;
    Pty pty = OpenPty(true, 9600);
    const std::string link = dir / "ttyZSIM0";

    std::string replaced = "untouched";
    EXPECT_EQ(CreateLink(link, pty.slavePath, &replaced), "");
    EXPECT_EQ(std::filesystem::read_symlink(link), pty.slavePath);
    EXPECT_EQ(replaced, "untouched");

    // A link left by a killed simulator, dangling or with its number taken by someone else.
    std::filesystem::remove(link);
    std::filesystem::create_symlink("/dev/pts/987654", link);
    EXPECT_EQ(CreateLink(link, pty.slavePath, &replaced), "");
    EXPECT_EQ(std::filesystem::read_symlink(link), pty.slavePath);
    EXPECT_EQ(replaced, "/dev/pts/987654");

    // A link to a real device and a real file are never touched.
    const std::string device = dir / "ttyUSBlink";
    std::filesystem::create_symlink("/dev/ttyUSB0", device);
    EXPECT_NE(CreateLink(device, pty.slavePath), "");
    EXPECT_EQ(std::filesystem::read_symlink(device), "/dev/ttyUSB0");
    const std::string file = dir / "ttyREAL";
    std::ofstream(file) << "x";
    EXPECT_NE(CreateLink(file, pty.slavePath), "");
    EXPECT_TRUE(std::filesystem::is_regular_file(file));
    ClosePty(pty);
}

TEST(Link, RemovedOnlyWhileItIsOurs) {
    TempDir dir;
    const std::string link = dir / "ttyZSIM0";
    std::filesystem::create_symlink("/dev/pts/4242", link);
    RemoveLink(link, "/dev/pts/4243"); // another simulator took the name over since
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    RemoveLink(link, "/dev/pts/4242");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

class RelayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Pty unit = OpenPty(true, 9600);
        Pty station = OpenPty(true, 9600);
        unitFd_ = OpenRaw(unit.slavePath, 9600);
        stationFd_ = OpenRaw(station.slavePath, 9600);
        ASSERT_GE(unitFd_, 0);
        ASSERT_GE(stationFd_, 0);
        relay_ = std::make_unique<LineRelay>(std::move(unit), std::move(station), 5);
        relay_->Start();
    }
    void TearDown() override {
        relay_.reset();
        close(unitFd_);
        if (stationFd_ >= 0) close(stationFd_);
    }

    std::unique_ptr<LineRelay> relay_;
    int unitFd_ = -1;
    int stationFd_ = -1;
};

TEST_F(RelayTest, CarriesBothWaysAtTheLineSpeed) {
    const std::vector<std::uint8_t> request{0x01, 0x03, 0x00, 0x00, 0x00, 0x60, 0x45, 0xE2};
    Send(stationFd_, request);
    EXPECT_EQ(Receive(unitFd_, request.size(), 1.0), request);

    const std::vector<std::uint8_t> reply = Pattern(197);
    const double start = MonotonicSeconds();
    Send(unitFd_, reply);
    const std::vector<std::uint8_t> got = Receive(stationFd_, reply.size(), 1.0);
    const double took = MonotonicSeconds() - start;
    EXPECT_EQ(got, reply);
    EXPECT_GE(took, 197 * 10.0 / 9600 - 0.002);
    EXPECT_LT(took, 0.6);

    // The station's speed sets the pace: four times as fast at 38400, on both ends.
    SetBaud(stationFd_, 38400);
    SetBaud(unitFd_, 38400);
    const double fastStart = MonotonicSeconds();
    Send(unitFd_, reply);
    EXPECT_EQ(Receive(stationFd_, reply.size(), 1.0), reply);
    EXPECT_LT(MonotonicSeconds() - fastStart, took);

    EXPECT_TRUE(WaitUntil([this] { return relay_->Counters().toStation >= 2u * 197u; }));
    const RelayCounters c = relay_->Counters();
    EXPECT_EQ(c.toUnit, 8u);
    EXPECT_EQ(c.toStation, 2u * 197u);
    EXPECT_EQ(c.garbled, 0u);
}

TEST_F(RelayTest, InBurstModeAReplyArrivesWholeWhenItsLastByteWould) {
    relay_->SetBurst(true);
    const std::vector<std::uint8_t> reply = Pattern(197);
    const double start = MonotonicSeconds();
    Send(unitFd_, reply);
    pollfd pfd{stationFd_, POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 1000), 1);
    const double first = MonotonicSeconds() - start;
    std::uint8_t buffer[512];
    const ssize_t n = read(stationFd_, buffer, sizeof buffer);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + std::max<ssize_t>(n, 0)), reply);
    EXPECT_GE(first, 197 * 10.0 / 9600 - 0.002);
}

TEST_F(RelayTest, PlannedRepliesAreLostOrDamagedOneByOne) {
    const std::vector<std::uint8_t> first{1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<std::uint8_t> second{9, 10, 11, 12, 13};
    const std::vector<std::uint8_t> third{14, 15, 16, 17, 18};
    relay_->PlanReply({8, ReplyFate::Drop});
    relay_->PlanReply({5, ReplyFate::CorruptCrc});
    relay_->PlanReply({5, ReplyFate::Deliver});
    std::vector<std::uint8_t> all = first;
    all.insert(all.end(), second.begin(), second.end());
    all.insert(all.end(), third.begin(), third.end());
    Send(unitFd_, all); // in one piece: the plans, not the writes, divide the replies

    const std::vector<std::uint8_t> got = Receive(stationFd_, 10, 0.5);
    ASSERT_EQ(got.size(), 10u);
    EXPECT_TRUE(std::equal(second.begin(), second.end() - 1, got.begin()));
    EXPECT_NE(got[4], second[4]) << "the last byte of the damaged reply";
    EXPECT_TRUE(std::equal(third.begin(), third.end(), got.begin() + 5));
    EXPECT_TRUE(WaitUntil([this] { return relay_->Counters().lost >= 8u; }));
    EXPECT_EQ(relay_->Counters().lost, 8u);
}

TEST_F(RelayTest, DifferentSpeedsGiveGarbage) {
    SetBaud(stationFd_, 19200);
    const std::vector<std::uint8_t> request{0x01, 0x03, 0x00, 0x00, 0x00, 0x60, 0x45, 0xE2};
    Send(stationFd_, request);
    const std::vector<std::uint8_t> got = Receive(unitFd_, 8, 0.3);
    EXPECT_EQ(got.size(), 4u) << "a receiver at half the speed sees half the characters";
    EXPECT_NE(got, std::vector<std::uint8_t>(request.begin(), request.begin() + 4));
    EXPECT_TRUE(WaitUntil([this] { return relay_->Counters().garbled >= 8u; }));
    EXPECT_EQ(relay_->Counters().garbled, 8u);

    // Back at the same speed the line is clean again.
    SetBaud(stationFd_, 9600);
    Send(stationFd_, request);
    EXPECT_EQ(Receive(unitFd_, 8, 1.0), request);
}

TEST_F(RelayTest, SilenceCarriesNothingUntilItEnds) {
    relay_->SetSilence(LineRelay::kForever);
    Send(stationFd_, {1, 2, 3});
    Send(unitFd_, {4, 5, 6});
    EXPECT_TRUE(Receive(unitFd_, 3, 0.2).empty());
    EXPECT_TRUE(Receive(stationFd_, 3, 0.05).empty());

    relay_->SetSilence(MonotonicSeconds() + 0.1);
    Send(stationFd_, {7});
    EXPECT_TRUE(Receive(unitFd_, 1, 0.05).empty());
    // Wait for the silence to run out, then the line carries again.
    while (MonotonicSeconds() < relay_->SilentUntil())
        Receive(unitFd_, 1, 0.02);
    Send(stationFd_, {8, 9});
    EXPECT_EQ(Receive(unitFd_, 2, 1.0), (std::vector<std::uint8_t>{8, 9}));
}

TEST_F(RelayTest, HangUpLooksLikeAPulledAdapterAndPlugBringsANewPort) {
    relay_->HangUp();
    EXPECT_TRUE(relay_->HungUp());
    pollfd pfd{stationFd_, POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 1000), 1);
    EXPECT_TRUE(pfd.revents & POLLHUP);
    const std::uint8_t b = 1;
    EXPECT_EQ(write(stationFd_, &b, 1), -1);
    EXPECT_EQ(errno, EIO);
    // What the unit says meanwhile goes nowhere.
    Send(unitFd_, {1, 2, 3});
    EXPECT_TRUE(WaitUntil([this] { return relay_->Counters().lost >= 3u; }));
    EXPECT_EQ(relay_->Counters().lost, 3u);
    close(stationFd_);
    stationFd_ = -1;

    Pty fresh = OpenPty(true, 9600);
    const std::string path = fresh.slavePath;
    EXPECT_TRUE(relay_->Plug(std::move(fresh)));
    EXPECT_FALSE(relay_->HungUp());
    EXPECT_FALSE(relay_->Plug(OpenPty(true, 9600))) << "only one port at a time";
    EXPECT_EQ(relay_->StationPath(), path);
    stationFd_ = OpenRaw(path, 9600);
    ASSERT_GE(stationFd_, 0);
    Send(stationFd_, {0x11, 0x22});
    EXPECT_EQ(Receive(unitFd_, 2, 1.0), (std::vector<std::uint8_t>{0x11, 0x22}));
    Send(unitFd_, {0x33});
    EXPECT_EQ(Receive(stationFd_, 1, 1.0), (std::vector<std::uint8_t>{0x33}));
}
