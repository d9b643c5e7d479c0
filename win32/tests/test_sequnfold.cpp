// sequnfold and invsequnfold ("Deconvolve MLS Signal", "Deconvolve IRS Signal") under
// Wine: a recording of several periods through a short filter gives, on the real Windows
// clipboard, the native module's impulse response byte for byte; a busy clipboard is named.
#include <gtest/gtest.h>

#include "win32/tests/wine_support.h"

namespace tovrel::wine {
namespace {

// A recording: `periods` periods of the native generator's signal through a short filter.
std::string Recording(const std::string& generator, const std::vector<std::string>& sets, int periods) {
  std::vector<std::string> args = {"--new", "44100:1"};
  for (const auto& s : sets) {
    if (!s.empty()) args.insert(args.end(), {"--set", s});
  }
  NativeRun signal = RunNativeCommand(generator, args);
  EXPECT_EQ(signal.error, "");
  const std::vector<int16_t>& x = signal.document.samples;
  size_t n = x.size();
  Wav rec{1, 44100, 16, {}};
  for (size_t k = 0; k < n * periods; ++k) {
    auto at = [&](size_t back) { return static_cast<double>(x[(k + n * 4 - back) % n]); };
    double y = 0.5 * at(0) - 0.25 * at(1) + 0.125 * at(3);
    rec.samples.push_back(static_cast<int16_t>(y < 0 ? y - 0.5 : y + 0.5));
  }
  std::string path = ScratchDir() + "/recording.wav";
  EXPECT_TRUE(WriteWav(path, rec));
  return path;
}

struct Deconvolver {
  const char* module;
  const char* command;
  const char* generator;
  const char* orderLabel;
  const char* generatorSettings;  // besides the order
};

void PrintTo(const Deconvolver& d, std::ostream* os) { *os << d.module; }

class WineDeconvolver : public ::testing::TestWithParam<Deconvolver> {};

TEST_P(WineDeconvolver, ImpulseResponseOnTheClipboardAsNative) {
  const Deconvolver& d = GetParam();
  TOVREL_REQUIRE_WINE(d.module);
  std::string order = std::string(d.orderLabel) + "=6";
  std::string rec = Recording(d.generator, {order, d.generatorSettings}, 4);
  HarnessRun run = RunHarness(d.module, {"--in", WinePath(rec), "--set", order});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& r = run.report;
  EXPECT_EQ(r["dialogs"][0]["errors"].size(), 0u);
  EXPECT_EQ(r["setup"]["result"].integer(), 1);
  EXPECT_EQ(r["do"]["result"].integer(), 0);
  ASSERT_EQ(r["dialogs"].size(), 2u) << "no statistics dialog";
  EXPECT_EQ(r["beeps"].integers(), std::vector<long long>{0});
  EXPECT_EQ(r["messageBoxes"].size(), 0u);
  std::vector<uint8_t> clip = FromHex(r["clipboard"]["wave"]["hex"].text);
  ASSERT_GT(clip.size(), 44u);

  NativeRun native = RunNativeCommand(d.command, {rec, "--set", order});
  ASSERT_EQ(native.error, "");
  EXPECT_EQ(std::vector<uint8_t>(clip.begin(), clip.begin() + 44),
            std::vector<uint8_t>(native.clipboard.begin(), native.clipboard.begin() + std::min<size_t>(44, native.clipboard.size())));
  EXPECT_EQ(SampleDifference(WaveImageSamples(clip), WaveImageSamples(native.clipboard)), "");
  EXPECT_EQ(ReportSamples(r), Samples(native.document)) << "the document changed";
}

TEST_P(WineDeconvolver, BusyClipboardIsReportedAndLeftEmpty) {
  const Deconvolver& d = GetParam();
  TOVREL_REQUIRE_WINE(d.module);
  std::string order = std::string(d.orderLabel) + "=5";
  std::string rec = Recording(d.generator, {order, d.generatorSettings}, 3);
  HarnessRun run = RunHarness(d.module, {"--in", WinePath(rec), "--set", order, "--busy-clipboard"});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& r = run.report;
  ASSERT_EQ(r["messageBoxes"].size(), 1u);
  EXPECT_EQ(r["messageBoxes"][0]["text"].text,
            "Can not access Clipboard Data.\nAnother application or window\nhas the Clipboard opened.");
  EXPECT_TRUE(r["messageBoxes"][0]["shown"].boolean);
  EXPECT_EQ(r["messageBoxes"][0]["type"].integer() & 0xF0, 0x10) << "not the error icon";
  EXPECT_EQ(r["dialogs"].size(), 1u) << "statistics shown after a failed clipboard";
  EXPECT_EQ(r["clipboard"]["formats"].size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sequence, WineDeconvolver,
                         ::testing::Values(Deconvolver{"sequnfold", "Deconvolve MLS Signal", "MLS Signal", "MLS Order",
                                                       "Amplitude=8000"},
                                           Deconvolver{"invsequnfold", "Deconvolve IRS Signal", "IRS Signal",
                                                       "IRS Order", ""}),
                         [](const ::testing::TestParamInfo<Deconvolver>& info) {
                           return std::string(info.param.module);
                         });

}  // namespace
}  // namespace tovrel::wine
