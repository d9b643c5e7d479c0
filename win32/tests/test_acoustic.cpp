// acoustic ("Calculate Acoustical Parameters") under Wine: the analysis of a decaying
// response, its results dialog and the text report it copies to the real Windows clipboard,
// against the native run.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "win32/tests/wine_support.h"

namespace tovrel::wine {
namespace {

// Noise under an exponential decay of 60 dB in 0.4 s, after 50 frames of silence.
std::string DecayingResponse() {
  Wav ir{1, 44100, 16, std::vector<int16_t>(22050, 0)};
  uint32_t seed = 12345;
  for (size_t k = 50; k < ir.samples.size(); ++k) {
    seed = seed * 1664525u + 1013904223u;
    double noise = static_cast<double>(seed >> 8) / (1 << 24) * 2 - 1;
    double t = static_cast<double>(k - 50) / 44100;
    ir.samples[k] = static_cast<int16_t>(std::lround(30000 * noise * std::pow(10.0, -3 * t / 0.4)));
  }
  ir.samples[50] = 32767;
  std::string path = ScratchDir() + "/response.wav";
  EXPECT_TRUE(WriteWav(path, ir));
  return path;
}

// Empty when the reports have the same lines and cells, numbers agreeing within 1 %: the
// lowest octave filters amplify last-digit differences of the two C libraries' functions.
std::string ReportDifference(const std::string& a, const std::string& b) {
  std::istringstream sa(a), sb(b);
  std::string la, lb;
  int line = 0;
  while (true) {
    bool ga = static_cast<bool>(std::getline(sa, la)), gb = static_cast<bool>(std::getline(sb, lb));
    ++line;
    if (!ga || !gb) return ga == gb ? "" : "the reports differ in length at line " + std::to_string(line);
    std::istringstream ca(la), cb(lb);
    std::string x, y;
    while (std::getline(ca, x, '\t')) {
      if (!std::getline(cb, y, '\t')) return "line " + std::to_string(line) + " has fewer cells: " + lb;
      char* ex = nullptr;
      char* ey = nullptr;
      double vx = std::strtod(x.c_str(), &ex), vy = std::strtod(y.c_str(), &ey);
      bool numbers = !x.empty() && !y.empty() && *ex == '\0' && *ey == '\0' && ex != x.c_str() && ey != y.c_str();
      bool same = numbers ? std::fabs(vx - vy) <= 0.01 * std::max(std::fabs(vx), std::fabs(vy)) + 1e-9 : x == y;
      if (!same) return "line " + std::to_string(line) + ": " + x + " against " + y;
    }
    if (std::getline(cb, y, '\t')) return "line " + std::to_string(line) + " has more cells: " + lb;
  }
}

TEST(WineAcoustic, ReportOnTheClipboardAsNative) {
  TOVREL_REQUIRE_WINE("acoustic");
  std::string ir = DecayingResponse();
  HarnessRun run = RunHarness("acoustic", {"--in", WinePath(ir), "--dialog", "1", "--press", "1051"});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& r = run.report;
  EXPECT_EQ(r["setup"]["result"].integer(), 1);
  EXPECT_EQ(r["do"]["result"].integer(), 0);
  ASSERT_EQ(r["dialogs"].size(), 2u) << "no results dialog";
  EXPECT_EQ(r["dialogs"][1]["caption"].text, "Acoustical Parameters");
  EXPECT_EQ(r["dialogs"][1]["errors"].size(), 0u);
  EXPECT_EQ(r["messageBoxes"].size(), 0u);
  EXPECT_EQ(r["beeps"].integers(), std::vector<long long>{0});
  std::string text = r["clipboard"]["text"].text;
  EXPECT_NE(text.find("\r\n"), std::string::npos);

  NativeRun native = RunNativeCommand("Acoustical Parameters", {ir, "--press", "Copy to Clipboard"});
  ASSERT_EQ(native.error, "");
  EXPECT_EQ(ReportDifference(text, std::string(native.clipboard.begin(), native.clipboard.end())), "");
}

TEST(WineAcoustic, BusyClipboardKeepsTheResultsDialog) {
  TOVREL_REQUIRE_WINE("acoustic");
  std::string ir = DecayingResponse();
  HarnessRun run =
      RunHarness("acoustic", {"--in", WinePath(ir), "--dialog", "1", "--press", "1051", "--busy-clipboard"});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& r = run.report;
  ASSERT_EQ(r["messageBoxes"].size(), 1u);
  EXPECT_EQ(r["messageBoxes"][0]["caption"].text, "Acoustical Parameters");
  EXPECT_EQ(r["messageBoxes"][0]["text"].text,
            "Can not access Clipboard Data.\nAnother application or window\nhas the Clipboard opened.");
  EXPECT_TRUE(r["messageBoxes"][0]["shown"].boolean);
  EXPECT_FALSE(r["dialogs"][1]["timedOut"].boolean) << "the dialog did not take OK after the box";
  EXPECT_EQ(r["clipboard"]["formats"].size(), 0u);
}

}  // namespace
}  // namespace tovrel::wine
