// The Levinson solve of the inverse-filter design (float32 vectors, double inner
// products) beside scipy.linalg.solve_toeplitz on the same system in the same run, for
// L = 4095, 16383 and 65535; bench_toeplitz.py times SciPy and reports the relative
// residuals ||R x - y|| / ||y|| of both solutions. The system is the one the design
// builds for a response of (L + 1) / 2 samples (a direct sound followed by decaying
// noise) and the delay n - 1. SciPy comes from Debian's python3-scipy.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "filterdesign/design.h"
#include "filterdesign/toeplitz.h"
#include "frame/fft.h"

namespace {

struct System {
  std::vector<float> r, y;
};

const System& SystemOf(long L) {
  static std::map<long, System> systems;
  auto [it, fresh] = systems.try_emplace(L);
  if (!fresh) return it->second;
  const long n = (L + 1) / 2;
  std::mt19937 rng(static_cast<unsigned>(L));
  std::normal_distribution<double> noise(0.0, 1.0);
  std::vector<float> h(static_cast<std::size_t>(n));
  for (long i = 0; i < n; ++i)
    h[static_cast<std::size_t>(i)] = static_cast<float>(i == 0 ? 20000 : 3000 * noise(rng) * std::exp(-6.9 * i / n));
  const long G = static_cast<long>(AutocorrelationSize(n));
  std::vector<float> work(static_cast<std::size_t>(G), 0.0f);
  std::copy(h.begin(), h.end(), work.begin());
  RealFft(work, +1);
  PowerSpectrum(work);
  RealFft(work, -1);
  System& s = it->second;
  s.r.assign(work.begin(), work.begin() + L);
  for (long m = n; m < L; ++m) s.r[static_cast<std::size_t>(m)] = 0;
  s.y.resize(static_cast<std::size_t>(L));
  DelayedImpulseCorrelation(h, n - 1, s.y);
  return s;
}

std::map<long, std::vector<float>> g_solution;
std::map<long, double> g_oursSeconds;

void BM_ToeplitzSolve(benchmark::State& state) {
  const long L = state.range(0);
  const System& s = SystemOf(L);
  std::vector<float> x(static_cast<std::size_t>(L)), g(static_cast<std::size_t>(L));
  for (auto _ : state) {
    if (ToeplitzSolve(s.r, s.y, x, g, {}) != ToeplitzResult::Solved) state.SkipWithError("singular");
    benchmark::DoNotOptimize(x.data());
  }
  g_solution[L] = x;
}

void Write(const std::filesystem::path& path, const std::vector<float>& v) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size() * sizeof(float)));
}

double Field(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\":");
  return at == std::string::npos ? -1 : std::strtod(json.c_str() + at + key.size() + 3, nullptr);
}

void BM_SciPySolveToeplitz(benchmark::State& state) {
  const long L = state.range(0);
  const std::filesystem::path script = std::filesystem::path(TOVREL_BENCH_DIR) / "bench_toeplitz.py";
  if (std::system("/usr/bin/python3 -c 'import scipy.linalg' 2>/dev/null") != 0 || !g_solution.count(L)) {
    state.SkipWithError("SciPy is not installed (Debian: apt-get install python3-scipy), or ours did not run");
    for (auto _ : state) {
    }
    return;
  }
  const System& s = SystemOf(L);
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  const std::filesystem::path files[3] = {dir / "tovrel_bench_toeplitz_r.raw", dir / "tovrel_bench_toeplitz_y.raw",
                                          dir / "tovrel_bench_toeplitz_x.raw"};
  Write(files[0], s.r);
  Write(files[1], s.y);
  Write(files[2], g_solution[L]);
  const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + files[0].string() + "' '" +
                              files[1].string() + "' '" + files[2].string() + "'";
  std::string output;
  for (auto _ : state) {
    output.clear();
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      std::size_t got;
      while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
      pclose(pipe);
    }
    state.SetIterationTime(std::max(Field(output, "seconds"), 1e-9));
  }
  for (const auto& f : files) std::filesystem::remove(f);
  const double seconds = Field(output, "seconds");
  if (seconds <= 0) {
    state.SkipWithError("bench_toeplitz.py gave no result");
    return;
  }
  state.counters["residual_ours"] = Field(output, "residual_ours");
  state.counters["residual_scipy"] = Field(output, "residual_scipy");
  state.counters["residual_scipy_f32"] = Field(output, "residual_scipy_f32");
  if (g_oursSeconds.count(L)) state.counters["ours_faster_x"] = seconds / g_oursSeconds[L];
}

// Our time per solve, for the comparison, taken from the first benchmark's runs.
class Recorder : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.benchmark_name().rfind("BM_ToeplitzSolve/", 0) == 0 && r.iterations > 0)
        g_oursSeconds[std::atol(r.benchmark_name().c_str() + 17)] = r.GetAdjustedRealTime() / 1e3;
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

BENCHMARK(BM_ToeplitzSolve)->Arg(4095)->Arg(16383)->Arg(65535)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SciPySolveToeplitz)->Arg(4095)->Arg(16383)->Arg(65535)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Recorder reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
