// MLS deconvolution as a user meets it: an MLS from the generator, a recording made
// through a known system, the response on the clipboard and the statistics dialog.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "frame/clipwave.h"
#include "frame/paramblock.h"
#include "host/testing.h"
#include "sequence/sequnfold/sequnfold_block.h"

namespace {

using tovrel::host::Document;
using tovrel::host::RunOptions;
using tovrel::host::RunReport;
using tovrel::host::RunStatus;
using tovrel::host::testing::ClipboardResponse;
using tovrel::host::testing::Dialogs;
using tovrel::host::testing::FindDialog;
using tovrel::host::testing::MessageBoxes;
using tovrel::host::testing::Response;
using tovrel::host::testing::TestHost;
namespace portable = tovrel::portable;

constexpr char kTitle[] = "Deconvolve MLS Signal";

// One period of the generator's MLS for the entry label.
std::vector<int> Period(const TestHost& host, const std::string& entry, int amplitude) {
  Document doc = Document::Empty(44100, 1);
  RunOptions o;
  o.sets = {{"MLS Order", entry}, {"Amplitude", std::to_string(amplitude)}};
  RunReport r = host.Run("seqsource", doc, o);
  EXPECT_EQ(r.status, RunStatus::Completed) << r.message;
  return std::vector<int>(doc.samples.begin(), doc.samples.end());
}

// A system: taps of (delay, gain).
using System = std::vector<std::pair<long, int>>;

// The periodic excitation, starting at the given phase, through one system per channel,
// plus a constant; `frames` long, all selected.
Document Recording(const std::vector<int>& x, long frames, long phase, const std::vector<System>& systems,
                   int dc = 0) {
  const long L = static_cast<long>(x.size());
  Document doc = Document::Empty(44100, static_cast<int>(systems.size()));
  for (long n = 0; n < frames; ++n) {
    for (const System& s : systems) {
      long v = dc;
      for (auto [delay, gain] : s) v += gain * x[static_cast<std::size_t>((((n + phase - delay) % L) + L) % L)];
      doc.samples.push_back(static_cast<int16_t>(v));
    }
  }
  doc.SelectAll();
  return doc;
}

RunOptions Settings(const std::string& entry, bool removeDc = false) {
  RunOptions o;
  o.sets = {{"MLS Order", entry}, {"Remove DC component", removeDc ? "on" : "off"}};
  return o;
}

SeqUnfoldBlock BlockOf(const RunReport& r) { return tovrel::host::testing::BlockOf<SeqUnfoldBlock>(r); }

int16_t RoundHalfAway(double v) { return static_cast<int16_t>(v >= 0 ? v + 0.5 : v - 0.5); }

// The expected response: channel c's frame t holds the system's gain at delay
// (peak delay of the aligned channel + t - shift), scaled so that the largest
// peak of all channels becomes 32767 in magnitude.
std::vector<int16_t> Truth(const std::vector<System>& systems, long L, double unit, long alignedDelay, long shift) {
  double peak = 0;
  std::vector<std::vector<double>> h;
  for (const System& s : systems) {
    std::vector<double> dense(static_cast<std::size_t>(L), 0);
    for (auto [delay, gain] : s) dense[static_cast<std::size_t>(delay % L)] += gain * unit;
    for (double v : dense) peak = std::max(peak, std::fabs(v));
    h.push_back(std::move(dense));
  }
  const float g = 32767.0f / static_cast<float>(peak);
  std::vector<int16_t> out;
  for (long t = 0; t < L; ++t)
    for (const auto& dense : h)
      out.push_back(RoundHalfAway(dense[static_cast<std::size_t>(((alignedDelay + t - shift) % L + L) % L)] * g));
  return out;
}

TEST(SeqUnfold, OffersItsDefaults) {
  TestHost host;
  Document doc = Document::Empty(44100, 1);
  doc.samples.assign(40000, 0);
  doc.SelectAll();
  RunOptions cancel;
  cancel.presses = {"Cancel"};
  RunReport r = host.Run("sequnfold", doc, cancel);
  EXPECT_EQ(*r.initResult, 1);
  EXPECT_EQ(*r.setupResult, 0);
  EXPECT_FALSE(r.doResult.has_value());
  const SeqUnfoldBlock b = BlockOf(r);
  EXPECT_EQ(+b.order, 15);
  EXPECT_EQ(+b.entry, 18);
  EXPECT_EQ(+b.removeDc, 0);
  EXPECT_EQ(+b.ownerWindow, 0u);
  const auto* settings = FindDialog(r, 100);
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(settings->caption, kTitle);
  EXPECT_EQ(settings->Find(1034)->items.size(), 31u);
  EXPECT_EQ(settings->Find(1034)->selection, 18);
  EXPECT_EQ(settings->Find(1000)->check, BST_UNCHECKED);
}

TEST(SeqUnfold, PureDelayAtAnyPhaseGivesAUnitPulseAtTheStart) {
  TestHost host;
  const std::vector<int> x = Period(host, "10", 1000);
  const long L = 1023;
  for (long phase : {0L, 1L, 500L, 1022L}) {
    for (long delay : {0L, 7L, 300L}) {
      Document doc = Recording(x, 2 * L + 100, phase, {{{delay, 1}}});
      RunReport r = host.Run("sequnfold", doc, Settings("10"));
      ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
      EXPECT_EQ(*r.doResult, 0);
      EXPECT_FALSE(r.documentChanged);
      const Response resp = ClipboardResponse(r);
      ASSERT_TRUE(resp.present);
      ASSERT_EQ(resp.samples.size(), static_cast<std::size_t>(L));
      std::vector<int16_t> pulse(static_cast<std::size_t>(L), 0);
      pulse[0] = 32767;
      EXPECT_EQ(resp.samples, pulse) << phase << " " << delay;
      const SeqUnfoldBlock b = BlockOf(r);
      EXPECT_EQ(+b.cycles, 2);
      EXPECT_EQ(+b.rescaledFrom, 1024.0f * 1000 * 2);
    }
  }
}

TEST(SeqUnfold, InvertedGainAndShortFilterComeOutScaledAndRotated) {
  TestHost host;
  const std::vector<int> x = Period(host, "10", 1000);
  const long L = 1023;
  Document inverted = Recording(x, L, 0, {{{5, -1}}});
  RunReport r = host.Run("sequnfold", inverted, Settings("10"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  Response resp = ClipboardResponse(r);
  EXPECT_EQ(resp.samples, Truth({{{5, -1}}}, L, 1024.0 * 1000, 5, 0));
  EXPECT_EQ(resp.samples[0], -32767);

  // The peak tap goes to frame 0; the taps before it wrap to the end.
  const System fir = {{10, 1}, {11, 3}, {12, -2}, {14, 1}};
  Document filtered = Recording(x, 2 * L, 37, {fir});
  r = host.Run("sequnfold", filtered, Settings("10"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  resp = ClipboardResponse(r);
  EXPECT_EQ(resp.samples, Truth({fir}, L, 1024.0 * 1000 * 2, 11, 0));
  EXPECT_EQ(resp.samples[0], 32767);
  EXPECT_EQ(resp.samples[1], RoundHalfAway(-2 * 32767.0 / 3));
  EXPECT_EQ(resp.samples[static_cast<std::size_t>(L - 1)], 10922);  // 32767 / 3
}

TEST(SeqUnfold, OrderTwelveAndAboveLeaveFifteenHundredFramesBeforeThePeak) {
  TestHost host;
  const std::vector<int> x = Period(host, "12 B", 500);
  const long L = 4095;
  const System fir = {{20, 2}, {21, -1}};
  Document doc = Recording(x, L + 10, 999, {fir});
  RunReport r = host.Run("sequnfold", doc, Settings("12 B"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  const Response resp = ClipboardResponse(r);
  EXPECT_EQ(resp.samples, Truth({fir}, L, 4096.0 * 500, 20, 1500));
  EXPECT_EQ(resp.samples[1500], 32767);
  EXPECT_NEAR(resp.samples[1501], -16384, 1);
}

TEST(SeqUnfold, StereoAlignsToTheEarlierPeakAndSharesTheScale) {
  TestHost host;
  const std::vector<int> x = Period(host, "10", 1000);
  const long L = 1023;
  // The right channel arrives 10 samples earlier and weaker: the output starts at its peak.
  const std::vector<System> earlierRight = {{{40, 2}}, {{30, 1}}};
  Document doc = Recording(x, 2 * L, 3, earlierRight);
  RunReport r = host.Run("sequnfold", doc, Settings("10"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  Response resp = ClipboardResponse(r);
  EXPECT_EQ(resp.header.channels, 2);
  EXPECT_EQ(resp.header.sampleRate, 44100u);
  EXPECT_EQ(resp.header.dataBytes, static_cast<uint32_t>(4 * L));
  EXPECT_EQ(resp.samples, Truth(earlierRight, L, 1024.0 * 1000 * 2, 30, 0));
  EXPECT_NEAR(resp.samples[1], 16384, 1);  // right at frame 0
  EXPECT_EQ(resp.samples[2 * 10], 32767);  // left 10 frames later
  EXPECT_EQ(+BlockOf(r).resultChannels, 2);

  // The right channel arriving later: the left channel's peak stays at frame 0.
  const std::vector<System> laterRight = {{{40, 1}}, {{50, -3}}};
  doc = Recording(x, L, 0, laterRight);
  r = host.Run("sequnfold", doc, Settings("10"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  resp = ClipboardResponse(r);
  EXPECT_EQ(resp.samples, Truth(laterRight, L, 1024.0 * 1000, 40, 0));
  EXPECT_EQ(resp.samples[0], 10922);
  EXPECT_EQ(resp.samples[2 * 10 + 1], -32767);
}

TEST(SeqUnfold, DcRemovalSubtractsTheMeanOfTheResponse) {
  TestHost host;
  const std::vector<int> x = Period(host, "10", 1000);
  const long L = 1023;
  Document doc = Recording(x, 2 * L, 0, {{{4, 1}}}, 100);
  RunReport kept = host.Run("sequnfold", doc, Settings("10", false));
  ASSERT_EQ(kept.status, RunStatus::Completed) << kept.message;
  const Response plain = ClipboardResponse(kept);
  EXPECT_NE(plain.samples[1], 0);  // the offset shows up in every other frame
  for (long t = 2; t < L; ++t) EXPECT_EQ(plain.samples[static_cast<std::size_t>(t)], plain.samples[1]);

  RunReport removed = host.Run("sequnfold", doc, Settings("10", true));
  ASSERT_EQ(removed.status, RunStatus::Completed) << removed.message;
  EXPECT_EQ(+BlockOf(removed).removeDc, 1);
  const Response resp = ClipboardResponse(removed);
  // Peak P, others 0: the mean is P / L, so the others sit at -32767 / (L - 1).
  EXPECT_EQ(resp.samples[0], 32767);
  for (long t = 1; t < L; ++t) ASSERT_EQ(resp.samples[static_cast<std::size_t>(t)], -32) << t;
}

TEST(SeqUnfold, StatisticsDialogReportsTheRun) {
  TestHost host;
  const std::vector<int> x = Period(host, "10", 1000);
  Document doc = Recording(x, 3 * 1023 - 1, 0, {{{0, 1}}});
  doc.sampleRate = 48000;
  RunReport r = host.Run("sequnfold", doc, Settings("10"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  const auto* stats = FindDialog(r, 107);
  ASSERT_NE(stats, nullptr);
  EXPECT_EQ(stats->caption, kTitle);
  EXPECT_EQ(stats->Find(1026)->text, "1023");
  EXPECT_EQ(stats->Find(1028)->text, "1");
  EXPECT_EQ(stats->Find(1027)->text, "48000");
  EXPECT_EQ(stats->Find(1029)->text, "2");  // 3L - 1 frames hold two whole periods
  EXPECT_EQ(stats->Find(1030)->text.rfind("Elapsed time: ", 0), 0u);
  EXPECT_EQ(stats->Find(1032)->text, "Rescaled from: 2.048E6");
  EXPECT_EQ(ClipboardResponse(r).header.sampleRate, 48000u);
  bool beeped = false;
  for (const auto& e : r.journal) beeped = beeped || std::holds_alternative<portable::BeepEvent>(e);
  EXPECT_TRUE(beeped);
  const SeqUnfoldBlock b = BlockOf(r);
  EXPECT_EQ(+b.resultSampleRate, 48000);
  EXPECT_EQ(+b.ownerWindow, HandleToField(portable::HostWindow()));
  EXPECT_EQ(r.statusTexts, (std::vector<std::string>{"Initializing MLS deconvolution...", "Look up TOB...",
                                                     "Generating permutation...", "Averaging data...",
                                                     "Deconvolving MLS"}));

  // Silence: the magnitude becomes 1 and the response is all zeros.
  Document silent = Document::Empty(44100, 1);
  silent.samples.assign(1023, 0);
  silent.SelectAll();
  r = host.Run("sequnfold", silent, Settings("10"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(ClipboardResponse(r).samples, std::vector<int16_t>(1023, 0));
  EXPECT_EQ(FindDialog(r, 107)->Find(1032)->text, "Rescaled from: 1");
}

TEST(SeqUnfold, SelectionShorterThanOnePeriodIsRefused) {
  TestHost host;
  const std::vector<int> x = Period(host, "9", 1000);
  Document doc = Recording(x, 510, 0, {{{0, 1}}});
  RunReport r = host.Run("sequnfold", doc, Settings("9"));
  EXPECT_EQ(r.status, RunStatus::Failed);
  EXPECT_EQ(*r.setupResult, 0);
  EXPECT_FALSE(r.doResult.has_value());
  auto boxes = MessageBoxes(r);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]->text,
            "Highlighted area is too short to perform\nthe deconvolution of a sequence having\nthe selected MLS order.");
  EXPECT_EQ(boxes[0]->caption, kTitle);
  EXPECT_EQ(boxes[0]->type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(boxes[0]->owner, HandleToField(portable::HostWindow()));
  EXPECT_FALSE(ClipboardResponse(r).present);

  doc = Recording(x, 511, 0, {{{0, 1}}});
  r = host.Run("sequnfold", doc, Settings("9"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(+BlockOf(r).cycles, 1);
}

TEST(SeqUnfold, MoreThan32767PeriodsAverageThe32767First) {
  TestHost host;
  const std::vector<int> x = Period(host, "2", 1024);
  Document doc = Recording(x, 3 * 32768 + 2, 0, {{{1, 1}}});
  // A different signal after the 32767th period would move the peak if it were read.
  for (std::size_t k = 3 * 32767; k < doc.samples.size(); ++k) doc.samples[k] = 0;
  RunReport r = host.Run("sequnfold", doc, Settings("2"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(+BlockOf(r).cycles, 32767);
  EXPECT_EQ(+BlockOf(r).rescaledFrom, 4.0f * 1024 * 32767);
  EXPECT_EQ(ClipboardResponse(r).samples, (std::vector<int16_t>{32767, 0, 0}));
}

TEST(SeqUnfold, EveryAllocationAndLockFailureReportsAndLeavesNothingBehind) {
  TestHost host;
  const std::vector<int> x = Period(host, "8", 1000);
  Document doc = Recording(x, 300, 0, {{{0, 1}}, {{2, 1}}});
  for (int lockFault = 0; lockFault < 2; ++lockFault) {
    for (long k = 1;; ++k) {
      const auto before = portable::Memory();
      RunOptions o = Settings("8");
      portable::Faults f;
      (lockFault ? f.failLock : f.failAllocation) = k;
      o.faultsDuringRun = f;
      RunReport r = host.Run("sequnfold", doc, o);
      const auto after = portable::Memory();
      EXPECT_EQ(after.lockedBlocks, 0) << k;
      if (r.status == RunStatus::Completed) {
        EXPECT_EQ(k, lockFault ? 6 : 5);  // the block, then four buffers of two stages each
        EXPECT_EQ(after.liveBlocks, before.liveBlocks + (before.clipboardBlocks ? 0 : 1));
        break;
      }
      ASSERT_LT(k, 10) << "the run never completes";
      EXPECT_EQ(after.liveBlocks, before.liveBlocks) << k;
      EXPECT_EQ(*r.doResult, 1) << k;
      EXPECT_EQ(FindDialog(r, 107), nullptr);
      EXPECT_FALSE(ClipboardResponse(r).present);
      auto boxes = MessageBoxes(r);
      if (lockFault && k == 1) {
        EXPECT_TRUE(boxes.empty());  // the parameter block itself: return at once
        continue;
      }
      ASSERT_EQ(boxes.size(), 1u) << lockFault << " " << k;
      EXPECT_EQ(boxes[0]->text,
                "The system cannot allocate enough memory\nto perform deconvolution.\n\n"
                "Retry after closing some windows or\nwith a lower  MLS order.");
      EXPECT_EQ(boxes[0]->caption, kTitle);
      EXPECT_EQ(boxes[0]->type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
      EXPECT_EQ(boxes[0]->owner, HandleToField(portable::HostWindow()));
    }
    portable::LoadClipboard({});
  }
}

TEST(SeqUnfold, CancelAtEveryProgressReportLeavesNothing) {
  TestHost host;
  const std::vector<int> x = Period(host, "10", 1000);
  Document doc = Recording(x, 2 * 1023, 0, {{{0, 1}}, {{1, 1}}});
  RunReport full = host.Run("sequnfold", doc, Settings("10"));
  ASSERT_EQ(full.status, RunStatus::Completed) << full.message;
  const long reports = full.progressReports;
  EXPECT_GE(reports, 1 + 9 + 1 + 2 + 6);  // bits, TOB, permutation, periods, six transform steps
  for (long k = 1; k <= reports; ++k) {
    portable::LoadClipboard({});
    const auto before = portable::Memory();
    RunOptions o = Settings("10");
    o.cancelAtReport = k;
    RunReport r = host.Run("sequnfold", doc, o);
    EXPECT_EQ(r.status, RunStatus::Cancelled) << k;
    EXPECT_EQ(r.progressReports, k);
    EXPECT_EQ(*r.doResult, 1);
    EXPECT_TRUE(MessageBoxes(r).empty());
    EXPECT_EQ(FindDialog(r, 107), nullptr);
    EXPECT_FALSE(ClipboardResponse(r).present) << k;
    EXPECT_EQ(portable::Memory().liveBlocks, before.liveBlocks) << k;
    EXPECT_EQ(portable::Memory().lockedBlocks, 0);
  }
}

TEST(SeqUnfold, BusyClipboardDiscardsTheResponseWithoutStatistics) {
  TestHost host;
  const std::vector<int> x = Period(host, "10", 1000);
  Document doc = Recording(x, 1023, 0, {{{0, 1}}});
  RunOptions o = Settings("10");
  portable::Faults f;
  f.clipboardBusy = true;
  o.faultsDuringRun = f;
  const auto before = portable::Memory();
  RunReport r = host.Run("sequnfold", doc, o);
  EXPECT_EQ(*r.doResult, 0);  // the deconvolution itself completed
  EXPECT_EQ(FindDialog(r, 107), nullptr);
  auto boxes = MessageBoxes(r);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]->text, "Can not access Clipboard Data.\nAnother application or window\nhas the Clipboard opened.");
  EXPECT_EQ(boxes[0]->caption, kTitle);
  EXPECT_EQ(boxes[0]->type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
  EXPECT_FALSE(ClipboardResponse(r).present);
  EXPECT_EQ(portable::Memory().liveBlocks, before.liveBlocks);
  EXPECT_EQ(portable::Memory().lockedBlocks, 0);
}

}  // namespace
