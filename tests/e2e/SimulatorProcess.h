// korvan-sim as a child process of a test: started with its link in /dev, talked to through its
// control socket, and ended (which removes the link) when the object goes.
#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <string>
#include <vector>

namespace korvan::e2e {

class SimulatorProcess {
  public:
    SimulatorProcess() = default;
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Starts the simulator on `linkPath` with extra options and waits for its ready line.
    // Returns an error text, empty on success.
    std::string Start(const QString& linkPath, const QStringList& options);

    // Ends it with SIGTERM and returns its exit code (-1 when it had to be killed or crashed).
    int Stop();

    // One control command; returns the answer line without "ok ", or throws std::runtime_error
    // when the answer is not "ok".
    std::string Command(const std::string& line) const;

    int Get(int reg) const { return std::stoi(Command("get " + std::to_string(reg))); }

    struct Frames {
        long total = 0;                  // requests the unit received in all
        std::vector<std::string> recent; // the last of them, hexadecimal, oldest first
    };
    Frames ReceivedFrames() const;

  private:
    QTemporaryDir dir_;
    QString control_;
    QProcess process_;
};

} // namespace korvan::e2e
