// multiseqsource ("Generate Multiple MLS Signal") under Wine: repetitions in mono, and the
// stereo layout with control pulses, against the native run.
#include <gtest/gtest.h>

#include "win32/tests/wine_support.h"

namespace tovrel::wine {
namespace {

TEST(WineMultiseqsource, RepetitionsAndControlPulsesAsNative) {
  TOVREL_REQUIRE_WINE("multiseqsource");
  struct Case {
    const char* layout;
    std::vector<std::string> sets;
  } cases[] = {
      {"44100:1", {"MLS Order=3", "Amplitude=1000", "Repetitions=3"}},
      {"44100:2", {"MLS Order=4", "Amplitude=2000", "Repetitions=2"}},
      {"44100:2", {"MLS Order=5", "Amplitude=3000", "Repetitions=2", "1042=on"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--new", c.layout};
    for (const auto& s : c.sets) args.insert(args.end(), {"--set", s});
    HarnessRun run = RunHarness("multiseqsource", args);
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    const Json& r = run.report;
    EXPECT_EQ(r["dialogs"][0]["errors"].size(), 0u);
    EXPECT_EQ(r["setup"]["result"].integer(), 1);
    NativeRun native = RunNativeCommand("Multi MLS Signal", args);
    ASSERT_EQ(native.error, "");
    EXPECT_EQ(r["do"]["result"].integer(), native.report["entryPoints"]["XfmDo"].integer()) << c.sets.back();
    EXPECT_EQ(ReportSamples(r), Samples(native.document)) << c.sets.back();
    EXPECT_FALSE(ReportSamples(r).empty());
  }
}

}  // namespace
}  // namespace tovrel::wine
