// How long the flattening and the checksum of one whole FPGA text take.
#include "base/ProgramState.h"
#include "firmware/BinImage.h"
#include "image/ImageFlattening.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void flattenAndChecksum(benchmark::State &state, ImageIndex index)
{
    if (!allocateProgramBuffers()) {
        state.SkipWithError("no memory");
        return;
    }
    const autogen_files &entry = AUTOGEN_FILES[index];
    std::vector<char> text(static_cast<size_t>(entry.fileDataLength) + BUFFER_GUARD_SIZE);
    for (auto _ : state) {
        // The flattener cuts its text in place: every round gets a fresh copy.
        state.PauseTiming();
        memcpy(text.data(), entry.fileData, static_cast<size_t>(entry.fileDataLength));
        memset(text.data() + entry.fileDataLength, 0, BUFFER_GUARD_SIZE);
        state.ResumeTiming();
        const BOOL valid = ValidateFwAndConcatenateData(text.data());
        uint32_t checksum = imageCheckSum(gDataConcatenated, gDataConcatenatedLenght);
        benchmark::DoNotOptimize(valid);
        benchmark::DoNotOptimize(checksum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * entry.fileDataLength);
    releaseProgramBuffers();
}

void BM_FlattenRxFpga(benchmark::State &state)
{
    flattenAndChecksum(state, IMAGE_RX_FPGA);
}
void BM_FlattenMicrocontroller(benchmark::State &state)
{
    flattenAndChecksum(state, IMAGE_MCU_FIRMWARE);
}

}  // namespace

BENCHMARK(BM_FlattenRxFpga)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlattenMicrocontroller)->Unit(benchmark::kMillisecond);
