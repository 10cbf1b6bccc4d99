// Cost of one poll period on the window thread when the unit's image has not changed: the poll
// tick, one receive event with the whole reply and the closing response handler; without and
// with the traffic record listening.
#include "ModbusFrames.h"
#include "PollEngine.h"
#include "TrafficLog.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>

namespace {

using namespace korvan;

// A host whose port always holds the same read reply and whose controls match the image.
class QuietHost : public PollLine, public PollView {
  public:
    RegisterImage registers{};
    std::array<std::uint8_t, 256> reply{};
    int replyLength = 0;
    int readPosition = 0;
    bool responseRunning = false;

    std::string SendAddressText() const override { return "1"; }
    void PortWrite(const std::uint8_t* data, int count) override {
        benchmark::DoNotOptimize(count);
        // Replies are judged against the request: the unit answers the count asked for.
        if (data[5] * 2 + 5 != replyLength) SetReply(registers, data[5]);
        readPosition = 0;
    }
    int PortRead(std::uint8_t* data, int count) override {
        const int n = std::min(count, replyLength - readPosition);
        std::copy_n(reply.begin() + readPosition, n, data);
        readPosition += n;
        return n;
    }
    void DiscardInput() override {}
    void StartResponseTimer() override { responseRunning = true; }
    void StopResponseTimer() override { responseRunning = false; }
    bool ResponseTimerRunning() const override { return responseRunning; }
    void PortFailed(std::exception_ptr) override {}
    void ImageToControls(const RegisterImage& image) override { benchmark::DoNotOptimize(image); }
    void FitPanelsToUnits(int, int) override {}
    int GreyOutDisabledUnits(const RegisterImage&) override { return 0; }
    void ShowLinkLost() override {}
    void SetOnlineColour(Colour colour) override { benchmark::DoNotOptimize(colour); }
    void ReportWriteRefused(int, std::uint16_t, std::uint8_t) override {}
    void ReportWriteUnanswered(int, std::uint16_t) override {}
    void ReportChoicesDropped(const DroppedChoices&) override {}

    void SetReply(const RegisterImage& image, int count) {
        registers = image;
        reply = {};
        reply[0] = 1;
        reply[1] = kReadHoldingRegisters;
        reply[2] = static_cast<std::uint8_t>(2 * count);
        std::copy_n(registers.begin(), 2 * count, reply.begin() + 3);
        replyLength = 3 + 2 * count + 2;
        Crc16(reply.data(), replyLength - 2, reply[replyLength - 1], reply[replyLength - 2]);
    }
};

void UnchangedExchange(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    QuietHost host;
    PollEngine engine(host, host);
    engine.SetStartValues();
    // With range(1) set, the traffic record listens, as it always does in the station.
    TrafficLog record;
    if (state.range(1) != 0) engine.SetExchangeObserver(&record);
    RegisterImage registers{};
    for (int i = 0; i < 256; ++i)
        registers[i] = static_cast<std::uint8_t>(i * 37 + 11);
    registers[byte::FirmwareMajor] = count == 116 ? 3 : 2;
    host.SetReply(registers, count);
    // Settle: the first replies show the image and fix the read size.
    for (int i = 0; i < 3; ++i) {
        engine.SEND_TIMTimer();
        engine.COMPORTRxChar(host.replyLength);
        engine.TIMEOUTTimer();
    }
    if (engine.LinkCredit() != 3 || engine.ReadCount() != count) {
        state.SkipWithError("the engine did not settle on the reply");
        return;
    }
    for (auto _ : state) {
        engine.SEND_TIMTimer();
        engine.COMPORTRxChar(host.replyLength);
        engine.TIMEOUTTimer();
    }
    if (engine.LinkCredit() != 3 || engine.PendingWrite())
        state.SkipWithError("an exchange was not applied as unchanged");
}
BENCHMARK(UnchangedExchange)
    ->Args({96, 0})
    ->Args({96, 1})
    ->Args({116, 0})
    ->Args({116, 1})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
