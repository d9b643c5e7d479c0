// The analysis of a 10 s stereo room response at 48 kHz (wide band and ten octave bands
// per channel) against the same chain written with NumPy and SciPy (sosfilt of the three
// band-pass sections, the backward integral, the line fits), run by bench_acoustic.py in
// the same process run. SciPy comes from Debian's python3-scipy.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "acoustic/response.h"

namespace {

constexpr long kRate = 48000;
constexpr int kChannels = 2;
constexpr double kSeconds = 10.0;

// Exponentially decaying noise (1.6 s left, 1.1 s right) after a direct sound, over a
// noise floor, as a measured response looks.
const std::vector<int16_t>& Response() {
  static const std::vector<int16_t> samples = [] {
    const long n = static_cast<long>(kRate * kSeconds);
    std::vector<int16_t> x(static_cast<std::size_t>(n) * kChannels);
    std::mt19937 rng(2024);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (long k = 0; k < n; ++k) {
      for (int c = 0; c < kChannels; ++c) {
        const double rt = c == 0 ? 1.6 : 1.1;
        double v = 8000 * noise(rng) * std::pow(10.0, -3.0 * k / kRate / rt) + 2 * noise(rng);
        if (k == 0) v = 30000;
        x[static_cast<std::size_t>(k) * kChannels + c] = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
      }
    }
    return x;
  }();
  return samples;
}

double g_oursSeconds = 0;
float g_oursRt30[2][kRows];

void BM_AcousticStereo10s(benchmark::State& state) {
  const std::vector<int16_t>& x = Response();
  ResponseAnalysis result{};
  for (auto _ : state) {
    result = AnalyseResponse(x, kChannels, static_cast<float>(kRate), AnalysisSettings{});
    benchmark::DoNotOptimize(result.results.values);
  }
  if (result.outcome != ChannelOutcome::kCompleted) state.SkipWithError("the analysis did not complete");
  for (int c = 0; c < kChannels; ++c)
    for (int r = 0; r < kRows; ++r) g_oursRt30[c][r] = result.results.values[c * kChannelValues + r * kParameters + kRt30];
  state.SetItemsProcessed(state.iterations() * static_cast<long>(x.size()));
  state.counters["RT30_Lin_left_s"] = g_oursRt30[0][0];
  state.counters["RT30_Lin_right_s"] = g_oursRt30[1][0];
}

// Reads the numbers of a JSON array of arrays that follows `key` (flat, in order).
std::vector<double> Numbers(const std::string& json, const std::string& key) {
  std::vector<double> out;
  std::size_t p = json.find("\"" + key + "\"");
  if (p == std::string::npos) return out;
  p = json.find('[', p);
  int depth = 0;
  for (; p < json.size(); ++p) {
    const char c = json[p];
    if (c == '[') ++depth;
    else if (c == ']') {
      if (--depth == 0) break;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      char* end = nullptr;
      out.push_back(std::strtod(json.c_str() + p, &end));
      p = static_cast<std::size_t>(end - json.c_str()) - 1;
    }
  }
  return out;
}

void BM_SciPyChain(benchmark::State& state) {
  const std::filesystem::path script = std::filesystem::path(__FILE__).parent_path() / "bench_acoustic.py";
  if (std::system("/usr/bin/python3 -c 'import scipy.signal' 2>/dev/null") != 0) {
    state.SkipWithError("SciPy is not installed (Debian: apt-get install python3-scipy)");
    for (auto _ : state) {
    }
    return;
  }
  const std::filesystem::path raw = std::filesystem::temp_directory_path() / "tovrel_bench_acoustic.raw";
  {
    const std::vector<int16_t>& x = Response();
    std::ofstream(raw, std::ios::binary)
        .write(reinterpret_cast<const char*>(x.data()), static_cast<std::streamsize>(x.size() * sizeof(int16_t)));
  }
  const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + raw.string() + "' " +
                              std::to_string(kChannels) + " " + std::to_string(kRate) + " 3";
  double seconds = 0;
  std::vector<double> rt30;
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
    rt30 = Numbers(output, "rt30");
    state.SetIterationTime(seconds);
  }
  std::filesystem::remove(raw);
  if (seconds <= 0 || rt30.size() != 2 * kRows) {
    state.SkipWithError("bench_acoustic.py gave no result");
    return;
  }
  // How far the two chains agree on RT30, over every row of both channels.
  double worst = 0;
  for (int c = 0; c < kChannels; ++c)
    for (int r = 0; r < kRows; ++r)
      worst = std::max(worst, std::fabs(rt30[c * kRows + r] - g_oursRt30[c][r]) / std::max(1e-9, rt30[c * kRows + r]));
  state.counters["RT30_max_rel_diff"] = worst;
  if (g_oursSeconds > 0) state.counters["ours_faster_x"] = seconds / g_oursSeconds;
}

// Our time per analysis, for the comparison, taken from the first benchmark's run.
class Recorder : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.benchmark_name().rfind("BM_AcousticStereo10s", 0) == 0 && r.iterations > 0)
        g_oursSeconds = r.GetAdjustedRealTime() / 1e3;  // reported in milliseconds
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

BENCHMARK(BM_AcousticStereo10s)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SciPyChain)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Recorder reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
