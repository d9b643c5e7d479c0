// invert and spectrum ("Design inverse filter", "Design spectrum flattening filter")
// under Wine: the designed filters on the real Windows clipboard against the native
// modules' (within one step of 16 bits: the native solve sums in another order), the
// delay range box, and a busy clipboard.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "win32/tests/wine_support.h"

namespace tovrel::wine {
namespace {

// A stereo response: a direct sound and a few reflections per channel.
std::string StereoResponse() {
  Wav ir{2, 48000, 16, {}};
  for (int k = 0; k < 64; ++k) {
    const double left = std::pow(0.8, k) * (k % 3 ? 1 : -1), right = std::pow(0.75, k) * (k % 2 ? -0.5 : 1);
    ir.samples.push_back(static_cast<int16_t>(std::lround(20000 * left)));
    ir.samples.push_back(static_cast<int16_t>(std::lround(15000 * right)));
  }
  std::string path = ScratchDir() + "/stereo-response.wav";
  EXPECT_TRUE(WriteWav(path, ir));
  return path;
}

std::string Within16BitStep(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  if (a.size() != b.size()) return std::to_string(a.size()) + " samples against " + std::to_string(b.size());
  for (size_t i = 0; i < a.size(); ++i)
    if (std::abs(a[i] - b[i]) > 1) return "sample " + std::to_string(i) + ": " + std::to_string(a[i]) + " against " + std::to_string(b[i]);
  return "";
}

void ExpectFilterAsNative(const std::string& module, const std::string& command, const std::vector<std::string>& sets) {
  std::string ir = StereoResponse();
  std::vector<std::string> harnessArgs = {"--in", WinePath(ir)}, nativeArgs = {ir};
  for (const auto& s : sets) {
    harnessArgs.insert(harnessArgs.end(), {"--set", s});
    nativeArgs.insert(nativeArgs.end(), {"--set", s});
  }
  HarnessRun run = RunHarness(module, harnessArgs);
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& r = run.report;
  EXPECT_EQ(r["dialogs"][0]["errors"].size(), 0u);
  EXPECT_EQ(r["do"]["result"].integer(), 0);
  ASSERT_EQ(r["dialogs"].size(), 2u) << "no statistics dialog";
  EXPECT_EQ(r["messageBoxes"].size(), 0u);
  EXPECT_EQ(r["beeps"].integers(), std::vector<long long>{0});
  std::vector<uint8_t> clip = FromHex(r["clipboard"]["wave"]["hex"].text);
  ASSERT_GT(clip.size(), 44u);

  NativeRun native = RunNativeCommand(command, nativeArgs);
  ASSERT_EQ(native.error, "");
  ASSERT_GT(native.clipboard.size(), 44u);
  EXPECT_EQ(std::vector<uint8_t>(clip.begin(), clip.begin() + 44),
            std::vector<uint8_t>(native.clipboard.begin(), native.clipboard.begin() + 44));
  EXPECT_EQ(Within16BitStep(WaveImageSamples(clip), WaveImageSamples(native.clipboard)), "");
}

TEST(WineFilterDesign, InverseFilterAsNative) {
  TOVREL_REQUIRE_WINE("invert");
  ExpectFilterAsNative("invert", "Inverse filter", {"Inverse filter lenght=150", "Delta delay=70"});
}

TEST(WineFilterDesign, DipoleFiltersAsNative) {
  TOVREL_REQUIRE_WINE("spectrum");
  ExpectFilterAsNative("spectrum", "Invert Kirkeby",
                       {"Filter Length (samples)=128", "Lower cut frequency (Hz)=200", "Higher cut frequency (Hz)=16000",
                        "Transition Width (oct)=1", "2x2 Impulse Responses=on"});
}

TEST(WineFilterDesign, DelayOutOfRangeKeepsTheDialogOpenAndBusyClipboardDeliversNothing) {
  TOVREL_REQUIRE_WINE("invert");
  std::string ir = StereoResponse();
  HarnessRun run = RunHarness("invert", {"--in", WinePath(ir), "--set", "Inverse filter lenght=10", "--set",
                                         "Delta delay=74", "--press", "1", "--finish", "cancel"});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& r = run.report;
  EXPECT_EQ(r["setup"]["result"].integer(), 0);
  ASSERT_EQ(r["messageBoxes"].size(), 1u);
  EXPECT_EQ(r["messageBoxes"][0]["text"].text,
            "Delta delay range is:\n0..(inverse filter lenght + impulse response lenght - 1)");
  EXPECT_EQ(r["messageBoxes"][0]["type"].integer() & 0xF0, 0x40) << "not the information icon";

  run = RunHarness("invert", {"--in", WinePath(ir), "--busy-clipboard"});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(run.report["do"]["result"].integer(), 1);
  ASSERT_EQ(run.report["messageBoxes"].size(), 1u);
  EXPECT_EQ(run.report["messageBoxes"][0]["text"].text,
            "Can not access Clipboard Data.\nAnother application or window\nhas the Clipboard opened.");
  EXPECT_EQ(run.report["dialogs"].size(), 1u) << "statistics shown after a failed clipboard";
  EXPECT_EQ(run.report["clipboard"]["formats"].size(), 0u);
}

}  // namespace
}  // namespace tovrel::wine
