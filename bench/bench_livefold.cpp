// The real-time convolver's offline engine against an FFTW overlap-save doing the same
// work: two 5 s stereo responses at 48 kHz in series on every path (routing letter 'q'),
// 60 s of stereo input (the argument), the same FFT size and blocks, the same per-block work
// (the inputs' sum through one forward and two inverse transforms), the output's peak
// tracked. Set-up (spectra, plans) is outside the timing for both.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "liveconvolver/engine.h"
#include "liveconvolver/routing.h"

namespace {

constexpr long kRate = 48000;
constexpr long kResponseFrames = 5 * kRate;
constexpr long kMaxInputFrames = 60 * kRate;
constexpr uint32_t kCascadeQ = 0xFF;  // IR1 'q' and IR2 'q': every path through both

std::vector<int16_t> Noise(std::size_t count, unsigned seed, double decay) {
  std::mt19937 random(seed);
  std::normal_distribution<double> d(0.0, 8000.0);
  std::vector<int16_t> v(count);
  for (std::size_t k = 0; k < count; ++k)
    v[k] = static_cast<int16_t>(std::clamp(d(random) * std::exp(-decay * static_cast<double>(k / 2)), -32767.0, 32767.0));
  return v;
}

struct Material {
  std::vector<int16_t> input = Noise(static_cast<std::size_t>(2 * kMaxInputFrames), 1, 0.0);
  std::vector<int16_t> responses[2] = {Noise(static_cast<std::size_t>(2 * kResponseFrames), 2, 2e-5),
                                       Noise(static_cast<std::size_t>(2 * kResponseFrames), 3, 2e-5)};
};

const Material& Data() {
  static const Material m;
  return m;
}

class HeapAllocator : public EngineAllocator {
 public:
  void* Allocate(std::size_t bytes) override {
    blocks_.push_back(std::make_unique<char[]>(bytes));
    std::memset(blocks_.back().get(), 0, bytes);
    return blocks_.back().get();
  }
  void ReleaseAll() override { blocks_.clear(); }

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
};

LiveRouting Routing(long inputFrames) {
  const long frames[2] = {kResponseFrames, kResponseFrames};
  const int channels[2] = {2, 2};
  LiveRouting r;
  PlanLiveRouting(kCascadeQ, 2, 2, frames, channels, inputFrames, r);
  return r;
}

void Engine(benchmark::State& state) {
  const Material& m = Data();
  const long inputFrames = std::min(kMaxInputFrames, static_cast<long>(state.range(0)) * kRate);
  HeapAllocator memory;
  LiveEngine engine;
  if (FitLiveEngine(Routing(inputFrames), memory, engine) == 0 ||
      !PrepareLiveFilters(engine, ResponseSamples{{m.responses[0], m.responses[1]}}, {})) {
    state.SkipWithError("no engine");
    return;
  }
  const BlockReader read = [&m](LONG offset, LONG bytes, int16_t* to) {
    std::memcpy(to, reinterpret_cast<const char*>(m.input.data()) + offset, static_cast<std::size_t>(bytes));
  };
  float peak = 0;
  const BlockSink sink = [&peak](const float* v, std::size_t n) {
    peak = PeakMagnitude(std::span<const float>(v, n), peak);
    return true;
  };
  for (auto _ : state) {
    peak = 0;
    RunLiveConvolution(engine, 0, inputFrames, read, sink, {});
    benchmark::DoNotOptimize(peak);
  }
  state.counters["fft"] = static_cast<double>(engine.fftSize);
  state.SetItemsProcessed(state.iterations() * inputFrames);
}

// The same overlap-save with FFTW's single-precision real transforms (FFTW_MEASURE).
void Fftw(benchmark::State& state) {
  const Material& m = Data();
  const long inputFrames = std::min(kMaxInputFrames, static_cast<long>(state.range(0)) * kRate);
  const LiveRouting r = Routing(inputFrames);
  const long n = r.plannedSize, mm = r.filterLength, k = n - mm + 1, bins = n / 2 + 1;
  const std::size_t un = static_cast<std::size_t>(n), ub = static_cast<std::size_t>(bins);
  float* time[2] = {fftwf_alloc_real(un), fftwf_alloc_real(un)};
  fftwf_complex* spectrum[2] = {fftwf_alloc_complex(ub), fftwf_alloc_complex(ub)};
  fftwf_plan forward[2], inverse[2];
  for (int c = 0; c < 2; ++c) {
    forward[c] = fftwf_plan_dft_r2c_1d(static_cast<int>(n), time[c], spectrum[c], FFTW_MEASURE);
    inverse[c] = fftwf_plan_dft_c2r_1d(static_cast<int>(n), spectrum[c], time[c], FFTW_MEASURE);
  }
  // The filter towards output o, for both inputs: H1[o] H2[o].
  std::vector<std::complex<float>> path[2];
  for (int o = 0; o < 2; ++o) {
    path[o].assign(ub, {1.0f, 0.0f});
    for (int resp = 0; resp < 2; ++resp) {
      std::fill(time[0], time[0] + n, 0.0f);
      for (long j = 0; j < kResponseFrames; ++j) time[0][j] = m.responses[resp][static_cast<std::size_t>(2 * j + o)];
      fftwf_execute(forward[0]);
      for (std::size_t b = 0; b < ub; ++b) path[o][b] *= std::complex<float>(spectrum[0][b][0], spectrum[0][b][1]);
    }
  }
  std::vector<float> overlap(2 * static_cast<std::size_t>(mm - 1)), out(2 * static_cast<std::size_t>(k));
  const long total = inputFrames + mm - 1, blocks = (total + k - 1) / k;
  for (auto _ : state) {
    std::fill(overlap.begin(), overlap.end(), 0.0f);
    float peak = 0;
    for (long b = 0; b < blocks; ++b) {
      for (int c = 0; c < 2; ++c) {
        float* t = time[c];
        std::copy(overlap.begin() + c * (mm - 1), overlap.begin() + (c + 1) * (mm - 1), t);
        for (long j = 0; j < k; ++j) {
          const long frame = b * k + j;
          t[mm - 1 + j] = frame < inputFrames ? m.input[static_cast<std::size_t>(2 * frame + c)] : 0.0f;
        }
        std::copy(t + k, t + k + mm - 1, overlap.begin() + c * (mm - 1));
      }
      // Every path of an output has the same filter: the inputs' sum, one transform.
      for (long j = 0; j < n; ++j) time[0][j] += time[1][j];
      fftwf_execute(forward[0]);
      for (std::size_t i = 0; i < ub; ++i) {
        const std::complex<float> x(spectrum[0][i][0], spectrum[0][i][1]);
        const std::complex<float> yl = x * path[0][i], yr = x * path[1][i];
        spectrum[0][i][0] = yl.real(), spectrum[0][i][1] = yl.imag();
        spectrum[1][i][0] = yr.real(), spectrum[1][i][1] = yr.imag();
      }
      const long kept = std::min(k, total - b * k);
      for (int c = 0; c < 2; ++c) {
        fftwf_execute(inverse[c]);
        for (long j = 0; j < kept; ++j) out[static_cast<std::size_t>(2 * j + c)] = time[c][mm - 1 + j];
      }
      peak = PeakMagnitude(std::span<const float>(out.data(), static_cast<std::size_t>(2 * kept)), peak);
    }
    benchmark::DoNotOptimize(peak);
  }
  state.counters["fft"] = static_cast<double>(n);
  state.SetItemsProcessed(state.iterations() * inputFrames);
  for (int c = 0; c < 2; ++c) {
    fftwf_destroy_plan(forward[c]);
    fftwf_destroy_plan(inverse[c]);
    fftwf_free(time[c]);
    fftwf_free(spectrum[c]);
  }
}

}  // namespace

// The argument is the input's length in seconds.
BENCHMARK(Engine)->Name("LiveEngineCascadeQ")->Unit(benchmark::kMillisecond)->Arg(60);
BENCHMARK(Fftw)->Name("FftwOverlapSaveCascadeQ")->Unit(benchmark::kMillisecond)->Arg(60);
BENCHMARK_MAIN();
