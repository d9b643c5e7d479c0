// The preview: what the virtual device records is the engine's output times the gain,
// truncated and limited to 16 bits, pass after pass; the too-slow question (once, never
// for a pass's first block); and stopping or failing at every step of the worker gives
// back the device, the thread and every block. A dialog of the platform's test module
// stands in for the settings dialog: its button 1229 starts and stops the preview.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "frame/paramblock.h"
#include "host/session.h"
#include "liveconvolver/engine.h"
#include "liveconvolver/livefold/engine_setup.h"
#include "liveconvolver/livefold/livefold_block.h"
#include "liveconvolver/livefold/preview.h"
#include "liveconvolver/routing.h"
#include "platform/portable/faces.h"

namespace {

using tovrel::host::Document;
namespace portable = tovrel::portable;
namespace fs = std::filesystem;

std::vector<int16_t> Noise(std::size_t count, unsigned seed, int amplitude) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> d(-amplitude, amplitude);
  std::vector<int16_t> v(count);
  for (auto& s : v) s = static_cast<int16_t>(d(random));
  return v;
}

// The document, its context and a parameter block with up to two responses.
struct Fixture {
  Document doc;
  std::vector<int16_t> responses[2];
  HGLOBAL samples[2] = {nullptr, nullptr};
  LiveParams params{};

  Fixture(int channels, long frames, const int responseChannels[2], const long responseFrames[2], LONG mask,
          int scalingDb) {
    doc = Document::Empty(8000, channels);
    doc.samples = Noise(static_cast<std::size_t>((frames + 7) * channels), 11, 12000);
    doc.selStart = 3;
    doc.selEnd = 3 + frames - 1;
    params.routingMask = mask;
    params.documentChannels = static_cast<int16_t>(channels);
    params.documentRate = 8000;
    params.selectionFrames = frames;
    params.selectionEnergy = 300.0;
    params.scalingDb = static_cast<int16_t>(scalingDb);
    for (int k = 0; k < 2; ++k) {
      if (responseChannels[k] == 0) continue;
      responses[k] = Noise(static_cast<std::size_t>(responseFrames[k] * responseChannels[k]), 20 + k, 30000);
      samples[k] = GlobalAlloc(GMEM_MOVEABLE, responses[k].size() * 2);
      std::memcpy(GlobalLock(samples[k]), responses[k].data(), responses[k].size() * 2);
      GlobalUnlock(samples[k]);
      params.responseSamples[k] = HandleToField(samples[k]);
      params.responseChannels[k] = static_cast<int16_t>(responseChannels[k]);
      params.responseFrames[k] = responseFrames[k];
      params.responseRate[k] = 8000;
      params.responseSource[k] = kSourceFile;
      params.responseEnergy[k] = ResponseEnergy(responses[k]);
    }
    UpdateRouting(params);
  }
  ~Fixture() {
    for (HGLOBAL h : samples)
      if (h) GlobalFree(h);
  }

  // The engine's output over one pass, as the preview plays it: times g, truncated toward
  // zero, limited to 16 bits.
  std::vector<int16_t> ExpectedPass(int outputs) {
    const uint32_t mask = static_cast<uint32_t>(params.routingMask);
    LiveRouting routing;
    const long frames[2] = {params.responseFrames[0], params.responseFrames[1]};
    const int channels[2] = {params.responseChannels[0], params.responseChannels[1]};
    EXPECT_EQ(PlanLiveRouting(mask, doc.channels, outputs, frames, channels, params.selectionFrames, routing),
              RoutingProblem::None);
    StagedAllocator memory;
    LiveEngine engine;
    EXPECT_GT(FitLiveEngine(routing, memory, engine), 0);
    EXPECT_TRUE(PrepareLiveFilters(engine, ResponseSamples{{responses[0], responses[1]}}, {}));
    const float g = PlaybackGain(
        BaseGain(mask, params.responseEnergy[0], params.responseEnergy[1], 300.0, params.fftSize), params.scalingDb);
    std::vector<int16_t> out;
    const BlockReader read = [&](LONG offset, LONG bytes, int16_t* to) {
      std::memcpy(to, reinterpret_cast<const char*>(doc.samples.data()) + offset, static_cast<std::size_t>(bytes));
    };
    const BlockSink sink = [&](const float* v, std::size_t n) {
      for (std::size_t i = 0; i < n; ++i) {
        const double x = std::trunc(static_cast<double>(v[i]) * g);
        out.push_back(static_cast<int16_t>(x > 32767 ? 32767 : x < -32768 ? -32768 : x));
      }
      return true;
    };
    EXPECT_EQ(RunLiveConvolution(engine, doc.selStart, params.selectionFrames, read, sink, {}), BlockOutcome::Completed);
    return out;
  }
};

// The stand-in dialog: 1229 starts or stops; OK and Cancel stop and close.
Fixture* g_fixture = nullptr;
XfmContext* g_context = nullptr;
INT_PTR CALLBACK PreviewDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (PreviewMessage(dialog, message, wParam, lParam)) return TRUE;
  if (message == WM_INITDIALOG) return TRUE;
  if (message != WM_COMMAND) return FALSE;
  if (LOWORD(wParam) == kPreviewButton) {
    if (PreviewRunning()) StopPreview(dialog);
    else StartPreview(dialog, g_context, g_fixture->params);
  } else if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
    StopPreview(dialog);
    EndDialog(dialog, LOWORD(wParam));
  }
  return TRUE;
}

// Presses 1229, runs `script` while the preview plays, then closes the dialog (stopping
// whatever still runs); answers questions with `answer` and keeps them.
class User : public portable::User {
 public:
  std::function<void(HWND)> script;
  int answer = IDYES;
  std::optional<portable::Faults> faults;  // armed as the preview starts
  std::vector<portable::MessageBoxEvent> boxes;
  void DialogIdle(HWND dialog, int) override {
    if (faults) portable::ArmFaults(*faults);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kPreviewButton, BN_CLICKED), 0);
    if (script) script(dialog);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    portable::DisarmFaults();
  }
  int MessageBox(const portable::MessageBoxEvent& box) override {
    boxes.push_back(box);
    return box.type & MB_YESNO ? answer : IDOK;
  }
};

class PreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tovrel_preview_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    portable::SetVirtualWaveSpeed(1.0);
    portable::SetUser(&user_);
    module_ = LoadLibraryA(TOVREL_TEST_MODULE);
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override {
    portable::SetUser(nullptr);
    portable::DisarmFaults();
    portable::SetVirtualWaveSpeed(1.0);
    portable::SetWaveDevices({});
    fs::remove_all(dir_);
  }
  // Runs the stand-in dialog over the fixture's document.
  void Run(Fixture& f) {
    tovrel::host::Session session(f.doc, "Real Time Convolver");
    g_fixture = &f;
    g_context = &session.context();
    DialogBoxParamA(module_, MAKEINTRESOURCEA(100), nullptr, PreviewDialog, 0);
    EXPECT_FALSE(PreviewRunning());
  }
  std::vector<int16_t> Recording(const fs::path& file, int* channels) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.size() < 44) return {};
    *channels = bytes[22];
    std::vector<int16_t> s((bytes.size() - 44) / 2);
    std::memcpy(s.data(), bytes.data() + 44, s.size() * 2);
    return s;
  }
  static void WaitForBuffers(HWND dialog, long count) {
    const long until = portable::WaveOutActivity().buffers + count;
    for (int i = 0; i < 2000 && portable::WaveOutActivity().buffers < until && PreviewRunning(); ++i)
      portable::WaitWhileOpen(dialog, 5);
  }

  User user_;
  HMODULE module_ = nullptr;
  fs::path dir_;
};

struct Case {
  int channels;
  int responseChannels[2];
  long responseFrames[2];
  LONG mask;
  int scalingDb;
  int outputs;
};

TEST_F(PreviewTest, TheRecordingIsTheEngineOutputTimesTheGainPassAfterPass) {
  // A stereo document through both responses in series on every path ('q', limited by a
  // large scaling factor), and a mono document routed to both outputs ('c': stereo).
  const Case cases[] = {{2, {2, 1}, {40, 25}, 0x3F, 40, 2}, {1, {2, 0}, {30, 0}, 0x03, 0, 2}};
  for (const Case& c : cases) {
    Fixture f(c.channels, 700, c.responseChannels, c.responseFrames, c.mask, c.scalingDb);
    const fs::path file = dir_ / "played.wav";
    portable::SetWaveDevices({"virtual:" + file.string()});
    portable::SetVirtualWaveSpeed(8.0);
    user_.script = [](HWND dialog) { WaitForBuffers(dialog, 30); };
    Run(f);
    const std::vector<int16_t> pass = f.ExpectedPass(c.outputs);
    int channels = 0;
    const std::vector<int16_t> played = Recording(file, &channels);
    EXPECT_EQ(channels, c.outputs);
    ASSERT_GT(played.size(), 2 * pass.size()) << "at least two passes";
    for (std::size_t i = 0; i < played.size(); ++i) ASSERT_EQ(played[i], pass[i % pass.size()]) << i;
    if (c.scalingDb > 0) {
      EXPECT_GT(LastPreviewReport().saturated, 0);
    }
    EXPECT_TRUE(user_.boxes.empty());
  }
}

TEST_F(PreviewTest, TooSlowIsAskedOnceAndNeverForAPassFirstBlock) {
  const int channels[2] = {2, 0};
  const long frames[2] = {30, 0};
  portable::SetWaveDevices({"virtual"});
  portable::SetVirtualWaveSpeed(1e6);  // the device is always dry before the next block
  {
    // Each pass is one block: never asked.
    Fixture f(2, 50, channels, frames, 0x09, 0);
    user_.script = [](HWND dialog) { WaitForBuffers(dialog, 20); };
    Run(f);
    EXPECT_GE(LastPreviewReport().passes, 10);
    EXPECT_TRUE(user_.boxes.empty());
  }
  // Many blocks a pass, each long enough to compute that the device has played the one
  // before: asked once; "Yes" plays on.
  const long longer[2] = {3000, 0};
  {
    Fixture f(2, 60000, channels, longer, 0x09, 0);
    user_.script = [this](HWND dialog) {
      for (int i = 0; i < 1000 && user_.boxes.empty(); ++i) portable::WaitWhileOpen(dialog, 5);
      WaitForBuffers(dialog, 20);
    };
    Run(f);
    ASSERT_EQ(user_.boxes.size(), 1u);
    EXPECT_EQ(user_.boxes[0].caption, "Playback Error!");
    EXPECT_EQ(user_.boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONEXCLAMATION));
    EXPECT_GT(LastPreviewReport().blocks, 20);
    EXPECT_TRUE(LastPreviewReport().warnedTooSlow);
  }
  {
    // "No" ends the preview from the worker: the dialog's 1229 stops it.
    user_.boxes.clear();
    user_.answer = IDNO;
    Fixture f(2, 60000, channels, longer, 0x09, 0);
    user_.script = [](HWND dialog) {
      for (int i = 0; i < 2000 && PreviewRunning(); ++i) portable::WaitWhileOpen(dialog, 5);
      EXPECT_FALSE(PreviewRunning());
    };
    Run(f);
    EXPECT_EQ(user_.boxes.size(), 1u);
    EXPECT_FALSE(LastPreviewReport().warnedTooSlow);
  }
}

TEST_F(PreviewTest, StoppingOrFailingAtAnyStepGivesEverythingBack) {
  const int channels[2] = {2, 2};
  const long frames[2] = {3000, 2000};
  Fixture f(2, 4000, channels, frames, 0xFF, 0);
  portable::SetWaveDevices({"virtual"});
  const portable::MemoryStats before = portable::Memory();
  auto check = [&](const char* what) {
    EXPECT_EQ(portable::Memory().liveBlocks, before.liveBlocks) << what;
    EXPECT_EQ(portable::Memory().lockedBlocks, before.lockedBlocks) << what;
    EXPECT_EQ(portable::WaveOutActivity().openNow, 0) << what;
  };
  // The dialog stops it at once, a little later, while it waits for the ring.
  for (int ms : {0, 1, 3, 10, 30, 100, 400}) {
    user_.script = [ms](HWND dialog) { portable::WaitWhileOpen(dialog, static_cast<DWORD>(ms)); };
    Run(f);
    check("stopped");
  }
  // Every allocation of the worker fails in turn: a message, the end, nothing kept.
  user_.script = [](HWND dialog) {
    for (int i = 0; i < 2000 && PreviewRunning(); ++i) portable::WaitWhileOpen(dialog, 5);
  };
  user_.answer = IDNO;  // to the smaller FFT size
  for (long k = 1; k <= 16; ++k) {
    user_.boxes.clear();
    user_.faults = portable::Faults{};
    user_.faults->failAllocation = k;
    Run(f);
    user_.faults.reset();
    check("allocation failed");
    ASSERT_FALSE(user_.boxes.empty()) << k;
  }
  // A device that cannot be opened.
  user_.boxes.clear();
  portable::SetWaveDevices({"virtual:" + (dir_ / "no" / "such.wav").string()});
  Run(f);
  check("device");
  ASSERT_EQ(user_.boxes.size(), 1u);
  EXPECT_EQ(user_.boxes[0].text, "Error opening Output Device!\n\nPlayback not possible!");
  EXPECT_EQ(user_.boxes[0].caption, "Output Device Error!");
}

}  // namespace
