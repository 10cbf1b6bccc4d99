// TBComPort against a recording layer: the Win32 calls the component makes are wrapped at link
// time (ld --wrap) so that their order can be checked and results the pseudo-terminal cannot
// produce (line errors, modem line changes, refused calls) can be injected.
#include "BCPort.h"
#include "ComPortTestSupport.h"
#include "PosixWin32.h"
#include "PtyPair.h"
#include "WindowThread.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QThread>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

struct Recorder {
    std::mutex mutex;
    std::vector<std::string> calls; // calls on the port's device handle
    std::vector<WPARAM> sent;       // event bits sent to the notification window
    HANDLE device = nullptr;

    std::atomic<DWORD> nextEvents{0}; // the next WaitCommEvent completes at once with these
    std::atomic<DWORD> nextErrors{0}; // added to the next ClearCommError's error word
    std::atomic<int> queueCount{-1};  // replaces ClearCommError's queue count while >= 0
    std::atomic<DWORD> modemStatus{0};
    std::atomic<DWORD> createFileError{0};
    std::atomic<bool> refuseSetupComm{false};
    std::atomic<bool> refuseSetCommState{false};
    std::atomic<bool> refuseEscape{false};
    std::atomic<int> threadsCreated{0};

    void Record(HANDLE h, const std::string& call) {
        std::lock_guard lock(mutex);
        if (h == device) calls.push_back(call);
    }
    void ClearCalls() {
        std::lock_guard lock(mutex);
        calls.clear();
    }
    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex);
        return calls;
    }
    void Reset() {
        std::lock_guard lock(mutex);
        calls.clear();
        sent.clear();
        device = nullptr;
        nextEvents = 0;
        nextErrors = 0;
        queueCount = -1;
        modemStatus = 0;
        createFileError = 0;
        refuseSetupComm = false;
        refuseSetCommState = false;
        refuseEscape = false;
        threadsCreated = 0;
    }
};

Recorder rec;

} // namespace

extern "C" {

HANDLE __real_CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
BOOL __real_CloseHandle(HANDLE);
BOOL __real_EscapeCommFunction(HANDLE, DWORD);
BOOL __real_PurgeComm(HANDLE, DWORD);
BOOL __real_SetCommMask(HANDLE, DWORD);
BOOL __real_WaitCommEvent(HANDLE, LPDWORD, LPOVERLAPPED);
BOOL __real_ClearCommError(HANDLE, LPDWORD, LPCOMSTAT);
BOOL __real_GetCommModemStatus(HANDLE, LPDWORD);
BOOL __real_SetupComm(HANDLE, DWORD, DWORD);
BOOL __real_SetCommState(HANDLE, LPDCB);
LRESULT __real_SendMessageA(HWND, UINT, WPARAM, LPARAM);
HANDLE __real_CreateThread(LPSECURITY_ATTRIBUTES, std::size_t, LPTHREAD_START_ROUTINE, LPVOID,
                           DWORD, LPDWORD);

HANDLE __wrap_CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                          DWORD disposition, DWORD flags, HANDLE templ) {
    if (DWORD error = rec.createFileError.load()) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = __real_CreateFileA(name, access, share, sa, disposition, flags, templ);
    std::lock_guard lock(rec.mutex);
    rec.device = h;
    return h;
}

BOOL __wrap_CloseHandle(HANDLE h) {
    rec.Record(h, "CloseHandle");
    return __real_CloseHandle(h);
}

BOOL __wrap_EscapeCommFunction(HANDLE h, DWORD function) {
    rec.Record(h, "EscapeCommFunction " + std::to_string(function));
    if (rec.refuseEscape) return FALSE;
    return __real_EscapeCommFunction(h, function);
}

BOOL __wrap_PurgeComm(HANDLE h, DWORD flags) {
    rec.Record(h, "PurgeComm " + std::to_string(flags));
    return __real_PurgeComm(h, flags);
}

BOOL __wrap_SetCommMask(HANDLE h, DWORD mask) {
    rec.Record(h, "SetCommMask " + std::to_string(mask));
    return __real_SetCommMask(h, mask);
}

BOOL __wrap_WaitCommEvent(HANDLE h, LPDWORD mask, LPOVERLAPPED overlapped) {
    if (DWORD events = rec.nextEvents.exchange(0)) {
        // Completes at once, as the device does for events that happened before the wait.
        *mask = events;
        overlapped->Internal = 0;
        overlapped->InternalHigh = 0;
        SetEvent(overlapped->hEvent);
        return TRUE;
    }
    return __real_WaitCommEvent(h, mask, overlapped);
}

BOOL __wrap_ClearCommError(HANDLE h, LPDWORD errors, LPCOMSTAT stat) {
    const BOOL ok = __real_ClearCommError(h, errors, stat);
    if (ok && errors) *errors |= rec.nextErrors.exchange(0);
    const int queue = rec.queueCount.load();
    if (ok && stat && queue >= 0) stat->cbInQue = static_cast<DWORD>(queue);
    return ok;
}

BOOL __wrap_GetCommModemStatus(HANDLE h, LPDWORD status) {
    const BOOL ok = __real_GetCommModemStatus(h, status);
    if (ok) *status = rec.modemStatus;
    return ok;
}

BOOL __wrap_SetupComm(HANDLE h, DWORD in, DWORD out) {
    rec.Record(h, "SetupComm");
    if (rec.refuseSetupComm) return FALSE;
    return __real_SetupComm(h, in, out);
}

BOOL __wrap_SetCommState(HANDLE h, LPDCB dcb) {
    rec.Record(h, "SetCommState");
    if (rec.refuseSetCommState) return FALSE;
    return __real_SetCommState(h, dcb);
}

LRESULT __wrap_SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard lock(rec.mutex);
        if (message == WM_USER + 1) rec.sent.push_back(wParam);
    }
    return __real_SendMessageA(window, message, wParam, lParam);
}

HANDLE __wrap_CreateThread(LPSECURITY_ATTRIBUTES sa, std::size_t stack,
                           LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                           LPDWORD id) {
    ++rec.threadsCreated;
    return __real_CreateThread(sa, stack, start, parameter, flags, id);
}

} // extern "C"

namespace {

using namespace korvan;
using korvan::testing::App;
using korvan::testing::Message;
using korvan::testing::OpenPeer;
using korvan::testing::PtyPair;
using korvan::testing::SyncMethodName;

} // namespace

namespace {

class RecordedPort : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        rec.Reset();
        pair = std::make_unique<PtyPair>();
        peer = OpenPeer(pair->PeerPath());
        port.SetPort(pair->PortName());
    }
    void TearDown() override {
        rec.refuseEscape = false;
        port.Close();
        close(peer);
    }
    void Log(const std::string& entry) {
        std::lock_guard lock(logMutex);
        log.push_back(entry);
    }
    std::vector<std::string> Logged() {
        std::lock_guard lock(logMutex);
        return log;
    }
    // Records every handler of the port, with the value it was given.
    void RecordHandlers() {
        port.OnError = [this](TBComPort*, TComErrors e) {
            Log("error " + std::to_string(e.Bits()));
        };
        port.OnRxChar = [this](TBComPort*, std::int32_t n) { Log("rx " + std::to_string(n)); };
        port.OnTxEmpty = [this](TBComPort*) { Log("txempty"); };
        port.OnRing = [this](TBComPort*) { Log("ring"); };
        port.OnCTSChange = [this](TBComPort*, bool on) { Log("cts " + std::to_string(on)); };
        port.OnDSRChange = [this](TBComPort*, bool on) { Log("dsr " + std::to_string(on)); };
        port.OnRLSDChange = [this](TBComPort*, bool on) {
            Log("rlsd " + std::to_string(on) +
                (QThread::currentThread() == App().thread() ? " window" : " worker"));
        };
        port.OnRx80Full = [this](TBComPort*) { Log("rx80full"); };
    }
    bool LogReaches(std::size_t n) {
        return QTest::qWaitFor([&] { return Logged().size() >= n; }, 5000);
    }

    std::unique_ptr<PtyPair> pair;
    int peer = -1;
    TBComPort port;
    std::mutex logMutex;
    std::vector<std::string> log;
};

TEST_F(RecordedPort, CloseDropsDtrThenRtsThenAbortsThenEndsTheThreadAndClosesTheDevice) {
    port.SetSyncMethod(smNone);
    ASSERT_TRUE(port.Open());
    // No handler assigned: only the events that always act (characters, line errors).
    EXPECT_EQ(rec.Calls(),
              (std::vector<std::string>{"SetupComm", "SetCommState", "SetCommMask 129"}));
    rec.ClearCalls();
    ASSERT_TRUE(port.Close());
    EXPECT_EQ(rec.Calls(), (std::vector<std::string>{
                               "EscapeCommFunction 6", // CLRDTR
                               "EscapeCommFunction 4", // CLRRTS
                               "PurgeComm 3",          // abort transfers
                               "SetCommMask 0",        // the event thread's clean-up
                               "PurgeComm 12",
                               "CloseHandle",
                           }));
}

TEST_F(RecordedPort, CloseThatCannotDropTheLinesLeavesThePortOpenAndWorking) {
    port.SetSyncMethod(smNone);
    std::atomic<int> received{0};
    port.OnRxChar = [&](TBComPort* p, std::int32_t n) {
        std::uint8_t buffer[256];
        received += p->Read(buffer, n);
    };
    ASSERT_TRUE(port.Open());
    rec.refuseEscape = true;
    EXPECT_EQ(Message([&] { port.Close(); }), "Ошибка функции EscapeCommFunction");
    EXPECT_TRUE(port.IsOpen());
    ASSERT_EQ(write(peer, "abc", 3), 3);
    EXPECT_TRUE(QTest::qWaitFor([&] { return received == 3; }, 5000));
    rec.refuseEscape = false;
    EXPECT_TRUE(port.Close());
}

TEST_F(RecordedPort, SettingsRefusedDuringOpenCloseTheDeviceAndStartNoThread) {
    rec.refuseSetCommState = true;
    EXPECT_EQ(Message([&] { port.Open(); }), "порт не принял настройки линии");
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(rec.Calls(), (std::vector<std::string>{"SetupComm", "SetCommState", "CloseHandle"}));
    EXPECT_EQ(rec.threadsCreated.load(), 0);

    rec.Reset();
    rec.refuseSetupComm = true;
    EXPECT_EQ(Message([&] { port.Open(); }), "Ошибка функции SetupComm");
    EXPECT_EQ(rec.Calls(), (std::vector<std::string>{"SetupComm", "CloseHandle"}));

    // Any other CreateFile error goes on with the invalid handle, which SetupComm refuses.
    rec.Reset();
    rec.createFileError = ERROR_TOO_MANY_OPEN_FILES;
    EXPECT_EQ(Message([&] { port.Open(); }), "Ошибка функции SetupComm");
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(rec.threadsCreated.load(), 0);

    rec.Reset();
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(rec.threadsCreated.load(), 1);
}

class DispatchOrder : public RecordedPort, public ::testing::WithParamInterface<TSyncMethod> {};

TEST_P(DispatchOrder, EveryOccurredEventReachesItsHandlerOnceInDispatchOrder) {
    port.SetSyncMethod(GetParam());
    RecordHandlers();
    rec.nextEvents = EV_RX80FULL | EV_RLSD | EV_DSR | EV_CTS | EV_RING | EV_TXEMPTY | EV_RXCHAR |
                     EV_ERR | EV_BREAK;        // EV_BREAK is not one of the port's events
    rec.nextErrors = CE_OVERRUN | CE_RXPARITY; // no parity on the line: not news
    rec.queueCount = 4;
    rec.modemStatus = MS_RLSD_ON;
    ASSERT_TRUE(port.Open());
    EXPECT_EQ(rec.Calls().back(), "SetCommMask 1469"); // every handler assigned: every event
    ASSERT_TRUE(LogReaches(8));
    const std::string rlsd = GetParam() == smNone ? "rlsd 1 worker" : "rlsd 1 window";
    EXPECT_EQ(Logged(), (std::vector<std::string>{"error 4", "rx 4", "txempty", "ring", "cts 0",
                                                  "dsr 0", rlsd, "rx80full"}));
    if (GetParam() == smWindowSync) {
        std::lock_guard lock(rec.mutex);
        EXPECT_EQ(rec.sent, (std::vector<WPARAM>{EV_ERR, EV_RXCHAR, EV_TXEMPTY, EV_RING, EV_CTS,
                                                 EV_DSR, EV_RLSD, EV_RX80FULL}));
    }
}

INSTANTIATE_TEST_SUITE_P(RecordedPort, DispatchOrder,
                         ::testing::Values(smThreadSync, smWindowSync, smNone), SyncMethodName);

TEST_F(RecordedPort, ALineErrorIsHandledBeforeTheCharactersOfTheSameBatch) {
    port.SetSyncMethod(smThreadSync);
    port.SetParity(paEven);
    RecordHandlers();
    rec.nextEvents = EV_RXCHAR | EV_ERR;
    rec.nextErrors = CE_FRAME | CE_RXPARITY | CE_BREAK;
    rec.queueCount = 2; // as if two characters had come with the error
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(LogReaches(2));
    const TComErrors expected{ceFrame, ceRxParity, ceBreak};
    EXPECT_EQ(Logged(),
              (std::vector<std::string>{"error " + std::to_string(expected.Bits()), "rx 2"}));
}

TEST_F(RecordedPort, ALoneRlsdChangeIsSentAsEvRlsdAndReachesItsHandler) {
    port.SetSyncMethod(smWindowSync);
    RecordHandlers();
    rec.nextEvents = EV_RLSD;
    rec.modemStatus = MS_RLSD_ON | MS_CTS_ON;
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(LogReaches(1));
    EXPECT_EQ(Logged(), std::vector<std::string>{"rlsd 1 window"});
    std::lock_guard lock(rec.mutex);
    EXPECT_EQ(rec.sent, std::vector<WPARAM>{EV_RLSD});
}

TEST_F(RecordedPort, AnExceptionOnTheEventThreadEndsItWithoutItsCleanUp) {
    port.SetSyncMethod(smNone);
    std::atomic<int> calls{0};
    port.OnRxChar = [&](TBComPort*, std::int32_t) {
        ++calls;
        throw EComPort("Ошибка чтения из порта");
    };
    ASSERT_TRUE(port.Open());
    ASSERT_EQ(write(peer, "x", 1), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 1; }, 5000));
    rec.ClearCalls();
    ASSERT_TRUE(port.Close());
    EXPECT_EQ(rec.Calls(), (std::vector<std::string>{"EscapeCommFunction 6", "EscapeCommFunction 4",
                                                     "PurgeComm 3", "CloseHandle"}));
}

} // namespace
