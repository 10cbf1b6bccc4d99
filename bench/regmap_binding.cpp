// Cost of the two binding routines over the whole window, as the poll cycle runs them: the
// read-back at every valid reply, and the refresh after a reply that changed every register.
#include "Binding.h"

#include <benchmark/benchmark.h>

namespace {

using korvan::RegisterImage;
using korvan::WindowControls;

// Two images that differ in every register and show something in every control.
RegisterImage BusyImage(std::uint8_t salt) {
    RegisterImage image;
    for (int r = 0; r < korvan::kRegisterCount; ++r)
        korvan::SetRegisterValue(image, r, static_cast<std::uint16_t>(0x0101 * (r + salt) + 1));
    for (int k = 0; k < korvan::kUnitPanels; ++k) {
        const int config = korvan::reg::UnitBlock(k);
        korvan::SetRegisterValue(
            image, config,
            static_cast<std::uint16_t>((salt & 1 ? 0x5500 : 0x2A40) | (k + salt % 2)));
        korvan::SetRegisterValue(image, config + korvan::reg::DelayOn1,
                                 static_cast<std::uint16_t>(100 * k + salt + 1));
    }
    return image;
}

void BM_ControlsToImage(benchmark::State& state) {
    WindowControls controls;
    korvan::ImageToControls(BusyImage(0), controls);
    RegisterImage wanted = BusyImage(1);
    for (auto _ : state) {
        korvan::ControlsToImage(controls, wanted);
        benchmark::DoNotOptimize(wanted);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ControlsToImage)->Unit(benchmark::kMicrosecond);

void BM_ImageToControlsEveryRegisterChanged(benchmark::State& state) {
    const RegisterImage images[2] = {BusyImage(0), BusyImage(1)};
    WindowControls controls;
    int next = 0;
    for (auto _ : state) {
        korvan::ImageToControls(images[next], controls);
        next ^= 1;
        benchmark::DoNotOptimize(controls);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ImageToControlsEveryRegisterChanged)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
