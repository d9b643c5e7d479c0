// IRS deconvolution as a user meets it: an IRS from the generator, a recording made
// through a known system, the response on the clipboard and the statistics dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "frame/clipwave.h"
#include "frame/paramblock.h"
#include "host/testing.h"
#include "sequence/invsequnfold/invsequnfold_block.h"

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

constexpr char kTitle[] = "Deconvolve IRS Signal";
constexpr char kModule[] = "invsequnfold";

// One period of the generator's IRS for the entry label.
std::vector<int> Excitation(const TestHost& host, const std::string& entry) {
  Document doc = Document::Empty(44100, 1);
  RunOptions o;
  o.sets = {{"IRS Order", entry}};
  RunReport r = host.Run("invseqsource", doc, o);
  EXPECT_EQ(r.status, RunStatus::Completed) << r.message;
  return std::vector<int>(doc.samples.begin(), doc.samples.end());
}

// A system: taps of (delay, gain in eighths). The excitation is at half of full scale,
// so the gains of a system may add up to 8.
using System = std::vector<std::pair<long, int>>;

// The periodic excitation x, recorded from its sample `phase` on, through one system per
// channel; `frames` long, all selected.
Document Recording(const std::vector<int>& x, long frames, long phase, const std::vector<System>& systems) {
  const long P = static_cast<long>(x.size());
  Document doc = Document::Empty(44100, static_cast<int>(systems.size()));
  for (long n = 0; n < frames; ++n) {
    for (const System& s : systems) {
      long v = 0;
      for (auto [delay, gain] : s) v += gain * x[static_cast<std::size_t>((((n + phase - delay) % P) + P) % P)];
      doc.samples.push_back(static_cast<int16_t>(v / 8));
    }
  }
  doc.SelectAll();
  return doc;
}

RunOptions Settings(const std::string& entry) {
  RunOptions o;
  o.sets = {{"IRS Order", entry}};
  return o;
}

InvSeqUnfoldBlock BlockOf(const RunReport& r) { return tovrel::host::testing::BlockOf<InvSeqUnfoldBlock>(r); }

// The one message of a run: an error box owned by the host's window, with the title as caption.
void ExpectErrorBox(const RunReport& r, const std::string& text, const std::string& what = "") {
  const auto boxes = MessageBoxes(r);
  ASSERT_EQ(boxes.size(), 1u) << what;
  EXPECT_EQ(boxes[0]->text, text) << what;
  EXPECT_EQ(boxes[0]->caption, kTitle);
  EXPECT_EQ(boxes[0]->type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(boxes[0]->owner, HandleToField(portable::HostWindow()));
}

int16_t RoundHalfAway(double v) { return static_cast<int16_t>(v >= 0 ? v + 0.5 : v - 0.5); }

// What the deconvolution must give for a recording, worked out without a transform:
// the whole IRS periods of the selection summed, correlated directly with the
// excitation at lags 0 .. L - 1 (exact integers), each channel's first largest lag as
// its peak, the earlier peak of the two channels (by less than half of 2^N) as the
// start, moved 1500 back from order 12 on, and L lags read on circularly from there.
struct Expected {
  std::vector<int16_t> samples;
  double magnitude = 0;  // the largest correlation, before the transform's factor F / 2
};
Expected Deconvolved(const Document& doc, const std::vector<int>& x) {
  const long P = static_cast<long>(x.size()), L = P / 2;
  const int C = doc.channels;
  const long periods = std::min(doc.selectionLength() / P, 16383L);
  std::vector<std::vector<double>> corr(static_cast<std::size_t>(C));
  std::vector<long> peak(static_cast<std::size_t>(C), 0);
  double magnitude = 0;
  for (int ch = 0; ch < C; ++ch) {
    std::vector<int64_t> a(static_cast<std::size_t>(P), 0);
    for (long c = 0; c < periods; ++c)
      for (long j = 0; j < P; ++j)
        a[static_cast<std::size_t>(j)] += doc.samples[static_cast<std::size_t>((doc.selStart + c * P + j) * C + ch)];
    auto& v = corr[static_cast<std::size_t>(ch)];
    for (long tau = 0; tau < L; ++tau) {
      int64_t sum = 0;
      for (long u = 0; u < P; ++u) sum += a[static_cast<std::size_t>((u + tau) % P)] * (x[static_cast<std::size_t>(u)] / 16384);
      v.push_back(static_cast<double>(sum));
      if (std::fabs(v.back()) > std::fabs(v[static_cast<std::size_t>(peak[static_cast<std::size_t>(ch)])]))
        peak[static_cast<std::size_t>(ch)] = tau;
    }
    magnitude = std::max(magnitude, std::fabs(v[static_cast<std::size_t>(peak[static_cast<std::size_t>(ch)])]));
  }
  long start = peak[0];
  if (C == 2) {
    const long first = peak[0], second = peak[1], half = (L + 1) / 2;
    if ((second <= first && first - second < half) || (second > first && second - first > half)) start = second;
  }
  if (L >= 4095) start = (start - 1500 + L) % L;
  Expected out;
  out.magnitude = magnitude;
  const double g = magnitude > 0 ? 32767.0 / magnitude : 0;
  for (long t = 0; t < L; ++t)
    for (int ch = 0; ch < C; ++ch)
      out.samples.push_back(RoundHalfAway(corr[static_cast<std::size_t>(ch)][static_cast<std::size_t>((start + t) % L)] * g));
  return out;
}

// The transform works in single precision: a sample may round the other way.
void ExpectNear(const std::vector<int16_t>& actual, const std::vector<int16_t>& expected, const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  long off = 0;
  for (std::size_t i = 0; i < actual.size(); ++i) off += std::abs(actual[i] - expected[i]) > 1;
  EXPECT_EQ(off, 0) << what;
}

// The system's response as a user reads it: the peak tap at frame 0 (or 1500), the
// other taps after it and those before it wrapped to the end, scaled to 32767. The IRS
// adds side values of at most 6 / P of full scale per tap.
void ExpectSystemResponse(const std::vector<int16_t>& actual, const System& system, long L, long peakDelay,
                          long shift, const std::string& what) {
  std::vector<double> h(static_cast<std::size_t>(L), 0);
  double peak = 0, total = 0;
  for (auto [delay, gain] : system) {
    h[static_cast<std::size_t>(delay % L)] += gain;
    peak = std::max(peak, std::fabs(static_cast<double>(gain)));
    total += std::abs(gain);
  }
  const double tolerance = 32767.0 * total / peak * 6 / (2.0 * L) + 2;
  ASSERT_EQ(static_cast<long>(actual.size()), L) << what;
  long off = 0;
  for (long t = 0; t < L; ++t) {
    const double truth = 32767.0 / peak * h[static_cast<std::size_t>(((peakDelay + t - shift) % L + L) % L)];
    off += std::fabs(actual[static_cast<std::size_t>(t)] - truth) > tolerance;
  }
  EXPECT_EQ(off, 0) << what;
}

TEST(InvSeqUnfold, OffersItsDefaults) {
  TestHost host;
  Document doc = Document::Empty(44100, 1);
  doc.samples.assign(70000, 0);
  doc.SelectAll();
  RunOptions o;
  o.presses = {"Help", "Cancel"};
  RunReport r = host.Run(kModule, doc, o);
  EXPECT_EQ(*r.initResult, 1);
  EXPECT_EQ(*r.setupResult, 0);
  EXPECT_FALSE(r.doResult.has_value());
  const InvSeqUnfoldBlock b = BlockOf(r);
  EXPECT_EQ(+b.order, 15);
  EXPECT_EQ(+b.entry, 18);
  EXPECT_EQ(+b.removeDc, 0);
  EXPECT_EQ(+b.ownerWindow, 0u);
  EXPECT_EQ(+b.moduleInstance, 0u);
  const auto* settings = FindDialog(r, 100);
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(settings->caption, kTitle);
  const auto* combo = settings->Find(1034);
  ASSERT_EQ(combo->items.size(), 29u);
  EXPECT_EQ(combo->items.front(), "2");
  EXPECT_EQ(combo->items[10], "12 A");
  EXPECT_EQ(combo->items.back(), "19");
  EXPECT_EQ(combo->selection, 18);
  EXPECT_EQ(settings->Find(1000)->text, "&Remove DC component");
  EXPECT_FALSE(settings->Find(1000)->visible);
  bool helped = false;
  for (const auto& e : r.journal) {
    if (auto* h = std::get_if<portable::HelpEvent>(&e)) {
      helped = true;
      EXPECT_EQ(h->file, "tovrel96.hlp");
      EXPECT_EQ(h->keyword, kTitle);
    }
  }
  EXPECT_TRUE(helped);

  // The hidden check box cannot be reached.
  RunOptions dc = Settings("10");
  dc.sets.push_back({"Remove DC component", "on"});
  EXPECT_NE(host.Run(kModule, doc, dc).status, RunStatus::Completed);
}

// Entry "6": three whole periods through a pure delay of 5 samples.
TEST(InvSeqUnfold, PureDelayGivesFullScaleAndTheSideValuesOfTheIrs) {
  TestHost host;
  const std::vector<int> x = Excitation(host, "6");
  ASSERT_EQ(x.size(), 126u);
  Document doc = Recording(x, 3 * 126, 0, {{{5, 8}}});
  doc.sampleRate = 48000;
  RunReport r = host.Run(kModule, doc, Settings("6"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(*r.doResult, 0);
  EXPECT_FALSE(r.documentChanged);
  const Response resp = ClipboardResponse(r);
  ASSERT_TRUE(resp.present);
  EXPECT_EQ(resp.header.channels, 1);
  EXPECT_EQ(resp.header.sampleRate, 48000u);
  EXPECT_EQ(resp.header.bitsPerSample, 16);
  EXPECT_EQ(resp.header.dataBytes, 126u);
  ASSERT_EQ(resp.samples.size(), 63u);
  EXPECT_EQ(resp.samples[0], 32767);
  // Lags 6 .. 62 alternate from +520; the last five frames are lags 0 .. 4, read within
  // the first half of the correlation, so they alternate on from +520 as well.
  for (long t = 1; t < 63; ++t) {
    const int side = t < 58 ? (t % 2 ? 520 : -520) : (t % 2 ? -520 : 520);
    EXPECT_EQ(resp.samples[static_cast<std::size_t>(t)], side) << t;
  }
  ExpectNear(resp.samples, Deconvolved(doc, x).samples, "entry 6");

  const InvSeqUnfoldBlock b = BlockOf(r);
  EXPECT_NEAR(b.rescaledFrom, 792723456.0, 792723456.0 * 1e-6);
  EXPECT_EQ(+b.cycles, 6);  // MLS lengths, two per IRS period
  EXPECT_EQ(+b.resultChannels, 1);
  EXPECT_EQ(+b.resultSampleRate, 48000);
  EXPECT_EQ(+b.removeDc, 0);
  EXPECT_EQ(+b.ownerWindow, HandleToField(portable::HostWindow()));

  const auto* stats = FindDialog(r, 107);
  ASSERT_NE(stats, nullptr);
  EXPECT_EQ(stats->caption, kTitle);
  EXPECT_EQ(stats->Find(1026)->text, "63");
  EXPECT_EQ(stats->Find(1028)->text, "1");
  EXPECT_EQ(stats->Find(1027)->text, "48000");
  EXPECT_EQ(stats->Find(1029)->text, "6");
  EXPECT_EQ(stats->Find(1030)->text.rfind("Elapsed time: ", 0), 0u);
  EXPECT_EQ(stats->Find(1032)->text.rfind("Rescaled from: 7.92723", 0), 0u) << stats->Find(1032)->text;
  bool beeped = false;
  for (const auto& e : r.journal) beeped = beeped || std::holds_alternative<portable::BeepEvent>(e);
  EXPECT_TRUE(beeped);
  EXPECT_EQ(r.statusTexts, (std::vector<std::string>{"Generating IRS sequence...", "Transforming IRS sequence...",
                                                     "Averaging data...", "Deconvolving IRS"}));
}

// Entry "5" starts with bit 0, so the period's sample L equals sample 0 instead of
// being its negative: the peak stays, the side values grow.
TEST(InvSeqUnfold, EntryWhosePeriodIsNotExactlyInvertedKeepsItsPeak) {
  TestHost host;
  const std::vector<int> x = Excitation(host, "5");
  ASSERT_EQ(x[0], x[31]);
  Document doc = Recording(x, 62, 0, {{{0, 8}}});
  RunReport r = host.Run(kModule, doc, Settings("5"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  const Response resp = ClipboardResponse(r);
  ASSERT_EQ(resp.samples.size(), 31u);
  EXPECT_EQ(resp.samples[0], 32767);
  int largestSide = 0;
  for (std::size_t t = 1; t < resp.samples.size(); ++t) largestSide = std::max(largestSide, std::abs(resp.samples[t]));
  EXPECT_EQ(largestSide, 3171);
  ExpectNear(resp.samples, Deconvolved(doc, x).samples, "entry 5");
  EXPECT_EQ(+BlockOf(r).cycles, 2);
}

TEST(InvSeqUnfold, DelaysAtAnyPhaseOfTheFirstHalfGiveAPositivePulseAtTheStart) {
  TestHost host;
  const std::vector<int> x = Excitation(host, "10");
  const long L = 1023, P = 2046;
  for (long phase : {0L, 1L, 400L}) {
    for (long delay : {0L, 7L, 600L}) {
      const std::string what = "phase " + std::to_string(phase) + " delay " + std::to_string(delay);
      Document doc = Recording(x, 2 * P + 100, phase, {{{delay + phase, 8}}});
      RunReport r = host.Run(kModule, doc, Settings("10"));
      ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
      const Response resp = ClipboardResponse(r);
      ASSERT_EQ(resp.samples.size(), static_cast<std::size_t>(L));
      EXPECT_EQ(resp.samples[0], 32767) << what;
      const Expected e = Deconvolved(doc, x);
      ExpectNear(resp.samples, e.samples, what);
      ExpectSystemResponse(resp.samples, {{delay, 8}}, L, delay, 0, what);
      EXPECT_NEAR(BlockOf(r).rescaledFrom, e.magnitude * 2048, e.magnitude * 2048 * 1e-6) << what;
      EXPECT_EQ(+BlockOf(r).cycles, 4);
    }
  }
  // Half a period later the excitation is its own negative: the response comes out
  // inverted, as it would from a system of gain -1.
  Document late = Recording(x, P, L, {{{3, 8}}});
  RunReport r = host.Run(kModule, late, Settings("10"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(ClipboardResponse(r).samples[0], -32767);
}

TEST(InvSeqUnfold, InvertedGainAndShortFilterComeOutScaledAndRotated) {
  TestHost host;
  const std::vector<int> x = Excitation(host, "10");
  const long L = 1023, P = 2046;
  Document inverted = Recording(x, P, 0, {{{5, -8}}});
  RunReport r = host.Run(kModule, inverted, Settings("10"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  Response resp = ClipboardResponse(r);
  EXPECT_EQ(resp.samples[0], -32767);
  ExpectNear(resp.samples, Deconvolved(inverted, x).samples, "gain -1");
  ExpectSystemResponse(resp.samples, {{5, -8}}, L, 5, 0, "gain -1");

  // The peak tap goes to frame 0; the taps before it wrap to the end with their sign.
  const System fir = {{10, 1}, {11, 3}, {12, -2}, {14, 1}};
  Document filtered = Recording(x, 3 * P, 0, {fir});
  r = host.Run(kModule, filtered, Settings("10"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  resp = ClipboardResponse(r);
  EXPECT_EQ(resp.samples[0], 32767);
  ExpectNear(resp.samples, Deconvolved(filtered, x).samples, "fir");
  ExpectSystemResponse(resp.samples, fir, L, 11, 0, "fir");
  EXPECT_GT(resp.samples[static_cast<std::size_t>(L - 1)], 10000);  // the tap before the peak: +1/3
  EXPECT_LT(resp.samples[1], -20000);                                // -2/3
}

// From order 12 on the peak lands at frame 1500. A peak at a lag below 1500 puts the
// frames before it at the end of the first half of the correlation, so the peak keeps
// its sign.
TEST(InvSeqUnfold, OrderTwelveAndAboveLeaveFifteenHundredFramesBeforeThePeak) {
  TestHost host;
  const std::vector<int> x = Excitation(host, "12 A");
  const long L = 4095, P = 8190;
  for (long delay : {20L, 1500L, 2600L}) {
    const System fir = {{delay, 4}, {delay + 1, -2}};
    const std::string what = "delay " + std::to_string(delay);
    Document doc = Recording(x, P + 10, 0, {fir});
    RunReport r = host.Run(kModule, doc, Settings("12 A"));
    ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
    const Response resp = ClipboardResponse(r);
    ASSERT_EQ(resp.samples.size(), static_cast<std::size_t>(L));
    EXPECT_EQ(resp.samples[1500], 32767) << what;
    EXPECT_NEAR(resp.samples[1501], -16384, 40) << what;
    ExpectNear(resp.samples, Deconvolved(doc, x).samples, what);
    ExpectSystemResponse(resp.samples, fir, L, delay, 1500, what);
  }
}

TEST(InvSeqUnfold, StereoAlignsToTheEarlierPeakAndSharesTheScale) {
  TestHost host;
  const std::vector<int> x = Excitation(host, "10");
  const long L = 1023, P = 2046;
  // The right channel's peak comes 10 samples earlier and weaker: the output starts there.
  const std::vector<System> earlierRight = {{{40, 8}}, {{30, 4}}};
  Document doc = Recording(x, 2 * P, 0, earlierRight);
  RunReport r = host.Run(kModule, doc, Settings("10"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  Response resp = ClipboardResponse(r);
  EXPECT_EQ(resp.header.channels, 2);
  EXPECT_EQ(resp.header.dataBytes, static_cast<uint32_t>(4 * L));
  ASSERT_EQ(resp.samples.size(), static_cast<std::size_t>(2 * L));
  EXPECT_EQ(resp.samples[2 * 10], 32767);    // left, 10 frames on
  EXPECT_NEAR(resp.samples[1], 16384, 100);  // right at frame 0, at half the shared scale
  ExpectNear(resp.samples, Deconvolved(doc, x).samples, "earlier right");
  const InvSeqUnfoldBlock b = BlockOf(r);
  EXPECT_EQ(+b.resultChannels, 2);
  EXPECT_EQ(+b.cycles, 4);
  EXPECT_EQ(FindDialog(r, 107)->Find(1028)->text, "2");

  // The right channel's peak comes later: the left channel's peak stays at frame 0.
  const std::vector<System> laterRight = {{{40, 2}}, {{50, -6}}};
  doc = Recording(x, P, 0, laterRight);
  r = host.Run(kModule, doc, Settings("10"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  resp = ClipboardResponse(r);
  EXPECT_NEAR(resp.samples[0], 10922, 100);
  EXPECT_EQ(resp.samples[2 * 10 + 1], -32767);
  ExpectNear(resp.samples, Deconvolved(doc, x).samples, "later right");
}

TEST(InvSeqUnfold, SelectionShorterThanOneIrsPeriodIsRefused) {
  TestHost host;
  const std::vector<int> x = Excitation(host, "9");
  Document doc = Recording(x, 1021, 0, {{{0, 8}}});
  RunReport r = host.Run(kModule, doc, Settings("9"));
  EXPECT_EQ(r.status, RunStatus::Failed);
  EXPECT_EQ(*r.setupResult, 0);
  EXPECT_FALSE(r.doResult.has_value());
  ExpectErrorBox(r,
                 "Highlighted area is too short to perform\nthe deconvolution of a sequence having\nthe selected IRS order.");
  EXPECT_FALSE(ClipboardResponse(r).present);

  // One period, and one MLS length short of two: a single period is averaged.
  for (long frames : {1022L, 2 * 1022L - 1}) {
    doc = Recording(x, frames, 0, {{{0, 8}}});
    r = host.Run(kModule, doc, Settings("9"));
    ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
    EXPECT_EQ(+BlockOf(r).cycles, frames / 511);
    EXPECT_NEAR(BlockOf(r).rescaledFrom, 1024.0 * 16384 * 1022, 1024.0 * 16384 * 1022 * 1e-6);
  }
}

TEST(InvSeqUnfold, SilenceGivesZerosAndLongSelectionsAreCapped) {
  TestHost host;
  Document silent = Document::Empty(44100, 1);
  silent.samples.assign(126, 0);
  silent.SelectAll();
  RunReport r = host.Run(kModule, silent, Settings("6"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(ClipboardResponse(r).samples, std::vector<int16_t>(63, 0));
  EXPECT_EQ(FindDialog(r, 107)->Find(1032)->text, "Rescaled from: 1");

  // The count of MLS lengths is a 16-bit field: at most 32767, and 16383 IRS periods.
  const std::vector<int> x = Excitation(host, "2");
  Document doc = Recording(x, 6 * 16384 + 5, 0, {{{1, 8}}});
  for (std::size_t k = 6 * 16383; k < doc.samples.size(); ++k) doc.samples[k] = 0;  // would move the peak if read
  r = host.Run(kModule, doc, Settings("2"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(+BlockOf(r).cycles, 32767);
  EXPECT_EQ(ClipboardResponse(r).samples, Deconvolved(doc, x).samples);
  EXPECT_NEAR(BlockOf(r).rescaledFrom, 8.0 * 16384 * 16383 * 6, 8.0 * 16384 * 16383 * 6 * 1e-6);
}

TEST(InvSeqUnfold, EveryAllocationAndLockFailureReportsAndLeavesNothingBehind) {
  TestHost host;
  const std::vector<int> x = Excitation(host, "8");
  Document doc = Recording(x, 510, 0, {{{0, 8}}, {{2, 8}}});
  for (int lockFault = 0; lockFault < 2; ++lockFault) {
    for (long k = 1;; ++k) {
      const auto before = portable::Memory();
      RunOptions o = Settings("8");
      portable::Faults f;
      (lockFault ? f.failLock : f.failAllocation) = k;
      o.faultsDuringRun = f;
      RunReport r = host.Run(kModule, doc, o);
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
      if (lockFault && k == 1) {
        EXPECT_TRUE(MessageBoxes(r).empty());  // the parameter block itself: return at once
        continue;
      }
      ExpectErrorBox(r,
                     "The system cannot allocate enough memory\nto perform deconvolution.\n\n"
                     "Retry after closing some windows or\nwith a lower IRS order.",
                     std::to_string(lockFault) + " " + std::to_string(k));
    }
    portable::LoadClipboard({});
  }
}

TEST(InvSeqUnfold, CancelAtEveryProgressReportLeavesNothing) {
  TestHost host;
  const std::vector<int> x = Excitation(host, "10");
  Document doc = Recording(x, 2 * 2046, 0, {{{0, 8}}, {{1, 8}}});
  RunReport full = host.Run(kModule, doc, Settings("10"));
  ASSERT_EQ(full.status, RunStatus::Completed) << full.message;
  const long reports = full.progressReports;
  EXPECT_EQ(reports, 1 + 1 + 2 + 6);  // bits, reference spectrum, periods, six transform steps
  for (long k = 1; k <= reports; ++k) {
    portable::LoadClipboard({});
    const auto before = portable::Memory();
    RunOptions o = Settings("10");
    o.cancelAtReport = k;
    RunReport r = host.Run(kModule, doc, o);
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

TEST(InvSeqUnfold, BusyClipboardDiscardsTheResponseWithoutStatistics) {
  TestHost host;
  const std::vector<int> x = Excitation(host, "10");
  Document doc = Recording(x, 2046, 0, {{{0, 8}}});
  for (bool refused : {false, true}) {
    RunOptions o = Settings("10");
    portable::Faults f;
    (refused ? f.failClipboardSet : f.clipboardBusy) = true;
    o.faultsDuringRun = f;
    const auto before = portable::Memory();
    RunReport r = host.Run(kModule, doc, o);
    EXPECT_EQ(*r.doResult, 0);  // the deconvolution itself completed
    EXPECT_EQ(FindDialog(r, 107), nullptr);
    ExpectErrorBox(r, "Can not access Clipboard Data.\nAnother application or window\nhas the Clipboard opened.");
    EXPECT_FALSE(ClipboardResponse(r).present);
    EXPECT_EQ(portable::Memory().liveBlocks, before.liveBlocks);
    EXPECT_EQ(portable::Memory().lockedBlocks, 0);
  }
}

}  // namespace
