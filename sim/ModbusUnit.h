// The unit's Modbus RTU slave side on its own serial port. The protocol library frames and
// answers requests; this class decides which requests the unit accepts, refuses the rest with
// an exception reply, and tells the line what becomes of each reply (delivered, lost, damaged).
#pragma once

#include "LineRelay.h"
#include "UnitNetwork.h"

#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <vector>

struct _modbus;

namespace korvan::sim {

struct ServeCounters {
    std::uint64_t requests = 0;   // complete requests addressed to this unit
    std::uint64_t replies = 0;    // replies written, exception replies included
    std::uint64_t exceptions = 0; // exception replies
    std::uint64_t dropped = 0;    // replies lost on the line on purpose
    std::uint64_t corrupted = 0;  // replies sent with a damaged CRC
    std::uint64_t badFrames = 0;  // garbage, broken or timed-out frames
};

class ModbusUnit {
  public:
    // Opens `ttyPath` at `baud` 8N1 and answers as slave `address`. Throws std::runtime_error.
    ModbusUnit(const std::string& ttyPath, int baud, int address, UnitNetwork& network,
               LineRelay* relay, std::uint32_t seed);
    ~ModbusUnit();
    ModbusUnit(const ModbusUnit&) = delete;
    ModbusUnit& operator=(const ModbusUnit&) = delete;

    int Fd() const;
    void SetRelay(LineRelay* relay) { relay_ = relay; }

    // Shares of replies, in percent, that are lost or get a damaged CRC.
    void SetDropPercent(int percent) { dropPercent_ = percent; }
    void SetCorruptPercent(int percent) { corruptPercent_ = percent; }
    int DropPercent() const { return dropPercent_; }
    int CorruptPercent() const { return corruptPercent_; }

    void SetVerbose(bool verbose) { verbose_ = verbose; }

    // Reads and answers one request; call when Fd() is readable.
    void ServeOne(double now);

    const ServeCounters& Counters() const { return counters_; }

    // The last requests addressed to this unit (or broadcast), whole frames with their CRC,
    // oldest first; older ones are forgotten. Counters().requests tells how many came in all.
    static constexpr std::size_t kKeptRequests = 32;
    const std::deque<std::vector<std::uint8_t>>& RecentRequests() const { return recent_; }

  private:
    void Open();
    void Close();
    ReplyFate DrawFate();
    void Resynchronise();

    _modbus* ctx_ = nullptr;
    UnitNetwork& network_;
    LineRelay* relay_;
    std::string ttyPath_;
    int baud_;
    int address_;
    int dropPercent_ = 0;
    int corruptPercent_ = 0;
    bool verbose_ = false;
    std::mt19937 random_;
    ServeCounters counters_;
    std::deque<std::vector<std::uint8_t>> recent_;
};

} // namespace korvan::sim
