// What the link tests share: a fake serial device map, the message boxes the window showed, a
// pymodbus slave on the far end of a virtual line, and probes of the port from outside.
#pragma once

#include "Commands.h"

#include <QTemporaryDir>
#include <QTest>

#include <string>
#include <vector>

#include <sys/types.h>
#include <termios.h>

namespace korvan::testing {

// Serves the window's events until the condition holds or the time is up.
template <typename Condition> bool WaitFor(Condition condition, int ms = 15000) {
    return QTest::qWaitFor(condition, ms);
}

// The machine's list of serial ports as the window reads it, in a folder of its own. Only the
// ports added here are listed; each is opened as "/dev/" + name.
class FakeMachine {
  public:
    explicit FakeMachine(bool readable = true);
    ~FakeMachine(); // the previous device map comes back

    void AddPort(const std::string& name);
    // A port of a USB adapter with the given serial number (cdc-acm style: the terminal's device
    // is the USB interface).
    void AddUsbPort(const std::string& name, const std::string& serial);
    void RemovePort(const std::string& name); // the device node goes, as when unplugged

  private:
    QTemporaryDir root_;
    std::string previous_;
};

// Records every message box the window shows and answers it, OK unless told otherwise.
class MessageLog {
  public:
    struct Message {
        MessageKind kind;
        std::string text;
        bool operator==(const Message&) const = default;
    };

    MessageLog();
    ~MessageLog(); // boxes are answered OK unrecorded again

    std::vector<Message> shown;
    bool answer = true;
};

// Boxes shown outside a MessageLog are answered OK.
void AnswerBoxesOk();

// A Modbus RTU slave of Debian's pymodbus on one end of a line. It holds 128 holding registers
// and reports what the master reads and writes, one line each ("read 0 96", "write 80 12").
class ModbusPeer {
  public:
    // Starts the slave with the given registers ("86=0x0205") and returns once it serves
    // requests, or when waiting, once it is loaded and waits for Go. Throws std::runtime_error
    // when it does not come up. Blocks the calling thread.
    ModbusPeer(const std::string& device, const std::vector<std::string>& registers,
               bool waiting = false);
    ~ModbusPeer(); // kills the slave
    ModbusPeer(const ModbusPeer&) = delete;
    ModbusPeer& operator=(const ModbusPeer&) = delete;

    // How many of the lines printed so far equal line; reads what is waiting without blocking.
    int Count(const std::string& line);
    int Reads() { return Count("read 0 96") + Count("read 0 116"); }
    std::vector<std::string> Lines() {
        Drain(0);
        return lines_;
    }
    // Opens the device (dropping what the line sent meanwhile) and returns once requests are
    // served: within a few milliseconds, so that it fits between two polls of the window.
    void Go();
    // Changes a register without a write from the master; the window's events are served until
    // the slave has taken it.
    bool Set(int reg, int value);
    // Bends the slave's next fitting reply ("length", "address", "echo"; see modbus_peer.py).
    bool Bend(const std::string& kind);

  private:
    bool Command(const std::string& command); // sends it and waits for its acknowledgement
    void Drain(int waitMs);
    void WaitBlocking(const std::string& line);

    pid_t pid_ = -1;
    int toPeer_ = -1;
    int fromPeer_ = -1;
    std::string partial_;
    std::vector<std::string> lines_;
};

// The line speed the terminal behind path is set to, read through a descriptor of our own.
speed_t PortSpeed(const std::string& path);

// Holds a device's lock as another program using the port would.
class PortHolder {
  public:
    explicit PortHolder(const std::string& path);
    ~PortHolder();
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    bool Holds() const { return held_; }

  private:
    int fd_ = -1;
    bool held_ = false;
};

// Whether another program could take the device's lock now, that is nobody holds the port.
inline bool PortIsFree(const std::string& path) {
    return PortHolder(path).Holds();
}

} // namespace korvan::testing
