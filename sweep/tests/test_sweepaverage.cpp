// Synchronous averaging as a user meets it: a selection of periods, the dialog, the
// responses on the clipboard.
#include <gtest/gtest.h>

#include <cmath>

#include "host/testing.h"
#include "sweep/sweep.h"
#include "sweep/sweepaverage/sweepaverage_block.h"

namespace {

using tovrel::host::Document;
using tovrel::host::RunOptions;
using tovrel::host::RunReport;
using tovrel::host::RunStatus;
using tovrel::host::testing::ClipboardResponse;
using tovrel::host::testing::FindDialog;
using tovrel::host::testing::MessageBoxes;
using tovrel::host::testing::TestHost;
namespace portable = tovrel::portable;

// Sweeps of 200 samples and silences of 100 (a duration of 100 counts as samples): periods of 300.
RunOptions Average(const char* measurements, const char* sweeps, std::vector<tovrel::host::ControlSetting> more = {}) {
  RunOptions o;
  o.sets = {{"N. of measurements", measurements}, {"N. of sweeps / measurement", sweeps},
            {"Sweep duration (s or samples)", "200"}, {"Silence duration (s or samples)", "100"}};
  o.sets.insert(o.sets.end(), more.begin(), more.end());
  return o;
}

// A document whose sample at frame f (channel c) is value(f, c).
template <class Fn>
Document Recording(int channels, long frames, Fn value) {
  Document doc = Document::Empty(8000, channels);
  for (long f = 0; f < frames; ++f)
    for (int c = 0; c < channels; ++c) doc.samples.push_back(static_cast<int16_t>(value(f, c)));
  doc.SelectAll();
  return doc;
}

TEST(SweepAverage, StartFramesOfTheLinearAndHarmonicResponses) {
  AverageSettings s{1, 2, 5.0f, 1.0f, 32767, 0, 1, 100.0f, 10000.0f, 48000};
  const AveragePlan p = PlanAverage(s);
  EXPECT_EQ(p.T, 240000);
  EXPECT_EQ(p.P, 288000);
  EXPECT_EQ(p.R, 32767);
  EXPECT_EQ(AverageStartFrame(s, p, 0), 239999);
  const char* why = nullptr;
  EXPECT_EQ(CheckAverage(s, 815999, &why), AverageFit::Fits);
  EXPECT_EQ(CheckAverage(s, 815998, &why), AverageFit::TooShort);
  s.harmonicOrder = 2;
  EXPECT_EQ(AverageStartFrame(s, p, 0), 203875);
  s.measurements = 3;
  EXPECT_EQ(AverageStartFrame(s, p, 2), 203875 + 2 * 2 * 288000);
  // A response length above the period is cut to it, after the skipped samples.
  s.responseLength = 400000;
  s.skipSamples = 1000;
  EXPECT_EQ(PlanAverage(s).R, 287000);
}

TEST(SweepAverage, PlainAverageOfTwoSweepsWithItsStatistics) {
  TestHost host;
  // Period j holds j + 1 at frame t: the start frame 199, the mean 1.5 rounds to 2, -1.5 to -2.
  Document doc = Recording(2, 799, [](long f, int c) {
    if (f < 199) return 9999L;
    const long j = (f - 199) / 300;
    return (c ? -1 : 1) * (j + 1) * ((f - 199) % 300 == 7 ? 1000 : 1);
  });
  RunReport r = host.Run("sweepaverage", doc, Average("1", "2"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(*r.doResult, 0);
  EXPECT_FALSE(r.documentChanged);
  EXPECT_EQ(r.statusTexts, (std::vector<std::string>{"Making multiple Synchronous Average...", "Converting and scaling data ..."}));
  const auto response = ClipboardResponse(r);
  ASSERT_TRUE(response.present);
  EXPECT_EQ(response.header.channels, 2);
  ASSERT_EQ(response.samples.size(), 600u);  // the response length is cut to the period
  for (std::size_t t = 0; t < 300; ++t) {
    EXPECT_EQ(response.samples[2 * t], t == 7 ? 1500 : 2) << t;
    EXPECT_EQ(response.samples[2 * t + 1], t == 7 ? -1500 : -2) << t;
  }
  const auto* stats = FindDialog(r, 107);
  ASSERT_NE(stats, nullptr);
  EXPECT_EQ(stats->caption, "Synchronous Average");
  EXPECT_EQ(stats->Find(1026)->text, "300");
  EXPECT_EQ(stats->Find(1028)->text, "2");
  EXPECT_EQ(stats->Find(1027)->text, "8000");
  EXPECT_EQ(stats->Find(1032)->text, "Rescaled from: 65534.");

  // One frame less is refused, with its caption.
  doc.selEnd = 797;
  r = host.Run("sweepaverage", doc, Average("1", "2"));
  EXPECT_EQ(*r.setupResult, 0);
  ASSERT_EQ(MessageBoxes(r).size(), 1u);
  EXPECT_EQ(MessageBoxes(r)[0]->text,
            "Highlighted area is too short to perform the averaging\nwith the selected N. of measurements, N. of sweeps and duration.");
  EXPECT_EQ(MessageBoxes(r)[0]->caption, "Synchronous Averaging Error");
}

TEST(SweepAverage, ScalingModesAndTheStereoWaveOfTwoMonoMeasurements) {
  TestHost host;
  // Two measurements of two periods: measurement i holds 100 (i + 1) + t % 4 around a DC of 50 (i + 1).
  Document doc = Recording(1, 1399, [](long f, int) {
    if (f < 199) return 0L;
    const long i = (f - 199) / 600, t = (f - 199) % 300;
    return 50 * (i + 1) + (t == 3 ? 100 * (i + 1) : 0);
  });
  // Each response by its own peak, DC removed: both reach 32767 at t = 3.
  RunReport r = host.Run("sweepaverage", doc,
                         Average("2", "2", {{"Autoscale each response separately", "on"}, {"Autoscale and remove DC component", "on"},
                                            {"N. of samples for each response", "10"}}));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  auto response = ClipboardResponse(r);
  EXPECT_EQ(response.header.channels, 2);
  ASSERT_EQ(response.samples.size(), 20u);
  // The mean of 10 samples holding one peak: 0.1 of it above the floor.
  for (std::size_t t = 0; t < 10; ++t) {
    const int16_t expected = t == 3 ? 32767 : static_cast<int16_t>(-std::lround(32767.0 * 0.1 / 0.9));
    EXPECT_EQ(response.samples[2 * t], expected) << t;
    EXPECT_EQ(response.samples[2 * t + 1], expected) << t;
  }
  EXPECT_EQ(r.statusTexts[1], "Finding Max Data and Scaling...");

  // One common scale and a mean per channel over all averaged values.
  r = host.Run("sweepaverage", doc,
               Average("2", "2", {{"Autoscale each response separately", "off"}, {"Autoscale and remove DC component", "on"},
                                  {"N. of samples for each response", "32767"}}));
  response = ClipboardResponse(r);
  ASSERT_EQ(response.samples.size(), 600u);
  // Rows of sums: 100 with 300 at t = 3, and 200 with 600: mean 151, peak 600 - 151.
  const double g = 32767.0f / 449.0f;
  EXPECT_EQ(response.samples[2 * 3 + 1], 32767);
  EXPECT_EQ(response.samples[2 * 3], std::lround((300 - 151) * g));
  EXPECT_EQ(response.samples[0], std::lround((100 - 151) * g));
  EXPECT_EQ(response.samples[1], std::lround((200 - 151) * g));

  // A silent selection: the peak 0 counts as 1.
  Document silent = Recording(1, 799, [](long, int) { return 0L; });
  r = host.Run("sweepaverage", silent, Average("1", "2", {{"Autoscale and remove DC component", "on"}}));
  ASSERT_EQ(r.status, RunStatus::Completed);
  EXPECT_EQ(ClipboardResponse(r).samples, std::vector<int16_t>(300, 0));
  EXPECT_EQ(FindDialog(r, 107)->Find(1032)->text, "Rescaled from: 1.");
}

TEST(SweepAverage, HarmonicStartsOutsideTheSelectionAreRefusedAtOk) {
  TestHost host;
  // 810 frames: enough for the linear responses (799), not for a 2nd harmonic after them.
  Document doc = Recording(1, 810, [](long, int) { return 5L; });
  struct Case {
    const char* f1;
    const char* f2;
    const char* message;
  } cases[] = {{"100", "150", "would start before the highlighted area"},
               {"10000", "100", "would reach beyond the highlighted area"},
               {"100", "100", "needs the start and end frequencies"}};
  for (const auto& c : cases) {
    RunReport r = host.Run("sweepaverage", doc,
                           Average("1", "2", {{"Harmonic Order Number", "2"}, {"Start Frequency (Hz)", c.f1}, {"End Frequency (Hz)", c.f2}}));
    EXPECT_EQ(*r.setupResult, 0) << c.message;
    EXPECT_FALSE(ClipboardResponse(r).present);
    ASSERT_EQ(MessageBoxes(r).size(), 1u) << c.message;
    EXPECT_NE(MessageBoxes(r)[0]->text.find(c.message), std::string::npos) << MessageBoxes(r)[0]->text;
  }
  // The 2nd harmonic of a 100 Hz .. 10 kHz sweep of 200 samples: 199 - 30.1, truncated.
  Document marked = Recording(1, 799, [](long f, int) { return f == 168 || f == 468 ? 1000L : 0L; });
  RunReport r = host.Run("sweepaverage", marked,
                         Average("1", "2", {{"Harmonic Order Number", "2"}, {"Start Frequency (Hz)", "100"}, {"End Frequency (Hz)", "10000"}}));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(ClipboardResponse(r).samples[0], 1000);
}

TEST(SweepAverage, EveryAllocationFailureAndCancelLeavesNothingBehind) {
  TestHost host;
  for (int channels : {1, 2}) {
    Document doc = Recording(channels, 1399, [](long f, int) { return f % 7; });
    for (long k = 1;; ++k) {
      portable::LoadClipboard({});
      const auto before = portable::Memory();
      RunOptions o = Average("2", "2");
      portable::Faults f;
      f.failAllocation = k;
      o.faultsDuringRun = f;
      RunReport r = host.Run("sweepaverage", doc, o);
      EXPECT_EQ(portable::Memory().lockedBlocks, 0);
      if (r.status == RunStatus::Completed) {
        EXPECT_EQ(k, 2 + 2 * channels);  // the clipboard block, then two blocks per channel
        break;
      }
      EXPECT_EQ(portable::Memory().liveBlocks, before.liveBlocks);
      EXPECT_EQ(*r.doResult, 1);
      EXPECT_FALSE(ClipboardResponse(r).present);
      ASSERT_EQ(MessageBoxes(r).size(), 1u);
      EXPECT_NE(MessageBoxes(r)[0]->text.find("cannot allocate enough memory"), std::string::npos);
    }
    for (long k = 1; k <= 6; ++k) {
      RunOptions o = Average("2", "2", {{"Autoscale each response separately", "on"}});
      o.cancelAtReport = k;
      portable::LoadClipboard({});
      RunReport r = host.Run("sweepaverage", doc, o);
      EXPECT_EQ(r.status, RunStatus::Cancelled) << k;
      EXPECT_EQ(*r.doResult, 1);
      EXPECT_FALSE(ClipboardResponse(r).present);
    }
  }
}

}  // namespace
