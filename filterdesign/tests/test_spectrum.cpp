// "Design spectrum flattening filter" as a user meets it: the length list and the
// refused values of the dialog, the flattening filter of a mono response, the two stereo
// layouts, and every way a run can fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "filterdesign/design.h"
#include "filterdesign/spectrum/spectrum_block.h"
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

constexpr char kModule[] = "spectrum";

RunOptions Settings(const std::string& length, const std::string& inBand, const std::string& outBand, long low,
                    long high, const std::string& width) {
  RunOptions o;
  o.sets = {{"Filter Length (samples)", length},   {"IN-band Regularisation Parameter", inBand},
            {"OUT-band Regularisation Parameter", outBand}, {"Lower cut frequency (Hz)", std::to_string(low)},
            {"Higher cut frequency (Hz)", std::to_string(high)}, {"Transition Width (oct)", width}};
  return o;
}

TEST(Spectrum, DialogOffersLengthsFromTheSelectionAndRefusesUnusableValues) {
  TestHost host;

  Document doc = ResponseDocument({Response(100, 0.9, 1)});
  RunOptions o;
  o.presses = {"Cancel"};
  RunReport r = host.Run(kModule, doc, o);
  const auto* settings = FindDialog(r, 100);
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(settings->caption, "Invert Kirkeby");
  EXPECT_EQ(settings->Find(1026)->text, "48000 Hz/Mono/100 Samples");
  const auto* lengths = settings->Find(1034);
  EXPECT_EQ(lengths->items, (std::vector<std::string>{"8", "16", "32", "64", "128", "256", "512", "1024"}));
  EXPECT_EQ(lengths->selection, 6);
  EXPECT_EQ(settings->Find(1042)->text, "1.e-003");
  EXPECT_EQ(settings->Find(1043)->text, "1.");
  EXPECT_FALSE(settings->Find(1025)->enabled);
  EXPECT_FALSE(settings->Find(1047)->enabled);

  const std::string regularisation = "The regularisation parameters must be\npositive numbers.";
  const std::pair<RunOptions, std::string> refused[] = {
      {Settings("64", "0", "1", 100, 1000, "1"), regularisation},
      {Settings("64", "0.01", "-1", 100, 1000, "1"), "OUT-band Regularisation Parameter must be a number from 0 to 1e+30."},
      {Settings("64", "nan", "1", 100, 1000, "1"), "IN-band Regularisation Parameter must be a number from 0 to 1e+30."},
      {Settings("64", "0.01", "inf", 100, 1000, "1"), "OUT-band Regularisation Parameter must be a number from 0 to 1e+30."},
      {Settings("64", "0.01x", "1", 100, 1000, "1"), "IN-band Regularisation Parameter must be a number from 0 to 1e+30."},
      {Settings("64", "0.01", "1", 100, 1000, "-0.5"), "Transition Width (oct) must be a number from 0 to 100 octaves."},
      {Settings("64", "0.01", "1", -5, 1000, "1"), "Lower cut frequency (Hz) must be a whole number from 0 to 2147483647 Hz."}};
  for (const auto& [settingsRun, message] : refused) {
    r = host.Run(kModule, doc, settingsRun);
    EXPECT_EQ(r.status, RunStatus::Failed);
    EXPECT_EQ(*r.setupResult, 0);
    ASSERT_EQ(MessageBoxes(r).size(), 1u);
    EXPECT_EQ(MessageBoxes(r)[0]->text, message);
    EXPECT_EQ(MessageBoxes(r)[0]->caption, "Invert Kirkeby");
    EXPECT_NE(r.message.find("did not accept"), std::string::npos) << r.message;
  }
  // Nothing of a refused dialog was stored.
  EXPECT_EQ(tovrel::host::testing::BlockOf<FlattenBlock>(r).inBand, 0.001f);
}

TEST(Spectrum, MonoFilterIsFlatInTheBandAndFollowsTheRegularisationOutside) {
  TestHost host;
  Document doc = ResponseDocument({Response(40, 0.85, 4)});
  const RunOptions o = Settings("256", "0.00001", "0.5", 3000, 12000, "1");
  RunReport r = host.Run(kModule, doc, o);
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  const auto resp = ClipboardResponse(r);
  ASSERT_EQ(resp.samples.size(), 256u);
  EXPECT_EQ(resp.header.channels, 1);
  const std::vector<double> h = Samples(doc, 0);
  const std::vector<double> f(resp.samples.begin(), resp.samples.end());
  const std::vector<double> c = Convolve(h, f);
  const Regularisation reg = {1e-5f, 0.5f, ComputeBandEdges(48000, 256, 3000, 12000, 1.0f)};
  // In the band |H F| is one level; elsewhere it is that level times |H|² / (|H|² + ε).
  const double level = std::abs(Dtft(c, 40, 256));
  for (long k = 1; k < 128; ++k) {
    const double hk = std::norm(Dtft(h, k, 256)) / (32768.0 * 32768.0);
    const double expected = level * hk / (hk + RegularisationAt(reg, 128, k));
    EXPECT_NEAR(std::abs(Dtft(c, k, 256)), expected, 0.01 * level) << k;
  }
  int peak = 0;
  for (int16_t v : resp.samples) peak = std::max(peak, std::abs(static_cast<int>(v)));
  EXPECT_EQ(peak, 32767);
  const auto* stats = FindDialog(r, 107);
  ASSERT_NE(stats, nullptr);
  EXPECT_EQ(stats->caption, "Flatten Spectrum");
  EXPECT_EQ(stats->Find(1026)->text, "256");
  EXPECT_EQ(stats->Find(1031)->text, "1.e-005");
  EXPECT_EQ(stats->Find(1032)->text, "0.5");
  EXPECT_EQ(stats->Find(1044)->text, "3000");
  EXPECT_EQ(stats->Find(1045)->text, "12000");
  EXPECT_EQ(stats->Find(1046)->text, "1.");
  EXPECT_EQ(r.statusTexts, std::vector<std::string>{"Designing inverse filter..."});

  // A silent selection designs a zero filter: refused, nothing delivered.
  Document silent = ResponseDocument({std::vector<double>(50, 0.0)});
  tovrel::portable::LoadClipboard({});
  r = host.Run(kModule, silent, o);
  EXPECT_EQ(r.status, RunStatus::Failed);
  ASSERT_EQ(MessageBoxes(r).size(), 1u);
  EXPECT_EQ(MessageBoxes(r)[0]->caption, "Flatten Spectrum");
  EXPECT_FALSE(ClipboardResponse(r).present);
}

TEST(Spectrum, StereoLayoutsDeliverTheDipoleFiltersUnderOnePeak) {
  TestHost host;
  const std::vector<double> a = Response(30, 0.8, 1), b = Response(30, 0.5, 2);
  std::vector<double> halfB = b;
  for (double& v : halfB) v *= 0.4;
  Document doc = ResponseDocument({a, halfB});
  for (bool oneResponse : {true, false}) {
    RunOptions o = Settings("64", "0.001", "1", 500, 15000, "0.5");
    o.sets.push_back({oneResponse ? "Stereo Impulse Response" : "2x2 Impulse Responses", "on"});
    RunReport r = host.Run(kModule, doc, o);
    ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
    const auto resp = ClipboardResponse(r);
    EXPECT_EQ(resp.header.channels, 2);
    ASSERT_EQ(resp.samples.size(), oneResponse ? 128u : 256u);
    int peak = 0;
    for (int16_t s : resp.samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
    EXPECT_EQ(peak, 32767);
    const FlattenBlock block = tovrel::host::testing::BlockOf<FlattenBlock>(r);
    EXPECT_EQ(block.length, 128);
    EXPECT_EQ(+block.layout, oneResponse ? 1 : 0);
    EXPECT_EQ(FindDialog(r, 107)->Find(1026)->text, "64");
    EXPECT_EQ(r.statusTexts, std::vector<std::string>{"Designing stereo dipole filter..."});
  }
}

TEST(Spectrum, FaultsAndCancelAtEveryStageLeaveNothingBehind) {
  TestHost host;
  Document mono = ResponseDocument({Response(300, 0.95, 6)});
  ExpectCleanFailures(host, kModule, mono, Settings("64", "0.001", "1", 100, 10000, "1"), 5);
  Document stereo = ResponseDocument({Response(40, 0.9, 7), Response(40, 0.9, 8)});
  RunOptions o = Settings("32", "0.001", "1", 100, 10000, "1");
  o.sets.push_back({"2x2 Impulse Responses", "on"});
  ExpectCleanFailures(host, kModule, stereo, o, 5);
}

}  // namespace
