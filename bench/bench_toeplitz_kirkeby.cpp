// The whole "Invert Kirkeby" run (XfmDo of the spectrum module: reading the selection,
// the 2 × 2 dipole design, the 16-bit filters on the clipboard) for a 2 s stereo pair of
// responses ("2x2 Impulse Responses") at 48 kHz and a filter length of 65536, beside the
// same design written with NumPy (bench_toeplitz.py kirkeby) in the same run.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "filterdesign/spectrum/spectrum_block.h"
#include "frame/paramblock.h"
#include "host/modules.h"
#include "platform/portable/faces.h"

namespace {

constexpr long kRate = 48000;
constexpr long kFrames = 2 * kRate;
constexpr long kLength = 65536;

// Two stereo responses in a row: a direct sound and decaying noise per path.
const std::vector<int16_t>& Responses() {
  static const std::vector<int16_t> samples = [] {
    std::vector<int16_t> x(static_cast<std::size_t>(2 * kFrames));
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (long k = 0; k < kFrames; ++k) {
      const long t = k % (kFrames / 2);
      for (int c = 0; c < 2; ++c) {
        const bool direct = (k < kFrames / 2) == (c == 0);
        double v = 3000 * noise(rng) * std::exp(-6.9 * t / (0.4 * kRate));
        if (t == (direct ? 10 : 40)) v += direct ? 20000 : 9000;
        x[static_cast<std::size_t>(2 * k + c)] = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
      }
    }
    return x;
  }();
  return samples;
}

LONG WINAPI ReadResponses(void* buffer, LONG offset, LONG bytes) {
  std::memcpy(buffer, reinterpret_cast<const char*>(Responses().data()) + offset, static_cast<std::size_t>(bytes));
  return bytes;
}

double g_oursSeconds = 0;

void BM_InvertKirkebyStereo2x2(benchmark::State& state) {
  static std::vector<std::unique_ptr<tovrel::host::Module>> modules =
      tovrel::host::LoadAllModules(tovrel::host::ModuleSearchPath("/proc/self/exe"));
  const tovrel::host::Module* module = nullptr;
  for (const auto& m : modules)
    if (m->name() == "spectrum") module = m.get();
  if (!module) {
    state.SkipWithError("module spectrum not found");
    return;
  }
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(FlattenBlock));
  LONG cancel = 0;
  XfmContext context{};
  context.channels = 2;
  context.bitsPerSample = 16;
  context.sampleRate = kRate;
  context.paramHandle = block;
  context.selEnd = kFrames - 1;
  context.caption = "Design spectrum flattening filter";
  context.readSamples = ReadResponses;
  context.cancelFlag = &cancel;
  context.batchIndex = 0;  // batch mode: the statistics dialog confirms itself
  module->init(&context);
  {
    BlockLock lock(block);
    auto* b = lock.as<FlattenBlock>();
    b->length = 2 * kLength;
    b->lowCut = 50;
    b->highCut = 16000;
    b->width = 1;
    b->layout = 0;
    b->ownerWindow = HandleToField(tovrel::portable::HostWindow());
    b->moduleInstance = HandleToField(module->instance());
  }
  for (auto _ : state) {
    if (module->run(&context) != 0) {
      state.SkipWithError("the run failed");
      break;
    }
  }
  tovrel::portable::LoadClipboard({});
  GlobalFree(block);
}

void BM_NumPyKirkeby(benchmark::State& state) {
  const std::filesystem::path script = std::filesystem::path(TOVREL_BENCH_DIR) / "bench_toeplitz.py";
  if (std::system("/usr/bin/python3 -c 'import numpy' 2>/dev/null") != 0) {
    state.SkipWithError("NumPy is not installed (Debian: apt-get install python3-numpy)");
    for (auto _ : state) {
    }
    return;
  }
  const std::filesystem::path raw = std::filesystem::temp_directory_path() / "tovrel_bench_kirkeby.raw";
  std::ofstream(raw, std::ios::binary)
      .write(reinterpret_cast<const char*>(Responses().data()),
             static_cast<std::streamsize>(Responses().size() * sizeof(int16_t)));
  const std::string command = "/usr/bin/python3 '" + script.string() + "' kirkeby '" + raw.string() + "' " +
                              std::to_string(kLength) + " " + std::to_string(kRate) + " 0.001 1 50 16000 1";
  double seconds = 0;
  for (auto _ : state) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      std::size_t got;
      while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
      pclose(pipe);
    }
    const std::size_t at = output.find("\"seconds\":");
    seconds = at == std::string::npos ? 0 : std::strtod(output.c_str() + at + 10, nullptr);
    state.SetIterationTime(std::max(seconds, 1e-9));
  }
  std::filesystem::remove(raw);
  if (seconds <= 0) {
    state.SkipWithError("bench_toeplitz.py gave no result");
    return;
  }
  if (g_oursSeconds > 0) state.counters["ours_faster_x"] = seconds / g_oursSeconds;
}

class Recorder : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.benchmark_name().rfind("BM_InvertKirkebyStereo2x2", 0) == 0 && r.iterations > 0)
        g_oursSeconds = r.GetAdjustedRealTime() / 1e3;
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

BENCHMARK(BM_InvertKirkebyStereo2x2)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_NumPyKirkeby)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Recorder reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
