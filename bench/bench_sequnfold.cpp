// "Deconvolve MLS Signal" (XfmDo on a recording of two periods, reference sequence, TOB
// and permutation included) against a circular cross-correlation of the same length by
// FFTW in single precision: averaging, r2c, product with the reference spectrum, c2r.
// FFTW's plans (FFTW_MEASURE) and the reference spectrum are made outside the timing.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <chrono>
#include <complex>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frame/paramblock.h"
#include "host/modules.h"
#include "platform/portable/faces.h"
#include "sequence/mls.h"
#include "sequence/sequnfold/sequnfold_block.h"
#include "sequence/unfold.h"

namespace {

constexpr int kPeriods = 2;
// Entries of orders 16 to 21 in the MLS table.
int EntryOf(int order) {
  for (int i = kMlsEntryCount - 1; i >= 0; --i)
    if (MlsEntryTable[i].order == order) return i;
  return -1;
}

std::vector<int16_t> g_recording;

LONG WINAPI ReadRecording(void* buffer, LONG byteOffset, LONG byteCount) {
  std::memcpy(buffer, reinterpret_cast<const char*>(g_recording.data()) + byteOffset, static_cast<std::size_t>(byteCount));
  return byteCount;
}

// Two periods of the sequence through a delay of 100 samples and a gain of one half.
std::vector<int16_t> Recording(const MlsEntry& row) {
  const long L = MlsPeriod(row.order);
  std::vector<int32_t> bits(static_cast<std::size_t>(L) + 1);
  GenerateMlsBits(row, bits.data(), 1, {});
  std::vector<int16_t> out(static_cast<std::size_t>(kPeriods * L));
  for (long n = 0; n < kPeriods * L; ++n) {
    const long k = ((n - 100) % L + L) % L;
    out[static_cast<std::size_t>(n)] = static_cast<int16_t>(bits[static_cast<std::size_t>(k + 1)] ? -8192 : 8192);
  }
  return out;
}

const tovrel::host::Module* Sequnfold() {
  static std::vector<std::unique_ptr<tovrel::host::Module>> modules =
      tovrel::host::LoadAllModules(tovrel::host::ModuleSearchPath("/proc/self/exe"));
  for (const auto& m : modules)
    if (m->name() == "sequnfold") return m.get();
  return nullptr;
}

void BM_SequnfoldXfmDo(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0));
  const tovrel::host::Module* module = Sequnfold();
  if (!module) {
    state.SkipWithError("module sequnfold not found");
    return;
  }
  const int entry = EntryOf(order);
  g_recording = Recording(MlsEntryTable[entry]);

  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(SeqUnfoldBlock));
  LONG cancel = 0;
  XfmContext context{};
  context.channels = 1;
  context.bitsPerSample = 16;
  context.sampleRate = 48000;
  context.paramHandle = block;
  context.selStart = 0;
  context.selEnd = static_cast<LONG>(g_recording.size()) - 1;
  context.caption = "Deconvolve MLS Signal";
  context.readSamples = ReadRecording;
  context.cancelFlag = &cancel;
  context.batchIndex = 0;  // batch mode: the statistics dialog confirms itself
  context.batchShowDialogs = 0;
  module->init(&context);
  {
    BlockLock lock(block);
    auto* b = lock.as<SeqUnfoldBlock>();
    b->entry = static_cast<SHORT>(entry);
    b->order = static_cast<SHORT>(order);
    b->ownerWindow = HandleToField(tovrel::portable::HostWindow());
    b->moduleInstance = HandleToField(module->instance());
  }
  for (auto _ : state) {
    if (module->run(&context) != 0) {
      state.SkipWithError("the run failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(g_recording.size()));
  tovrel::portable::LoadClipboard({});
  GlobalFree(block);
}

// XfmDo's stages one by one, in milliseconds per run, on the platform's memory as the
// module has it: reference bits, TOB search, permutation, averaging, the two moves and
// the transform, peak search and output.
void BM_SequnfoldStages(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0));
  const MlsEntry& row = MlsEntryTable[EntryOf(order)];
  const std::vector<int16_t> recording = Recording(row);
  const long L = MlsPeriod(order);
  const std::size_t cells = static_cast<std::size_t>(L) + 2;
  HGLOBAL permBlock = GlobalAlloc(GMEM_MOVEABLE, cells * 4), workBlock = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, cells * 4);
  auto* perm = static_cast<int32_t*>(GlobalLock(permBlock));
  auto* work = static_cast<int32_t*>(GlobalLock(workBlock));
  std::vector<int16_t> out(static_cast<std::size_t>(L));
  std::vector<float> scratch(cells);
  const std::span<float> moves(scratch);
  using Clock = std::chrono::steady_clock;
  double totals[7] = {};
  for (auto _ : state) {
    auto t0 = Clock::now();
    GenerateMlsBits(row, work, 1, {});
    auto t1 = Clock::now();
    long tob[21] = {};
    LookUpTob(std::span<const int32_t>(work, static_cast<std::size_t>(L)), std::span<long>(tob, static_cast<std::size_t>(order)), {});
    auto t2 = Clock::now();
    BuildMlsPermutation(std::span<const int32_t>(work, static_cast<std::size_t>(L)),
                        std::span<const long>(tob, static_cast<std::size_t>(order)), std::span<int32_t>(perm, cells), {});
    auto t3 = Clock::now();
    std::memset(work, 0, cells * 4);
    for (int p = 0; p < kPeriods; ++p)
      for (long k = 0; k < L; ++k) work[k + 2] += recording[static_cast<std::size_t>(p * L + k)];
    auto* values = reinterpret_cast<float*>(work);
    for (std::size_t i = 2; i < cells; ++i) {
      const float f = static_cast<float>(work[i]);
      std::memcpy(values + i, &f, 4);
    }
    auto t4 = Clock::now();
    const std::span<float> w(values, cells);
    const std::span<int32_t> pm(perm, cells);
    PermuteForward(w, pm, moves);
    auto t5 = Clock::now();
    FastHadamardTransform(w);
    auto t6 = Clock::now();
    PermuteBackward(w, pm, moves);
    auto t7 = Clock::now();
    float magnitude = 0;
    Peak peak = FindPeak(w, false, magnitude);
    WriteRotatedResponse(w, ChooseStartPosition(peak.position, -1, order), 0, magnitude, out, 0, 1);
    auto t8 = Clock::now();
    const Clock::time_point marks[] = {t0, t1, t2, t3, t4, t5, t6, t7, t8};
    const int stageOf[8] = {0, 1, 2, 3, 4, 5, 4, 6};  // both moves count as one stage
    for (int k = 0; k < 8; ++k)
      totals[stageOf[k]] += std::chrono::duration<double, std::milli>(marks[k + 1] - marks[k]).count();
    benchmark::DoNotOptimize(out.data());
  }
  const char* names[7] = {"reference_ms", "tob_ms", "permutation_ms", "average_ms", "moves_ms", "hadamard_ms", "output_ms"};
  for (int k = 0; k < 7; ++k) state.counters[names[k]] = totals[k] / static_cast<double>(state.iterations());
  GlobalUnlock(permBlock);
  GlobalUnlock(workBlock);
  GlobalFree(permBlock);
  GlobalFree(workBlock);
}

void BM_FftwCircularCorrelation(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0));
  const MlsEntry& row = MlsEntryTable[EntryOf(order)];
  const std::vector<int16_t> recording = Recording(row);
  const int L = static_cast<int>(MlsPeriod(order));
  const std::size_t n = static_cast<std::size_t>(L);
  const std::size_t bins = n / 2 + 1;

  float* in = fftwf_alloc_real(n);
  float* out = fftwf_alloc_real(n);
  fftwf_complex* spectrum = fftwf_alloc_complex(bins);
  std::vector<std::complex<float>> reference(bins);
  fftwf_plan forward = fftwf_plan_dft_r2c_1d(L, in, spectrum, FFTW_MEASURE);
  fftwf_plan backward = fftwf_plan_dft_c2r_1d(L, spectrum, out, FFTW_MEASURE);
  std::vector<int32_t> bits(n + 1);
  GenerateMlsBits(row, bits.data(), 1, {});
  for (std::size_t k = 0; k < n; ++k) in[k] = bits[k + 1] ? -1.0f : 1.0f;
  fftwf_execute(forward);
  for (std::size_t k = 0; k < bins; ++k) reference[k] = std::conj(std::complex<float>(spectrum[k][0], spectrum[k][1]));

  for (auto _ : state) {
    for (std::size_t k = 0; k < n; ++k) {
      int32_t sum = 0;
      for (int p = 0; p < kPeriods; ++p) sum += recording[static_cast<std::size_t>(p) * n + k];
      in[k] = static_cast<float>(sum);
    }
    fftwf_execute(forward);
    for (std::size_t k = 0; k < bins; ++k) {
      const std::complex<float> v = std::complex<float>(spectrum[k][0], spectrum[k][1]) * reference[k];
      spectrum[k][0] = v.real();
      spectrum[k][1] = v.imag();
    }
    fftwf_execute(backward);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(recording.size()));
  fftwf_destroy_plan(forward);
  fftwf_destroy_plan(backward);
  fftwf_free(in);
  fftwf_free(out);
  fftwf_free(spectrum);
}

}  // namespace

// Each order's run beside its peer, then its stages.
int main(int argc, char** argv) {
  for (int order = 16; order <= 21; ++order) {
    benchmark::RegisterBenchmark("BM_SequnfoldXfmDo", BM_SequnfoldXfmDo)->Arg(order)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_FftwCircularCorrelation", BM_FftwCircularCorrelation)
        ->Arg(order)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_SequnfoldStages", BM_SequnfoldStages)->Arg(order)->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
