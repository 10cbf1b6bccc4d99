// TBComPort on a network port against test servers on the loopback: replies that TCP splits
// byte by byte or merges into one segment reach the station as on a serial line, and every way
// a connection fails or ends says why.
#include "BCPort.h"
#include "ModbusFrames.h"
#include "SilentNetwork.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace korvan;
using namespace std::chrono_literals;

namespace {

// A TCP server on 127.0.0.1 that runs `script` on the first connection.
class TestServer {
  public:
    explicit TestServer(std::function<void(int fd)> script) {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t length = sizeof a;
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
        ::listen(listen_, 1);
        thread_ = std::thread([this, script] {
            const int fd = accept(listen_, nullptr, nullptr);
            if (fd < 0) return;
            script(fd);
            close(fd);
        });
    }
    ~TestServer() {
        shutdown(listen_, SHUT_RDWR);
        close(listen_);
        thread_.join();
    }
    unsigned Port() const { return port_; }
    std::string Name(const char* scheme = "tcp") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
    }

  private:
    int listen_ = -1;
    unsigned port_ = 0;
    std::thread thread_;
};

// Reads one request of 8 bytes.
bool ReadRequestFrom(int fd) {
    std::uint8_t request[8];
    std::size_t got = 0;
    while (got < sizeof request) {
        const ssize_t n = read(fd, request + got, sizeof request - got);
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

std::vector<std::uint8_t> Reply(std::uint8_t first) {
    std::vector<std::uint8_t> reply{1, 3, 4, first, 2, 3, 4};
    std::uint8_t high = 0, low = 0;
    Crc16(reply.data(), static_cast<int>(reply.size()), high, low);
    reply.push_back(low);
    reply.push_back(high);
    return reply;
}

// The station's side: the port as the link opens it, collecting what its receive events read.
struct Station {
    TBComPort port;
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::uint8_t> received;
    int events = 0;

    explicit Station(const std::string& name) {
        port.SetPort(name);
        port.SetSyncMethod(smNone);
        port.OnRxChar = [this](TBComPort* sender, std::int32_t count) {
            std::uint8_t buffer[256];
            const int n = sender->Read(buffer, std::min<std::int32_t>(count, 256));
            std::lock_guard lock(mutex);
            received.insert(received.end(), buffer, buffer + n);
            ++events;
            arrived.notify_all();
        };
    }
    std::vector<std::uint8_t> WaitFor(std::size_t count) {
        std::unique_lock lock(mutex);
        arrived.wait_for(lock, 5s, [&] { return received.size() >= count; });
        return received;
    }
    Request SendRead() {
        Request request = ReadRequest(1, 2);
        SealRequest(request);
        port.Write(request.data(), kRequestLength);
        return request;
    }
};

} // namespace

TEST(NetDeviceTest, ReplySentByteByByteIsJudgedWholeAtTheTimer) {
    const std::vector<std::uint8_t> reply = Reply(0x11);
    TestServer server([&](int fd) {
        if (!ReadRequestFrom(fd)) return;
        for (std::uint8_t b : reply) {
            [[maybe_unused]] ssize_t n = write(fd, &b, 1);
            std::this_thread::sleep_for(5ms);
        }
        ReadRequestFrom(fd); // until the station closes
    });
    Station station(server.Name());
    ASSERT_TRUE(station.port.Open());
    const Request request = station.SendRead();
    const auto got = station.WaitFor(reply.size());
    EXPECT_EQ(got, reply);
    EXPECT_EQ(JudgeReply(request, got.data(), static_cast<int>(got.size())).verdict,
              ExchangeVerdict::Good);
}

TEST(NetDeviceTest, TwoRepliesInOneSegmentAreOneRunOfBytesAsOnTheLine) {
    std::vector<std::uint8_t> two = Reply(0x11);
    const std::vector<std::uint8_t> second = Reply(0x22);
    two.insert(two.end(), second.begin(), second.end());
    TestServer server([&](int fd) {
        if (!ReadRequestFrom(fd)) return;
        [[maybe_unused]] ssize_t n = write(fd, two.data(), two.size());
        ReadRequestFrom(fd);
    });
    Station station(server.Name());
    ASSERT_TRUE(station.port.Open());
    const Request request = station.SendRead();
    const auto got = station.WaitFor(two.size());
    EXPECT_EQ(got, two);
    // As a serial line that carried both: not the answer to the request.
    EXPECT_EQ(JudgeReply(request, got.data(), static_cast<int>(got.size())).verdict,
              ExchangeVerdict::BadCrc);
}

TEST(NetDeviceTest, RefusedClosedAndUnknownPeersSayWhy) {
    std::string refusedName;
    {
        TestServer gone([](int) {});
        refusedName = gone.Name();
    } // nobody listens there now
    struct Row {
        std::string name;
        const char* cause;
    };
    const Row rows[] = {
        {refusedName, "Соединение отклонено"},
        {"tcp://no-such-host.invalid:4001", "Узел не найден"},
    };
    for (const Row& row : rows) {
        TBComPort port;
        port.SetPort(row.name);
        try {
            port.Open();
            ADD_FAILURE() << row.name << " opened";
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Detail(), row.cause) << row.name;
        }
        EXPECT_FALSE(port.IsOpen());
    }

    // The server ends the connection: the next write fails with that cause.
    std::atomic<bool> closed{false};
    TestServer closing([&](int fd) {
        ReadRequestFrom(fd);
        closed = true;
    });
    Station station(closing.Name());
    ASSERT_TRUE(station.port.Open());
    station.SendRead();
    // Writes go into the socket until the station has seen the server's end.
    std::string cause;
    for (int i = 0; i < 500 && cause.empty(); ++i) {
        try {
            if (closed) station.SendRead();
        } catch (const EComPort& e) {
            cause = e.Detail();
        }
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(cause, "соединение закрыто сервером");
}

// Nothing to send and a peer fallen silent: keepalive finds the connection dead within 10 s (with
// data in flight the station's own test shows the same).
TEST(NetDeviceTest, IdleConnectionToAPeerFallenSilentEndsWithinTenSeconds) {
    ASSERT_TRUE(korvan::testing::EnterOwnNetwork()) << "a network namespace of its own needs root";
    std::atomic<int> held{-1};
    TestServer server([&](int fd) { held = dup(fd); }); // open, and never a word again
    Station station(server.Name());
    ASSERT_TRUE(station.port.Open());
    ASSERT_TRUE(korvan::testing::Silence(server.Port(), true));
    const auto start = std::chrono::steady_clock::now();
    std::string cause;
    // A write of nothing looks at the connection without putting data in flight.
    while (cause.empty() && std::chrono::steady_clock::now() - start < 12s) {
        try {
            station.port.Write(nullptr, 0);
        } catch (const EComPort& e) {
            cause = e.Detail();
        }
        std::this_thread::sleep_for(50ms);
    }
    const auto noticed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(cause, "узел перестал отвечать");
    EXPECT_LT(noticed, 10s);
    std::printf("idle dead peer noticed after %lld ms\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(noticed).count()));
    EXPECT_TRUE(korvan::testing::Silence(server.Port(), false));
    if (held >= 0) close(held);
}
