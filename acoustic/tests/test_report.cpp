#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "acoustic/report.h"

namespace {

AcousticResults Empty() {
  AcousticResults r{};
  std::memset(r.flags, 'n', sizeof r.flags);
  return r;
}

void Set(AcousticResults& r, int ch, int row, int j, float v) {
  const int i = ch * kChannelValues + row * kParameters + j;
  r.values[i] = v;
  r.flags[i] = 'y';
}

TEST(BuildReportText, MonoTable) {
  AcousticResults r = Empty();
  Set(r, 0, 0, kC50, 3.14159f);
  Set(r, 0, 0, kD50, 67.25f);
  Set(r, 0, 0, kTs, 45.0f);
  Set(r, 0, 1, kRt20, 0.0f);
  Set(r, 0, 1, kRRt20, 71.0f);
  Set(r, 0, 10, kC80, -12346.0f);
  Set(r, 0, 2, kC50, std::numeric_limits<float>::infinity());
  r.flags[kNoiseFlagsOffset + 0] = 'y';
  r.flags[kNoiseFlagsOffset + 3] = 'y';
  // A value whose flag is 'n' is never written.
  r.values[5 * kParameters + kEdt] = 9.0f;
  AnalysisSettings s;
  const std::string want =
      "OCTAVE BAND ACOUSTICAL PARAMETERS\r\n\r\n"
      "Band\tLin\t31.5\t63\t125\t250\t500\t1K\t2K\t4K\t8K\t16K\r\n"
      "Parameters\r\n"
      "C50 [dB]\t3.142\t--\tinf\t--\t--\t--\t--\t--\t--\t--\t--\r\n"
      "C80 [dB]\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\t-1.235e+004\r\n"
      "D50 [%]\t67.25\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\r\n"
      "TS [ms]\t45.\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\r\n"
      "EDT [s]\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\r\n"
      "RT20 [s]\t--\t0.\t--\t--\t--\t--\t--\t--\t--\t--\t--\r\n"
      "r RT20\t--\t71.\t--\t--\t--\t--\t--\t--\t--\t--\t--\r\n"
      "RT30 [s]\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\r\n"
      "r RT30\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\r\n"
      "RTU [s]\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\r\n"
      "r RTU\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\r\n"
      "\r\n"
      "Noise Correction:\tyes\tno\tno\tyes\tno\tno\tno\tno\tno\tno\tno\r\n"
      "\r\n"
      "RTU = RT User (-5. dB, -15. dB)\r\n"
      "\r\n";
  EXPECT_EQ(BuildReportText(r, 1, s), want);
}

TEST(BuildReportText, StereoTablesUnderTheirChannelNames) {
  AcousticResults r = Empty();
  Set(r, 0, 0, kEdt, 1.5f);
  Set(r, 1, 0, kEdt, 0.25f);
  r.flags[kNoiseFlagsOffset] = 'y';
  AnalysisSettings s;
  s.noiseCorrection = false;
  s.rtuUpper = -2.5f;
  s.rtuLower = -22.25f;
  const std::string dashes = "\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\r\n";
  auto table = [&](const char* name, const char* edt) {
    return std::string(name) + "\r\n" +
           "Band\tLin\t31.5\t63\t125\t250\t500\t1K\t2K\t4K\t8K\t16K\r\n"
           "Parameters\r\n"
           "C50 [dB]" + dashes + "C80 [dB]" + dashes + "D50 [%]" + dashes + "TS [ms]" + dashes +
           "EDT [s]\t" + edt + "\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\r\n" +
           "RT20 [s]" + dashes + "r RT20" + dashes + "RT30 [s]" + dashes + "r RT30" + dashes +
           "RTU [s]" + dashes + "r RTU" + dashes +
           "\r\nNoise Correction:" + dashes +
           "\r\nRTU = RT User (-2.5 dB, -22.25 dB)\r\n\r\n";
  };
  EXPECT_EQ(BuildReportText(r, 2, s),
            "OCTAVE BAND ACOUSTICAL PARAMETERS\r\n\r\n" + table("Left Channel", "1.5") +
                table("Right Channel", "0.25"));
}

TEST(BuildReportText, LongestValuesFitTheClipboardBlock) {
  AcousticResults r{};
  for (float& v : r.values) v = -1.23456e-4f;
  std::memset(r.flags, 'y', sizeof r.flags);
  AnalysisSettings s;
  s.rtuUpper = -12.345f;
  s.rtuLower = -99.999f;
  for (int channels : {1, 2}) {
    const std::string text = BuildReportText(r, channels, s);
    EXPECT_LT(text.size() + 1, static_cast<std::size_t>(channels * kReportBytesPerChannel)) << channels;
  }
}

TEST(ParseReportText, ReadsBackWhatTheBuilderWrote) {
  unsigned seed = 7;
  auto random = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<float>(static_cast<int>(seed >> 8 & 0xffff) - 32768) * 0.37f;
  };
  for (int channels : {1, 2}) {
    for (bool noise : {false, true}) {
      AcousticResults r = Empty();
      for (int i = 0; i < channels * kChannelValues; ++i) {
        r.values[i] = i % 7 == 0 ? 0.0f : random() * (i % 3 == 0 ? 1e-6f : 1.0f);
        r.flags[i] = i % 5 == 0 ? 'n' : 'y';
      }
      r.values[3] = -std::numeric_limits<float>::infinity();
      for (int row = 0; row < kRows; ++row) r.flags[kNoiseFlagsOffset + row] = row % 2 ? 'y' : 'n';
      AnalysisSettings s;
      s.noiseCorrection = noise;
      s.rtuUpper = -7.5f;
      s.rtuLower = -31.25f;
      const std::string text = BuildReportText(r, channels, s);
      ParsedReport p;
      ASSERT_TRUE(ParseReportText(text, p)) << channels << noise;
      EXPECT_EQ(p.channels, channels);
      EXPECT_EQ(p.noiseCorrection, noise);
      EXPECT_EQ(p.rtuUpper, -7.5f);
      EXPECT_EQ(p.rtuLower, -31.25f);
      EXPECT_EQ(std::memcmp(p.results.flags, r.flags, static_cast<std::size_t>(channels) * kChannelValues), 0);
      EXPECT_TRUE(std::isinf(p.results.values[3]) && p.results.values[3] < 0);
      AnalysisSettings back;
      back.noiseCorrection = p.noiseCorrection;
      back.rtuUpper = p.rtuUpper;
      back.rtuLower = p.rtuLower;
      EXPECT_EQ(BuildReportText(p.results, p.channels, back), text);
      // Anything else is no report: a cut text, a changed label, a value that is no number.
      EXPECT_FALSE(ParseReportText(text.substr(0, text.size() - 2), p));
      std::string changed = text;
      changed.replace(changed.find("EDT [s]"), 3, "EDX");
      EXPECT_FALSE(ParseReportText(changed, p));
      changed = text;
      changed.replace(changed.find("\t--\t"), 4, "\tx1\t");
      EXPECT_FALSE(ParseReportText(changed, p));
    }
  }
}

}  // namespace
