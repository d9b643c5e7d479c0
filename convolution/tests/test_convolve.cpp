// Convolution with the clipboard response as a user meets it: every routing mode against
// a direct convolution in the time domain, the clipboard checks, rescaling, and every
// way a run can stop (memory, temporary file, cancel) leaving the document as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "convolution/convolve/convolve_block.h"
#include "frame/clipwave.h"
#include "frame/paramblock.h"
#include "host/session.h"
#include "host/testing.h"

namespace {

using tovrel::host::Document;
using tovrel::host::RunOptions;
using tovrel::host::RunReport;
using tovrel::host::RunStatus;
using tovrel::host::testing::FindDialog;
using tovrel::host::testing::MessageBoxes;
using tovrel::host::testing::TestHost;
namespace portable = tovrel::portable;

constexpr char kModule[] = "convolve";
using Signal = std::vector<std::vector<int>>;  // [channel][frame]

std::vector<int> Noise(long frames, int amplitude, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(-amplitude, amplitude);
  std::vector<int> v(static_cast<std::size_t>(frames));
  for (int& x : v) x = d(rng);
  return v;
}

std::vector<uint8_t> WaveImage(const Signal& channels, long rate) {
  const std::size_t frames = channels[0].size(), c = channels.size();
  std::vector<uint8_t> image(kWavHeaderBytes + 2 * frames * c);
  WriteWavHeader(image.data(), static_cast<int>(c), rate, static_cast<uint32_t>(2 * frames * c));
  for (std::size_t j = 0; j < frames; ++j)
    for (std::size_t ch = 0; ch < c; ++ch) {
      const auto v = static_cast<uint16_t>(static_cast<int16_t>(channels[ch][j]));
      image[kWavHeaderBytes + 2 * (j * c + ch)] = static_cast<uint8_t>(v);
      image[kWavHeaderBytes + 2 * (j * c + ch) + 1] = static_cast<uint8_t>(v >> 8);
    }
  return image;
}

void PutOnClipboard(std::vector<uint8_t> image) { portable::LoadClipboard({{CF_WAVE, std::move(image)}}); }

// `before` and `after` frames of other audio around the selected signal.
Document MakeDocument(const Signal& x, long rate = 44100, long before = 5, long after = 4) {
  Document doc = Document::Empty(rate, static_cast<int>(x.size()));
  const long frames = static_cast<long>(x[0].size());
  for (long j = 0; j < before + frames + after; ++j)
    for (std::size_t ch = 0; ch < x.size(); ++ch) {
      const long k = j - before;
      doc.samples.push_back(static_cast<int16_t>(k >= 0 && k < frames ? x[ch][static_cast<std::size_t>(k)]
                                                                       : 1000 + 7 * j + static_cast<long>(ch)));
    }
  doc.selStart = before;
  doc.selEnd = before + frames - 1;
  return doc;
}

// y = sum x h / 32768, in 16-bit units (the response read as fractions of full scale).
std::vector<double> Convolve(const std::vector<int>& x, const std::vector<int>& h) {
  std::vector<double> y(x.size() + h.size() - 1, 0.0);
  for (std::size_t i = 0; i < x.size(); ++i)
    for (std::size_t j = 0; j < h.size(); ++j) y[i + j] += x[i] * static_cast<double>(h[j]) / 32768.0;
  return y;
}
std::vector<double> Sum(std::vector<double> a, const std::vector<double>& b) {
  for (std::size_t k = 0; k < a.size(); ++k) a[k] += b[k];
  return a;
}

// The document must hold `before`, then the expected frames (within one unit for the
// transform's float rounding), then `after`, all other audio untouched.
void ExpectDocument(const Document& doc, const Document& original, const Signal& expected, const std::string& what) {
  const int c = doc.channels;
  const long frames = static_cast<long>(expected[0].size());
  const long selected = original.selectionLength();
  ASSERT_EQ(doc.frames(), original.frames() + frames - selected) << what;
  EXPECT_EQ(doc.selStart, original.selStart) << what;
  EXPECT_EQ(doc.selEnd, original.selStart + frames - 1) << what;
  long off = 0;
  for (long j = 0; j < doc.frames(); ++j)
    for (int ch = 0; ch < c; ++ch) {
      const int actual = doc.samples[static_cast<std::size_t>(j * c + ch)];
      const long k = j - original.selStart;
      if (k >= 0 && k < frames) {
        off += std::abs(actual - expected[static_cast<std::size_t>(ch)][static_cast<std::size_t>(k)]) > 1;
      } else {
        const long from = k < 0 ? j : j - frames + selected;
        off += actual != original.samples[static_cast<std::size_t>(from * c + ch)];
      }
    }
  EXPECT_EQ(off, 0) << what;
}

Signal Rounded(const std::vector<std::vector<double>>& y) {
  Signal out;
  for (const auto& ch : y) {
    out.emplace_back();
    for (double v : ch) out.back().push_back(static_cast<int>(std::lround(v)));
  }
  return out;
}

RunOptions Options(std::vector<tovrel::host::ControlSetting> sets) {
  RunOptions o;
  o.sets = std::move(sets);
  return o;
}
// AutoRange off, 0 dB: the result in 16-bit units as it is.
RunOptions Manual(std::vector<tovrel::host::ControlSetting> sets = {}) {
  RunOptions o = Options({{"1030", "off"}, {"1031", "0"}});
  o.sets.insert(o.sets.end(), sets.begin(), sets.end());
  return o;
}

ConvolveBlock BlockOf(const RunReport& r) { return tovrel::host::testing::BlockOf<ConvolveBlock>(r); }

// No temporary file of ours ("FLO...") left in the host's temporary folder.
bool TempFolderEmpty(const TestHost& host) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(host.store().TempDirectory(), ec))
    if (entry.path().filename().string().rfind("FLO", 0) == 0) return false;
  return true;
}

// A temporary folder of the test's own (TMPDIR), so that no other program's files count.
class ConvolveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "tovrel-convolve-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    if (const char* old = std::getenv("TMPDIR")) old_ = old;
    setenv("TMPDIR", folder_.c_str(), 1);
  }
  void TearDown() override {
    if (old_.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", old_.c_str(), 1);
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  std::string folder_, old_;
};

struct ModeCase {
  const char* name;
  int documentChannels, responseChannels;
  long selected, responseFrames;
  std::vector<tovrel::host::ControlSetting> sets;
  char letter;
};

TEST_F(ConvolveTest, EveryModeMatchesTheDirectConvolution) {
  TestHost host;
  const std::vector<ModeCase> cases = {
      {"A", 1, 1, 37, 5, {}, 'A'},
      {"B", 2, 1, 40, 6, {}, 'B'},
      {"C", 2, 2, 33, 4, {{"1006", "on"}}, 'C'},
      {"D", 2, 2, 33, 4, {{"1007", "on"}}, 'D'},
      {"E", 2, 2, 50, 9, {{"1008", "on"}}, 'E'},
      {"F", 2, 2, 31, 3, {{"1000", "on"}}, 'F'},
      {"G", 2, 2, 31, 3, {{"1001", "on"}}, 'G'},
      {"H", 1, 2, 29, 5, {{"1000", "on"}}, 'H'},
      {"I", 1, 2, 29, 5, {{"1001", "on"}}, 'I'},
      {"Z", 2, 2, 45, 7, {{"1002", "on"}, {"1004", "on"}}, 'Z'},
      {"Q odd", 2, 2, 45, 9, {{"1008", "on"}, {"1004", "on"}, {"1005", "on"}}, 'Q'},
      {"Q even", 2, 2, 300, 40, {{"1008", "on"}, {"1004", "on"}, {"1005", "on"}}, 'Q'},
      {"one frame", 2, 1, 20, 1, {}, 'B'},
      {"long response", 1, 1, 10, 70, {}, 'A'},
      // N = 8, K = 6: L + M - 1 = 12 is two whole blocks.
      {"whole blocks", 1, 1, 10, 3, {}, 'A'},
  };
  unsigned seed = 1;
  for (const ModeCase& mc : cases) {
    Signal x, h;
    for (int c = 0; c < mc.documentChannels; ++c) x.push_back(Noise(mc.selected, 8000, ++seed));
    for (int c = 0; c < mc.responseChannels; ++c) h.push_back(Noise(mc.responseFrames, 3000, ++seed));
    PutOnClipboard(WaveImage(h, 44100));
    Document doc = MakeDocument(x);
    const Document original = doc;
    RunReport r = host.Run(kModule, doc, Manual(mc.sets));
    ASSERT_EQ(r.status, RunStatus::Completed) << mc.name << ": " << r.message;
    EXPECT_EQ(BlockOf(r).mode, mc.letter) << mc.name;

    const auto& xl = x[0];
    const auto& xr = x.back();
    const auto& hl = h[0];
    const auto& hr = h.back();
    std::vector<std::vector<double>> y;
    switch (mc.letter) {
      case 'A': y = {Convolve(xl, hl)}; break;
      case 'B': y = {Convolve(xl, hl), Convolve(xr, hl)}; break;
      case 'C': y = {Convolve(xl, hl), Convolve(xl, hr)}; break;
      case 'D': y = {Convolve(xr, hl), Convolve(xr, hr)}; break;
      case 'E': y = {Convolve(xl, hl), Convolve(xr, hr)}; break;
      case 'F': y = {Convolve(xl, hl), Convolve(xr, hl)}; break;
      case 'G': y = {Convolve(xl, hr), Convolve(xr, hr)}; break;
      case 'H': y = {Convolve(xl, hl)}; break;
      case 'I': y = {Convolve(xl, hr)}; break;
      case 'Z': y = {Sum(Convolve(xl, hl), Convolve(xr, hr)), Sum(Convolve(xl, hr), Convolve(xr, hl))}; break;
      case 'Q': {
        const std::size_t half = static_cast<std::size_t>(mc.responseFrames / 2);
        auto part = [&](const std::vector<int>& ch, std::size_t from) {
          return std::vector<int>(ch.begin() + static_cast<std::ptrdiff_t>(from),
                                  ch.begin() + static_cast<std::ptrdiff_t>(from + half));
        };
        y = {Sum(Convolve(xl, part(hl, 0)), Convolve(xr, part(hl, half))),
             Sum(Convolve(xl, part(hr, 0)), Convolve(xr, part(hr, half)))};
        break;
      }
    }
    ExpectDocument(doc, original, Rounded(y), mc.name);
    EXPECT_EQ(*r.doResult, static_cast<long>(y[0].size())) << mc.name;
    // The result dialog shows whole clipboard length; a run that does not lengthen
    // the document shows none.
    const auto* result = FindDialog(r, 106);
    if (y[0].size() == static_cast<std::size_t>(mc.selected)) {
      EXPECT_EQ(result, nullptr) << mc.name;
    } else {
      ASSERT_NE(result, nullptr) << mc.name;
      EXPECT_NE(result->Find(1026)->text.find(std::to_string(mc.responseFrames) + " Samples"), std::string::npos)
          << mc.name;
    }
    if (std::string(mc.name) == "whole blocks") {
      EXPECT_EQ(+BlockOf(r).fftSize, 8);
    }
    EXPECT_TRUE(TempFolderEmpty(host)) << mc.name;
  }
  EXPECT_EQ(host.store().TempDirectory(), folder_);  // the host's temporary folder is TMPDIR
}

TEST_F(ConvolveTest, RefusesClipboardDataItCannotUse) {
  TestHost host;
  const Signal x = {Noise(50, 1000, 3)};
  const std::vector<uint8_t> good = WaveImage({Noise(4, 1000, 4)}, 44100);
  struct Bad {
    std::string what;
    std::vector<uint8_t> image;
    const char* message;
  };
  auto patched = [&](std::size_t at, uint32_t value, int bytes) {
    std::vector<uint8_t> v = good;
    for (int k = 0; k < bytes; ++k) v[at + k] = static_cast<uint8_t>(value >> (8 * k));
    return v;
  };
  const char* format = "The Convolution Effect does not recognize\nthe format of Clipboard Data.";
  std::vector<uint8_t> extraChunk = good;
  std::memcpy(extraChunk.data() + 36, "LIST", 4);
  const std::vector<Bad> bad = {
      {"no data", {}, "Convolution effect can not\naccess Clipboard Data.\nAnother application or window\nhas the Clipboard opened."},
      {"data length 0", patched(40, 0, 4), format},
      {"data past the block", patched(40, 10, 4), format},
      {"data length huge", patched(40, 0xFFFFFFF0u, 4), format},
      {"chunk before data", extraChunk, format},
      {"three channels", patched(22, 3, 2), format},
      {"not PCM", patched(20, 3, 2), format},
      {"8-bit", patched(34, 8, 2), "Clipboard Data must be 16-bit."},
  };
  for (const Bad& b : bad) {
    if (b.image.empty()) portable::LoadClipboard({});
    else PutOnClipboard(b.image);
    Document doc = MakeDocument(x);
    const Document original = doc;
    RunReport r = host.Run(kModule, doc);
    const auto boxes = MessageBoxes(r);
    ASSERT_EQ(boxes.size(), 1u) << b.what;
    EXPECT_EQ(boxes[0]->text, b.message) << b.what;
    EXPECT_EQ(*r.setupResult, 0) << b.what;
    EXPECT_EQ(doc.samples, original.samples) << b.what;
    EXPECT_EQ(portable::Memory().liveBlocks, b.image.empty() ? 0 : 1) << b.what;  // only the clipboard's block
  }
}

TEST_F(ConvolveTest, AsksWhenTheSampleRatesDiffer) {
  TestHost host;
  const Signal x = {Noise(50, 1000, 5)};
  PutOnClipboard(WaveImage({Noise(4, 1000, 6)}, 44000));
  Document doc = MakeDocument(x, 44100);
  EXPECT_EQ(MessageBoxes(host.Run(kModule, doc)).size(), 0u);  // within 1 %

  PutOnClipboard(WaveImage({Noise(4, 1000, 6)}, 48000));
  for (bool yes : {false, true}) {
    Document d = MakeDocument(x, 44100);
    RunOptions o;
    o.answer = yes;
    RunReport r = host.Run(kModule, d, o);
    const auto boxes = MessageBoxes(r);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0]->text,
              "Sample Rates don't match!\n\nSample Rate of audio data is 44100 Hz\n"
              "Sample Rate of impulse response is 48000 Hz\n\nContinue?");
    EXPECT_EQ(boxes[0]->type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
    EXPECT_EQ(r.status, yes ? RunStatus::Completed : RunStatus::Failed);
    EXPECT_EQ(d.frames(), 50 + 9 + (yes ? 3 : 0));
  }
}

TEST_F(ConvolveTest, RescalesToFullScaleOrByTheGainAndSaturates) {
  TestHost host;
  // A silent selection: peak 0 taken as 1, 20 log10(32767) dB, silent output.
  PutOnClipboard(WaveImage({{1000, -500}}, 44100));
  Document silent = MakeDocument({std::vector<int>(30, 0)});
  RunReport r = host.Run(kModule, silent);
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_NEAR(+BlockOf(r).gainDb, 90.309, 0.001);
  EXPECT_EQ(+BlockOf(r).peak, 1.0f);
  for (long j = 5; j < 36; ++j) EXPECT_EQ(silent.samples[static_cast<std::size_t>(j)], 0);

  // AutoRange: the peak reaches 32767.
  PutOnClipboard(WaveImage({{16384, 0}, {-8192, 0}}, 44100));
  const Signal x = {{100, -300, 50, 0}, {7, 8, 9, 10}};
  Document doc = MakeDocument(x);
  r = host.Run(kModule, doc, Options({{"1008", "on"}}));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(BlockOf(r).mode, 'E');
  EXPECT_FLOAT_EQ(+BlockOf(r).peak, 150.0f);
  EXPECT_EQ(doc.samples[2 * 6], -32767);  // -300 / 2 at full scale
  EXPECT_EQ(doc.samples[2 * 5], 10922);   // 100 / 2 * 32767 / 150, rounded
  EXPECT_EQ(doc.samples[2 * 5 + 1], -382);   // 7 / -4 * 32767 / 150 = -382.3

  // +40 dB on values up to 10000: beyond the 16-bit range, limited to +-32767 and counted.
  PutOnClipboard(WaveImage({{32767, 0}}, 44100));
  Document loud = MakeDocument({{10000, -10000, 300, -2, 0}}, 44100, 0, 0);
  r = host.Run(kModule, loud, Manual({{"1031", "40"}}));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(loud.samples, (std::vector<int16_t>{32767, -32767, 29999, -200, 0, 0}));
  const auto* result = FindDialog(r, 106);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->Find(1031)->text, "2");
  EXPECT_EQ(result->Find(1030)->text, "40 dB");
  EXPECT_EQ(result->Find(1027)->text, "8 Samples");
  EXPECT_EQ(result->Find(1028)->text, "44100 Hz/Mono/5 Samples");
  EXPECT_EQ(result->Find(1026)->text, "44100 Hz/Mono/2 Samples");
}

// Each stage of memory (allocation or lock) failing once: the run either asks for the
// smaller FFT size, says it has no memory, or completes; a run that stops leaves the
// document as it was, and nothing stays allocated or on disk.
TEST_F(ConvolveTest, EveryMemoryStageCanFail) {
  TestHost host;
  const Signal x = {Noise(200, 8000, 7), Noise(200, 8000, 8)};
  const Signal h = {Noise(10, 3000, 9), Noise(10, 3000, 10)};
  const std::vector<uint8_t> image = WaveImage(h, 44100);
  Document reference = MakeDocument(x);
  PutOnClipboard(image);
  ASSERT_EQ(host.Run(kModule, reference, Manual({{"1008", "on"}, {"1004", "on"}})).status, RunStatus::Completed);
  for (bool locks : {false, true}) {
    for (long k = 1;; ++k) {
      PutOnClipboard(image);
      const long baseline = portable::Memory().liveBlocks;
      Document doc = MakeDocument(x);
      const Document original = doc;
      RunOptions o = Manual({{"1008", "on"}, {"1004", "on"}});
      portable::Faults f;
      (locks ? f.failLock : f.failAllocation) = k;
      o.faultsDuringRun = f;
      RunReport r = host.Run(kModule, doc, o);
      const std::string what = (locks ? "lock " : "allocation ") + std::to_string(k);
      EXPECT_EQ(portable::Memory().liveBlocks, baseline) << what;
      EXPECT_TRUE(TempFolderEmpty(host)) << what;
      if (r.status == RunStatus::Completed && doc.samples == reference.samples) break;
      EXPECT_EQ(doc.samples, original.samples) << what;
      EXPECT_EQ(*r.doResult, 200) << what;
      const auto boxes = MessageBoxes(r);
      if (boxes.empty() && locks && k == 1) continue;  // the parameter block itself: nothing to say it with
      ASSERT_EQ(boxes.size(), 1u) << what;
      const std::string text = boxes[0]->text;
      EXPECT_TRUE(text.rfind("Not optimum FFT size\n\nImpulse Response size: 10 Points\n", 0) == 0 ||
                  text.rfind("The system cannot allocate enough memory\nto perform convolution.", 0) == 0 ||
                  text.rfind("Error!\n\nXfmDo function can not access data", 0) == 0)
          << what << ": " << text;
      ASSERT_LT(k, 40) << "the run never completed";
    }
  }
  // Answering yes to the smaller size gives the same result.
  PutOnClipboard(image);
  Document doc = MakeDocument(x);
  RunOptions o = Manual({{"1008", "on"}, {"1004", "on"}});
  o.answer = true;
  o.faultsDuringRun = portable::Faults{};
  o.faultsDuringRun->failAllocation = 2;
  RunReport r = host.Run(kModule, doc, o);
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_LT(+BlockOf(r).fftSize, 64);
  ASSERT_EQ(doc.samples.size(), reference.samples.size());
  for (std::size_t k = 0; k < doc.samples.size(); ++k) EXPECT_LE(std::abs(doc.samples[k] - reference.samples[k]), 1);
}

TEST_F(ConvolveTest, TemporaryFileFailuresAndCancelLeaveTheDocument) {
  TestHost host;
  const Signal x = {Noise(3000, 8000, 11)};
  const std::vector<uint8_t> image = WaveImage({Noise(100, 3000, 12)}, 44100);
  const char* fileError = "Error creating, reading or writing temporary file.";
  for (int kind = 0; kind < 4; ++kind) {
    PutOnClipboard(image);
    Document doc = MakeDocument(x);
    const Document original = doc;
    RunOptions o = Manual();
    portable::Faults f;
    (kind == 0 ? f.failFileCreate : kind == 1 ? f.failFileWrite : kind == 2 ? f.failFileRead : f.failFileSeek) = 1;
    o.faultsDuringRun = f;
    RunReport r = host.Run(kModule, doc, o);
    const auto boxes = MessageBoxes(r);
    ASSERT_EQ(boxes.size(), 1u) << kind;
    EXPECT_EQ(boxes[0]->text, fileError);
    EXPECT_EQ(boxes[0]->caption, "File Error");
    EXPECT_EQ(*r.doResult, 3000) << kind;
    EXPECT_EQ(doc.samples, original.samples) << kind;
    EXPECT_TRUE(TempFolderEmpty(host)) << kind;
  }
  // Cancel at every report: before the conversion the document is untouched; during it
  // the converted part stays, the length never changes.
  PutOnClipboard(image);
  Document full = MakeDocument(x);
  RunReport done = host.Run(kModule, full, Manual());
  ASSERT_EQ(done.status, RunStatus::Completed);
  for (long k = 1; k <= done.progressReports; ++k) {
    PutOnClipboard(image);
    Document doc = MakeDocument(x);
    const Document original = doc;
    RunOptions o = Manual();
    o.cancelAtReport = k;
    RunReport r = host.Run(kModule, doc, o);
    EXPECT_EQ(r.status, RunStatus::Cancelled) << k;
    EXPECT_EQ(*r.doResult, 3000) << k;
    ASSERT_EQ(doc.samples.size(), original.samples.size()) << k;
    const bool converting = r.statusTexts.back() == "Converting floats to integers";
    for (std::size_t j = 0; j < doc.samples.size(); ++j) {
      const bool same = doc.samples[j] == original.samples[j];
      if (!converting || j < 5 || j >= 3005) {
        ASSERT_TRUE(same) << k << " at " << j;
      } else if (!same) {
        ASSERT_EQ(doc.samples[j], full.samples[j]) << k << " at " << j;
      }
    }
    EXPECT_TRUE(TempFolderEmpty(host)) << k;
  }
}

// The DC removal has no visible control: a block prepared between XfmSetup and XfmDo
// turns it on. The oracle subtracts the mean of the last W = rate / 16 values (the
// values before the start standing at the mean of the first W).
TEST_F(ConvolveTest, RemovesDcWhenThePreparedBlockAsksForIt) {
  TestHost host;
  const auto& module = host.module(kModule);
  for (long frames : {300L, 4L}) {
    const long rate = 160, window = rate / 16;
    std::vector<int> x = Noise(frames, 2000, 13);
    for (long j = 0; j < frames; ++j) x[static_cast<std::size_t>(j)] += 5000 + 20 * static_cast<int>(j);
    const std::vector<int> h = {16384, 8192, -4096};
    PutOnClipboard(WaveImage({h}, rate));
    Document doc = MakeDocument({x}, rate, 0, 0);
    HGLOBAL block = GlobalAlloc(GHND, sizeof(ConvolveBlock));
    {
      tovrel::host::Session session(doc, "Convolve", host.store().TempDirectory());
      XfmContext& ctx = session.context();
      ctx.paramHandle = block;
      ASSERT_EQ(module.init(&ctx), 1);
      ASSERT_EQ(module.setup(portable::HostWindow(), module.instance(), &ctx), 1);
      auto* b = static_cast<ConvolveBlock*>(GlobalLock(block));
      b->removeDc = 1;
      b->autoRange = 0;
      b->gainDb = 0;
      GlobalUnlock(block);
      EXPECT_EQ(module.run(&ctx), frames + 2);
      EXPECT_EQ(session.statusTexts()[2], "Removing DC component");
      b = static_cast<ConvolveBlock*>(GlobalLock(block));
      EXPECT_EQ(+b->removeDc, 1);  // the flag again after the result dialog
      GlobalUnlock(block);
    }
    GlobalFree(block);
    const std::vector<double> y = Convolve(x, h);
    const long t = static_cast<long>(y.size());
    std::vector<double> expected;
    if (window < t) {
      double start = 0;
      for (long j = 0; j < window; ++j) start += y[static_cast<std::size_t>(j)];
      start /= window;
      for (long j = 0; j < t; ++j) {
        double sum = 0;
        for (long i = j - window + 1; i <= j; ++i) sum += i < 0 ? start : y[static_cast<std::size_t>(i)];
        expected.push_back(y[static_cast<std::size_t>(j)] - sum / window);
      }
    } else {
      double mean = 0;
      for (double v : y) mean += v / t;
      for (double v : y) expected.push_back(v - mean);
    }
    ASSERT_EQ(doc.frames(), t);
    for (long j = 0; j < t; ++j)
      EXPECT_NEAR(doc.samples[static_cast<std::size_t>(j)], expected[static_cast<std::size_t>(j)], 1.01) << frames << " " << j;
    EXPECT_TRUE(TempFolderEmpty(host));
  }
}

TEST_F(ConvolveTest, SettingsDialogInterlocks) {
  TestHost host;
  PutOnClipboard(WaveImage({Noise(6, 100, 1), Noise(6, 100, 2)}, 44100));
  const Signal x = {Noise(20, 100, 3), Noise(20, 100, 4)};
  Document doc = MakeDocument(x);
  // Crosstalk and 2x2 checked, then a single response channel: F, crosstalk off and
  // disabled, the data radio on Both.
  RunOptions o;
  o.sets = {{"1008", "on"}, {"1004", "on"}, {"1005", "on"}, {"1000", "on"}};
  o.presses = {"Cancel"};
  RunReport r = host.Run(kModule, doc, o);
  const auto* d = FindDialog(r, 105);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Find(1004)->check, BST_UNCHECKED);
  EXPECT_FALSE(d->Find(1004)->enabled);
  EXPECT_EQ(d->Find(1005)->check, BST_CHECKED);
  EXPECT_EQ(d->Find(1008)->check, BST_CHECKED);
  EXPECT_FALSE(d->Find(1003)->visible);
  EXPECT_EQ(portable::Memory().liveBlocks, 1);  // Cancel freed the private copy
}

}  // namespace
