// The station's processor time per exchange over a serial port and over TCP in one run: first
// korvan-sim on a pseudo-terminal that the window opens as its serial port, then a second
// korvan-sim behind ser2net (plain TCP on the loopback), chosen as a network port. Only the
// station's own process is counted (all its threads), not ser2net's.
//
// net_port_bench [EXCHANGES [PICTURE-DIR]]: with a directory it also saves there the window
// "Сетевой порт" as the operator fills it in and the station polling through ser2net. Run it
// under privdev (and Xvfb for the pictures).
#include "NetPortDialog.h"
#include "PortList.h"
#include "PosixNetConnect.h"
#include "StationRig.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <ctime>

#include <netinet/in.h>
#include <sys/socket.h>

using namespace korvan;

namespace {

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Processor time per exchange over the next `count` exchanges, in ms; negative when they did
// not come.
double CpuPerExchange(TWIN& win, int count) {
    const double before = ProcessCpuMs();
    const bench::PollFigures f = bench::MeasurePolls(win, count);
    if (f.exchanges == 0) return -1;
    return (ProcessCpuMs() - before) / count;
}

int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    close(s);
    return ntohs(a.sin_port);
}

} // namespace

int main(int argc, char** argv) {
    bench::FixScaling();
    QApplication app(argc, argv);
    bench::SetUpStation(app, true);
    const int count = bench::ExchangeCount(argc, argv);
    const QString pictures = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();

    bench::StationOnSim serial;
    if (!serial.Start("BENCH", {"--burst"}) || !serial.WaitForLink()) return 1;
    const double serialMs = CpuPerExchange(*serial.win, count);

    QTemporaryDir dir;
    e2e::SimulatorProcess unit;
    const QString link = dir.filePath("ttyUNIT");
    if (const std::string error = unit.Start(link, {"--burst"}); !error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const int port = FreePort();
    QProcess ser2net;
    ser2net.start("ser2net", {"-n", "-u", "-P", dir.filePath("pid"), "-Y",
                              QStringLiteral("connection: &unit\n  accepter: tcp,127.0.0.1,%1\n"
                                             "  connector: serialdev,%2,9600n81,local\n")
                                  .arg(port)
                                  .arg(link)});
    const bool listening = QTest::qWaitFor(
        [port] {
            std::string cause;
            const int fd = posix::ConnectTcp("127.0.0.1", port, std::chrono::seconds(1), cause);
            if (fd >= 0) close(fd);
            return fd >= 0;
        },
        10000);
    if (!listening) {
        std::fprintf(stderr, "ser2net did not listen\n");
        return 1;
    }
    const std::string name = "tcp://127.0.0.1:" + std::to_string(port);

    if (!pictures.isEmpty()) {
        NetPortDialog dialog(serial.win.get());
        dialog.show();
        if (!QTest::qWaitForWindowExposed(&dialog))
            std::fprintf(stderr, "the dialog did not show\n");
        QTest::keyClicks(dialog.findChild<QLineEdit*>("NetAddress"),
                         QStringLiteral("127.0.0.1:%1").arg(port), Qt::NoModifier, 20);
        QTest::qWait(300);
        dialog.grab().save(pictures + "/net-port-dialog.png");
    }

    auto* com = serial.win->findChild<QComboBox*>("COM");
    AddNetworkPort(com, name);
    SelectPort(com, name);
    serial.win->Link.ChangePort(name);
    if (!serial.WaitForLink()) {
        std::fprintf(stderr, "no link through ser2net\n");
        return 1;
    }
    const double tcpMs = CpuPerExchange(*serial.win, count);
    if (!pictures.isEmpty()) {
        QTest::qWait(1500);
        serial.win->grab().save(pictures + "/station-through-ser2net.png");
    }
    std::printf("station CPU per exchange, %d exchanges each, one burst reply of 116 registers:\n"
                "  serial port (pseudo-terminal): %.3f ms\n"
                "  TCP through ser2net (raw):     %.3f ms\n",
                count, serialMs, tcpMs);
    serial.win.reset();
    ser2net.kill();
    ser2net.waitForFinished();
    unit.Stop();
    serial.sim.Stop();
    return serialMs < 0 || tcpMs < 0 ? 1 : 0;
}
