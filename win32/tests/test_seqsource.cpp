// seqsource ("Generate MLS Signal") as a 32-bit DLL under Wine, driven by the harness host
// through its real dialog, compared with the native module where both give the result.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "win32/tests/wine_support.h"

namespace tovrel::wine {
namespace {

const char* const kModule = "seqsource";

const Json& ControlById(const Json& dialog, long long id) {
  const Json& controls = dialog["controls"];
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (controls[i]["id"].integer() == id) return controls[i];
  }
  static const Json none;
  return none;
}

HarnessRun RunSeqsource(const std::vector<std::string>& args) {
  HarnessRun run = RunHarness(kModule, args);
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(run.report["errors"].size(), 0u);
  return run;
}

TEST(WineSeqsource, DefaultBlock) {
  TOVREL_REQUIRE_WINE(kModule);
  HarnessRun run = RunSeqsource({"--new", "44100:1", "--no-run"});
  const Json& r = run.report;
  EXPECT_EQ(r["init"]["result"].integer(), 1);
  // order 15, entry 18, selection length untouched, amplitude 16384
  EXPECT_EQ(FromHex(r["init"]["params"].text), (std::vector<uint8_t>{0x0F, 0, 0x12, 0, 0, 0, 0, 0, 0x00, 0x40}));
  std::vector<uint8_t> descriptor = FromHex(r["query"]["descriptor"].text);
  ASSERT_EQ(descriptor.size(), 296u);
  EXPECT_EQ(std::string(descriptor.begin(), descriptor.begin() + 18), std::string("Tovrel\\MLS Signal\0", 18));
}

TEST(WineSeqsource, DialogSettingsGenerateEntry3) {
  TOVREL_REQUIRE_WINE(kModule);
  HarnessRun run = RunSeqsource({"--new", "44100:1", "--set", "MLS Order=3", "--set", "Amplitude=1000", "--press", "3"});
  const Json& r = run.report;
  ASSERT_EQ(r["dialogs"].size(), 1u);
  const Json& dialog = r["dialogs"][0];
  EXPECT_EQ(dialog["caption"].text, "Generate MLS Signal");
  EXPECT_EQ(dialog["errors"].size(), 0u);
  EXPECT_FALSE(dialog["timedOut"].boolean);
  // As the module filled it: the defaults.
  const Json& order = ControlById(dialog, 1034);
  EXPECT_EQ(order["class"].text, "ComboBox");
  EXPECT_EQ(order["items"].size(), 31u);
  EXPECT_EQ(order["items"][30].text, "21");
  EXPECT_EQ(order["selected"].integer(), 18);
  EXPECT_EQ(order["text"].text, "15 B");
  EXPECT_EQ(ControlById(dialog, 1036)["text"].text, "16384");
  EXPECT_FALSE(ControlById(dialog, 1033)["visible"].boolean);
  EXPECT_EQ(r["dialogInit"].integer(), 1);

  // Help left the dialog open: OK was still taken afterwards.
  ASSERT_EQ(r["help"].size(), 1u);
  EXPECT_EQ(r["help"][0]["file"].text, "tovrel96.hlp");
  EXPECT_EQ(r["help"][0]["command"].integer(), 0x101);  // HELP_KEY
  EXPECT_EQ(r["help"][0]["key"].text, "Generate MLS Signal");
  EXPECT_EQ(r["setup"]["result"].integer(), 1);
  EXPECT_EQ(r["context"]["outputLengthSet"].integer(), 1);
  EXPECT_EQ(r["context"]["outputLength"].integer(), 7);
  // order 3, entry 1, selection length 0, amplitude 1000
  EXPECT_EQ(FromHex(r["params"].text), (std::vector<uint8_t>{3, 0, 1, 0, 0, 0, 0, 0, 0xE8, 0x03}));

  EXPECT_EQ(r["do"]["result"].integer(), 7);
  const std::vector<long long> expected = {-1000, -1000, 1000, -1000, 1000, 1000, -1000};
  EXPECT_EQ(r["document"]["samples"].integers(), expected);
  EXPECT_EQ(r["status"].size(), 1u);
  EXPECT_EQ(r["status"][0].text, "Generating MLS signal");
  EXPECT_EQ(r["endProgress"].integer(), 1);
  EXPECT_EQ(r["messageBoxes"].size(), 0u);
  EXPECT_EQ(r["destroy"]["result"].integer(), 1);

  NativeRun native = RunNativeCommand("MLS Signal", {"--new", "44100:1", "--set", "MLS Order=3", "--set", "Amplitude=1000"});
  ASSERT_EQ(native.error, "");
  EXPECT_EQ(std::vector<long long>(native.document.samples.begin(), native.document.samples.end()), expected);
}

TEST(WineSeqsource, CancelAndCloseBoxDoNotRun) {
  TOVREL_REQUIRE_WINE(kModule);
  for (const char* finish : {"cancel", "close"}) {
    HarnessRun run = RunSeqsource({"--new", "44100:1:5", "--set", "MLS Order=3", "--finish", finish});
    const Json& r = run.report;
    EXPECT_EQ(r["setup"]["result"].integer(), 0) << finish;
    EXPECT_EQ(r["do"].kind, Json::Null) << finish;
    EXPECT_EQ(r["document"]["samples"].integers(), std::vector<long long>(5, 0)) << finish;
    EXPECT_EQ(r["context"]["outputLengthSet"].integer(), 0) << finish;
  }
}

TEST(WineSeqsource, BatchModeGeneratesTheDefaultSequenceLikeNative) {
  TOVREL_REQUIRE_WINE(kModule);
  HarnessRun run = RunSeqsource({"--new", "44100:1", "--batch"});
  const Json& r = run.report;
  ASSERT_EQ(r["dialogs"].size(), 1u);
  EXPECT_FALSE(r["dialogs"][0]["timedOut"].boolean) << "the dialog did not confirm itself";
  EXPECT_EQ(r["setup"]["result"].integer(), 1);
  EXPECT_EQ(r["do"]["result"].integer(), 32767);
  std::vector<long long> samples = r["document"]["samples"].integers();
  ASSERT_EQ(samples.size(), 32767u);
  const int bits[] = {0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0};
  for (int k = 0; k < 16; ++k) EXPECT_EQ(samples[k], bits[k] ? -16384 : 16384) << "frame " << k;
  EXPECT_EQ(r["progress"]["calls"].integer(), 4);  // 32768 positions in blocks of 8192

  NativeRun native = RunNativeCommand("MLS Signal", {"--new", "44100:1", "--batch"});
  ASSERT_EQ(native.error, "");
  EXPECT_EQ(std::vector<long long>(native.document.samples.begin(), native.document.samples.end()), samples);
}

TEST(WineSeqsource, StereoFramesCarryTheSameBit) {
  TOVREL_REQUIRE_WINE(kModule);
  HarnessRun run = RunSeqsource({"--new", "48000:2", "--set", "MLS Order=2", "--set", "Amplitude=1000"});
  const Json& r = run.report;
  EXPECT_EQ(r["do"]["result"].integer(), 3);
  EXPECT_EQ(r["document"]["samples"].integers(), (std::vector<long long>{-1000, -1000, -1000, -1000, 1000, 1000}));
}

TEST(WineSeqsource, CancelledGenerationLeavesTheDocument) {
  TOVREL_REQUIRE_WINE(kModule);
  std::string dir = ScratchDir();
  Wav input{1, 44100, 16, std::vector<int16_t>(100)};
  for (int i = 0; i < 100; ++i) input.samples[i] = static_cast<int16_t>(i * 7);
  ASSERT_TRUE(WriteWav(dir + "/in.wav", input));
  HarnessRun run = RunSeqsource({"--in", WinePath(dir + "/in.wav"), "--select", "10:19", "--cancel-after", "1", "--batch"});
  const Json& r = run.report;
  EXPECT_EQ(r["progress"]["calls"].integer(), 1);
  EXPECT_EQ(r["do"]["result"].integer(), 10) << "a cancelled run reports the selection length";
  EXPECT_EQ(r["document"]["samples"].integers(), std::vector<long long>(input.samples.begin(), input.samples.end()));
}

}  // namespace
}  // namespace tovrel::wine
