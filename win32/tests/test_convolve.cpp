// convolve ("Convolve with Clipboard") under Wine: a stereo selection convolved with a
// stereo response from the real Windows clipboard grows the document exactly as the
// native module does, in plain stereo filtering and with the 2x2 response; clipboard
// data whose length lies past its block is refused with the format message.
#include <gtest/gtest.h>

#include <cstring>

#include "win32/tests/wine_support.h"

namespace tovrel::wine {
namespace {

TEST(WineConvolve, GrowsTheDocumentAsNative) {
  TOVREL_REQUIRE_WINE("convolve");
  const std::string doc = SaveScratchWav("doc.wav", Noise(2, 700, 8000, 1));
  const std::string ir = SaveScratchWav("ir.wav", Noise(2, 61, 3000, 2));
  const std::vector<std::vector<std::string>> modes = {
      {"--set", "1008=on"},                                                  // E
      {"--set", "1008=on", "--set", "1004=on", "--set", "1005=on"},          // Q
      {"--set", "1001=on", "--set", "1030=off", "--set", "1031=30"},         // G, saturating
  };
  for (const auto& sets : modes) {
    std::vector<std::string> args = {"--in", WinePath(doc), "--select", "10:609", "--clipboard-in", WinePath(ir)};
    args.insert(args.end(), sets.begin(), sets.end());
    HarnessRun run = RunHarness("convolve", args);
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    const Json& r = run.report;
    EXPECT_EQ(r["setup"]["result"].integer(), 1);
    EXPECT_EQ(r["messageBoxes"].size(), 0u);
    ASSERT_EQ(r["dialogs"].size(), 2u) << "no result dialog";

    std::vector<std::string> native = {doc, "--select", "10:609"};
    native.insert(native.end(), sets.begin(), sets.end());
    NativeRun n = RunNativeCommand("Convolve with Clipboard", native, ir);
    ASSERT_EQ(n.error, "");
    EXPECT_EQ(r["do"]["result"].integer(), n.report["entryPoints"]["XfmDo"].integer());
    EXPECT_EQ(r["context"]["selEnd"].integer(), n.report["document"]["after"]["selection"]["end"].integer());
    // Transforms of different C libraries may round a last bit apart: one unit at the most.
    const std::vector<long long> a = ReportSamples(r), b = Samples(n.document);
    ASSERT_EQ(a.size(), b.size());
    long off = 0;
    for (std::size_t k = 0; k < a.size(); ++k) off += std::llabs(a[k] - b[k]) > 1;
    EXPECT_EQ(off, 0);
  }
}

TEST(WineConvolve, DataLengthPastTheBlockIsRefused) {
  TOVREL_REQUIRE_WINE("convolve");
  const std::string doc = SaveScratchWav("doc.wav", Noise(1, 100, 8000, 3));
  Wav ir = Noise(1, 10, 3000, 4);
  const std::string path = SaveScratchWav("ir.wav", ir);
  // The length at offset 40 says 4000 bytes; the block holds 20.
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  const unsigned char length[4] = {0xA0, 0x0F, 0, 0};
  std::fseek(f, 40, SEEK_SET);
  std::fwrite(length, 1, 4, f);
  std::fclose(f);
  HarnessRun run = RunHarness("convolve", {"--in", WinePath(doc), "--clipboard-in", WinePath(path)});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& r = run.report;
  EXPECT_EQ(r["setup"]["result"].integer(), 0);
  ASSERT_EQ(r["messageBoxes"].size(), 1u);
  EXPECT_EQ(r["messageBoxes"][0]["text"].text,
            "The Convolution Effect does not recognize\nthe format of Clipboard Data.");
}

}  // namespace
}  // namespace tovrel::wine
