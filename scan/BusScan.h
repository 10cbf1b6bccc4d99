// The bus scan: one probe at a time, speed after speed, address after address, each probe waiting
// only as long as an answer at that speed can take. It runs on the window thread, driven by one
// timer and the port's receive events, both reached through its line (ScanLine), so a test drives
// it with made-up time and a scripted port. It never writes a register and never sends to
// address 0: every probe is a read of registers 80 to 86 with function 3.
#pragma once

#include "Probe.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace korvan::scan {

using Micros = std::chrono::microseconds;

// The speeds in the order they are tried: the common ones first, the slow ones last.
constexpr std::array<int, 7> kScanSpeeds{9600, 19200, 38400, 57600, 4800, 2400, 1200};
constexpr int kLowestAddress = 1; // 0 is the broadcast, to which nobody answers
constexpr int kHighestAddress = 247;

// The line's arithmetic, for 8N1 (ten bits a character).
Micros CharacterTime(int baud);
// The longest a unit may take from the end of a request to the first byte of its answer.
constexpr Micros kTurnaround{50'000};
// How long a probe waits when nothing comes: the request, the unit's turnaround, and the first
// receive event, which the port raises once the answer has flowed for 14 characters.
Micros SilenceWait(int baud);
// How long a probe waits in all once its answer has begun: the request, the turnaround, the
// whole answer and the receive event after its last byte.
Micros AnswerWait(int baud);
// The quiet kept on the line after an answer before the next request (Modbus: 3.5 characters).
Micros FrameGap(int baud);

// What the scan needs of the line. The station lends its port; tests script one.
class ScanLine {
  public:
    virtual ~ScanLine() = default;
    virtual void SetSpeed(int baud) = 0;                         // reopens the port; throws
    virtual void Write(const std::uint8_t* data, int count) = 0; // throws
    virtual int Read(std::uint8_t* data, int count) = 0;         // throws
    virtual void StartTimer(Micros after) = 0;                   // one shot; replaces one that runs
    virtual void StopTimer() = 0;
    virtual std::chrono::steady_clock::time_point Now() const = 0;
};

struct ScanPlan {
    std::vector<int> speeds; // tried in the order of kScanSpeeds, whatever the order here
    int firstAddress = kLowestAddress;
    int lastAddress = kHighestAddress;
    bool stopAtFirstUnit = true; // end at the first master unit found
};

struct ScanFind {
    int address = 0;
    int baud = 0;
    ProbeVerdict verdict;
    std::chrono::system_clock::time_point at{};
};

enum class ScanEnd : std::uint8_t {
    Swept,      // every address at every speed was tried
    UnitFound,  // the first master unit ended it
    Stopped,    // the operator stopped it
    PortFailed, // the port refused a speed, a write or a read
};

class ScanListener {
  public:
    virtual ~ScanListener() = default;
    virtual void Probing(int baud, int address) = 0; // a probe goes out
    virtual void Found(const ScanFind& find) = 0;
    // The scan is over; `failure` says why the port failed.
    virtual void Finished(ScanEnd end, const std::string& failure) = 0;
};

class BusScan {
  public:
    BusScan(ScanLine& line, ScanListener& listener) : line_(line), listener_(listener) {}
    BusScan(const BusScan&) = delete;
    BusScan& operator=(const BusScan&) = delete;

    void Start(const ScanPlan& plan);
    // Ends it at once: the timer stops, nothing more is sent, a late answer is read and dropped.
    void Stop();
    bool Running() const { return state_ != State::Idle; }

    void TimerFired();
    void BytesArrived(int count); // `count` bytes wait in the port

    const std::vector<ScanFind>& Finds() const { return finds_; }
    int ProbesDone() const { return done_; }
    int ProbesPlanned() const { return planned_; }
    // Lines quiet from here on: what is left at the silent line's pace.
    Micros TimeLeft() const;
    // Frames from another address or to another function, and garbage, seen so far.
    int LineFaults() const { return lineFaults_; }

    // The whole plan on a silent line, by the arithmetic above.
    static Micros SilentSweepTime(const ScanPlan& plan);

  private:
    enum class State : std::uint8_t { Idle, Waiting, Gap };

    void NextProbe();
    void SendProbe();
    void CloseProbe();
    void Finish(ScanEnd end, const std::string& failure = {});
    int Baud() const { return speeds_[speed_]; }
    int AddressesPerSpeed() const { return plan_.lastAddress - plan_.firstAddress + 1; }

    ScanLine& line_;
    ScanListener& listener_;
    ScanPlan plan_;
    std::vector<int> speeds_;
    State state_ = State::Idle;
    std::size_t speed_ = 0;
    int address_ = 0;
    int openBaud_ = 0; // the speed the port runs at, 0 before the first
    bool retried_ = false;
    ProbeVerdict firstTry_;
    Request sent_{};
    std::chrono::steady_clock::time_point sentAt_{};
    std::array<std::uint8_t, 256> received_{};
    int count_ = 0;
    int done_ = 0;
    int planned_ = 0;
    int lineFaults_ = 0;
    std::vector<ScanFind> finds_;
};

} // namespace korvan::scan
