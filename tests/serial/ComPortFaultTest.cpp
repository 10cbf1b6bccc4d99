// TBComPort on a pseudo-terminal whose driver is made to fail: the system calls of the platform
// layer are wrapped at link time, and the faults hit only the port's device.
#include "BCPort.h"
#include "ComPortTestSupport.h"
#include "PtyPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::atomic<dev_t> faultDevice{0};
std::atomic<bool> refuseLineSettings{false};
std::atomic<bool> failWrites{false};

bool OnFaultDevice(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == faultDevice.load();
}

} // namespace

extern "C" {
int __real_ioctl(int fd, unsigned long request, ...);
ssize_t __real_write(int fd, const void* buffer, size_t count);

int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (refuseLineSettings && request == TCSETS2 && OnFaultDevice(fd)) {
        errno = EINVAL;
        return -1;
    }
    return __real_ioctl(fd, request, argument);
}

ssize_t __wrap_write(int fd, const void* buffer, size_t count) {
    if (failWrites && OnFaultDevice(fd)) {
        errno = EIO;
        return -1;
    }
    return __real_write(fd, buffer, count);
}
} // extern "C"

namespace {

using namespace korvan;
using Clock = std::chrono::steady_clock;

// The cause line the station shows for the failure an action raises.
std::string Cause(const std::function<void()>& action) {
    try {
        action();
    } catch (const EComPort& e) {
        return e.Detail().empty() ? e.what() : std::string(e.what()) + ": " + e.Detail();
    }
    return "(no EComPort)";
}

class ComPortFault : public ::testing::Test {
  protected:
    void SetUp() override {
        korvan::testing::App();
        pair = std::make_unique<korvan::testing::PtyPair>();
        struct stat st {};
        ASSERT_EQ(stat(pair->PortPath().c_str(), &st), 0);
        faultDevice = st.st_rdev;
        port.SetPort(pair->PortName());
    }
    void TearDown() override {
        refuseLineSettings = false;
        failWrites = false;
        faultDevice = 0;
    }
    std::unique_ptr<korvan::testing::PtyPair> pair;
    TBComPort port;
};

TEST_F(ComPortFault, EachFailureNamesItsCauseAndNoFunction) {
    refuseLineSettings = true;
    EXPECT_EQ(Cause([&] { port.Open(); }), "порт не принял настройки линии");
    EXPECT_FALSE(port.IsOpen());
    refuseLineSettings = false;
    ASSERT_TRUE(port.Open());
    refuseLineSettings = true;
    EXPECT_EQ(Cause([&] { port.SetBaudRate(br19200); }), "порт не принял настройки линии");
    refuseLineSettings = false;

    const char frame[8] = {1, 3, 0, 0, 0, 1, 0, 0};
    failWrites = true; // the device stays in /dev and answers EIO
    EXPECT_EQ(Cause([&] { port.Write(frame, 8); }),
              "Ошибка записи в порт: ошибка ввода-вывода порта");
    failWrites = false;
    port.Close();

    ASSERT_TRUE(port.Open());
    pair->Kill(); // the other end is gone, and with it the device
    EXPECT_EQ(Cause([&] { port.Write(frame, 8); }), "Ошибка записи в порт: устройство отключено");
}

// The far end stops reading: once the line's buffers are full a write must give up within its
// bytes' time and a margin, not hold the window thread for seconds.
TEST_F(ComPortFault, AStalledTransmitterFailsTheWriteWithinItsBound) {
    const char frame[8] = {1, 3, 0, 0, 0, 1, 0, 0};
    for (const bool fitted : {false, true}) {
        if (fitted) port.Timeouts().SetWriteTotalMultiplier(port.CharacterTimeMs());
        ASSERT_TRUE(port.Open());
        kill(pair->Pid(), SIGSTOP); // the relay to the peer stops reading our end
        int status = 0;
        ASSERT_EQ(waitpid(pair->Pid(), &status, WUNTRACED), pair->Pid());
        const int filler = open(pair->PortPath().c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(filler, 0);
        // Full once no room comes back: the kernel moves queued bytes on behind our back.
        char block[4096] = {};
        pollfd room{filler, POLLOUT, 0};
        do {
            while (__real_write(filler, block, sizeof block) > 0) {
            }
        } while (poll(&room, 1, 100) > 0);
        close(filler);

        const auto start = Clock::now();
        EXPECT_EQ(Cause([&] { port.Write(frame, 8); }),
                  "Ошибка записи в порт: порт не передаёт данные");
        const auto stalled =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        const auto bound =
            8 * port.Timeouts().WriteTotalMultiplier() + port.Timeouts().WriteTotalConstant();
        EXPECT_LE(bound, 8 * port.CharacterTimeMs() + 180);
        EXPECT_LE(stalled, bound + 50);
        std::printf("write timeouts %d/%d: the window thread stalled %lld ms (bound %d ms)\n",
                    port.Timeouts().WriteTotalMultiplier(), port.Timeouts().WriteTotalConstant(),
                    static_cast<long long>(stalled), bound);
        kill(pair->Pid(), SIGCONT);
        port.Close();
    }
}

} // namespace
