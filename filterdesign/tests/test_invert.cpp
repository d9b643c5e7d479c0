// "Design inverse filter" as a user meets it: the dialog's proposals and range box, the
// filter on the clipboard against a double-precision solve, and every way a run can fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "filterdesign/invert/invert_block.h"
#include "frame/paramblock.h"
#include "filterdesign/tests/reference.h"
#include "filterdesign/tests/runs.h"
#include "host/testing.h"

namespace {

using namespace filterdesign_testing;
using tovrel::host::Document;
using tovrel::host::RunOptions;
using tovrel::host::RunReport;
using tovrel::host::RunStatus;
using tovrel::host::testing::ClipboardResponse;
using tovrel::host::testing::FindDialog;
using tovrel::host::testing::MessageBoxes;
using tovrel::host::testing::TestHost;
namespace portable = tovrel::portable;

constexpr char kModule[] = "invert";
constexpr char kCaption[] = "Inverse Filter";

RunOptions Settings(long length, long delay) {
  RunOptions o;
  o.sets = {{"Inverse filter lenght", std::to_string(length)}, {"Delta delay", std::to_string(delay)}};
  return o;
}

// The clipboard is cleared before each refused run, so that nothing found there is stale.
RunReport RunCleared(const TestHost& host, Document& doc, const RunOptions& o) {
  portable::LoadClipboard({});
  return host.Run(kModule, doc, o);
}

void ExpectStopBox(const RunReport& r, const std::string& text) {
  const auto boxes = MessageBoxes(r);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]->text, text);
  EXPECT_EQ(boxes[0]->caption, kCaption);
  EXPECT_EQ(boxes[0]->type & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));
  EXPECT_EQ(r.status, RunStatus::Failed);
  EXPECT_FALSE(ClipboardResponse(r).present);
  EXPECT_EQ(FindDialog(r, 107), nullptr);
}

TEST(Invert, DialogProposesFromTheSelectionAndGuardsTheDelayRange) {
  TestHost host;

  Document doc = Document::Empty(44100, 1);
  doc.samples.assign(1000, 0);
  doc.samples[0] = 1000;
  doc.SelectAll();
  RunOptions o = Settings(1999, 2999);
  RunReport r = host.Run(kModule, doc, o);
  EXPECT_EQ(r.status, RunStatus::Failed);
  EXPECT_EQ(*r.setupResult, 0);
  const auto boxes = MessageBoxes(r);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]->text, "Delta delay range is:\n0..(inverse filter lenght + impulse response lenght - 1)");
  EXPECT_EQ(boxes[0]->caption, kCaption);
  EXPECT_EQ(boxes[0]->owner, 0u);
  EXPECT_EQ(boxes[0]->type & (MB_ICONMASK | MB_TASKMODAL), static_cast<UINT>(MB_ICONINFORMATION | MB_TASKMODAL));

  // The proposals at every opening, whatever the last run stored.
  o.sets.clear();
  o.presses = {"Cancel"};
  r = host.Run(kModule, doc, o);
  const auto* settings = FindDialog(r, 100);
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(settings->caption, kCaption);
  EXPECT_EQ(settings->Find(1026)->text, "44100 Hz/Mono/1000 Samples");
  EXPECT_EQ(settings->Find(1037)->text, "1999");
  EXPECT_EQ(settings->Find(1038)->text, "999");

  // L <= 0 or D < 0: closed as if cancelled.
  for (auto [length, delay] : {std::pair{0L, 5L}, std::pair{10L, -1L}}) {
    r = host.Run(kModule, doc, Settings(length, delay));
    EXPECT_EQ(r.status, RunStatus::Cancelled);
    EXPECT_TRUE(MessageBoxes(r).empty());
    EXPECT_FALSE(r.doResult.has_value());
  }
  // The top of the range is accepted, but its filter is zero: refused, nothing delivered.
  r = RunCleared(host, doc, Settings(1999, 2998));
  ExpectStopBox(r, "The designed filter is zero everywhere\nand cannot be scaled to full scale.\n\n"
                   "Nothing has been stored in the clipboard.");
  EXPECT_EQ(*r.doResult, 1);
}

TEST(Invert, FilterMatchesADoublePrecisionSolveAtEveryDelay) {
  TestHost host;
  Document doc = ResponseDocument({Response(24, 0.8, 7)});
  const std::vector<double> h = Samples(doc, 0);
  for (long delay : {0L, 50L}) {
    RunReport r = host.Run(kModule, doc, Settings(47, delay));
    ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
    const auto resp = ClipboardResponse(r);
    ASSERT_EQ(resp.samples.size(), 47u);
    EXPECT_EQ(resp.header.channels, 1);
    EXPECT_EQ(resp.header.sampleRate, 48000u);
    const std::vector<double> x = LeastSquaresInverse(h, 47, delay);
    double peak = 0;
    for (double v : x) peak = std::max(peak, std::fabs(v));
    for (std::size_t k = 0; k < x.size(); ++k) EXPECT_NEAR(resp.samples[k], x[k] * 32767 / peak, 2.0) << delay << " " << k;
  }
  RunReport r = host.Run(kModule, doc, Settings(47, 23));
  const auto* stats = FindDialog(r, 107);
  ASSERT_NE(stats, nullptr);
  EXPECT_EQ(stats->caption, kCaption);
  EXPECT_EQ(stats->Find(1026)->text, "47");
  EXPECT_EQ(stats->Find(1028)->text, "1");
  EXPECT_EQ(stats->Find(1027)->text, "48000");
  EXPECT_TRUE(std::regex_match(stats->Find(1030)->text, std::regex("[0-9]+\\.[0-9]{3}")));
  EXPECT_EQ(r.statusTexts, (std::vector<std::string>{"Calculating autocorrelation...", "Solving Toeplitz system..."}));
  EXPECT_EQ(tovrel::host::testing::BlockOf<InverseFilterBlock>(r).ownerWindow, HandleToField(portable::HostWindow()));

  // L = 1, D = 0: one full-scale sample with the sign of h[0].
  Document negative = ResponseDocument({{-0.5, 0.25, 0.1}});
  r = host.Run(kModule, negative, Settings(1, 0));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(ClipboardResponse(r).samples, std::vector<int16_t>{-32767});
}

TEST(Invert, StereoSharesOnePeakAndAZeroChannelDeliversNothing) {
  TestHost host;
  const std::vector<double> h = Response(16, 0.7, 5);
  std::vector<double> louder = h;
  for (double& v : louder) v *= 2;
  Document doc = ResponseDocument({h, louder});
  RunReport r = host.Run(kModule, doc, Settings(31, 15));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  const auto resp = ClipboardResponse(r);
  ASSERT_EQ(resp.samples.size(), 62u);
  int left = 0, right = 0;
  for (std::size_t k = 0; k < 31; ++k) {
    left = std::max(left, std::abs(resp.samples[2 * k]));
    right = std::max(right, std::abs(resp.samples[2 * k + 1]));
  }
  EXPECT_EQ(left, 32767);
  EXPECT_NEAR(right, 16384, 8);  // the document rounds h and 2 h separately
  EXPECT_EQ(FindDialog(r, 107)->Find(1028)->text, "2");

  // A silent right channel: singular, nothing delivered.
  Document silentRight = ResponseDocument({h, std::vector<double>(16, 0.0)});
  r = RunCleared(host, silentRight, Settings(31, 15));
  ExpectStopBox(r, "Singular principal minor in toeplz function.");
  EXPECT_EQ(MessageBoxes(r)[0]->owner, 0u);
}

TEST(Invert, FaultsAndCancelAtEveryStageLeaveNothingBehind) {
  TestHost host;
  Document doc = ResponseDocument({Response(60, 0.95, 9)});
  // Reports: 2, 3, 5 of 5; rows 100 and 200; 1 of 1.
  ExpectCleanFailures(host, kModule, doc, Settings(250, 59), 6);
}

}  // namespace
