// invseqsource ("Generate IRS Signal") under Wine: the mono-only dialog and the emitted
// sequence, against the native run.
#include <gtest/gtest.h>

#include "win32/tests/wine_support.h"

namespace tovrel::wine {
namespace {

TEST(WineInvseqsource, GeneratesTheNativeSequence) {
  TOVREL_REQUIRE_WINE("invseqsource");
  for (const char* order : {"2", "5", "12 A"}) {
    HarnessRun run = RunHarness("invseqsource", {"--new", "44100:1", "--set", std::string("IRS Order=") + order});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    const Json& r = run.report;
    EXPECT_EQ(r["dialogs"][0]["errors"].size(), 0u) << order;
    EXPECT_EQ(r["setup"]["result"].integer(), 1) << order;
    NativeRun native = RunNativeCommand("IRS Signal", {"--new", "44100:1", "--set", std::string("IRS Order=") + order});
    ASSERT_EQ(native.error, "");
    EXPECT_EQ(r["do"]["result"].integer(), native.report["entryPoints"]["XfmDo"].integer()) << order;
    EXPECT_EQ(ReportSamples(r), Samples(native.document)) << order;
    EXPECT_FALSE(ReportSamples(r).empty());
  }
}

TEST(WineInvseqsource, StereoDocumentGetsNoDialog) {
  TOVREL_REQUIRE_WINE("invseqsource");
  HarnessRun run = RunHarness("invseqsource", {"--new", "44100:2:8"});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& r = run.report;
  EXPECT_EQ(r["setup"]["result"].integer(), 0);
  EXPECT_EQ(r["dialogs"].size(), 0u);
  EXPECT_EQ(r["do"].kind, Json::Null);
  EXPECT_EQ(ReportSamples(r), std::vector<long long>(16, 0));
}

}  // namespace
}  // namespace tovrel::wine
