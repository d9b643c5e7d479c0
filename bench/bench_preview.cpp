// The preview's engine with two 5 s stereo responses in series on every path (letter 'q')
// at 48 kHz: its real-time factor (seconds of audio per second of work, against the audio
// clock), beside the offline run (XfmDo into the document) in the same process; the block
// latency (from the start of a preview to its first buffer queued), as a share of the
// block's own duration; and a preview on the virtual device in real time, whose underruns
// are counted.
//
//   tovrel_bench_preview [SECONDS]   (the real-time preview's length, 60 by default; 0 skips it)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "frame/paramblock.h"
#include "host/session.h"
#include "liveconvolver/engine.h"
#include "liveconvolver/livefold/engine_setup.h"
#include "liveconvolver/livefold/livefold_block.h"
#include "liveconvolver/livefold/preview.h"
#include "liveconvolver/routing.h"
#include "platform/portable/faces.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

using Clock = std::chrono::steady_clock;
constexpr long kRate = 48000;
constexpr long kResponseFrames = 5 * kRate;
constexpr long kSelectionFrames = 60 * kRate;

std::vector<int16_t> Noise(std::size_t count, unsigned seed, double decay) {
  std::mt19937 random(seed);
  std::normal_distribution<double> d(0.0, 8000.0);
  std::vector<int16_t> v(count);
  for (std::size_t i = 0; i < count; ++i)
    v[i] = static_cast<int16_t>(std::lround(std::clamp(d(random) * std::exp(-decay * static_cast<double>(i / 2)),
                                                       -32767.0, 32767.0)));
  return v;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const double previewSeconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  tovrel::host::Document doc = tovrel::host::Document::Empty(kRate, 2);
  doc.samples = Noise(static_cast<std::size_t>(kSelectionFrames) * 2, 1, 0.0);
  doc.selStart = 0;
  doc.selEnd = kSelectionFrames - 1;

  std::vector<int16_t> responses[2];
  HGLOBAL samples[2];
  LiveParams p{};
  p.routingMask = 0xFF;
  p.documentChannels = 2;
  p.documentRate = kRate;
  p.selectionFrames = kSelectionFrames;
  p.selectionEnergy = 300.0;
  for (int k = 0; k < 2; ++k) {
    responses[k] = Noise(static_cast<std::size_t>(kResponseFrames) * 2, 10 + k, 3.0 / kRate);
    samples[k] = GlobalAlloc(GMEM_MOVEABLE, responses[k].size() * 2);
    std::memcpy(GlobalLock(samples[k]), responses[k].data(), responses[k].size() * 2);
    GlobalUnlock(samples[k]);
    p.responseSamples[k] = HandleToField(samples[k]);
    p.responseChannels[k] = 2;
    p.responseFrames[k] = kResponseFrames;
    p.responseRate[k] = kRate;
    p.responseSource[k] = kSourceFile;
    p.responseEnergy[k] = ResponseEnergy(responses[k]);
  }
  UpdateRouting(p);
  std::printf("letter '%c', M = %ld, N = %ld, selection %ld s\n", p.combinedLetter,
              FilterLength(0xFF, kResponseFrames, kResponseFrames), static_cast<long>(p.fftSize),
              kSelectionFrames / kRate);

  // The preview's engine over one pass: set-up, then the blocks converted for playback.
  const auto setupStart = Clock::now();
  LiveRouting routing;
  const long frames[2] = {kResponseFrames, kResponseFrames};
  const int channels[2] = {2, 2};
  PlanLiveRouting(0xFF, 2, 2, frames, channels, kSelectionFrames, routing);
  StagedAllocator memory;
  LiveEngine engine;
  if (FitLiveEngine(routing, memory, engine) == 0) return 1;
  PrepareLiveFilters(engine, ResponseSamples{{responses[0], responses[1]}}, {});
  const auto blocksStart = Clock::now();
  const float g = PlaybackGain(BaseGain(0xFF, p.responseEnergy[0], p.responseEnergy[1], 300.0, p.fftSize), 0);
  std::vector<int16_t> out(static_cast<std::size_t>(engine.newFrames()) * 2);
  Clock::duration firstBlock{};
  bool first = true;
  const BlockReader read = [&](LONG offset, LONG bytes, int16_t* to) {
    std::memcpy(to, reinterpret_cast<const char*>(doc.samples.data()) + offset, static_cast<std::size_t>(bytes));
  };
  const BlockSink sink = [&](const float* v, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      const double x = std::trunc(static_cast<double>(v[i]) * g);
      out[i] = static_cast<int16_t>(x > 32767 ? 32767 : x < -32768 ? -32768 : x);
    }
    if (first) firstBlock = Clock::now() - setupStart, first = false;
    return true;
  };
  RunLiveConvolution(engine, 0, kSelectionFrames, read, sink, {});
  const auto end = Clock::now();
  memory.ReleaseAll();
  const double audio = static_cast<double>(engine.outputFrames(kSelectionFrames)) / kRate;
  const double previewRtf = audio / Seconds(end - blocksStart);
  const double blockSeconds = static_cast<double>(engine.newFrames()) / kRate;
  std::printf("preview engine: N = %ld, K = %ld frames (%.2f s a block), %.1f s of audio in %.2f s: "
              "real-time factor %.1f (set-up %.2f s)\n",
              engine.fftSize, engine.newFrames(), blockSeconds, audio, Seconds(end - blocksStart), previewRtf,
              Seconds(blocksStart - setupStart));
  std::printf("engine latency to the first block: %.2f s = %.3f of a block's duration\n", Seconds(firstBlock),
              Seconds(firstBlock) / blockSeconds);

  // The offline run of the same routing into the document, in the same process.
  {
    tovrel::host::Document copy = doc;
    HGLOBAL block = GlobalAlloc(GHND, sizeof(LiveParams));
    std::memcpy(GlobalLock(block), &p, sizeof p);
    GlobalUnlock(block);
    tovrel::host::Session session(copy, "Real Time Convolver");
    session.context().paramHandle = block;
    const auto runStart = Clock::now();
    session.Do(XfmDo, kKindConvolver);
    const double runSeconds = Seconds(Clock::now() - runStart);
    std::printf("offline run: %.2f s: real-time factor %.1f; preview engine / offline run = %.2f\n", runSeconds,
                audio / runSeconds, previewRtf / (audio / runSeconds));
    GlobalFree(block);
  }

  // The preview itself on the virtual device, in real time.
  if (previewSeconds > 0) {
    tovrel::portable::SetWaveDevices({"virtual"});
    tovrel::host::Session session(doc, "Real Time Convolver");
    const long underrunsBefore = tovrel::portable::WaveOutActivity().underruns;
    if (!StartPreview(nullptr, &session.context(), p)) return 1;
    std::this_thread::sleep_for(std::chrono::duration<double>(previewSeconds));
    StopPreview(nullptr);
    const PreviewReport report = LastPreviewReport();
    std::printf("preview on the virtual device for %.0f s: %ld blocks queued, %ld underruns; "
                "first buffer queued after %.2f s = %.3f of a block's duration\n",
                previewSeconds, report.blocks, tovrel::portable::WaveOutActivity().underruns - underrunsBefore,
                static_cast<double>(report.firstBlockMicroseconds) / 1e6,
                static_cast<double>(report.firstBlockMicroseconds) / 1e6 / blockSeconds);
  }
  for (HGLOBAL h : samples) GlobalFree(h);
  return 0;
}
