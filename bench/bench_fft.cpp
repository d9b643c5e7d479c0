// RealFft forward against FFTW's single-precision real-to-complex transform.
#include "frame/fft.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

std::vector<float> Noise(long n) {
  std::mt19937 generator(12345);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  std::vector<float> signal(static_cast<std::size_t>(n));
  for (float& v : signal) v = uniform(generator);
  return signal;
}

// Each iteration transforms a fresh copy of the same signal, for both contenders alike.
void BM_RealFft(benchmark::State& state) {
  const long n = static_cast<long>(state.range(0));
  const std::vector<float> signal = Noise(n);
  std::vector<float> buffer(signal.size());
  for (auto _ : state) {
    buffer = signal;
    RealFft(buffer.data(), n, 1);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_FftwR2c(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<float> signal = Noise(n);
  float* in = fftwf_alloc_real(static_cast<std::size_t>(n));
  fftwf_complex* out = fftwf_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
  for (auto _ : state) {
    std::copy(signal.begin(), signal.end(), in);
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
  fftwf_destroy_plan(plan);
  fftwf_free(in);
  fftwf_free(out);
}

}  // namespace

BENCHMARK(BM_RealFft)->RangeMultiplier(2)->Range(1 << 10, 1 << 20);
BENCHMARK(BM_FftwR2c)->RangeMultiplier(2)->Range(1 << 10, 1 << 20);

BENCHMARK_MAIN();
