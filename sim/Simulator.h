// The simulator as one piece: the unit network, its Modbus port, the line to the station, the
// link in /dev and the control socket, run from one event loop.
#pragma once

#include "LineRelay.h"
#include "ModbusUnit.h"
#include "Options.h"
#include "UnitNetwork.h"

#include <memory>
#include <string>
#include <vector>

namespace korvan::sim {

class Simulator {
  public:
    explicit Simulator(const Options& options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the ports, starts the line, listens on the control socket and creates the link,
    // in that order, so the link exists only once everything behind it works.
    // Throws std::runtime_error.
    void Start();

    std::string ReadyLine() const;

    // Serves until SIGINT, SIGTERM or SIGHUP arrives on `signalFd` (a signalfd); SIGUSR1
    // writes the register dump.
    void Run(int signalFd);

    // One control command, one answer line (without the newline).
    std::string Command(const std::string& line, double now);

    bool WriteDump(const std::string& path) const;

  private:
    struct Client {
        int fd;
        std::string pending;
    };

    std::string Execute(const std::string& line, double now);
    void Shutdown();
    void ListenControl();
    void ServeClient(Client& client, double now, bool& closed);

    Options options_;
    UnitNetwork network_;
    std::unique_ptr<LineRelay> relay_;
    std::unique_ptr<ModbusUnit> unit_;
    std::string linkTarget_; // what the link points to while it exists
    int listen_ = -1;
    double hangUpAt_ = 0; // when the port is pulled out by itself; 0: not planned
    std::vector<Client> clients_;
};

} // namespace korvan::sim
