// RealFft forward and inverse against FFTW's single-precision real-to-complex and
// complex-to-real transforms (plans by FFTW_MEASURE), 2^10 to 2^22 points, each size of
// ours registered beside its peer.
#include "frame/fft.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<float> Noise(long n) {
  std::mt19937 generator(12345);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  std::vector<float> signal(static_cast<std::size_t>(n));
  for (float& v : signal) v = uniform(generator);
  return signal;
}

// Each iteration transforms a fresh copy of the same data, for both contenders alike.
void RealFftRun(benchmark::State& state, long n, short sign) {
  const std::vector<float> signal = Noise(n);
  std::vector<float> buffer(signal.size());
  for (auto _ : state) {
    buffer = signal;
    RealFft(buffer.data(), n, sign);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void FftwRun(benchmark::State& state, long n, short sign) {
  const std::vector<float> signal = Noise(n + 2);
  float* real = fftwf_alloc_real(static_cast<std::size_t>(n));
  fftwf_complex* spectrum = fftwf_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
  const int size = static_cast<int>(n);
  fftwf_plan plan = sign == 1 ? fftwf_plan_dft_r2c_1d(size, real, spectrum, FFTW_MEASURE)
                              : fftwf_plan_dft_c2r_1d(size, spectrum, real, FFTW_MEASURE);
  float* in = sign == 1 ? real : reinterpret_cast<float*>(spectrum);
  const std::size_t inFloats = sign == 1 ? static_cast<std::size_t>(n) : static_cast<std::size_t>(n + 2);
  for (auto _ : state) {
    std::copy(signal.begin(), signal.begin() + static_cast<std::ptrdiff_t>(inFloats), in);
    fftwf_execute(plan);
    benchmark::DoNotOptimize(real);
    benchmark::DoNotOptimize(spectrum);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
  fftwf_destroy_plan(plan);
  fftwf_free(real);
  fftwf_free(spectrum);
}

}  // namespace

int main(int argc, char** argv) {
  for (long n = 1L << 10; n <= (1L << 22); n *= 2) {
    const std::string size = "/" + std::to_string(n);
    benchmark::RegisterBenchmark(("RealFftForward" + size).c_str(), RealFftRun, n, short{1});
    benchmark::RegisterBenchmark(("FftwR2c" + size).c_str(), FftwRun, n, short{1});
    benchmark::RegisterBenchmark(("RealFftInverse" + size).c_str(), RealFftRun, n, short{-1});
    benchmark::RegisterBenchmark(("FftwC2r" + size).c_str(), FftwRun, n, short{-1});
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
