// Events, waits and threads of the POSIX Win32 layer.
#include "PosixWin32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::size_t CountEntries(const char* folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

TEST(Events, ManualResetStaysSignalledAutoResetReleasesOneWait) {
    HANDLE manual = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    HANDLE automatic = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(manual, nullptr);
    ASSERT_NE(automatic, nullptr);

    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);

    ResetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    SetEvent(manual);
    SetEvent(manual); // setting twice is one signal
    ResetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

    EXPECT_TRUE(CloseHandle(manual));
    EXPECT_TRUE(CloseHandle(automatic));
    EXPECT_FALSE(CloseHandle(manual));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Events, WaitForAnyReportsTheLowestSignalledIndex) {
    HANDLE e[3];
    for (HANDLE& h : e)
        h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetEvent(e[2]);
    SetEvent(e[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, e, TRUE, 0), WAIT_TIMEOUT);
    SetEvent(e[0]);
    EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(3, e, TRUE, INFINITE), WAIT_OBJECT_0);

    HANDLE twice[2] = {e[0], e[0]};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
    HANDLE stale[2] = {e[0], reinterpret_cast<HANDLE>(0x7777)};
    EXPECT_EQ(WaitForMultipleObjects(2, stale, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(0, e, FALSE, 0), WAIT_FAILED);
    for (HANDLE h : e)
        CloseHandle(h);
}

TEST(Events, WaitBlocksUntilAnotherThreadSignalsOrTheTimeoutPasses) {
    HANDLE e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(e, 60), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, milliseconds(60));

    std::atomic<bool> setterRan{false};
    std::thread setter([&] {
        std::this_thread::sleep_for(milliseconds(30));
        setterRan = true;
        SetEvent(e);
    });
    EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(setterRan);
    setter.join();
    CloseHandle(e);
}

DWORD WINAPI RecordRun(LPVOID parameter) {
    auto* ran = static_cast<std::atomic<int>*>(parameter);
    ran->store(1);
    return 42;
}

TEST(Threads, SuspendedThreadRunsOnlyAfterResumeAndSignalsItsEnd) {
    std::atomic<int> ran{0};
    HANDLE t = CreateThread(nullptr, 0, RecordRun, &ran, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(WaitForSingleObject(t, 50), WAIT_TIMEOUT);
    EXPECT_EQ(ran.load(), 0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 259u); // still active
    EXPECT_TRUE(SetThreadPriority(t, THREAD_PRIORITY_NORMAL));

    EXPECT_EQ(ResumeThread(t), 1u);
    EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ran.load(), 1);
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(ResumeThread(t), 0u);
    EXPECT_TRUE(CloseHandle(t));
}

TEST(Threads, ClosingTheHandleOfAnEndedThreadLeavesNothingBehind) {
    const std::size_t tasks = CountEntries("/proc/self/task");
    const std::size_t fds = CountEntries("/proc/self/fd");
    for (int i = 0; i < 50; ++i) {
        std::atomic<int> ran{0};
        HANDLE t = CreateThread(nullptr, 0, RecordRun, &ran, 0, nullptr);
        ASSERT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
        CloseHandle(t);
    }
    // The kernel reaps a joined thread a moment after the join returns.
    const auto limit = Clock::now() + std::chrono::seconds(2);
    while (CountEntries("/proc/self/task") != tasks && Clock::now() < limit) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    EXPECT_EQ(CountEntries("/proc/self/task"), tasks);
    EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
}

} // namespace
