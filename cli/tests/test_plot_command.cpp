// tovrel plot: the decay lines agree with the acoustic module, the pictures match their
// references, and bad input is refused with the documented exit statuses.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "cli/testing.h"
#include "cli/tests/sound_files.h"
#include "platform/portable/faces.h"

namespace {

class PlotCommand : public tovrel::cli::testing::CommandTest {
 protected:
  std::string Wav(const std::string& name, long rate, const std::vector<short>& samples, int channels = 1) {
    return tovrel::cli::testing::WriteSoundFile(dir_ + "/" + name, samples, rate, channels);
  }
  // A room's response: the direct sound at 10 ms, then noise decaying by 60 dB in rt seconds.
  static std::vector<short> Room(long rate, double seconds, double rt, double peak = 32000) {
    std::mt19937 random(7);
    std::vector<short> x(static_cast<std::size_t>(rate * seconds));
    const std::size_t direct = static_cast<std::size_t>(rate / 100);
    x[direct] = static_cast<short>(peak);
    for (std::size_t k = direct + 1; k < x.size(); ++k) {
      const double t = static_cast<double>(k - direct) / rate;
      const double u = static_cast<double>(random()) / 4294967296.0 - 0.5;
      x[k] = static_cast<short>(std::lround(peak / 2 * u * std::pow(10.0, -3.0 * t / rt)));
    }
    return x;
  }
  // A number after "key": in a JSON text, from `from` on.
  static double Number(const std::string& json, const std::string& key, std::size_t from = 0) {
    const std::size_t at = json.find("\"" + key + "\":", from);
    EXPECT_NE(at, std::string::npos) << key;
    return at == std::string::npos ? NAN : std::strtod(json.c_str() + at + key.size() + 3, nullptr);
  }
};

TEST_F(PlotCommand, DecayLinesHaveTheModulesSlopeAndItsStoredRanges) {
  const std::string room = Wav("room.wav", 16000, Room(16000, 1.5, 0.5));
  // The user's own RTU range, stored by a run; the plot reads it and leaves it stored.
  std::string run;
  ASSERT_EQ(Run("run \"Acoustical Parameters\" '" + room + "' --set 1001=-10 --set 1002=-20 --json", &run), 0);
  std::string out, err;
  ASSERT_EQ(Run("plot '" + room + "' -o '" + dir_ + "/room.svg' --view decay --json", &out, &err), 0) << err;
  const std::size_t lin = out.find("\"band\":\"Lin\"");
  ASSERT_NE(lin, std::string::npos) << out;
  struct Range {
    const char* name;
    double top, bottom;
  };
  for (const Range& r : {Range{"RT20", -5, -25}, Range{"RT30", -5, -35}, Range{"RTU", -10, -20}}) {
    const std::size_t at = out.find(std::string("\"") + r.name + "\":", lin);
    const double seconds = Number(out, "seconds", at);
    EXPECT_NEAR(seconds, 0.5, 0.03) << r.name;
    EXPECT_NEAR(Number(out, "slopeDbPerSecond", at), -60.0 / seconds, 1e-9) << r.name;
    // The line runs over the range it was fitted to.
    EXPECT_NEAR(Number(out, "startDb", at), r.top, 1.0) << r.name;
    EXPECT_NEAR(Number(out, "endDb", at), r.bottom, 1.0) << r.name;
    EXPECT_NEAR(Number(out, "endSeconds", at) - Number(out, "startSeconds", at), (r.top - r.bottom) / 60 * 0.5, 0.02);
  }
  // The same decay times as the module's own run reports.
  const std::size_t runLin = run.find("\"band\":\"Lin\"");
  ASSERT_NE(runLin, std::string::npos) << run;
  EXPECT_NEAR(Number(out, "seconds", out.find("\"RT30\":", lin)),
              Number(run, "value", run.find("\"RT30\":", runLin)), 1e-6);
  std::string after;
  ASSERT_EQ(Run("run \"Acoustical Parameters\" '" + room + "' --json", &after), 0);
  EXPECT_NE(after.find("\"rtuUpperDb\":-10"), std::string::npos) << after;
}

TEST_F(PlotCommand, TheRightChannelHasItsOwnDecay) {
  const std::vector<short> left = Room(16000, 1.5, 0.5), right = Room(16000, 1.5, 0.25);
  std::vector<short> stereo;
  for (std::size_t k = 0; k < left.size(); ++k) stereo.insert(stereo.end(), {left[k], right[k]});
  const std::string room = Wav("stereo.wav", 16000, stereo, 2);
  for (const auto& [channel, rt] : {std::pair{"1", 0.5}, std::pair{"2", 0.25}}) {
    std::string out, err;
    ASSERT_EQ(Run("plot '" + room + "' -o '" + dir_ + "/s.svg' --view decay --json --channel " + channel, &out, &err), 0)
        << err;
    EXPECT_NEAR(Number(out, "seconds", out.find("\"RT30\":")), rt, 0.03 * rt) << "channel " << channel;
  }
  EXPECT_NE(Slurp(dir_ + "/s.svg").find("stereo.wav (right channel)"), std::string::npos);
}

TEST_F(PlotCommand, PicturesMatchTheirReferences) {
  const std::string room = Wav("room.wav", 16000, Room(16000, 0.6, 0.3));
  std::string err;
  ASSERT_EQ(Run("plot '" + room + "' -o '" + dir_ + "/all.png'", nullptr, &err), 0) << err;
  const std::string reference = std::string(TOVREL_PLOT_REFERENCES) + "/room_all.png";
  if (std::getenv("TOVREL_UPDATE_REFERENCES")) std::filesystem::copy_file(dir_ + "/all.png", reference,
                                                                          std::filesystem::copy_options::overwrite_existing);
  std::string error;
  auto got = tovrel::portable::ReadPng(dir_ + "/all.png", &error);
  auto want = tovrel::portable::ReadPng(reference, &error);
  ASSERT_TRUE(got && want) << error;
  ASSERT_EQ(got->width, want->width);
  ASSERT_EQ(got->height, want->height);
  // Text may be smoothed a little differently elsewhere; curves and axes may not move.
  long differing = 0;
  for (std::size_t k = 0; k < got->pixels.size(); ++k)
    for (int shift : {0, 8, 16}) {
      const int a = static_cast<int>((got->pixels[k] >> shift) & 0xff), b = static_cast<int>((want->pixels[k] >> shift) & 0xff);
      if (std::abs(a - b) > 64) {
        ++differing;
        break;
      }
    }
  EXPECT_LT(differing, static_cast<long>(got->pixels.size() / 500)) << "pixels that differ from the reference";

  // The clipboard's response by default; its SVG names what it shows.
  ASSERT_EQ(Run("clip load '" + room + "'"), 0);
  ASSERT_EQ(Run("plot -o '" + dir_ + "/clip.svg'", nullptr, &err), 0) << err;
  const std::string svg = Slurp(dir_ + "/clip.svg");
  for (const char* text : {">clipboard, 16000 Hz, 9600 frames (0.6 s)<", ">Wide band (Lin), noise corrected<", ">4 kHz",
                           ">RT30 (-5 to -35 dB)<", ">Frequency (Hz)<", ">Time (ms)<"})
    EXPECT_NE(svg.find(text), std::string::npos) << text;
}

TEST_F(PlotCommand, RefusesBadInputWithoutWritingAnything) {
  const std::string out = dir_ + "/out.png";
  const std::string room = Wav("room.wav", 16000, Room(16000, 0.6, 0.3));
  struct Case {
    std::string args;
    int status;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"'" + dir_ + "/missing.wav' -o '" + out + "'", 3, "missing.wav"},
      {"'" + Wav("silent.wav", 16000, std::vector<short>(4000, 0)) + "' -o '" + out + "'", 1, "silent.wav is silent"},
      {"'" + Wav("short.wav", 16000, std::vector<short>(5, 1000)) + "' -o '" + out + "'", 1, "too short to plot: 5 frames"},
      {"'" + room + "' -o '" + out + "' --view spectrum", 2, "--view: no view \"spectrum\""},
      {"'" + room + "' -o '" + out + "' --smoothing 3", 2, "--smoothing takes 1/N"},
      {"'" + room + "' -o '" + out + "' --channel 2", 2, "has only one channel"},
      {"'" + room + "' -o '" + dir_ + "/out.txt'", 3, "written as .png or .svg"},
      {"'" + room + "' -o '" + dir_ + "/no/such/folder/out.png'", 3, ""},
      {"clipboard -o '" + out + "'", 3, "the clipboard holds no 16-bit mono or stereo wave data"},
      // Below the first-arrival threshold the module has no decay to give.
      {"'" + Wav("quiet.wav", 16000, Room(16000, 0.6, 0.3, 5000)) + "' -o '" + out + "'", 1, "First Arrival"},
  };
  for (const Case& c : cases) {
    std::string err;
    EXPECT_EQ(Run("plot " + c.args, nullptr, &err), c.status) << c.args << "\n" << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << c.args << "\n" << err;
    EXPECT_FALSE(std::filesystem::exists(out)) << c.args;
  }
  // Views that need no decay plot a quiet response all the same.
  EXPECT_EQ(Run("plot '" + dir_ + "/quiet.wav' -o '" + out + "' --view magnitude --smoothing 1/6"), 0);
  EXPECT_TRUE(std::filesystem::exists(out));
}

}  // namespace
