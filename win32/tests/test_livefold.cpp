// livefold ("Real Time Convolver") under Wine: the DLL's own dialog loads the stored
// responses again from their files and renders their routing as the native module does;
// a response from the real Windows clipboard loads on the tab "IR #1", and the rule that
// IR1 comes first holds on the tab "IR #2".
#include <gtest/gtest.h>

#include <cstring>

#include "liveconvolver/livefold/livefold_block.h"
#include "win32/tests/wine_support.h"

namespace tovrel::wine {
namespace {

LiveParams ParamsOf(const Json& report) {
  LiveParams p{};
  const std::vector<uint8_t> bytes = FromHex(report["params"].text);
  EXPECT_EQ(bytes.size(), sizeof p);
  if (bytes.size() == sizeof p) std::memcpy(&p, bytes.data(), sizeof p);
  return p;
}

long Differences(const std::vector<long long>& a, const std::vector<long long>& b) {
  if (a.size() != b.size()) return -1;
  long off = 0;
  for (std::size_t k = 0; k < a.size(); ++k) off += std::llabs(a[k] - b[k]) > 1;
  return off;
}

// A stored block that loads both responses again from their files: IR1 then IR2 in
// cascade on the left input's path to L; IR2 alone from the right input to R.
std::string SaveCascadeBlock(const std::string& ir1, const std::string& ir2) {
  LiveParams p{};
  p.combinedLetter = p.responseLetter[0] = p.responseLetter[1] = 'x';
  p.routingMask = 0x01 | 0x10 | 0x80;
  p.responseSource[0] = p.responseSource[1] = kSourceFile;
  std::strcpy(p.responsePath[0], WinePath(ir1).c_str());
  std::strcpy(p.responsePath[1], WinePath(ir2).c_str());
  const std::string block = ScratchDir() + "/livefold.blk";
  std::FILE* f = std::fopen(block.c_str(), "wb");
  if (!f || std::fwrite(&p, sizeof p, 1, f) != 1) ADD_FAILURE() << "cannot write " << block;
  if (f) std::fclose(f);
  return block;
}

constexpr int kOk = 1, kPreview = 1229, kStatusLine = 1250;

// A control of the dialog as it stood at the end of the n-th wait.
const Json& AfterWait(const Json& report, std::size_t n, int id) {
  static const Json none;
  for (const Json& c : report["dialogs"][0]["afterWaits"][n].elements)
    if (c["id"].integer() == id) return c;
  return none;
}

TEST(WineLivefold, RendersStoredResponsesAsNative) {
  TOVREL_REQUIRE_WINE("livefold");
  const std::string doc = SaveScratchWav("doc.wav", Noise(2, 600, 8000, 1));
  const std::string ir1 = SaveScratchWav("ir1.wav", Noise(1, 12, 9000, 2));
  const std::string ir2 = SaveScratchWav("ir2.wav", Noise(2, 9, 9000, 3));
  const std::string block = SaveCascadeBlock(ir1, ir2);
  HarnessRun run = RunHarness("livefold", {"--in", WinePath(doc), "--params-in", WinePath(block)});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& r = run.report;
  EXPECT_EQ(r["setup"]["result"].integer(), 1);
  EXPECT_EQ(r["messageBoxes"].size(), 0u);
  const LiveParams after = ParamsOf(r);
  EXPECT_EQ(+after.responseFrames[0], 12);
  EXPECT_EQ(+after.responseChannels[1], 2);
  EXPECT_EQ(+after.routingMask, 0x91);
  EXPECT_EQ(+after.responseSamples[0], 0u);  // released with the command

  NativeRun n = RunNativeCommand("Real Time Convolver",
                                 {doc, "--tab", "IR #1", "--open-file", ir1, "--press", "File", "--tab", "IR #2",
                                  "--open-file", ir2, "--press", "File", "--tab", "Monitor", "--set", "1007=on", "--set",
                                  "1011=on", "--set", "1014=on"});
  ASSERT_EQ(n.error, "");
  EXPECT_EQ(r["do"]["result"].integer(), n.report["entryPoints"]["XfmDo"].integer());
  EXPECT_EQ(r["do"]["result"].integer(), 600 + 12 + 9 - 2);
  EXPECT_EQ(Differences(ReportSamples(r), Samples(n.document)), 0);
}

TEST(WineLivefold, LoadsTheWindowsClipboardOnItsTab) {
  TOVREL_REQUIRE_WINE("livefold");
  const std::string doc = SaveScratchWav("doc.wav", Noise(2, 300, 8000, 4));
  const std::string ir = SaveScratchWav("ir.wav", Noise(2, 7, 9000, 5));
  HarnessRun run =
      RunHarness("livefold", {"--in", WinePath(doc), "--clipboard-in", WinePath(ir), "--set", "1230=IR #1", "--press",
                              "1004"});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& r = run.report;
  EXPECT_EQ(r["setup"]["result"].integer(), 1);
  const LiveParams p = ParamsOf(r);
  EXPECT_EQ(+p.responseSource[0], kSourceWindowsClipboard);
  EXPECT_EQ(+p.responseChannels[0], 2);
  EXPECT_EQ(+p.responseFrames[0], 7);
  EXPECT_EQ(+p.routingMask, 0);  // a new response starts unrouted: the selection comes back at full scale
  NativeRun n = RunNativeCommand("Real Time Convolver", {doc, "--tab", "IR #1", "--press", "Win Clip"}, ir);
  ASSERT_EQ(n.error, "");
  EXPECT_EQ(r["do"]["result"].integer(), n.report["entryPoints"]["XfmDo"].integer());
  EXPECT_EQ(Differences(ReportSamples(r), Samples(n.document)), 0);

  HarnessRun second =
      RunHarness("livefold", {"--in", WinePath(doc), "--clipboard-in", WinePath(ir), "--set", "1230=IR #2", "--press",
                              "1004", "--finish", "cancel"});
  ASSERT_EQ(second.exitCode, 0) << second.errors;
  ASSERT_EQ(second.report["messageBoxes"].size(), 1u);
  EXPECT_EQ(second.report["messageBoxes"][0]["caption"].text, "Impulse Response loading Error");
  EXPECT_EQ(second.report["messageBoxes"][0]["text"].text,
            "Can't load Impulse Response 2 before loading Impulse Response 1!");
  EXPECT_EQ(+ParamsOf(second.report).responseSource[1], 0);
}

// The preview plays through Wine's own wave output (into the ALSA device of the tests,
// which takes every sample) until Stop gives the dialog back; with no device at all it
// says so and ends by itself. Neither leaves the dialog hanging.
TEST(WineLivefold, PreviewPlaysThroughWinesWaveOutputOrSaysTheDeviceFails) {
  TOVREL_REQUIRE_WINE("livefold");
  const std::string doc = SaveScratchWav("doc.wav", Noise(2, 44100, 8000, 6));
  const std::string block =
      SaveCascadeBlock(SaveScratchWav("ir1.wav", Noise(1, 300, 9000, 7)), SaveScratchWav("ir2.wav", Noise(2, 200, 9000, 8)));
  const std::vector<std::string> open = {"--in", WinePath(doc), "--params-in", WinePath(block), "--samples-limit", "0",
                                         "--set", "1230=Audio", "--press", "1229", "--wait", "1500"};

  std::vector<std::string> args = open;
  args.insert(args.end(), {"--press", "1229", "--wait", "300", "--finish", "cancel"});
  HarnessRun played = RunHarness("livefold", args, {"ALSA_CONFIG_PATH=" + AlsaTestConfig()});
  ASSERT_EQ(played.exitCode, 0) << played.errors;
  const Json& r = played.report;
  EXPECT_EQ(r["messageBoxes"].size(), 0u);
  ASSERT_EQ(r["dialogs"][0]["afterWaits"].size(), 2u);
  EXPECT_GE(AfterWait(r, 0, 1247)["items"].size(), 1u) << "Wine's devices in the list";
  EXPECT_EQ(AfterWait(r, 0, kPreview)["text"].text, "Stop");
  EXPECT_EQ(AfterWait(r, 0, kStatusLine)["text"].text.rfind("Block ", 0), 0u)
      << AfterWait(r, 0, kStatusLine)["text"].text;
  EXPECT_FALSE(AfterWait(r, 0, kOk)["enabled"].boolean);
  EXPECT_EQ(AfterWait(r, 1, kPreview)["text"].text, "Preview");
  EXPECT_EQ(AfterWait(r, 1, kStatusLine)["text"].text, "");
  EXPECT_TRUE(AfterWait(r, 1, kOk)["enabled"].boolean);

  // An ALSA without devices: Wine has no wave output to open.
  const std::string empty = ScratchDir() + "/asound.conf";
  std::fclose(std::fopen(empty.c_str(), "w"));
  args = open;
  args.insert(args.end(), {"--finish", "cancel"});
  HarnessRun failed = RunHarness("livefold", args, {"ALSA_CONFIG_PATH=" + empty});
  ASSERT_EQ(failed.exitCode, 0) << failed.errors;
  const Json& f = failed.report;
  ASSERT_EQ(f["messageBoxes"].size(), 1u);
  EXPECT_EQ(f["messageBoxes"][0]["text"].text, "Error opening Output Device!\n\nPlayback not possible!");
  EXPECT_EQ(f["messageBoxes"][0]["caption"].text, "Output Device Error!");
  EXPECT_FALSE(f["dialogs"][0]["timedOut"].boolean);
  EXPECT_EQ(AfterWait(f, 0, kPreview)["text"].text, "Preview");
  EXPECT_TRUE(AfterWait(f, 0, kOk)["enabled"].boolean);
}

}  // namespace
}  // namespace tovrel::wine
