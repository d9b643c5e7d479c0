// XfmDo of the real-time convolver on a document: the rendered routing at full scale,
// the growth, and every refusal and failure leaving the document as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "frame/paramblock.h"
#include "host/session.h"
#include "liveconvolver/livefold/livefold_block.h"
#include "platform/portable/faces.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

using tovrel::host::Document;
namespace portable = tovrel::portable;

std::vector<int16_t> Noise(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> d(-12000, 12000);
  std::vector<int16_t> v(count);
  for (auto& s : v) s = static_cast<int16_t>(d(random));
  return v;
}

// Answers every question with the given button and keeps the texts.
class Answering : public portable::User {
 public:
  explicit Answering(int answer) : answer_(answer) { portable::SetUser(this); }
  ~Answering() override { portable::SetUser(nullptr); }
  void DialogIdle(HWND, int) override {}
  int MessageBox(const portable::MessageBoxEvent& box) override {
    texts.push_back(box.text);
    return box.type & MB_YESNO ? answer_ : IDOK;
  }
  std::vector<std::string> texts;

 private:
  int answer_;
};

// A document of noise around the selection, and a parameter block with two responses.
struct Fixture {
  Document doc;
  std::vector<int16_t> responses[2];
  HGLOBAL block = nullptr, samples[2] = {nullptr, nullptr};

  Fixture(int channels, long frames, const int responseChannels[2], const long responseFrames[2], LONG mask) {
    doc = Document::Empty(48000, channels);
    doc.samples = Noise(static_cast<std::size_t>((frames + 7) * channels), 11);
    doc.selStart = 3;
    doc.selEnd = 3 + frames - 1;
    block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(LiveParams));
    LiveParams p{};
    p.routingMask = mask;
    p.documentChannels = static_cast<int16_t>(channels);
    p.selectionFrames = frames;
    for (int k = 0; k < 2; ++k) {
      if (responseChannels[k] == 0) continue;
      responses[k] = Noise(static_cast<std::size_t>(responseFrames[k] * responseChannels[k]), 20 + k);
      samples[k] = GlobalAlloc(GMEM_MOVEABLE, responses[k].size() * 2);
      std::memcpy(GlobalLock(samples[k]), responses[k].data(), responses[k].size() * 2);
      GlobalUnlock(samples[k]);
      p.responseSamples[k] = HandleToField(samples[k]);
      p.responseChannels[k] = static_cast<int16_t>(responseChannels[k]);
      p.responseFrames[k] = responseFrames[k];
      p.responseRate[k] = 48000;
      p.responseSource[k] = kSourceFile;
    }
    UpdateRouting(p);
    Store(p);
  }
  ~Fixture() {
    for (HGLOBAL h : samples)
      if (h) GlobalFree(h);
    GlobalFree(block);
  }
  void Store(const LiveParams& p) {
    std::memcpy(GlobalLock(block), &p, sizeof p);
    GlobalUnlock(block);
  }
  LiveParams Params() {
    LiveParams p;
    std::memcpy(&p, GlobalLock(block), sizeof p);
    GlobalUnlock(block);
    return p;
  }
  LONG Run(long cancelAt = 0) {
    tovrel::host::Session session(doc, "Real Time Convolver");
    session.context().paramHandle = block;
    session.CancelAtReport(cancelAt);
    return session.Do(XfmDo, kKindConvolver);
  }
};

double Sample(const std::vector<int16_t>& v, int channels, long frame, int c) {
  return frame >= 0 && frame * channels < static_cast<long>(v.size()) ? v[frame * channels + c] : 0.0;
}

}  // namespace

TEST(LiveRun, RendersTheRoutingAtFullScaleAndGrows) {
  // IR1 'q' and a mono IR2 in series on the left input's paths: every output sums paths.
  const int channels[2] = {2, 1};
  const long frames[2] = {40, 25};
  Fixture f(2, 300, channels, frames, 0x3F);
  const Document before = f.doc;
  Answering user(IDYES);
  const long m = 40 + 25 - 1;
  EXPECT_EQ(f.Run(), 300 + m - 1);
  EXPECT_TRUE(user.texts.empty());
  ASSERT_EQ(f.doc.frames(), before.frames() + m - 1);
  EXPECT_EQ(f.doc.selEnd, 3 + 300 + m - 2);
  // The routing in double precision: IR2 (mono) follows IR1 on the left input's paths.
  std::vector<double> want(static_cast<std::size_t>((300 + m - 1) * 2), 0.0);
  for (long j = 0; j < 300 + m - 1; ++j)
    for (int o = 0; o < 2; ++o) {
      double y = 0;
      for (long a = 0; a < 40; ++a) {
        const double h1 = Sample(f.responses[0], 2, a, o);
        double left = 0;  // left input through IR1 then IR2
        for (long b = 0; b < 25; ++b) left += Sample(f.responses[1], 1, b, 0) * (j - a - b >= 0 && j - a - b < 300 ? Sample(before.samples, 2, 3 + j - a - b, 0) : 0);
        const double right = j - a >= 0 && j - a < 300 ? Sample(before.samples, 2, 3 + j - a, 1) : 0;
        y += h1 * (left + right);
      }
      want[static_cast<std::size_t>(j * 2 + o)] = y;
    }
  double peak = 0;
  for (double v : want) peak = std::max(peak, std::fabs(v));
  int worst = 0;
  for (std::size_t k = 0; k < want.size(); ++k)
    worst = std::max(worst, std::abs(f.doc.samples[6 + k] - static_cast<int>(std::lround(want[k] * 32767 / peak))));
  EXPECT_LE(worst, 1);
  EXPECT_EQ(std::vector<int16_t>(f.doc.samples.begin(), f.doc.samples.begin() + 6),
            std::vector<int16_t>(before.samples.begin(), before.samples.begin() + 6));
  EXPECT_EQ(std::vector<int16_t>(f.doc.samples.end() - 8, f.doc.samples.end()),
            std::vector<int16_t>(before.samples.end() - 8, before.samples.end()));
}

TEST(LiveRun, UnroutedCopiesTheSelectionAtFullScale) {
  const int channels[2] = {2, 0};
  const long frames[2] = {40, 0};
  Fixture f(1, 500, channels, frames, 0x00);
  const Document before = f.doc;
  EXPECT_EQ(f.Run(), 500);
  ASSERT_EQ(f.doc.frames(), before.frames());
  int peak = 0;
  for (long j = 0; j < 500; ++j) peak = std::max(peak, std::abs(int{before.samples[3 + j]}));
  for (long j = 0; j < 500; ++j)
    ASSERT_EQ(f.doc.samples[3 + j], std::lround(before.samples[3 + j] * (32767.0 / peak))) << j;
}

TEST(LiveRun, RefusalsAndFailuresLeaveTheDocument) {
  const int channels[2] = {2, 2};
  const long frames[2] = {40, 30};
  struct Case {
    const char* what;
    int documentChannels;
    LONG mask;
    std::function<void(Fixture&)> spoil;
    portable::Faults faults;
    long cancelAt;
    const char* message;  // the start of the last text shown, "" for none
  };
  const std::vector<Case> cases = {
      {"mono input to both outputs of a mono document", 1, 0x03, {}, {}, 0, "The routing sends the mono input"},
      {"stale sample handle", 2, 0x81, [](Fixture& f) { GlobalFree(f.samples[1]); f.samples[1] = nullptr; }, {}, 0,
       "Error!\n\nXfmDo function is unable"},
      {"length beyond the block", 2, 0x01,
       [](Fixture& f) { LiveParams p = f.Params(); p.responseFrames[0] = 41; f.Store(p); }, {}, 0, "Error!"},
      {"rates differ, answered No", 2, 0x01,
       [](Fixture& f) { LiveParams p = f.Params(); p.responseRate[0] = 44100; f.Store(p); }, {}, 0,
       "Sampling Rates don't match!\n\nSampling Rate of Audio Signal is 48000Hz\nSampling Rate of Impulse Response 1 is 44100Hz"},
      {"samples cannot be locked", 2, 0x01, {}, {.failLock = 2}, 0, "Error!\n\nXfmDo function is unable"},
      {"smaller FFT size, answered No", 2, 0x11, {}, {.failAllocation = 1}, 0, "Not optimum FFT size!\n\nImpulse Response 1 size: 40 Points\nOptimum FFT size: 512 Points\nAvailable FFT size: 256\n\nImpulse Response 2 size: 30"},
      {"temporary file", 2, 0x11, {}, {.failFileCreate = 1}, 0, "Error creating, reading or writing temporary file."},
      {"write to the file", 2, 0x11, {}, {.failFileWrite = 1}, 0, "Error creating, reading"},
      {"cancelled while convolving", 2, 0x11, {}, {}, 9, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f(c.documentChannels, 200, channels, frames, c.mask);
    if (c.spoil) c.spoil(f);
    const Document before = f.doc;
    Answering user(IDNO);
    portable::ArmFaults(c.faults);
    EXPECT_EQ(f.Run(c.cancelAt), 200);
    portable::DisarmFaults();
    EXPECT_EQ(f.doc.samples, before.samples);
    EXPECT_EQ(f.doc.selEnd, before.selEnd);
    const std::string shown = user.texts.empty() ? "" : user.texts.back();
    EXPECT_EQ(shown.substr(0, std::strlen(c.message)), c.message);
  }
}
