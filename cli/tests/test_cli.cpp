// The tovrel command as scripts use it: its exit statuses, its files and its JSON.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/testing.h"
#include "cli/tests/sound_files.h"

namespace fs = std::filesystem;

namespace {

class Cli : public tovrel::cli::testing::CommandTest {
 protected:
  static std::vector<short> ReadWav(const std::string& path, int* channels = nullptr) {
    return tovrel::cli::testing::ReadSoundFile(path, channels);
  }
};

TEST_F(Cli, ListsTheGenerator) {
  std::string out;
  ASSERT_EQ(Run("list", &out), 0);
  EXPECT_NE(out.find("seqsource"), std::string::npos);
  EXPECT_NE(out.find("Tovrel\\MLS Signal"), std::string::npos);
  EXPECT_NE(out.find("Generate MLS Signal"), std::string::npos);
  ASSERT_EQ(Run("list --json", &out), 0);
  EXPECT_NE(out.find("\"menuPath\":\"Tovrel\\\\MLS Signal\""), std::string::npos);
}

TEST_F(Cli, RunWritesTheSequenceReportsItAndKeepsTheSettings) {
  std::string out, err;
  const std::string x = dir_ + "/x.wav";
  ASSERT_EQ(Run("run \"MLS Signal\" --new 44100:1 --set \"MLS Order=3\" --set Amplitude=1000 -o '" + x + "' --json",
                &out, &err),
            0)
      << err;
  EXPECT_EQ(ReadWav(x), (std::vector<short>{-1000, -1000, 1000, -1000, 1000, 1000, -1000}));
  EXPECT_NE(out.find("\"XfmDo\":7"), std::string::npos) << out;
  EXPECT_NE(out.find("\"id\":1034,\"kind\":\"combobox\",\"label\":\"&MLS Order\",\"value\":\"3\""), std::string::npos)
      << out;

  // The next run starts from these settings, in stereo with equal channels.
  const std::string y = dir_ + "/y.wav";
  ASSERT_EQ(Run("run seqsource --new 48000:2 -o '" + y + "'"), 0);
  int channels = 0;
  std::vector<short> s = ReadWav(y, &channels);
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(s, (std::vector<short>{-1000, -1000, -1000, -1000, 1000, 1000, -1000, -1000, 1000, 1000, 1000, 1000,
                                   -1000, -1000}));
}

TEST_F(Cli, ExitStatusesTellUsageDocumentAndModuleFailures) {
  std::string err;
  EXPECT_EQ(Run("run \"MLS Signal\" --new 44100 --set \"MLS Ordr=3\"", nullptr, &err), 2);
  EXPECT_NE(err.find("\"MLS Order\""), std::string::npos) << err;
  EXPECT_NE(err.find("\"Amplitude\""), std::string::npos) << err;
  EXPECT_EQ(Run("run \"MLS Signal\" --new 44100 --set \"MLS Order=22\"", nullptr, &err), 2);
  EXPECT_NE(err.find("\"21\""), std::string::npos) << err;
  EXPECT_EQ(Run("run \"No Such Command\" --new 44100", nullptr, &err), 2);
  EXPECT_NE(err.find("MLS Signal"), std::string::npos);
  EXPECT_EQ(Run("run \"MLS Signal\" --new 44100:3"), 2);
  EXPECT_EQ(Run("run \"MLS Signal\" '" + dir_ + "/missing.wav'", nullptr, &err), 3);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_EQ(Run("run \"MLS Signal\" --new 44100 --press Cancel", nullptr, &err), 1);
  EXPECT_EQ(Run("run \"MLS Signal\" --new 44100 -o '" + dir_ + "/no/such/dir/x.wav'"), 3);
  EXPECT_EQ(Run("frobnicate"), 2);
}

TEST_F(Cli, ARunThatDidNotCompleteLeavesTheOutputAlone) {
  const std::string keep = dir_ + "/keep.wav";
  for (const std::string how : {"--set Repetitions=0", "--press Cancel"}) {
    {
      std::ofstream(keep) << "precious";
    }
    EXPECT_EQ(Run("run \"Multi MLS Signal\" --new 48000 " + how + " -o '" + keep + "'"), 1) << how;
    std::ifstream in(keep);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "precious") << how;
  }
}

// A value its field cannot hold is refused with the field and its range, said once; with
// --json every error is a JSON object.
TEST_F(Cli, ErrorsAreSaidOnceAndAnsweredInJson) {
  std::string out, err;
  for (const char* typed : {"32768", "abc", "1e3"}) {
    EXPECT_EQ(Run(std::string("run \"MLS Signal\" --new 44100 --set Amplitude=") + typed, &out, &err), 1) << typed;
    EXPECT_EQ(err, "Generate MLS Signal: Amplitude must be a whole number from -32767 to 32767.\n") << typed;
  }
  EXPECT_EQ(Run("run \"MLS Signal\" --new 44100 --set Amplitude=40000 --json", &out, &err), 1);
  EXPECT_NE(out.find("\"status\":\"failed\""), std::string::npos) << out;
  EXPECT_NE(out.find("Amplitude must be a whole number from -32767 to 32767."), std::string::npos) << out;
  EXPECT_EQ(Run("run \"MLS Signal\" '" + dir_ + "/missing.wav' --json", &out, &err), 3);
  EXPECT_EQ(out.rfind("{\"status\":\"document error\",\"exitCode\":3,\"message\":\"", 0), 0u) << out;
  EXPECT_EQ(err, "");
  EXPECT_EQ(Run("run \"MLS Signal\" --new 44100 --bogus --json", &out), 2);
  EXPECT_NE(out.find("\"status\":\"usage error\""), std::string::npos) << out;
  EXPECT_EQ(Run("describe nothing --json", &out), 2);
  EXPECT_NE(out.find("\"exitCode\":2"), std::string::npos) << out;
  EXPECT_EQ(Run("frobnicate", &out, &err), 2);
  EXPECT_NE(err.find("unknown command \"frobnicate\" (commands: list, describe, run"), std::string::npos) << err;
  EXPECT_EQ(Run("--version", &out), 0);
  EXPECT_EQ(out.rfind("tovrel ", 0), 0u) << out;
}

// describe says what every edit takes and what every list offers, in plain text too.
TEST_F(Cli, DescribeGivesRangesItemsAndTheTapSets) {
  std::string out;
  ASSERT_EQ(Run("describe \"Multi MLS Signal\"", &out), 0);
  EXPECT_NE(out.find("takes a whole number from 1 to 32767 periods"), std::string::npos) << out;
  EXPECT_NE(out.find("items \"2\", \"3\""), std::string::npos) << out;
  EXPECT_NE(out.find("12 A taps 2,10,11,12"), std::string::npos) << out;
  ASSERT_EQ(Run("describe \"Acoustical Parameters\" --json", &out), 0);
  EXPECT_NE(out.find("\"range\":\"a number from -99 to 0 dB; relative"), std::string::npos) << out;
  ASSERT_EQ(Run("describe \"Inverse filter\"", &out), 0);
  EXPECT_NE(out.find("0 or below closes the dialog as if cancelled"), std::string::npos) << out;
}

// Settings from an earlier run are said; --defaults runs without them and keeps them;
// reset forgets them. --save-clip keeps the run's result without the clipboard.
TEST_F(Cli, SettingsAreVisibleAndResettableAndResultsCanBeSaved) {
  std::string out, err;
  const std::string mls = dir_ + "/mls.wav";
  ASSERT_EQ(Run("run \"MLS Signal\" --new 8000 --set \"MLS Order=4\" --set Amplitude=500 -o '" + mls + "'", &out, &err), 0);
  EXPECT_EQ(err.find("earlier run"), std::string::npos) << err;
  ASSERT_EQ(Run("run \"MLS Signal\" --new 8000 -o '" + mls + "'", &out, &err), 0);
  EXPECT_NE(err.find("settings of an earlier run: MLS Order=4, Amplitude=500"), std::string::npos) << err;
  ASSERT_EQ(Run("run \"MLS Signal\" --new 8000 --defaults --json", &out), 0);
  EXPECT_NE(out.find("\"settings\":{\"MLS Order\":\"15 B\",\"Amplitude\":\"16384\"},\"settingsFrom\":\"defaults\""),
            std::string::npos) << out;
  ASSERT_EQ(Run("run \"MLS Signal\" --new 8000 --json -o '" + mls + "'", &out), 0);
  EXPECT_NE(out.find("\"settingsFrom\":\"earlier run\""), std::string::npos) << out;
  EXPECT_EQ(ReadWav(mls).size(), 15u);  // --defaults left the stored order 4

  // The deconvolved response goes to the file as WAV, the clipboard keeps it too.
  const std::string response = dir_ + "/response.wav";
  ASSERT_EQ(Run("run \"Deconvolve MLS Signal\" '" + mls + "' --set \"MLS Order=4\" --save-clip '" + response + "'", &out, &err), 0) << err;
  EXPECT_EQ(ReadWav(response).size(), 15u);
  EXPECT_EQ(Run("run \"MLS Signal\" --new 8000 --save-clip '" + dir_ + "/none.wav'", &out, &err), 1);
  EXPECT_NE(err.find("placed nothing on the clipboard"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(dir_ + "/none.wav"));

  ASSERT_EQ(Run("reset \"MLS Signal\"", &out), 0);
  EXPECT_EQ(out, "seqsource: back to its defaults\n");
  ASSERT_EQ(Run("run \"MLS Signal\" --new 8000 -o '" + mls + "'", &out, &err), 0);
  EXPECT_EQ(ReadWav(mls).size(), 32767u);
  EXPECT_EQ(Run("reset nothing"), 2);
}

TEST_F(Cli, ClipboardLoadsShowsSavesAndClears) {
  // A WAV file made by the generator goes onto the clipboard and back out byte for byte.
  const std::string x = dir_ + "/x.wav";
  ASSERT_EQ(Run("run \"MLS Signal\" --new 8000 --set \"MLS Order=4\" --set Amplitude=500 -o '" + x + "'"), 0);
  std::string out;
  ASSERT_EQ(Run("clip load '" + x + "'"), 0);
  ASSERT_EQ(Run("clip show", &out), 0);
  EXPECT_NE(out.find("8000 Hz, 1 channel, 16-bit, 15 frames, peak 500"), std::string::npos) << out;
  const std::string saved = dir_ + "/saved.wav";
  ASSERT_EQ(Run("clip save '" + saved + "'"), 0);
  EXPECT_EQ(ReadWav(saved), ReadWav(x));
  EXPECT_EQ(fs::file_size(saved), 44u + 30u);  // the canonical image, nothing more

  std::ofstream(dir_ + "/note.txt") << "C50\t1.5\n";
  ASSERT_EQ(Run("clip load '" + dir_ + "/note.txt'"), 0);
  ASSERT_EQ(Run("clip show --json", &out), 0);
  EXPECT_NE(out.find("\"text\":\"C50\\t1.5\\n\""), std::string::npos) << out;
  ASSERT_EQ(Run("clip clear"), 0);
  ASSERT_EQ(Run("clip show", &out), 0);
  EXPECT_NE(out.find("empty"), std::string::npos);
  EXPECT_EQ(Run("clip save '" + dir_ + "/nothing.wav'"), 1);
}

TEST_F(Cli, DemoMeasuresTheSimulatedRoom) {
  std::string out;
  const std::string demo = dir_ + "/demo";
  ASSERT_EQ(Run("demo --dir '" + demo + "'", &out), 0) << out;
  EXPECT_EQ(ReadWav(demo + "/excitation.wav").size(), 32767u);
  EXPECT_EQ(ReadWav(demo + "/recording.wav").size(), 4u * 32767u);
  if (fs::exists(demo + "/response.wav")) {
    // The recovered response matches the room's own to within the noise of the recording.
    std::vector<short> recovered = ReadWav(demo + "/response.wav"), truth = ReadWav(demo + "/true-response.wav");
    ASSERT_EQ(recovered.size(), truth.size());
    double signal = 0, difference = 0;
    for (std::size_t k = 0; k < truth.size(); ++k) {
      signal += double(truth[k]) * truth[k];
      difference += double(recovered[k] - truth[k]) * (recovered[k] - truth[k]);
    }
    EXPECT_LT(10 * std::log10(difference / signal), -50.0);
    EXPECT_NE(out.find("Rescaled from: "), std::string::npos);
  }
  if (fs::exists(demo + "/sweep-response.wav")) {
    // The sweeps find the room's direct sound at 1 ms, and the square term's 2nd harmonic
    // in its own window, about 45 dB lower.
    auto peakAt = [](const std::vector<short>& r) {
      return std::max_element(r.begin(), r.end(), [](short a, short b) { return std::abs(a) < std::abs(b); }) - r.begin();
    };
    const std::vector<short> linear = ReadWav(demo + "/sweep-response.wav");
    const std::vector<short> harmonic = ReadWav(demo + "/sweep-harmonic2.wav");
    ASSERT_EQ(linear.size(), 32767u);
    ASSERT_EQ(harmonic.size(), 8192u);
    EXPECT_EQ(peakAt(linear), 48);
    EXPECT_NEAR(static_cast<double>(peakAt(harmonic)), 48, 4);
    const double db = 20 * std::log10(std::abs(linear[48]) / static_cast<double>(std::abs(harmonic[peakAt(harmonic)])));
    EXPECT_NEAR(db, 45, 3);
  }
}

}  // namespace

namespace {

TEST_F(Cli, TimFilesOpenSaveAndConvertThroughTheFilter) {
  const std::string tim = dir_ + "/a.tim", wav = dir_ + "/a.wav", back = dir_ + "/b.tim";
  ASSERT_EQ(Run("run \"MLS Signal\" --new 44100 --set \"MLS Order=10\" --set Amplitude=1000 -o '" + tim + "'"), 0);
  ASSERT_EQ(Run("convert '" + tim + "' '" + wav + "'"), 0);
  ASSERT_EQ(Run("run \"MLS Signal\" --new 44100 -o '" + dir_ + "/mls.wav'"), 0);  // the same settings again
  std::vector<short> samples = ReadWav(wav), mls = ReadWav(dir_ + "/mls.wav");
  ASSERT_EQ(mls.size(), 1023u);
  ASSERT_GE(samples.size(), 1023u);
  // The filter keeps volts and reads the record back scaled to its peak: +-1000 becomes +-32767.
  for (std::size_t k = 0; k < 1023; ++k) ASSERT_EQ(samples[k], mls[k] > 0 ? 32767 : -32767) << k;
  std::string out;
  ASSERT_EQ(Run("run \"Deconvolve MLS Signal\" '" + tim + "' --set \"MLS Order=10\" --json", &out), 0) << out;
  EXPECT_NE(out.find("\"formats\":[\"wave\"]"), std::string::npos) << out;
  // The compact result names the figures by their short keys, whatever the label's case.
  EXPECT_NE(out.find("\"result\":{\"length\":1023,\"channels\":1,\"rate\":44100,\"cycles\":"), std::string::npos) << out;
  EXPECT_NE(out.find("\"elapsedSeconds\":"), std::string::npos) << out;
  ASSERT_EQ(Run("describe timfilter --json", &out), 0);
  EXPECT_NE(out.find("\"extension\":\"TIM\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"label\":\"Scope\""), std::string::npos) << out;
  ASSERT_EQ(Run("convert '" + wav + "' '" + back + "' --set Scope=on"), 0);
  EXPECT_EQ(Run("convert '" + wav + "' '" + back + "' --set Scpe=on"), 2);
  // A damaged file is refused with its reason; a stereo document cannot become a TIM file.
  {
    std::ofstream bad(dir_ + "/bad.tim", std::ios::binary);
    bad << "not a measurement file at all";
  }
  std::string err;
  EXPECT_EQ(Run("run \"MLS Signal\" '" + dir_ + "/bad.tim'", nullptr, &err), 3);
  EXPECT_EQ(Run("run \"MLS Signal\" --new 44100:2 -o '" + dir_ + "/c.tim'"), 3);
  EXPECT_FALSE(fs::exists(dir_ + "/c.tim"));
}

}  // namespace
