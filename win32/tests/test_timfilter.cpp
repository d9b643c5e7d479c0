// timfilter ("MLSSA Time Domain Data File") under Wine, driven by the harness's filter
// mode: a TIM file written by the native build reads as the native build reads it; a TIM
// file written under Wine is the native one byte for byte except the moment of writing
// the filter stamps; a TIM round trip keeps title, comment and settings block.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "win32/tests/wine_support.h"

namespace tovrel::wine {
namespace {

constexpr char kModule[] = "timfilter";

std::vector<uint8_t> Bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// The native `tovrel` with a home and module folder of its own; its exit code.
int Native(const std::vector<std::string>& args, std::string* err = nullptr) {
  std::string modules = FindModule(kModule).native;
  std::vector<std::string> argv = {NativeCli()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string error;
  int rc = RunNative(argv, {"TOVREL_HOME=" + ScratchDir(), "TOVREL_MODULE_PATH=" + modules.substr(0, modules.rfind('/'))},
                     nullptr, &error);
  if (err) *err = error;
  return rc;
}

// A TIM file of the native build: one period of a 1023-point MLS.
std::string NativeTim(const std::string& dir) {
  std::string tim = dir + "/mls.tim";
  std::string err;
  EXPECT_EQ(Native({"run", "MLS Signal", "--new", "44100", "--set", "MLS Order=10", "--set", "Amplitude=1000", "-o", tim},
                   &err),
            0)
      << err;
  return tim;
}

// Offset of the settings block's date and time ("MM/DD/YY hh:mm:ss") in a TIM file.
size_t DateOffset(const std::vector<uint8_t>& tim) {
  int32_t length = 0;
  if (tim.size() >= 14) std::memcpy(&length, tim.data() + 10, 4);
  return 14 + static_cast<size_t>(length) * 4 + 80 + 60 + 412;
}
constexpr size_t kDateBytes = 17;

// The file with its stamped date and time blanked.
std::vector<uint8_t> Undated(std::vector<uint8_t> tim) {
  size_t at = DateOffset(tim);
  if (at + kDateBytes <= tim.size()) std::fill(tim.begin() + at, tim.begin() + at + kDateBytes, uint8_t{0});
  return tim;
}

// Items of a read report: type to hex text.
std::vector<std::pair<long long, std::string>> Items(const Json& read) {
  std::vector<std::pair<long long, std::string>> items;
  for (const Json& item : read["items"].elements) items.emplace_back(item["type"].integer(), item["hex"].text);
  return items;
}

class WineTimFilter : public ::testing::Test {
 protected:
  void SetUp() override {
    if (NativeCli().empty()) GTEST_SKIP() << "the tovrel command is not built";
  }
};

TEST_F(WineTimFilter, ReadsANativeTimFileAsNative) {
  TOVREL_REQUIRE_WINE(kModule);
  std::string dir = ScratchDir();
  std::string tim = NativeTim(dir);
  std::string nativeWav = dir + "/native.wav", wineWav = dir + "/wine.wav";
  ASSERT_EQ(Native({"convert", tim, nativeWav}), 0);

  HarnessRun run = RunHarness(kModule, {"--filter-read", WinePath(tim), "--wav-out", WinePath(wineWav)});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& r = run.report;
  EXPECT_EQ(r["query"]["result"].integer(), 0x480);
  EXPECT_FALSE(r["query"]["overrun"].boolean);
  const Json& read = r["read"];
  EXPECT_EQ(read["understands"].integer(), 1);
  ASSERT_TRUE(read["opened"].boolean);
  EXPECT_TRUE(read["ok"].boolean);
  EXPECT_EQ(read["bits"].integer(), 16);
  EXPECT_EQ(read["option"].integer(), 2);
  EXPECT_EQ(read["optionText"].text, "Cross-correlation mode acquired MLSSA");
  EXPECT_EQ(r["messageBoxes"].size(), 0u);

  Wav native, wine;
  std::string error;
  ASSERT_TRUE(ReadWav(nativeWav, native, error)) << error;
  ASSERT_TRUE(ReadWav(wineWav, wine, error)) << error;
  EXPECT_EQ(read["rate"].integer(), native.sampleRate);
  EXPECT_EQ(read["channels"].integer(), native.channels);
  EXPECT_EQ(read["frames"].integer(), static_cast<long long>(native.samples.size()));
  EXPECT_EQ(wine.sampleRate, native.sampleRate);
  EXPECT_EQ(SampleDifference(wine.samples, native.samples), "");
  EXPECT_EQ(read["samples"].integers(), Samples(native));

  // Title, comment, the settings block in three parts and the scale.
  std::vector<long long> types;
  for (const auto& item : Items(read)) types.push_back(item.first);
  EXPECT_EQ(types, (std::vector<long long>{21, 24, 26, 27, 31, 32, 33}));
}

TEST_F(WineTimFilter, WritesAsNativeButForTheMomentOfWriting) {
  TOVREL_REQUIRE_WINE(kModule);
  std::string dir = ScratchDir();
  std::string wav = dir + "/mls.wav";
  ASSERT_EQ(Native({"convert", NativeTim(dir), wav}), 0);

  struct Case {
    std::vector<std::string> sets;
    uint8_t mode;
  };
  for (const Case& c : {Case{{}, 1}, Case{{"Scope=1"}, 0}, Case{{"Asynchronous-correlation=1"}, 2}}) {
    std::string label = c.sets.empty() ? "OK" : c.sets[0];
    std::string nativeTim = dir + "/native.tim", wineTim = dir + "/wine.tim";
    std::vector<std::string> nativeArgs = {"convert", wav, nativeTim};
    std::vector<std::string> args = {"--filter-write", WinePath(wineTim), "--in", WinePath(wav)};
    for (const auto& s : c.sets) {
      nativeArgs.insert(nativeArgs.end(), {"--set", s});
      args.insert(args.end(), {"--set", s});
    }
    ASSERT_EQ(Native(nativeArgs), 0) << label;
    HarnessRun run = RunHarness(kModule, args);
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    const Json& r = run.report;
    ASSERT_EQ(r["dialogs"].size(), 1u) << label;
    EXPECT_EQ(r["dialogs"][0]["caption"].text, "MLSSA acquisition mode");
    EXPECT_EQ(r["dialogs"][0]["errors"].size(), 0u) << label;
    const Json& w = r["write"];
    EXPECT_EQ(w["option"].integer(), c.mode + 1) << label;
    EXPECT_TRUE(w["ok"].boolean) << label;
    EXPECT_EQ(w["closed"].integer(), 1) << label;
    EXPECT_LE(w["largestChunk"].integer(), 8192);

    std::vector<uint8_t> a = Bytes(wineTim), b = Bytes(nativeTim);
    ASSERT_EQ(a.size(), b.size()) << label;
    ASSERT_GT(a.size(), 14u);
    EXPECT_EQ(a[4], c.mode) << label;
    EXPECT_TRUE(Undated(a) == Undated(b)) << label << ": the files differ outside the date and time";
    // The stamp is a date and time of the same form in both.
    size_t at = DateOffset(a);
    std::string stamp(a.begin() + at, a.begin() + at + kDateBytes);
    EXPECT_EQ(stamp[2], '/');
    EXPECT_EQ(stamp[5], '/');
    EXPECT_EQ(stamp[11], ':');
  }
}

TEST_F(WineTimFilter, RoundTripKeepsTitleCommentAndSettings) {
  TOVREL_REQUIRE_WINE(kModule);
  std::string dir = ScratchDir();
  std::string tim = NativeTim(dir);
  std::string nativeTim = dir + "/native-again.tim", wineTim = dir + "/wine-again.tim";
  ASSERT_EQ(Native({"convert", tim, nativeTim}), 0);

  HarnessRun run = RunHarness(kModule, {"--filter-write", WinePath(wineTim), "--from", WinePath(tim)});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& w = run.report["write"];
  EXPECT_EQ(w["option"].integer(), 2);
  EXPECT_EQ(w["closed"].integer(), 1);
  // Every item goes back but the fixed notice (26).
  std::vector<long long> written;
  for (const Json& s : w["specials"].elements) written.push_back(s["type"].integer());
  EXPECT_EQ(written, (std::vector<long long>{21, 24, 27, 31, 32, 33}));
  // Nothing is stamped anew: the settings block comes back as it was read.
  EXPECT_TRUE(Bytes(wineTim) == Bytes(nativeTim)) << "the round trip differs from the native one";

  HarnessRun before = RunHarness(kModule, {"--filter-read", WinePath(tim), "--samples-limit", "0"});
  HarnessRun after = RunHarness(kModule, {"--filter-read", WinePath(wineTim), "--samples-limit", "0"});
  ASSERT_EQ(before.exitCode, 0) << before.errors;
  ASSERT_EQ(after.exitCode, 0) << after.errors;
  // The scale (33) is the peak of the points written, found anew on reading.
  auto kept = [](std::vector<std::pair<long long, std::string>> items) {
    std::erase_if(items, [](const auto& item) { return item.first == 33; });
    return items;
  };
  EXPECT_EQ(kept(Items(after.report["read"])), kept(Items(before.report["read"])));
  EXPECT_EQ(after.report["read"]["checksum"].integer(), before.report["read"]["checksum"].integer());
}

TEST_F(WineTimFilter, CancelledOptionsDialogWritesNothing) {
  TOVREL_REQUIRE_WINE(kModule);
  std::string dir = ScratchDir();
  std::string wav = dir + "/short.wav", tim = dir + "/never.tim";
  ASSERT_TRUE(WriteWav(wav, Wav{1, 48000, 16, {1, -2, 3, -4}}));
  HarnessRun run = RunHarness(kModule, {"--filter-write", WinePath(tim), "--in", WinePath(wav), "--finish", "cancel"});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(run.report["write"]["option"].integer(), 0);
  EXPECT_FALSE(run.report["write"]["opened"].boolean);
  EXPECT_FALSE(Exists(tim));
}

}  // namespace
}  // namespace tovrel::wine
