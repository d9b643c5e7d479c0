#include "liveconvolver/engine.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "frame/spectrum.h"
#include "liveconvolver/routing.h"

namespace {

// The bit of the path from input i to output o in a response's path set.
constexpr unsigned PathBit(int input, int output) { return 1u << (2 * input + output); }

// The paths of either response towards output o, and those both share.
unsigned PathsTowards(unsigned paths, int output) { return paths & (PathBit(0, output) | PathBit(1, output)); }

bool SpectrumNeeded(const LiveRouting& r, int response, int output) {
  return PathsTowards(ResponsePaths(r.mask, response), output) != 0;
}

bool ProductNeeded(const LiveRouting& r, int output) {
  return PathsTowards(ResponsePaths(r.mask, 0) & ResponsePaths(r.mask, 1), output) != 0;
}

float* AllocateFloats(EngineAllocator& allocator, uint64_t count) {
  if (count == 0) count = 1;
  if (count > SIZE_MAX / sizeof(float)) return nullptr;
  return static_cast<float*>(allocator.Allocate(static_cast<std::size_t>(count) * sizeof(float)));
}

// One allocation attempt at size n; false when something did not fit.
bool Allocate(LiveEngine& e, EngineAllocator& allocator, long n) {
  const LiveRouting& r = e.routing;
  const uint64_t un = static_cast<uint64_t>(n);
  const int widest = std::max(r.inputChannels, r.outputChannels);
  e.block = AllocateFloats(allocator, un * static_cast<uint64_t>(widest));
  e.overlap = AllocateFloats(allocator, static_cast<uint64_t>(r.inputChannels) *
                                            static_cast<uint64_t>(r.filterLength - 1));
  e.work[0] = AllocateFloats(allocator, un);
  e.work[1] = widest == 2 ? AllocateFloats(allocator, un) : nullptr;
  bool ok = e.block && e.overlap && e.work[0] && (widest == 1 || e.work[1]);
  for (int k = 0; k < 2 && ok; ++k) {
    const bool mono = r.responseChannels[k] == 1;
    for (int c = 0; c < 2 && ok; ++c) {
      e.spectrum[k][c] = nullptr;
      if (!SpectrumNeeded(r, k, c)) continue;
      // A mono response has one spectrum for both output channels.
      if (mono && c == 1 && e.spectrum[k][0]) e.spectrum[k][1] = e.spectrum[k][0];
      else ok = (e.spectrum[k][c] = AllocateFloats(allocator, un)) != nullptr;
    }
  }
  for (int c = 0; c < 2 && ok; ++c) {
    e.product[c] = nullptr;
    if (ProductNeeded(r, c)) ok = (e.product[c] = AllocateFloats(allocator, un)) != nullptr;
  }
  return ok;
}

// ---- The block filter ------------------------------------------------------------------

using MixFn = void (*)(float* left, float* right, const float* const (&path)[2][2], std::size_t n);

// Per bin of the packed spectra: each output the sum of its paths' products, both inputs
// read before either output is written. Products and sums in double precision.
template <bool kLL, bool kLR, bool kRL, bool kRR>
void Mix(float* left, float* right, const float* const (&path)[2][2], std::size_t n) {
  constexpr bool kToL = kLL || kRL, kToR = kLR || kRR;
  constexpr bool kFromL = kLL || kLR, kFromR = kRL || kRR;
  const float *ll = path[0][0], *lr = path[0][1], *rl = path[1][0], *rr = path[1][1];
  for (std::size_t k = 0; k < 2; ++k) {  // DC and Nyquist: real
    const double xl = kFromL ? left[k] : 0.0, xr = kFromR ? right[k] : 0.0;
    double yl = 0, yr = 0;
    if constexpr (kLL) yl += xl * ll[k];
    if constexpr (kRL) yl += xr * rl[k];
    if constexpr (kLR) yr += xl * lr[k];
    if constexpr (kRR) yr += xr * rr[k];
    if constexpr (kToL) left[k] = static_cast<float>(yl);
    if constexpr (kToR) right[k] = static_cast<float>(yr);
  }
  for (std::size_t k = 2; k + 1 < n; k += 2) {
    const double a = kFromL ? left[k] : 0.0, b = kFromL ? left[k + 1] : 0.0;
    const double c = kFromR ? right[k] : 0.0, d = kFromR ? right[k + 1] : 0.0;
    double lre = 0, lim = 0, rre = 0, rim = 0;
    if constexpr (kLL) lre += a * ll[k] - b * ll[k + 1], lim += a * ll[k + 1] + b * ll[k];
    if constexpr (kRL) lre += c * rl[k] - d * rl[k + 1], lim += c * rl[k + 1] + d * rl[k];
    if constexpr (kLR) rre += a * lr[k] - b * lr[k + 1], rim += a * lr[k + 1] + b * lr[k];
    if constexpr (kRR) rre += c * rr[k] - d * rr[k + 1], rim += c * rr[k + 1] + d * rr[k];
    if constexpr (kToL) left[k] = static_cast<float>(lre), left[k + 1] = static_cast<float>(lim);
    if constexpr (kToR) right[k] = static_cast<float>(rre), right[k + 1] = static_cast<float>(rim);
  }
}

template <unsigned kSet>
constexpr MixFn MixOf() {
  return &Mix<(kSet & 1) != 0, (kSet & 2) != 0, (kSet & 4) != 0, (kSet & 8) != 0>;
}

// By path set (LL = 1, LR = 2, RL = 4, RR = 8): every combined letter.
constexpr MixFn kMix[16] = {nullptr,    MixOf<1>(),  MixOf<2>(),  MixOf<3>(),  MixOf<4>(),  MixOf<5>(),
                            MixOf<6>(), MixOf<7>(),  MixOf<8>(),  MixOf<9>(),  MixOf<10>(), MixOf<11>(),
                            MixOf<12>(), MixOf<13>(), MixOf<14>(), MixOf<15>()};

unsigned EnginePaths(const LiveEngine& e) {
  unsigned set = 0;
  for (int i = 0; i < 2; ++i)
    for (int o = 0; o < 2; ++o)
      if (e.path[i][o]) set |= PathBit(i, o);
  return set;
}

}  // namespace

RoutingProblem PlanLiveRouting(uint32_t mask, int inputChannels, int outputChannels, const long responseFrames[2],
                               const int responseChannels[2], long selectionFrames, LiveRouting& routing) {
  if ((inputChannels != 1 && inputChannels != 2) || (outputChannels != 1 && outputChannels != 2))
    return RoutingProblem::BadChannels;
  LiveRouting r;
  r.inputChannels = inputChannels;
  r.outputChannels = outputChannels;
  r.mask = mask & 0xFFu;
  if (inputChannels == 1) r.mask &= kMonoDocumentMask;
  for (int k = 0; k < 2; ++k) {
    const bool loaded = (responseChannels[k] == 1 || responseChannels[k] == 2) && responseFrames[k] > 0;
    r.responseFrames[k] = loaded ? responseFrames[k] : 0;
    r.responseChannels[k] = loaded ? responseChannels[k] : 0;
    if (!loaded) r.mask &= ~(0xFu << (4 * k));
  }
  const unsigned paths = ResponsePaths(r.mask, 0) | ResponsePaths(r.mask, 1);
  if (outputChannels == 1 && PathsTowards(paths, 0) && PathsTowards(paths, 1))
    return RoutingProblem::OutputsExceedChannels;
  r.filterLength = FilterLength(r.mask, r.responseFrames[0], r.responseFrames[1]);
  const long planned = RoutingFftSize(r.mask, r.responseFrames[0], r.responseFrames[1], selectionFrames);
  r.plannedSize = planned > 0 ? planned : kUnroutedFftSize;
  routing = r;
  return RoutingProblem::None;
}

long FitLiveEngine(const LiveRouting& routing, EngineAllocator& allocator, LiveEngine& engine) {
  engine = LiveEngine{};
  engine.routing = routing;
  const long m = routing.filterLength;
  for (long n = routing.plannedSize; n >= 2 && n / 2 >= m; n /= 2) {
    if (Allocate(engine, allocator, n)) {
      engine.fftSize = n;
      engine.fft = RealFftPlan(n);
      return n;
    }
    allocator.ReleaseAll();
    engine = LiveEngine{};
    engine.routing = routing;
  }
  return 0;
}

bool PrepareLiveFilters(LiveEngine& e, const ResponseSamples& responses, const ProgressFn& progress) {
  const LiveRouting& r = e.routing;
  const long n = e.fftSize;
  auto report = [&](long step) { return !progress || progress(step, 8); };
  // The spectra, in the order H1L, H1R, H2L, H2R.
  for (int k = 0; k < 2; ++k) {
    const int channels = r.responseChannels[k];
    const long frames = r.responseFrames[k];
    for (int c = 0; c < 2; ++c) {
      float* h = e.spectrum[k][c];
      if (h && !(c == 1 && h == e.spectrum[k][0])) {
        const std::span<const int16_t> s = responses.samples[k];
        if (s.size() / static_cast<std::size_t>(channels) < static_cast<std::size_t>(frames)) return false;
        const int from = channels == 2 ? c : 0;
        for (long j = 0; j < frames; ++j) h[j] = static_cast<float>(s[static_cast<std::size_t>(j * channels + from)]);
        std::fill(h + frames, h + n, 0.0f);
        e.fft.Transform(h, +1);
      }
      if (!report(2 * k + c + 1)) return false;
    }
  }
  // The path filters, in the order PLL, PLR, PRL, PRR.
  const unsigned first = ResponsePaths(r.mask, 0), second = ResponsePaths(r.mask, 1);
  bool productMade[2] = {false, false};
  for (int i = 0; i < 2; ++i) {
    for (int o = 0; o < 2; ++o) {
      const unsigned bit = PathBit(i, o);
      const float* filter = nullptr;
      if ((first & bit) && (second & bit)) {
        float* p = e.product[o];
        if (!productMade[o]) {
          std::memcpy(p, e.spectrum[0][o], static_cast<std::size_t>(n) * sizeof(float));
          MultiplyPackedSpectra(std::span<float>(p, static_cast<std::size_t>(n)),
                                std::span<const float>(e.spectrum[1][o], static_cast<std::size_t>(n)));
          productMade[o] = true;
        }
        filter = p;
      } else if (first & bit) {
        filter = e.spectrum[0][o];
      } else if (second & bit) {
        filter = e.spectrum[1][o];
      }
      e.path[i][o] = filter;
      if (!report(5 + 2 * i + o)) return false;
    }
  }
  // A one-channel output carries whichever output channel the paths feed.
  if (r.outputChannels == 1)
    for (int i = 0; i < 2; ++i)
      if (!e.path[i][0]) e.path[i][0] = e.path[i][1], e.path[i][1] = nullptr;
  return true;
}

void FilterLiveBlock(const LiveEngine& e, float* left, float* right) {
  float* work[2] = {left, right};
  const unsigned set = EnginePaths(e);
  const int outputs = e.routing.outputChannels;
  if (set == 0) {
    // Unrouted: the input unchanged (a mono input on both outputs).
    if (outputs == 2 && e.routing.inputChannels == 1)
      std::memcpy(right, left, static_cast<std::size_t>(e.fftSize) * sizeof(float));
    return;
  }
  const bool from[2] = {(set & (PathBit(0, 0) | PathBit(0, 1))) != 0, (set & (PathBit(1, 0) | PathBit(1, 1))) != 0};
  const bool to[2] = {(set & (PathBit(0, 0) | PathBit(1, 0))) != 0, (set & (PathBit(0, 1) | PathBit(1, 1))) != 0};
  const std::size_t n = static_cast<std::size_t>(e.fftSize);
  if (from[0] && from[1] && e.path[0][0] == e.path[1][0] && e.path[0][1] == e.path[1][1]) {
    // Both inputs meet every output through the same filter (responses in series on
    // every path, a mono response on both inputs): the output is the sum of the inputs
    // filtered, one forward transform. Sums of 16-bit samples are exact in float.
    for (std::size_t j = 0; j < n; ++j) left[j] += right[j];
    e.fft.Transform(left, +1);
    kMix[set & (PathBit(0, 0) | PathBit(0, 1))](left, right, e.path, n);
  } else {
    for (int i = 0; i < 2; ++i)
      if (from[i]) e.fft.Transform(work[i], +1);
    kMix[set](left, right, e.path, n);
  }
  for (int o = 0; o < outputs; ++o) {
    if (to[o]) e.fft.Transform(work[o], -1);
    else std::fill(work[o], work[o] + e.fftSize, 0.0f);
  }
}

BlockOutcome RunLiveConvolution(const LiveEngine& e, long firstFrame, long frames, const BlockReader& read,
                                const BlockSink& sink, const ProgressFn& progress) {
  const LiveRouting& r = e.routing;
  const unsigned set = EnginePaths(e);
  OverlapSave os;
  os.fftSize = e.fftSize;
  os.filterLength = r.filterLength;
  os.frames = frames;
  os.firstFrame = firstFrame;
  os.channels = r.inputChannels;
  os.outputChannels = r.outputChannels;
  // Only the inputs the paths use are read (both when nothing is routed).
  const bool fromLeft = set == 0 || (set & (PathBit(0, 0) | PathBit(0, 1))) != 0;
  const bool fromRight = set == 0 || (set & (PathBit(1, 0) | PathBit(1, 1))) != 0;
  os.source[0] = fromLeft ? 0 : -1;
  os.source[1] = r.inputChannels == 2 && fromRight ? 1 : -1;
  os.block = e.block;
  os.work[0] = e.work[0];
  os.work[1] = e.work[1];
  os.overlap = e.overlap;
  std::fill(e.overlap, e.overlap + static_cast<std::size_t>(r.inputChannels) * static_cast<std::size_t>(r.filterLength - 1),
            0.0f);
  const BlockFilter filter = [&e](float* left, float* right) { FilterLiveBlock(e, left, right); };
  return RunOverlapSave(os, read, filter, sink, progress);
}
