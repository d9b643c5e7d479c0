// The sine sweep generator as a user meets it: through the host, its dialog, the document
// and the clipboard.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "host/testing.h"
#include "sweep/sweepsource/sweepsource_block.h"

namespace {

using tovrel::host::Document;
using tovrel::host::RunOptions;
using tovrel::host::RunReport;
using tovrel::host::RunStatus;
using tovrel::host::testing::ClipboardResponse;
using tovrel::host::testing::Dialogs;
using tovrel::host::testing::MessageBoxes;
using tovrel::host::testing::TestHost;
namespace portable = tovrel::portable;

RunOptions Sweep(const char* f1, const char* f2, const char* duration, const char* amplitude, bool linear,
                 const char* silence, const char* cycles, const char* pulses = nullptr) {
  RunOptions o;
  o.sets = {{"Start Frequency (Hz)", f1}, {"End Frequency (Hz)", f2}, {"1038", duration},
            {"Amplitude", amplitude},     {linear ? "Linear Sweep" : "Log Sweep", "on"},
            {"1041", silence},            {"N. of cycles", cycles}};
  if (pulses) o.sets.push_back({"Generate control pulses on right channel", pulses});
  return o;
}

std::vector<int16_t> Channel(const Document& doc, int c, long from = 0, long count = -1) {
  std::vector<int16_t> out;
  const long end = count < 0 ? doc.frames() : from + count;
  for (long f = from; f < end; ++f) out.push_back(doc.samples[static_cast<std::size_t>(f * doc.channels + c)]);
  return out;
}

// The sweep as written down from its definition, in long double.
struct Reference {
  long double L, w1, w2, O, A;
  long N, a, b;
  bool linear;
  Reference(double f1, double f2, double samples, double sr, double amplitude, bool lin)
      : L(samples), w1(6.283185308L * f1 / sr), w2(6.283185308L * f2 / sr), O(std::log2(w2 / w1)), A(amplitude),
        N(std::lround(samples)), a(std::lround(0.03 * samples)), b(std::lround(0.98 * samples)), linear(lin) {}
  long double Gain(long n) const {
    auto fade = [&](long double x) { return A * std::log(1 + (std::exp(1.0L) - 1) * x * x); };
    if (n < a) return fade(static_cast<long double>(n) / a);
    if (n > b) return fade(static_cast<long double>(N - n) / (N - b));
    return fade(static_cast<long double>(a - 1) / a);
  }
  long double Value(long n) const {
    const long double phase = linear ? n * (w1 + n * (w2 - w1) / (2 * L))
                                     : w1 * L / (O * std::log(2.0L)) * (std::exp2(n * O / L) - 1);
    return Gain(n) * std::sin(phase);
  }
  long double Inverse(long n) const {
    return 32767 * Value(n) / A * (linear ? 1 : std::exp2(-(L - n - 1) * O / L));
  }
};

TEST(SweepSource, ShowsItsDefaults) {
  TestHost host;
  for (int channels : {1, 2}) {
    Document doc = Document::Empty(44100, channels);
    RunOptions cancel;
    cancel.presses = {"Cancel"};
    RunReport r = host.Run("sweepsource", doc, cancel);
    EXPECT_EQ(*r.setupResult, 0);
    const auto& dialog = Dialogs(r)[0]->final;
    EXPECT_EQ(dialog.caption, "Generate Sine Sweep");
    EXPECT_EQ(dialog.Find(1036)->text, "100.");
    EXPECT_EQ(dialog.Find(1037)->text, "10000.");
    EXPECT_EQ(dialog.Find(1038)->text, "10.");
    EXPECT_EQ(dialog.Find(1039)->text, "16384");
    EXPECT_EQ(dialog.Find(1025)->check, 1);
    EXPECT_EQ(dialog.Find(1026)->check, 0);
    EXPECT_EQ(dialog.Find(1041)->text, "1.");
    EXPECT_EQ(dialog.Find(1040)->text, "1");
    EXPECT_EQ(dialog.Find(1044)->enabled, channels == 2);
    // The window is stored even when the dialog is cancelled.
    EXPECT_NE(+tovrel::host::testing::BlockOf<SweepSourceBlock>(r).ownerWindow, 0u);
  }
}

TEST(SweepSource, DefaultLogSweepAndItsInverseFilter) {
  TestHost host;
  Document doc = Document::Empty(44100, 1);
  RunReport r = host.Run("sweepsource", doc);
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(*r.doResult, 485100);
  ASSERT_EQ(doc.frames(), 485100);
  EXPECT_EQ(r.statusTexts, std::vector<std::string>{"Generating Logarithmic Sine Sweep"});
  EXPECT_EQ(r.progressReports, 441);  // every 1000 sweep samples

  const Reference ref(100, 10000, 441000, 44100, 16384, false);
  const auto inverse = ClipboardResponse(r);
  ASSERT_TRUE(inverse.present);
  EXPECT_EQ(inverse.header.channels, 1);
  EXPECT_EQ(inverse.header.sampleRate, 44100u);
  ASSERT_EQ(inverse.samples.size(), 441000u);
  long wrong = 0, wrongInverse = 0;
  for (long n = 0; n < 441000; ++n) {
    wrong += std::labs(doc.samples[n] - static_cast<long>(std::trunc(ref.Value(n)))) > 0;
    wrongInverse += std::labs(inverse.samples[440999 - n] - static_cast<long>(std::trunc(ref.Inverse(n)))) > 0;
  }
  // Within rounding of long double against double: exact but for values on a boundary.
  EXPECT_LT(wrong, 5);
  EXPECT_LT(wrongInverse, 5);
  EXPECT_EQ(doc.samples[0], 0);
  for (long n = 441000; n < 485100; ++n) ASSERT_EQ(doc.samples[n], 0) << n;
  // The filter's end (the sweep's start) is weighted about 1/100 of its beginning.
  auto peak = [&](std::size_t from) {
    int m = 0;
    for (std::size_t i = from; i < from + 2000; ++i) m = std::max(m, std::abs(static_cast<int>(inverse.samples[i])));
    return m;
  };
  EXPECT_NEAR(static_cast<double>(peak(425000)) / peak(9000), 0.013, 0.001);
}

TEST(SweepSource, StereoLayouts) {
  TestHost host;
  // Control tone: sweeps on the left, 200 samples of 32767 sin n on the right at each sweep's end.
  Document tone = Document::Empty(8000, 2);
  RunReport r = host.Run("sweepsource", tone, Sweep("100", "1000", "1000", "8000", true, "500", "2", "on"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  ASSERT_EQ(*r.doResult, 3000);
  EXPECT_EQ(r.statusTexts, std::vector<std::string>{"Generating Linear Sine Sweep"});
  EXPECT_EQ(r.progressReports, 2);
  const auto left = Channel(tone, 0), right = Channel(tone, 1);
  EXPECT_EQ(std::vector<int16_t>(left.begin(), left.begin() + 1500), std::vector<int16_t>(left.begin() + 1500, left.end()));
  for (long f = 0; f < 3000; ++f) {
    const long n = f % 1500;
    const long expected = n >= 800 && n < 1000 ? static_cast<long>(std::trunc(32767 * std::sin(static_cast<double>(n)))) : 0;
    ASSERT_EQ(right[f], expected) << f;
    if (n >= 1000) {
      ASSERT_EQ(left[f], 0) << f;
    }
  }

  // Without it: the periods on the left, then on the right; twice the frames.
  Document both = Document::Empty(8000, 2);
  r = host.Run("sweepsource", both, Sweep("100", "1000", "1000", "8000", true, "500", "2", "off"));
  ASSERT_EQ(*r.doResult, 6000);
  EXPECT_EQ(Channel(both, 0, 0, 3000), left);
  EXPECT_EQ(Channel(both, 1, 0, 3000), std::vector<int16_t>(3000, 0));
  EXPECT_EQ(Channel(both, 0, 3000, 3000), std::vector<int16_t>(3000, 0));
  EXPECT_EQ(Channel(both, 1, 3000, 3000), left);
  EXPECT_EQ(r.progressReports, 2);

  // A sweep shorter than 200 samples gets no tone.
  Document shortTone = Document::Empty(44100, 2);
  r = host.Run("sweepsource", shortTone, Sweep("100", "1000", "150", "8000", true, "0", "1", "on"));
  ASSERT_EQ(*r.doResult, 150);
  EXPECT_EQ(Channel(shortTone, 1), std::vector<int16_t>(150, 0));
}

TEST(SweepSource, SettingsWithoutASweepAreRefusedAtOk) {
  TestHost host;
  struct Case {
    RunOptions options;
    const char* message;
  } cases[] = {
      {Sweep("100", "1000", "1", "0", false, "1", "1"), "Amplitude must be a whole number from 1 to 32767."},
      {Sweep("100", "1000", "1", "32768", false, "1", "1"), "Amplitude must be a whole number from 1 to 32767."},
      {Sweep("100", "1000", "1", "1e3", false, "1", "1"), "Amplitude must be a whole number from 1 to 32767."},
      {Sweep("100", "1k", "1", "100", false, "1", "1"), "End Frequency (Hz) must be a number from 0 to 1000000 Hz."},
      {Sweep("0", "1000", "1", "100", true, "1", "1"), "frequencies must lie above 0 Hz"},
      {Sweep("100", "-5", "1", "100", true, "1", "1"), "End Frequency (Hz) must be a number from 0 to 1000000 Hz."},
      {Sweep("100", "22051", "1", "100", false, "1", "1"), "at most at half the sample rate"},
      {Sweep("500", "500", "1", "100", false, "1", "1"), "A logarithmic sweep needs an end frequency"},
      {Sweep("100", "1000", "0.0003", "100", true, "1", "1"), "too short for its fade-in"},
      {Sweep("100", "1000", "1", "100", true, "-1", "1"), "Silence duration (s or samples) must be a number from 0 to 2147483647 s or samples."},
      {Sweep("100", "1000", "1", "100", true, "1", "0"), "N. of cycles must be a whole number from 1 to 2147483647."},
      {Sweep("100", "1000", "100", "100", true, "100", "122"), "The signal would be too long."},
  };
  for (const auto& c : cases) {
    Document doc = Document::Empty(44100, 1);
    doc.samples = std::vector<int16_t>(10, 7);
    doc.SelectAll();
    RunReport r = host.Run("sweepsource", doc, c.options);
    EXPECT_EQ(*r.setupResult, 0) << c.message;
    EXPECT_FALSE(r.documentChanged) << c.message;
    EXPECT_FALSE(ClipboardResponse(r).present) << c.message;
    auto boxes = MessageBoxes(r);
    ASSERT_EQ(boxes.size(), 1u) << c.message;
    EXPECT_NE(boxes[0]->text.find(c.message), std::string::npos) << boxes[0]->text;
    EXPECT_EQ(boxes[0]->caption, "Generate Sine Sweep");
  }
  // Equal frequencies make a linear sweep a tone; half the rate is allowed.
  for (auto o : {Sweep("500", "500", "0.01", "100", true, "0", "1"), Sweep("22050", "100", "0.01", "100", false, "0", "1")}) {
    Document doc = Document::Empty(44100, 1);
    EXPECT_EQ(host.Run("sweepsource", doc, o).status, RunStatus::Completed);
  }
}

TEST(SweepSource, EveryAllocationStageFailsCleanlyWithItsFourMessages) {
  TestHost host;
  struct Case {
    bool lock;
    long k;
    const char* stage;
  } cases[] = {{false, 1, "1"}, {true, 2, "2"}, {false, 2, "3"}, {true, 3, "4"}};
  for (const auto& c : cases) {
    Document doc = Document::Empty(8000, 2);
    doc.samples = std::vector<int16_t>(20, 1);
    doc.selStart = 2;
    doc.selEnd = 6;
    const auto before = portable::Memory();
    RunOptions o = Sweep("100", "1000", "1000", "100", false, "0.003", "3", "off");
    portable::Faults f;
    (c.lock ? f.failLock : f.failAllocation) = c.k;
    o.faultsDuringRun = f;
    RunReport r = host.Run("sweepsource", doc, o);
    EXPECT_EQ(*r.doResult, 5) << c.stage;
    EXPECT_FALSE(r.documentChanged);
    EXPECT_FALSE(ClipboardResponse(r).present);
    EXPECT_EQ(portable::Memory().liveBlocks, before.liveBlocks);
    EXPECT_EQ(portable::Memory().lockedBlocks, 0);
    auto boxes = MessageBoxes(r);
    ASSERT_EQ(boxes.size(), 4u);
    const std::pair<std::string, std::string> expected[] = {{"Not enough memory,\ngeneration aborted.", "Generate Sine Sweep"},
                                                            {c.stage, "CantAllocateLevel ="},
                                                            {"24576", "Memory required L1 (Bytes)"},
                                                            {"2048", "Memory required L2 (Bytes)"}};
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(boxes[i]->text, expected[i].first);
      EXPECT_EQ(boxes[i]->caption, expected[i].second);
      EXPECT_EQ(boxes[i]->type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
      EXPECT_EQ(boxes[i]->owner, 0u);
    }
  }
}

TEST(SweepSource, CancelLeavesDocumentAndClipboardUnchanged) {
  TestHost host;
  for (long k : {1, 3, 6}) {  // the sixth report is the first of the second period
    Document doc = Document::Empty(8000, 1);
    doc.samples = std::vector<int16_t>(100, 3);
    doc.selStart = 10;
    doc.selEnd = 29;
    RunOptions o = Sweep("100", "1000", "5000", "100", false, "1000", "2");
    o.cancelAtReport = k;
    RunReport r = host.Run("sweepsource", doc, o);
    EXPECT_EQ(r.status, RunStatus::Cancelled);
    EXPECT_EQ(r.progressReports, k);
    EXPECT_EQ(*r.doResult, 20);
    EXPECT_FALSE(r.documentChanged);
    EXPECT_FALSE(ClipboardResponse(r).present);
  }
}

}  // namespace
