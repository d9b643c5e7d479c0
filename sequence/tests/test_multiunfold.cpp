// Several measurements in one recording, as "Deconvolve Multiple MLS Signals" serves them:
// the generator's periods, each measurement through its own system, windows on the clipboard.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "frame/clipwave.h"
#include "host/testing.h"
#include "sequence/multiunfold/multiunfold_block.h"

namespace {

using tovrel::host::Document;
using tovrel::host::RunOptions;
using tovrel::host::RunReport;
using tovrel::host::RunStatus;
using tovrel::host::testing::BlockOf;
using tovrel::host::testing::ClipboardResponse;
using tovrel::host::testing::FindDialog;
using tovrel::host::testing::MessageBoxes;
using tovrel::host::testing::Response;
using tovrel::host::testing::TestHost;
namespace portable = tovrel::portable;

std::vector<int> Period(const TestHost& host, const std::string& entry, int amplitude) {
  Document doc = Document::Empty(44100, 1);
  RunOptions o;
  o.sets = {{"MLS Order", entry}, {"Amplitude", std::to_string(amplitude)}};
  EXPECT_EQ(host.Run("seqsource", doc, o).status, RunStatus::Completed);
  return std::vector<int>(doc.samples.begin(), doc.samples.end());
}

struct Path {
  long delay;
  double gain;
};

// Measurement m: `periods` periods of the steady-state excitation through paths[m]
// (one path per channel); the measurements follow each other.
Document Recording(const std::vector<int>& x, long periods, const std::vector<std::vector<Path>>& measurements) {
  const long L = static_cast<long>(x.size());
  const int channels = static_cast<int>(measurements.front().size());
  Document doc = Document::Empty(44100, channels);
  for (const auto& paths : measurements)
    for (long n = 0; n < periods * L; ++n)
      for (const Path& p : paths)
        doc.samples.push_back(static_cast<int16_t>(std::lround(p.gain * x[((n - p.delay) % L + L) % L])));
  doc.SelectAll();
  return doc;
}

RunOptions Settings(const std::string& entry, long g, long x, long y, long d, long k0, bool separately = false) {
  RunOptions o;
  o.sets = {{"MLS Order", entry},
            {"N. of measurements", std::to_string(g)},
            {"N. of sequences / measurement", std::to_string(x)},
            {"N. of first sequences to skip", std::to_string(y)},
            {"N. of samples for each sequence", std::to_string(d)},
            {"N. of samples to skip", std::to_string(k0)},
            {"Scale each response separately", separately ? "on" : "off"}};
  return o;
}

long PeakFrame(const std::vector<int16_t>& s, long from, long count, int channels = 1, int channel = 0) {
  long best = from;
  for (long t = from; t < from + count; ++t)
    if (std::abs(s[t * channels + channel]) > std::abs(s[best * channels + channel])) best = t;
  return best;
}

TEST(MultiUnfold, OneMeasurementThroughADelayKeepsTheDelay) {
  TestHost host;
  const auto x = Period(host, "15 B", 1000);
  Document doc = Recording(x, 2, {{{37, 1.0}}});
  RunReport r = host.Run("multiunfold", doc, Settings("15 B", 1, 2, 1, 32767, 0));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(*r.doResult, 0);
  Response w = ClipboardResponse(r);
  ASSERT_EQ(w.samples.size(), 32767u);
  for (long t = 0; t < 32767; ++t) ASSERT_EQ(w.samples[t], t == 37 ? 32767 : 0) << t;
  const auto b = BlockOf<MultiUnfoldBlock>(r);
  EXPECT_EQ(+b.cycles, 2);
  EXPECT_FLOAT_EQ(b.rescaledFrom, 32768.0f * 1000);  // 2^N x A x one period averaged
  EXPECT_FALSE(r.documentChanged);
}

TEST(MultiUnfold, MeasurementsShareOneTimeReferenceAndOneScaleUnlessScaledSeparately) {
  TestHost host;
  const auto x = Period(host, "12 A", 2000);
  Document doc = Recording(x, 3, {{{10, 1.0}}, {{200, 0.5}}, {{3000, -0.25}}});
  for (bool separately : {false, true}) {
    Document d = doc;
    RunReport r = host.Run("multiunfold", d, Settings("12 A", 3, 3, 1, 4095, 0, separately));
    ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
    Response w = ClipboardResponse(r);
    ASSERT_EQ(w.samples.size(), 3u * 4095u);
    const long delays[3] = {10, 200, 3000};
    const int peaks[3][2] = {{32767, 32767}, {16384, 32767}, {-8192, -32767}};
    for (int m = 0; m < 3; ++m) {
      EXPECT_EQ(PeakFrame(w.samples, m * 4095, 4095), m * 4095 + delays[m]);
      EXPECT_NEAR(w.samples[m * 4095 + delays[m]], peaks[m][separately], 1) << m;
    }
  }
}

TEST(MultiUnfold, WindowsAreCutWithinOneResponse) {
  TestHost host;
  const auto x = Period(host, "10", 1000);
  Document doc = Recording(x, 2, {{{50, 1.0}}, {{60, 1.0}}});
  // A window longer than the period is one period long.
  RunReport r = host.Run("multiunfold", doc, Settings("10", 2, 2, 1, 5000, 0));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(ClipboardResponse(r).samples.size(), 2u * 1023u);
  // An offset shortens the window so that it stays inside the response.
  r = host.Run("multiunfold", doc, Settings("10", 2, 2, 1, 1023, 40));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  Response w = ClipboardResponse(r);
  ASSERT_EQ(w.samples.size(), 2u * 983u);
  EXPECT_EQ(w.samples[10], 32767);
  EXPECT_EQ(w.samples[983 + 20], 32767);
  // An offset of a whole period or more, or below 0, is refused with the dialog still open.
  for (long k0 : {1023L, -1L}) {
    portable::LoadClipboard({});
    r = host.Run("multiunfold", doc, Settings("10", 2, 2, 1, 100, k0));
    EXPECT_EQ(*r.setupResult, 0);
    auto boxes = MessageBoxes(r);
    ASSERT_FALSE(boxes.empty());
    EXPECT_NE(boxes[0]->text.find("from 0 to 1022"), std::string::npos) << boxes[0]->text;
    EXPECT_TRUE(portable::ClipboardContents().empty());
  }
}

// Skipping every sequence of a measurement leaves nothing to average: refused at OK
// (it gave an all-zero response reported as done), like counts outside their fields.
TEST(MultiUnfold, NothingAveragedIsRefusedAndTheCountsAreChecked) {
  TestHost host;
  const auto x = Period(host, "9", 1000);
  Document doc = Recording(x, 2, {{{5, 1.0}}});
  const std::string skipAll = "N. of first sequences to skip must be a whole number from 0 to 1 periods.";
  for (const auto& [bad, message] :
       std::vector<std::pair<RunOptions, std::string>>{
           {Settings("9", 1, 2, 2, 511, 0), skipAll},
           {Settings("9", 1, 2, 7, 511, 0), skipAll},
           {Settings("9", 0, 2, 1, 511, 0), "N. of measurements must be a whole number from 1 to 32767."},
           {Settings("9", 1, 0, 0, 511, 0), "N. of sequences / measurement must be a whole number from 1 to 32767 periods."},
           {Settings("9", 1, 2, -1, 511, 0), skipAll},
           {Settings("9", 40000, 2, 1, 511, 0), "N. of measurements must be a whole number from 1 to 32767."},
           {Settings("9", 1, 2, 1, 0, 0), "N. of samples for each sequence must be a whole number from 1 to 2147483647 samples."}}) {
    portable::LoadClipboard({});
    RunReport r = host.Run("multiunfold", doc, bad);
    EXPECT_EQ(r.status, RunStatus::Failed);
    EXPECT_EQ(*r.setupResult, 0);
    ASSERT_EQ(MessageBoxes(r).size(), 1u);
    EXPECT_EQ(MessageBoxes(r)[0]->text, message);
    EXPECT_TRUE(portable::ClipboardContents().empty());
  }
}

// Every edit is taken whole: a value its field cannot hold, or text that is not a whole
// number, is refused at OK with the field's range, and nothing runs.
TEST(MultiUnfold, EditsOutsideTheirRangeAreRefusedNotWrapped) {
  TestHost host;
  const auto x = Period(host, "9", 1000);
  Document doc = Recording(x, 2, {{{5, 1.0}}});
  const std::string measurements = "N. of measurements must be a whole number from 1 to 32767.";
  const std::string sequences = "N. of sequences / measurement must be a whole number from 1 to 32767 periods.";
  const std::string counts = "N. of first sequences to skip must be a whole number from 0 to 1 periods.";
  const std::string samples = "N. of samples for each sequence must be a whole number from 1 to 2147483647 samples.";
  const std::string skip = "N. of samples to skip must be a whole number from 0 to 510 samples.";
  const struct {
    const char *field, *typed;
    const std::string& message;
  } cases[] = {{"N. of measurements", "65537", measurements},  {"N. of measurements", "1e3", measurements},
               {"N. of sequences / measurement", "abc", sequences}, {"N. of first sequences to skip", "", counts},
               {"N. of samples for each sequence", "4294967396", samples},
               {"N. of samples for each sequence", "0.5", samples}, {"N. of samples to skip", "4294967296", skip}};
  for (const auto& c : cases) {
    RunOptions o = Settings("9", 1, 2, 1, 511, 0);
    for (auto& [label, value] : o.sets)
      if (label == c.field) value = c.typed;
    portable::LoadClipboard({});
    RunReport r = host.Run("multiunfold", doc, o);
    EXPECT_EQ(*r.setupResult, 0) << c.field << "=" << c.typed;
    const auto boxes = MessageBoxes(r);
    ASSERT_EQ(boxes.size(), 1u) << c.field << "=" << c.typed;
    EXPECT_EQ(boxes[0]->text, c.message) << c.field << "=" << c.typed;
    EXPECT_TRUE(portable::ClipboardContents().empty());
  }
  // The statistics give the length of each response delivered: the window.
  RunReport r = host.Run("multiunfold", doc, Settings("9", 1, 2, 1, 100, 0));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  ASSERT_NE(FindDialog(r, 107), nullptr);
  EXPECT_EQ(FindDialog(r, 107)->Find(1026)->text, "100");
}

TEST(MultiUnfold, TooShortSelectionIsRefusedWithItsMessage) {
  TestHost host;
  const auto x = Period(host, "9", 1000);
  Document doc = Recording(x, 2, {{{5, 1.0}}});
  doc.selEnd = 2 * 511 * 2 - 2;  // one frame short of two measurements of two periods
  RunReport r = host.Run("multiunfold", doc, Settings("9", 2, 2, 1, 511, 0));
  EXPECT_EQ(*r.setupResult, 0);
  auto boxes = MessageBoxes(r);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]->text,
            "Highlighted area is too short to perform the deconvolution\n"
            "with the selected MLS order, N. of measurements and N. of sequences.");
  EXPECT_EQ(boxes[0]->caption, "Deconvolve Multiple MLS Signals");
}

TEST(MultiUnfold, StereoMeasurementsKeepEachChannelsDelay) {
  TestHost host;
  const auto x = Period(host, "11", 1000);
  Document doc = Recording(x, 2, {{{5, 1.0}, {9, 0.5}}, {{7, 0.5}, {12, 1.0}}});
  RunReport r = host.Run("multiunfold", doc, Settings("11", 2, 2, 1, 100, 0));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  Response w = ClipboardResponse(r);
  ASSERT_EQ(w.header.channels, 2);
  ASSERT_EQ(w.samples.size(), 2u * 200u);
  EXPECT_EQ(PeakFrame(w.samples, 0, 100, 2, 0), 5);
  EXPECT_EQ(PeakFrame(w.samples, 0, 100, 2, 1), 9);
  EXPECT_EQ(PeakFrame(w.samples, 100, 100, 2, 0), 107);
  EXPECT_EQ(PeakFrame(w.samples, 100, 100, 2, 1), 112);
}

TEST(MultiUnfold, EveryAllocationFailureAndEveryCancelLeavesNothingBehind) {
  TestHost host;
  const auto x = Period(host, "8", 1000);
  Document stereo = Recording(x, 2, {{{3, 1.0}, {4, 1.0}}, {{5, 1.0}, {6, 1.0}}});
  for (long k = 1;; ++k) {
    portable::LoadClipboard({});
    const auto before = portable::Memory();
    RunOptions o = Settings("8", 2, 2, 1, 255, 0);
    portable::Faults f;
    f.failAllocation = k;
    o.faultsDuringRun = f;
    Document d = stereo;
    RunReport r = host.Run("multiunfold", d, o);
    EXPECT_EQ(portable::Memory().liveBlocks - portable::Memory().clipboardBlocks, before.liveBlocks) << k;
    if (r.status == RunStatus::Completed) {
      EXPECT_EQ(k, 7);  // six stages in stereo
      break;
    }
    ASSERT_LT(k, 10);
    EXPECT_EQ(*r.doResult, 1);
    EXPECT_TRUE(portable::ClipboardContents().empty());
    ASSERT_EQ(MessageBoxes(r).size(), 1u);
    EXPECT_NE(MessageBoxes(r)[0]->text.find("with a lower  MLS order."), std::string::npos);
  }
  // Stereo: 8 reports per measurement and 3 for the set-up, then the scaling reports.
  for (long k = 1; k <= 8 * 2 + 4 + 2; ++k) {
    portable::LoadClipboard({});
    RunOptions o = Settings("8", 2, 2, 1, 255, 0);
    o.cancelAtReport = k;
    Document d = stereo;
    RunReport r = host.Run("multiunfold", d, o);
    EXPECT_EQ(r.status, RunStatus::Cancelled) << k;
    EXPECT_EQ(r.progressReports, k);
    EXPECT_TRUE(portable::ClipboardContents().empty()) << k;
  }
}

}  // namespace
