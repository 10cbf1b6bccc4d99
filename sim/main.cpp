// korvan-sim: a simulated network of fire-automation units on a virtual serial port.
#include "Options.h"
#include "Simulator.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <sys/signalfd.h>
#include <unistd.h>

int main(int argc, char** argv) {
    using namespace korvan::sim;

    Options options;
    const std::string error = ParseOptions(argc, argv, options);
    if (!error.empty()) {
        std::fprintf(stderr, "korvan-sim: %s\nTry korvan-sim --help.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }

    // The signals are taken through a descriptor in the event loop; blocking them before any
    // thread starts keeps them away from the line relay's thread.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::perror("korvan-sim: signalfd");
        return 1;
    }

    try {
        Simulator simulator(options);
        simulator.Start();
        const NetworkSettings& n = options.network;
        std::fprintf(stderr,
                     "korvan-sim: slave %d at %d baud 8N1, firmware %d.%02d, %d units, %s\n",
                     n.address, n.baud, n.firmwareMajor, n.firmwareMinor, n.unitCount,
                     n.scenario ? "scenario running" : "quiet");
        std::printf("%s\n", simulator.ReadyLine().c_str());
        std::fflush(stdout);
        simulator.Run(signalFd);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvan-sim: %s\n", e.what());
        close(signalFd);
        return 1;
    }
    close(signalFd);
    return 0;
}
