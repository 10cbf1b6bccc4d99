// The Qt window thread: blocking hand-offs, waits that keep serving them, notification windows.
#include "WindowThread.h"
#include "QtWindowThread.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

using namespace korvan;

QApplication& App() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "handoff_qt_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    return *app;
}

bool OnWindowThread() {
    return QThread::currentThread() == App().thread();
}

TEST(QtWindowThread, IsInstalledByLinkingAndKnowsTheApplicationThread) {
    App();
    ASSERT_NE(win::GetWindowThreadHost(), nullptr);
    EXPECT_TRUE(win::IsWindowThread());
    bool workerIsWindowThread = true;
    std::thread([&] { workerIsWindowThread = win::IsWindowThread(); }).join();
    EXPECT_FALSE(workerIsWindowThread);
}

TEST(QtWindowThread, HandOffRunsOnTheWindowThreadAndBlocksTheWorkerUntilDone) {
    App();
    std::atomic<bool> procRan{false};
    std::atomic<bool> ranOnWindowThread{false};
    std::atomic<bool> workerReturned{false};
    std::atomic<bool> returnedBeforeProcEnded{false};
    std::thread worker([&] {
        win::Synchronize([&] {
            ranOnWindowThread = OnWindowThread();
            // The worker must still be waiting while the hand-off runs.
            QTest::qWait(20);
            returnedBeforeProcEnded = workerReturned.load();
            procRan = true;
        });
        workerReturned = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return workerReturned.load(); }, 5000));
    worker.join();
    EXPECT_TRUE(procRan);
    EXPECT_TRUE(ranOnWindowThread);
    EXPECT_FALSE(returnedBeforeProcEnded);

    // On the window thread itself the hand-off runs at once.
    bool direct = false;
    win::Synchronize([&] { direct = true; });
    EXPECT_TRUE(direct);
}

TEST(QtWindowThread, AnExceptionEscapingTheHandOffIsRaisedAgainInTheWorker) {
    App();
    std::string caught;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            win::Synchronize([] { throw std::runtime_error("Ошибка чтения из порта"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
    worker.join();
    EXPECT_EQ(caught, "Ошибка чтения из порта");
}

TEST(QtWindowThread, HandOffsRunInsideAModalMessageBox) {
    App();
    QMessageBox box(QMessageBox::Critical, "Error", "modal", QMessageBox::Ok);
    std::atomic<bool> ranInsideBox{false};
    std::thread worker;
    QTimer::singleShot(0, [&] {
        worker = std::thread([&] {
            win::Synchronize([&] {
                ranInsideBox = box.isVisible() && OnWindowThread();
                box.done(QMessageBox::Ok);
            });
        });
    });
    QTimer::singleShot(5000, &box, [&] { box.done(QMessageBox::Cancel); }); // guard only
    box.exec();
    worker.join();
    EXPECT_TRUE(ranInsideBox);
}

DWORD WINAPI HandOffThenEnd(LPVOID parameter) {
    auto* count = static_cast<std::atomic<int>*>(parameter);
    for (int i = 0; i < 3; ++i)
        win::Synchronize([count] { ++*count; });
    return 0;
}

TEST(QtWindowThread, WaitingForAWorkerOnTheWindowThreadServesItsHandOffs) {
    App();
    std::atomic<int> served{0};
    HANDLE thread = CreateThread(nullptr, 0, HandOffThenEnd, &served, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // No event loop runs here: only the wait itself can serve the worker.
    EXPECT_EQ(win::WaitServing(thread), WAIT_OBJECT_0);
    EXPECT_EQ(served.load(), 3);
    CloseHandle(thread);
    QCoreApplication::processEvents(); // the posted serve requests find nothing left
    EXPECT_EQ(served.load(), 3);
}

TEST(QtWindowThread, SentMessagesRunOnTheWindowThreadAndReplyMessageReleasesTheSender) {
    App();
    std::mutex m;
    std::condition_variable cv;
    bool senderGoesOn = false;
    std::atomic<bool> windowThread{false};
    std::atomic<bool> inSend{false};
    std::atomic<bool> senderWasReleasedEarly{false};
    HWND wnd = win::AllocateHWnd([&](UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        windowThread = OnWindowThread();
        inSend = InSendMessage();
        if (message == WM_USER + 1 && wParam == 1) {
            ReplyMessage(7);
            // The sender has been released: it signals while this handler still runs.
            std::unique_lock lock(m);
            senderWasReleasedEarly =
                cv.wait_for(lock, std::chrono::seconds(5), [&] { return senderGoesOn; });
            return 99; // too late: the reply was 7
        }
        return 11;
    });
    std::atomic<LRESULT> replied{0};
    std::atomic<LRESULT> returned{0};
    std::atomic<bool> done{false};
    std::thread sender([&] {
        replied = SendMessageA(wnd, WM_USER + 1, 1, 0);
        {
            std::lock_guard lock(m);
            senderGoesOn = true;
        }
        cv.notify_all();
        returned = SendMessageA(wnd, WM_USER + 1, 2, 0);
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    sender.join();
    EXPECT_TRUE(senderWasReleasedEarly);
    EXPECT_EQ(replied.load(), 7);
    EXPECT_EQ(returned.load(), 11);
    EXPECT_TRUE(windowThread);
    EXPECT_TRUE(inSend);

    // Sent from the window thread itself, the method is simply called.
    EXPECT_EQ(SendMessageA(wnd, WM_USER + 1, 2, 0), 11);
    EXPECT_FALSE(inSend);

    win::DeallocateHWnd(wnd);
    EXPECT_EQ(SendMessageA(wnd, WM_USER + 1, 2, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(QtWindowThread, ExceptionsOfAWindowMethodGoToTheApplicationsReport) {
    App();
    std::string reported;
    win::SetExceptionReport([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            reported = x.what();
        }
    });
    HWND wnd = win::AllocateHWnd([](UINT, WPARAM, LPARAM) -> LRESULT {
        throw std::runtime_error("Ошибка функции ClearCommError");
    });
    std::atomic<bool> done{false};
    std::thread sender([&] {
        SendMessageA(wnd, WM_USER + 1, 0, 0);
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
    sender.join();
    EXPECT_EQ(reported, "Ошибка функции ClearCommError");
    win::DeallocateHWnd(wnd);
    win::SetExceptionReport(nullptr);
}

} // namespace
