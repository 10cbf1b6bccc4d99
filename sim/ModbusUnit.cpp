#include "ModbusUnit.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <modbus/modbus.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace korvan::sim {

namespace {

constexpr int kReadHolding = 3;
constexpr int kWriteSingle = 6;
constexpr int kBroadcast = 0;

// Gap after which a new frame is taken to begin, as on a real line: a few characters of
// silence, never less than a few milliseconds so that scheduling jitter does not split frames.
int FrameGapMs(int baud) {
    const double chars = 40.0 * 1000.0 / baud; // four characters
    return std::max(5, static_cast<int>(chars + 0.5));
}

} // namespace

ModbusUnit::ModbusUnit(const std::string& ttyPath, int baud, int address, UnitNetwork& network,
                       LineRelay* relay, std::uint32_t seed)
    : network_(network), relay_(relay), ttyPath_(ttyPath), baud_(baud), address_(address),
      random_(seed) {
    Open();
}

void ModbusUnit::Open() {
    ctx_ = modbus_new_rtu(ttyPath_.c_str(), baud_, 'N', 8, 1);
    if (!ctx_) throw std::runtime_error("modbus_new_rtu: " + std::string(modbus_strerror(errno)));
    modbus_set_slave(ctx_, address_);
    // A frame whose bytes stop coming is given up after this; the relay delivers a byte every
    // character time, so the margin only has to cover scheduling.
    const int byteTimeoutMs = std::max(50, 5 * FrameGapMs(baud_));
    modbus_set_byte_timeout(ctx_, 0, static_cast<std::uint32_t>(byteTimeoutMs) * 1000u);
    modbus_set_indication_timeout(ctx_, 1, 0);
    modbus_set_error_recovery(ctx_, MODBUS_ERROR_RECOVERY_NONE);
    if (modbus_connect(ctx_) != 0) {
        const std::string error = modbus_strerror(errno);
        modbus_free(ctx_);
        ctx_ = nullptr;
        throw std::runtime_error("cannot open " + ttyPath_ + ": " + error);
    }
}

void ModbusUnit::Close() {
    if (!ctx_) return;
    modbus_close(ctx_);
    modbus_free(ctx_);
    ctx_ = nullptr;
}

ModbusUnit::~ModbusUnit() {
    Close();
}

int ModbusUnit::Fd() const {
    return modbus_get_socket(ctx_);
}

ReplyFate ModbusUnit::DrawFate() {
    std::uniform_int_distribution<int> percent(0, 99);
    if (dropPercent_ > 0 && percent(random_) < dropPercent_) return ReplyFate::Drop;
    if (corruptPercent_ > 0 && percent(random_) < corruptPercent_) return ReplyFate::CorruptCrc;
    return ReplyFate::Deliver;
}

void ModbusUnit::Resynchronise() {
    // Skip whatever is left of a broken frame until the line has been quiet for a frame gap,
    // but never longer than a moment: the main loop has other work.
    const int gapMs = FrameGapMs(baud_);
    std::uint8_t scrap[256];
    for (int rounds = 0; rounds < 100; ++rounds) {
        pollfd pfd{Fd(), POLLIN, 0};
        if (poll(&pfd, 1, gapMs) <= 0) return;
        if (read(Fd(), scrap, sizeof scrap) <= 0) return;
    }
}

void ModbusUnit::ServeOne(double now) {
    std::uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH]{}; // short frames leave the rest zero
    const int length = modbus_receive(ctx_, request);
    if (length < 0) {
        ++counters_.badFrames;
        if (verbose_) std::fprintf(stderr, "korvan-sim: bad frame (%s)\n", modbus_strerror(errno));
        Resynchronise();
        return;
    }
    if (length == 0) {
        // Addressed to another slave. The library then takes the next frame for that slave's
        // answer and skips it; on this line no other slave answers, so the next frame is the
        // station's next request. A fresh context forgets that expectation.
        Close();
        Open();
        return;
    }

    ++counters_.requests;
    if (recent_.size() == kKeptRequests) recent_.pop_front();
    recent_.emplace_back(request, request + length);
    const int slave = request[0];
    const int function = request[1];
    const int first = request[2] << 8 | request[3];
    const int second = request[4] << 8 | request[5];

    Refusal refusal = Refusal::IllegalFunction;
    if (function == kReadHolding)
        refusal = network_.CheckRead(first, second);
    else if (function == kWriteSingle)
        refusal = network_.CheckWrite(first);

    if (slave == kBroadcast) {
        // Broadcasts are carried out and never answered.
        if (function == kWriteSingle && refusal == Refusal::None) {
            network_.Data()[first] = static_cast<std::uint16_t>(second);
            network_.StationWrote(first, static_cast<std::uint16_t>(second), now);
        }
        return;
    }

    int replyLength = 5; // address, function | 0x80, exception code, CRC
    if (refusal == Refusal::None) replyLength = function == kReadHolding ? 5 + 2 * second : 8;
    const ReplyFate fate = DrawFate();
    if (relay_) relay_->PlanReply({replyLength, fate});

    int sent;
    if (refusal != Refusal::None) {
        sent = modbus_reply_exception(ctx_, request, static_cast<unsigned>(refusal));
        ++counters_.exceptions;
    } else {
        modbus_mapping_t mapping{};
        mapping.nb_registers = network_.MappedRegisters();
        mapping.tab_registers = network_.Data();
        sent = modbus_reply(ctx_, request, length, &mapping);
    }
    if (sent > 0)
        ++counters_.replies;
    else if (relay_)
        relay_->CancelLastPlan();
    if (fate == ReplyFate::Drop)
        ++counters_.dropped;
    else if (fate == ReplyFate::CorruptCrc)
        ++counters_.corrupted;

    if (verbose_) {
        static const char* const kFate[] = {"sent", "dropped", "sent with a bad CRC"};
        std::fprintf(stderr, "korvan-sim: function %d, %d/%d: %s%s\n", function, first, second,
                     refusal == Refusal::None ? "" : "exception, ", kFate[static_cast<int>(fate)]);
    }

    if (function == kWriteSingle && refusal == Refusal::None)
        network_.StationWrote(first, static_cast<std::uint16_t>(second), now);
}

} // namespace korvan::sim
