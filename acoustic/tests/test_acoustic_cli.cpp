// The acoustical parameters as the tovrel command prints them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/testing.h"
#include "frame/clipwave.h"

namespace fs = std::filesystem;

namespace {

class AcousticCli : public tovrel::cli::testing::CommandTest {
 protected:
  std::string Wav(const std::string& name, int channels, long rate, const std::vector<int16_t>& samples) {
    std::vector<char> image(kWavHeaderBytes + samples.size() * 2);
    WriteWavHeader(image.data(), channels, rate, static_cast<uint32_t>(samples.size() * 2));
    for (std::size_t k = 0; k < samples.size(); ++k) {
      image[kWavHeaderBytes + 2 * k] = static_cast<char>(samples[k] & 0xff);
      image[kWavHeaderBytes + 2 * k + 1] = static_cast<char>((samples[k] >> 8) & 0xff);
    }
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    return "'" + path + "'";
  }
};

std::vector<int16_t> Decay(long rate, int channels, double seconds) {
  std::vector<int16_t> x(static_cast<std::size_t>(rate * seconds) * channels);
  unsigned seed = 1;
  for (std::size_t k = 0; k < x.size(); ++k) {
    seed = seed * 1103515245u + 12345u;
    const double noise = static_cast<double>((seed >> 8) & 0xffff) / 32768.0 - 1.0;
    const double t = static_cast<double>(k / channels) / rate;
    x[k] = static_cast<int16_t>(std::lround(30000 * noise * std::pow(10.0, -3.0 * t / (0.4 + 0.2 * (k % channels)))));
  }
  x[0] = 30000;
  return x;
}

TEST_F(AcousticCli, PrintsTheReportThatCopyPlacesOnTheClipboard) {
  for (int channels : {1, 2}) {
    const std::string ir = Wav("ir.wav", channels, 44100, Decay(44100, channels, 0.8));
    std::string printed, saved;
    ASSERT_EQ(Run("run \"Acoustical Parameters\" " + ir + " --press \"Copy to Clipboard\"", &printed), 0);
    ASSERT_EQ(Run("clip save '" + dir_ + "/report.txt'"), 0);
    saved = Slurp(dir_ + "/report.txt");
    EXPECT_EQ(printed, saved) << channels;
    EXPECT_EQ(printed.rfind("OCTAVE BAND ACOUSTICAL PARAMETERS\r\n\r\n", 0), 0u);
    EXPECT_EQ(printed.find("Right Channel\r\n") != std::string::npos, channels == 2);
    // Without the press the report is printed all the same, and the clipboard is left alone.
    ASSERT_EQ(Run("clip clear"), 0);
    std::string again;
    ASSERT_EQ(Run("run \"Acoustical Parameters\" " + ir, &again), 0);
    EXPECT_EQ(again, printed);
    std::string shown;
    Run("clip show", &shown);
    EXPECT_EQ(shown.find("OCTAVE BAND"), std::string::npos) << shown;
  }
}

TEST_F(AcousticCli, JsonHoldsEveryValueAndInfiniteClarity) {
  // A 20 ms decay into a tail of constant magnitude: noise correction removes the whole
  // tail, so no energy is left after 50 or 80 ms.
  std::vector<int16_t> x(8000);
  for (std::size_t k = 0; k < x.size(); ++k) {
    const double decay = 20000 * std::pow(10.0, -3.0 * static_cast<double>(k) / 8000 / 0.02);
    x[k] = static_cast<int16_t>(k % 2 ? -std::max(decay, 10.0) : std::max(decay, 10.0));
  }
  const std::string ir = Wav("ir.wav", 1, 8000, x);
  std::string text, json;
  ASSERT_EQ(Run("run \"Acoustical Parameters\" " + ir, &text), 0);
  EXPECT_NE(text.find("C50 [dB]\tinf\t"), std::string::npos) << text;
  ASSERT_EQ(Run("run \"Acoustical Parameters\" " + ir + " --json", &json), 0);
  EXPECT_NE(json.find("\"C50\":{\"value\":\"inf\",\"valid\":true,\"unit\":\"dB\"}"), std::string::npos) << json;
  EXPECT_NE(json.find("\"D50\":{\"value\":100,\"valid\":true,\"unit\":\"%\"}"), std::string::npos);
  EXPECT_NE(json.find("\"channel\":\"mono\""), std::string::npos);
  EXPECT_NE(json.find("\"band\":\"Lin\",\"centreHz\":null,\"noiseCorrected\":true"), std::string::npos);
  // 8 kHz: the 4 kHz band is above the highest centre and has no values.
  EXPECT_NE(json.find("\"band\":\"4K\",\"centreHz\":4000,\"noiseCorrected\":false,\"parameters\":{\"C50\":{\"value\":null,"
                      "\"valid\":false"),
            std::string::npos);
  EXPECT_NE(json.find("\"report\":\"OCTAVE BAND ACOUSTICAL PARAMETERS\\r\\n"), std::string::npos);
}

TEST_F(AcousticCli, NoReportWithoutAFirstArrival) {
  const std::string ir = Wav("ir.wav", 1, 8000, std::vector<int16_t>(4000, 100));
  std::string out;
  EXPECT_NE(Run("run \"Acoustical Parameters\" " + ir, &out), 0);
  EXPECT_TRUE(out.empty()) << out;
  EXPECT_NE(Slurp(dir_ + "/err").find("Can not calculate First Arrival Time."), std::string::npos);
  ASSERT_NE(Run("run \"Acoustical Parameters\" " + ir + " --json", &out), 0);
  EXPECT_EQ(out.find("\"acoustic\":{"), std::string::npos);
}

TEST_F(AcousticCli, DemoEndsWithTheParametersOfBothResponses) {
  std::string out;
  ASSERT_EQ(Run("demo --dir '" + dir_ + "/demo'", &out), 0) << Slurp(dir_ + "/err");
  const std::size_t step = out.find("5. \"Calculate Acoustical Parameters\" of each (recovered | true):\n");
  ASSERT_NE(step, std::string::npos) << out;
  const std::size_t lin = out.find("\n   Lin ", step);
  ASSERT_NE(lin, std::string::npos) << out;
  // EDT, RT20, RT30 of the wide band: recovered | true, close to each other.
  const char* p = out.c_str() + lin + 9;
  for (int j = 0; j < 3; ++j) {
    char* end = nullptr;
    const double recovered = std::strtod(p, &end);
    ASSERT_EQ(std::string(end, 3), " | ");
    const double truth = std::strtod(end + 3, &end);
    EXPECT_GT(truth, 0.05);
    EXPECT_NEAR(recovered, truth, 0.02 * truth) << j;
    p = end;
  }
  EXPECT_EQ(out.substr(out.size() - 1), "\n");
}

}  // namespace
