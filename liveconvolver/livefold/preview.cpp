// Preview playback: the worker thread, its status texts, the wave format, the four-buffer
// ring, the too-slow question, and starting and stopping from the dialog.
//
// A preview is a job: what the worker works from (copied at the start, read-only while it
// runs) and what the two threads share (the stop flag, the status text, a question and its
// answer, the report), guarded by the job's lock or atomic. The worker owns the device,
// the engine and the ring, and gives them back itself, in reverse order, before it ends;
// the dialog's thread frees the job only after the worker has ended.
#include "liveconvolver/livefold/preview.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "frame/messages.h"
#include "frame/paramblock.h"
#include "frame/stages.h"
#include "liveconvolver/engine.h"
#include "liveconvolver/livefold/engine_setup.h"
#include "liveconvolver/livefold/stored.h"
#include "liveconvolver/routing.h"
#include "platform/wave.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRingSlots = 4;
constexpr DWORD kWaitSliceMilliseconds = 50;
constexpr std::size_t kStatusLength = 64;

constexpr char kMemoryCaption[] = "Memory Allocation Error";
constexpr char kDeviceMessage[] = "Error opening Output Device!\n\nPlayback not possible!";
constexpr char kDeviceCaption[] = "Output Device Error!";
constexpr char kTooSlowMessage[] =
    "Sorry! Your computer is too slow.\nThere will be gaps in the sound!\n\n"
    "You'd better visualize convolution and then playback.\n\nContinue anyway?";
constexpr char kTooSlowCaption[] = "Playback Error!";
constexpr char kErrorStatus[] = "Error!";
constexpr const char* kMultiplicationStatus[4] = {"Spectrum multiplication 1...", "Spectrum multiplication 2...",
                                                  "Spectrum Multiplication 3...", "Spectrum multiplication 4..."};

struct Job {
  // What the worker works from.
  unsigned number = 0;
  HWND dialog = nullptr;
  XfmReadSamplesFn readSamples = nullptr;
  long firstFrame = 0;
  long frames = 0;  // L
  int channels = 1;
  long rate = 0;
  std::string caption;
  LiveParams params{};
  float gain = 1;
  UINT device = 0;
  Clock::time_point started;
  HANDLE wake = nullptr;  // auto-reset: a buffer done, an answer, the stop

  // What the threads share.
  std::atomic<bool> stop{false};
  std::atomic<bool> statusPosted{false};
  std::mutex mutex;
  std::string status;
  std::string question, questionCaption;
  UINT questionType = 0;
  bool answered = false;
  int answer = 0;
  PreviewReport report;
};

// The dialog's side; touched by the dialog's thread only.
struct Preview {
  Job* job = nullptr;
  Staging thread;
  HANDLE worker = nullptr;
  unsigned lastNumber = 0;
};
Preview g_preview;
std::atomic<UINT> g_device{0};
std::mutex g_reportMutex;
PreviewReport g_lastReport;

// ---- The worker --------------------------------------------------------------------------

class Worker {
 public:
  explicit Worker(Job& job) : job_(job) {}
  ~Worker() { CloseDevice(); }

  // True when the worker ended the preview on its own (a refusal, a failure), false when
  // the dialog stopped it.
  bool Run() {
    if (!CheckRates() || !Fit() || !PrepareFilters() || !AllocateRing() || !OpenDevice()) return !Stopped();
    Play();
    return !Stopped() && endedByItself_;
  }

 private:
  bool Stopped() const { return job_.stop.load(); }

  void Status(const std::string& text) {
    {
      std::lock_guard lock(job_.mutex);
      job_.status = text.substr(0, kStatusLength);
    }
    if (!job_.statusPosted.exchange(true))
      PostMessageA(job_.dialog, kPreviewStatusMessage, static_cast<WPARAM>(job_.number), 0);
  }
  void Done(const std::string& text) { Status(text + "Done"); }

  // Asks through the dialog and waits for the answer; IDNO when the preview is stopped first.
  int Ask(const std::string& text, const char* caption, UINT type) {
    {
      std::lock_guard lock(job_.mutex);
      job_.question = text;
      job_.questionCaption = caption;
      job_.questionType = type;
      job_.answered = false;
    }
    if (!PostMessageA(job_.dialog, kPreviewQuestionMessage, static_cast<WPARAM>(job_.number), 0)) return IDNO;
    for (;;) {
      {
        std::lock_guard lock(job_.mutex);
        if (job_.answered) return job_.answer;
      }
      if (Stopped()) return IDNO;
      WaitForSingleObject(job_.wake, kWaitSliceMilliseconds);
    }
  }
  bool AskYesNo(const std::string& text, const char* caption) {
    return Ask(text, caption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
  }
  void Fail(const char* text, const char* caption) {
    Status(kErrorStatus);
    Ask(text, caption, MB_OK | MB_ICONERROR);
  }

  bool Loaded(int k) const { return StoredResponseValid(job_.params, k); }

  // The routing in force: switches of loaded responses, the left input's on a mono document.
  uint32_t Mask() const {
    uint32_t mask = static_cast<uint32_t>(job_.params.routingMask) & (job_.channels == 1 ? kMonoDocumentMask : 0xFFu);
    for (int k = 0; k < 2; ++k)
      if (!Loaded(k)) mask &= ~(0xFu << (4 * k));
    return mask;
  }

  bool CheckRates() {
    for (int k = 0; k < 2; ++k) {
      if (!Routed(Mask(), k)) continue;
      const std::string text = std::string("Comparing Input and IR") + (k == 0 ? "1" : "2") + " Sampling Frequencies...";
      Status(text);
      const long rate = job_.params.responseRate[k];
      if (RatesDiffer(job_.rate, rate) && !AskYesNo(RatesQuestion(job_.rate, k, rate), job_.caption.c_str()))
        return false;
      Done(text);
    }
    return !Stopped();
  }

  // The wave format, the routing and the engine's memory.
  bool Fit() {
    const uint32_t mask = Mask();
    // A mono document routed to both outputs plays in stereo.
    outputs_ = job_.channels == 1 && LettersFromMask(mask).combined == 'c' ? 2 : job_.channels;
    long rate = job_.rate;
    for (int k = 0; k < 2; ++k)
      if (Loaded(k) && job_.params.responseRate[k] > 0 && job_.params.responseRate[k] < rate)
        rate = job_.params.responseRate[k];
    format_ = WAVEFORMATEX{};
    format_.wFormatTag = WAVE_FORMAT_PCM;
    format_.nChannels = static_cast<WORD>(outputs_);
    format_.nSamplesPerSec = static_cast<DWORD>(rate);
    format_.wBitsPerSample = 16;
    format_.nBlockAlign = static_cast<WORD>(outputs_ * 2);
    format_.nAvgBytesPerSec = format_.nSamplesPerSec * format_.nBlockAlign;

    const char text[] = "Allocate memory for Convolution...";
    Status(text);
    long frames[2];
    int channels[2];
    for (int k = 0; k < 2; ++k) {
      frames[k] = Loaded(k) ? job_.params.responseFrames[k] : 0;
      channels[k] = Loaded(k) ? job_.params.responseChannels[k] : 0;
    }
    LiveRouting routing;
    if (PlanLiveRouting(mask, job_.channels, outputs_, frames, channels, job_.frames, routing) != RoutingProblem::None) {
      Status(kErrorStatus);
      return false;
    }
    for (int k = 0; k < 2; ++k) {
      if (!Routed(routing.mask, k)) continue;
      const auto* data = static_cast<const int16_t*>(locks_.Lock(FieldToHandle<HGLOBAL>(job_.params.responseSamples[k])));
      if (!data) {
        Fail(kConvolutionMemoryMessage, kMemoryCaption);
        return false;
      }
      samples_.samples[k] = std::span<const int16_t>(data, static_cast<std::size_t>(frames[k]) * channels[k]);
    }
    const long n = FitLiveEngine(routing, engineMemory_, engine_);
    if (n == 0) {
      Fail(kConvolutionMemoryMessage, kMemoryCaption);
      return false;
    }
    if (n != routing.plannedSize &&
        !AskYesNo(FftSizeQuestion(job_.params, Loaded(1), routing.plannedSize, n), job_.caption.c_str())) {
      Status(kErrorStatus);
      return false;
    }
    Done(text);
    return !Stopped();
  }

  bool PrepareFilters() {
    const bool routed[2] = {Routed(engine_.routing.mask, 0), Routed(engine_.routing.mask, 1)};
    auto loading = [&](int k) {
      if (!routed[k]) return;
      Done(std::string("Loading IR") + (k == 0 ? "1" : "2") + " data...");
      Status(std::string("Calculating IR") + (k == 0 ? "1" : "2") + " FFT...");
    };
    loading(0);
    const ProgressFn progress = [&](long step, long) {
      if (step == 2 && routed[0]) Done("Calculating IR1 FFT...");
      if (step == 2) loading(1);
      if (step == 4 && routed[1]) Done("Calculating IR2 FFT...");
      if (step >= 5) Done(kMultiplicationStatus[step - 5]);
      return !Stopped();
    };
    const bool going = PrepareLiveFilters(engine_, samples_, progress);
    samples_ = ResponseSamples{};
    locks_.ReleaseAll();
    return going && !Stopped();
  }

  bool AllocateRing() {
    const char text[] = "Allocating Buffers memory...";
    Status(text);
    slotSamples_ = static_cast<std::size_t>(engine_.newFrames()) * static_cast<std::size_t>(outputs_);
    output_ = buffers_.AllocLocked<int16_t>(slotSamples_, GHND);
    bool ok = output_ != nullptr;
    for (int r = 0; r < kRingSlots && ok; ++r) {
      ring_[r] = buffers_.AllocLocked<WAVEHDR>(1, GHND);
      int16_t* data = ring_[r] ? buffers_.AllocLocked<int16_t>(slotSamples_, GHND) : nullptr;
      ok = data != nullptr;
      if (ok) ring_[r]->lpData = reinterpret_cast<LPSTR>(data);
    }
    if (!ok) {
      Fail(kConvolutionMemoryMessage, kMemoryCaption);
      return false;
    }
    Done(text);
    return !Stopped();
  }

  bool OpenDevice() {
    const char text[] = "Opening Output device...";
    Status(text);
    if (waveOutOpen(&out_, job_.device, &format_, reinterpret_cast<DWORD_PTR>(job_.wake), 0, CALLBACK_EVENT) !=
        MMSYSERR_NOERROR) {
      out_ = nullptr;
      Fail(kDeviceMessage, kDeviceCaption);
      return false;
    }
    Done(text);
    return !Stopped();
  }

  // Passes over the selection until the preview is stopped or ends.
  void Play() {
    const XfmReadSamplesFn read = job_.readSamples;
    const BlockReader reader = [&](LONG offset, LONG bytes, int16_t* to) {
      BlockStatus(": reading input data");
      read(to, offset, bytes);
      BlockStatus(": converting samples into float");
      BlockStatus(": calculating circular convolution");
    };
    const BlockSink sink = [&](const float* values, std::size_t count) {
      BlockStatus(": creating output data vector");
      Convert(values, count);
      BlockStatus(": sending to ouput device");
      const bool going = Queue(count * 2);
      ++block_;
      if (going) BlockStatus(": copying last N-1 samples");
      return going;
    };
    const ProgressFn progress = [&](long, long) { return !Stopped(); };
    while (!Stopped()) {
      block_ = 0;
      {
        std::lock_guard lock(job_.mutex);
        ++job_.report.passes;
      }
      BlockStatus(": copying last N-1 samples");
      const BlockOutcome outcome =
          RunLiveConvolution(engine_, job_.firstFrame, job_.frames, reader, sink, progress);
      if (outcome != BlockOutcome::Completed) return;
    }
  }

  void BlockStatus(const char* step) {
    char text[kStatusLength + 1];
    std::snprintf(text, sizeof text, "Block %li%s", block_, step);
    Status(text);
  }

  // Every value times g, truncated toward zero and limited to the 16-bit range.
  void Convert(const float* values, std::size_t count) {
    long saturated = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const double v = std::trunc(static_cast<double>(values[i]) * static_cast<double>(job_.gain));
      if (v > 32767.0) output_[i] = 32767, ++saturated;
      else if (v < -32768.0) output_[i] = -32768, ++saturated;
      else if (v == v) output_[i] = static_cast<int16_t>(v);
      else output_[i] = 0;  // NaN
    }
    std::lock_guard lock(job_.mutex);
    job_.report.saturated += saturated;
  }

  // The block into ring slot k mod 4, once the device has played what that slot held.
  bool Queue(std::size_t bytes) {
    const int r = static_cast<int>(k_ % kRingSlots);
    WAVEHDR* h = ring_[r];
    // The device ran dry before this block came: a pass's first block is exempt, and the
    // user is asked once per preview.
    if (k_ > 0 && block_ > 0 && !warned_ && WaveHeaderDone(ring_[(k_ - 1) % kRingSlots])) {
      if (Ask(kTooSlowMessage, kTooSlowCaption, MB_YESNO | MB_ICONEXCLAMATION) != IDYES) {
        endedByItself_ = true;
        return false;
      }
      warned_ = true;
      std::lock_guard lock(job_.mutex);
      job_.report.warnedTooSlow = true;
    }
    if (k_ >= kRingSlots) {
      while (!WaveHeaderDone(h)) {
        if (Stopped()) return false;
        WaitForSingleObject(job_.wake, kWaitSliceMilliseconds);
      }
      waveOutUnprepareHeader(out_, h, sizeof(WAVEHDR));
    }
    std::memcpy(h->lpData, output_, bytes);
    h->dwBufferLength = static_cast<DWORD>(bytes);
    h->dwUser = static_cast<DWORD_PTR>(r);
    h->dwFlags = 0;
    if (waveOutPrepareHeader(out_, h, sizeof(WAVEHDR)) != MMSYSERR_NOERROR ||
        waveOutWrite(out_, h, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
      Status(kErrorStatus);
      endedByItself_ = true;
      return false;
    }
    std::lock_guard lock(job_.mutex);
    if (k_ == 0)
      job_.report.firstBlockMicroseconds = static_cast<long>(
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - job_.started).count());
    ++job_.report.blocks;
    ++k_;
    return !Stopped();
  }

  // The device returns every queued buffer, then closes; only then is the ring freed.
  void CloseDevice() {
    if (!out_) return;
    waveOutReset(out_);
    for (WAVEHDR* h : ring_)
      if (h && (h->dwFlags & WHDR_PREPARED)) waveOutUnprepareHeader(out_, h, sizeof(WAVEHDR));
    waveOutClose(out_);
    out_ = nullptr;
  }

  Job& job_;
  Staging buffers_;  // the block output buffer and the ring
  Staging locks_;    // the responses' samples while the spectra are made
  StagedAllocator engineMemory_;
  LiveEngine engine_;
  ResponseSamples samples_;
  int outputs_ = 1;
  WAVEFORMATEX format_{};
  std::size_t slotSamples_ = 0;
  int16_t* output_ = nullptr;
  WAVEHDR* ring_[kRingSlots] = {nullptr, nullptr, nullptr, nullptr};
  HWAVEOUT out_ = nullptr;
  long k_ = 0;      // blocks queued since the start
  long block_ = 0;  // b, within the pass
  bool warned_ = false;
  bool endedByItself_ = false;
};

DWORD WINAPI PreviewWorker(LPVOID parameter) {
  Job& job = *static_cast<Job*>(parameter);
  bool ended = false;
  {
    Worker worker(job);
    ended = worker.Run();
  }  // the device and every buffer are given back here
  if (ended && !job.stop.load())
    PostMessageA(job.dialog, kPreviewEndedMessage, static_cast<WPARAM>(job.number), 0);
  return 0;
}

Job* CurrentJob(WPARAM number) {
  return g_preview.job && g_preview.job->number == static_cast<unsigned>(number) ? g_preview.job : nullptr;
}

}  // namespace

bool PreviewRunning() { return g_preview.job != nullptr; }

bool StartPreview(HWND dialog, XfmContext* context, const LiveParams& params) {
  if (g_preview.job || !context || !context->readSamples) return false;
  auto* job = new Job;
  job->number = ++g_preview.lastNumber;
  job->dialog = dialog;
  job->readSamples = context->readSamples;
  job->firstFrame = context->selStart;
  job->frames = SelectedFrames(context);
  job->channels = context->channels;
  job->rate = context->sampleRate;
  job->caption = context->caption ? context->caption : "";
  job->params = params;
  job->device = g_device.load();
  job->started = Clock::now();
  // The playback gain from the settings as they stand.
  uint32_t mask = static_cast<uint32_t>(params.routingMask) & (context->channels == 1 ? kMonoDocumentMask : 0xFFu);
  for (int k = 0; k < 2; ++k)
    if (!StoredResponseValid(params, k)) mask &= ~(0xFu << (4 * k));
  job->gain = PlaybackGain(
      BaseGain(mask, params.responseEnergy[0], params.responseEnergy[1], params.selectionEnergy, params.fftSize),
      params.scalingDb);
  job->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!job->wake) {
    delete job;
    return false;
  }
  // Stopping the worker: the flag, and the event it may be waiting for.
  g_preview.worker = g_preview.thread.StartThread(PreviewWorker, job, [job] {
    job->stop.store(true);
    SetEvent(job->wake);
  });
  if (!g_preview.worker) {
    CloseHandle(job->wake);
    delete job;
    return false;
  }
  SetThreadPriority(g_preview.worker, THREAD_PRIORITY_BELOW_NORMAL);
  g_preview.job = job;
  return true;
}

void StopPreview(HWND dialog) {
  Job* job = g_preview.job;
  if (!job) return;
  g_preview.thread.JoinThread(g_preview.worker);  // asks it to stop, waits for its end
  g_preview.worker = nullptr;
  g_preview.job = nullptr;
  {
    std::lock_guard lock(g_reportMutex);
    g_lastReport = job->report;
  }
  CloseHandle(job->wake);
  delete job;
  if (dialog) SetDlgItemTextA(dialog, kPreviewStatusLine, "");
}

bool PreviewMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message != kPreviewStatusMessage && message != kPreviewQuestionMessage && message != kPreviewEndedMessage)
    return false;
  Job* job = CurrentJob(wParam);
  if (!job) return true;  // of a preview stopped since
  switch (message) {
    case kPreviewStatusMessage: {
      job->statusPosted.store(false);
      std::string text;
      {
        std::lock_guard lock(job->mutex);
        text = job->status;
      }
      SetDlgItemTextA(dialog, kPreviewStatusLine, text.c_str());
      break;
    }
    case kPreviewQuestionMessage: {
      std::string text, caption;
      UINT type = 0;
      {
        std::lock_guard lock(job->mutex);
        text = job->question;
        caption = job->questionCaption;
        type = job->questionType;
      }
      const int answer = MessageBoxA(dialog, text.c_str(), caption.c_str(), type);
      job = CurrentJob(wParam);  // the box ran a message loop of its own
      if (!job) break;
      {
        std::lock_guard lock(job->mutex);
        job->answer = answer;
        job->answered = true;
      }
      SetEvent(job->wake);
      break;
    }
    default:
      // The worker ended the preview: as if the user pressed "Stop".
      SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kPreviewButton, BN_CLICKED), 0);
      break;
  }
  return true;
}

void SetPreviewDevice(UINT index) { g_device.store(index); }
UINT PreviewDevice() { return g_device.load(); }

PreviewReport LastPreviewReport() {
  std::lock_guard lock(g_reportMutex);
  return g_lastReport;
}
