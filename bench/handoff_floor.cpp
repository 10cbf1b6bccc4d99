// What the blocking hand-off to the window thread costs on its own: a worker wakes every 250 ms,
// as the port's event thread does for a reply, and runs an empty procedure on the window thread
// through the same hand-off the port uses. Processor time per hand-off of each thread; compare
// with a whole exchange of a single-threaded Modbus master (bench/cpu-vs-mbpoll.sh).
//
//   handoff_floor [hand-offs]      (run under Xvfb with QT_QPA_PLATFORM=xcb to see the station's
//                                   loop; the default platform otherwise)
#include "QtWindowThread.h"
#include "WindowThread.h"

#include <QApplication>
#include <QMetaObject>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <ctime>
#include <pthread.h>

namespace {

double CpuUs(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

} // namespace

int main(int argc, char** argv) {
    const int handOffs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    QApplication app(argc, argv);
    korvan::InstallQtWindowThread();
    QWidget window;
    window.resize(800, 600);
    window.show();

    clockid_t windowClock{};
    pthread_getcpuclockid(pthread_self(), &windowClock);
    double windowUs = 0;
    double workerUs = 0;
    std::thread worker;
    QTimer::singleShot(1000, &app, [&] {
        worker = std::thread([&] {
            const double window0 = CpuUs(windowClock);
            const double worker0 = CpuUs(CLOCK_THREAD_CPUTIME_ID);
            for (int i = 0; i < handOffs; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
                korvan::win::Synchronize([] {});
            }
            windowUs = CpuUs(windowClock) - window0;
            workerUs = CpuUs(CLOCK_THREAD_CPUTIME_ID) - worker0;
            QMetaObject::invokeMethod(
                &app, [&app] { app.quit(); }, Qt::QueuedConnection);
        });
    });
    app.exec();
    worker.join();
    std::printf(
        "%d hand-offs on %s: window thread %.1f us, worker %.1f us, together %.1f us each\n",
        handOffs, qPrintable(QApplication::platformName()), windowUs / handOffs,
        workerUs / handOffs, (windowUs + workerUs) / handOffs);
    return 0;
}
