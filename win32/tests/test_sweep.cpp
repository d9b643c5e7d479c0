// sweepsource and sweepaverage ("Generate Sine Sweep", "Synchronous Averaging") under
// Wine: the sweeps in every layout with their inverse filter on the real clipboard, and
// the averaged responses of a recording, against the native modules.
#include <gtest/gtest.h>

#include "win32/tests/wine_support.h"

namespace tovrel::wine {
namespace {

std::vector<std::string> Args(std::vector<std::string> args, const std::vector<std::string>& sets) {
  for (const auto& s : sets) args.insert(args.end(), {"--set", s});
  return args;
}

TEST(WineSweepsource, SweepsAndInverseFiltersAsNative) {
  TOVREL_REQUIRE_WINE("sweepsource");
  struct Case {
    const char* layout;
    std::vector<std::string> sets;
  } cases[] = {
      {"44100:1", {"1038=0.5", "1041=0.1", "N. of cycles=2"}},
      {"48000:1", {"1038=3000", "1041=500", "Linear Sweep=on", "Start Frequency (Hz)=20", "End Frequency (Hz)=20000"}},
      {"44100:2", {"1038=2205", "1041=0", "N. of cycles=2", "1044=on", "Amplitude=30000"}},
      {"44100:2", {"1038=2205", "1041=300", "N. of cycles=2", "1044=off"}},
  };
  for (const Case& c : cases) {
    const auto args = Args({"--new", c.layout}, c.sets);
    HarnessRun run = RunHarness("sweepsource", args);
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    const Json& r = run.report;
    EXPECT_EQ(r["setup"]["result"].integer(), 1);
    EXPECT_EQ(r["messageBoxes"].size(), 0u);
    NativeRun native = RunNativeCommand("Sine Sweep", args);
    ASSERT_EQ(native.error, "");
    EXPECT_EQ(r["do"]["result"].integer(), native.report["entryPoints"]["XfmDo"].integer()) << c.sets[0];
    EXPECT_EQ(ReportSamples(r), Samples(native.document)) << c.sets[0];
    const std::vector<uint8_t> clip = FromHex(r["clipboard"]["wave"]["hex"].text);
    ASSERT_GT(clip.size(), 44u);
    EXPECT_EQ(std::vector<uint8_t>(clip.begin(), clip.begin() + 44),
              std::vector<uint8_t>(native.clipboard.begin(), native.clipboard.begin() + 44));
    EXPECT_EQ(SampleDifference(WaveImageSamples(clip), WaveImageSamples(native.clipboard)), "") << c.sets[0];
  }
}

TEST(WineSweepaverage, AveragedResponsesAsNative) {
  TOVREL_REQUIRE_WINE("sweepaverage");
  // A recording: three periods of 300 frames, each a decaying click after 199 frames of lead-in.
  Wav rec{1, 8000, 16, {}};
  for (long f = 0; f < 1099; ++f) {
    const long t = (f + 101) % 300;
    rec.samples.push_back(static_cast<int16_t>(t < 50 ? (12000 - 200 * t) * (t % 2 ? -1 : 1) + f % 13 : f % 13));
  }
  const std::string path = ScratchDir() + "/recording.wav";
  ASSERT_TRUE(WriteWav(path, rec));
  const std::vector<std::string> common = {"N. of sweeps / measurement=3", "Sweep duration (s or samples)=200",
                                           "Silence duration (s or samples)=100", "N. of samples for each response=120"};
  for (const char* scale : {"Autoscale each response separately=off", "Autoscale each response separately=on"}) {
    std::vector<std::string> sets = common;
    sets.push_back(scale);
    sets.push_back("Autoscale and remove DC component=on");
    HarnessRun run = RunHarness("sweepaverage", Args({"--in", WinePath(path)}, sets));
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    const Json& r = run.report;
    EXPECT_EQ(r["do"]["result"].integer(), 0);
    EXPECT_EQ(r["messageBoxes"].size(), 0u);
    ASSERT_EQ(r["dialogs"].size(), 2u) << "no statistics dialog";
    const std::vector<uint8_t> clip = FromHex(r["clipboard"]["wave"]["hex"].text);
    NativeRun native = RunNativeCommand("Synchronous Average", Args({path}, sets));
    ASSERT_EQ(native.error, "");
    ASSERT_GT(clip.size(), 44u);
    EXPECT_EQ(std::vector<uint8_t>(clip.begin(), clip.begin() + 44),
              std::vector<uint8_t>(native.clipboard.begin(), native.clipboard.begin() + 44));
    EXPECT_EQ(SampleDifference(WaveImageSamples(clip), WaveImageSamples(native.clipboard)), "") << scale;
  }
}

}  // namespace
}  // namespace tovrel::wine
