// tovrel measure: a known simulated room measured through the virtual device with each
// method, and through the ALSA file configuration with a loopback channel; a cancelled
// measurement writes nothing; bad options are usage errors.
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "cli/testing.h"
#include "cli/tests/sound_files.h"

namespace fs = std::filesystem;

namespace {

// A room short enough (300 ms) that no method's response window folds its tail.
constexpr char kRoom[] = "room:0.3:300";

class MeasureCommand : public tovrel::cli::testing::CommandTest {
 protected:
  static std::vector<short> ReadWav(const std::string& path, int* channels = nullptr, int* rate = nullptr) {
    return tovrel::cli::testing::ReadSoundFile(path, channels, rate);
  }
  std::string WriteWav(const std::string& name, const std::vector<short>& samples, int rate) {
    return tovrel::cli::testing::WriteSoundFile(dir_ + "/" + name, samples, rate);
  }
  // The system's true response over `frames` frames: an impulse played through it once.
  std::vector<short> Truth(const std::string& system, std::size_t frames, int rate) {
    std::vector<short> impulse(frames, 0);
    impulse[0] = 32767;
    const std::string in = WriteWav("impulse.wav", impulse, rate), out = dir_ + "/truth.wav";
    if (Run("simulate '" + in + "' -o '" + out + "' --periods 1 --system " + system) != 0) return {};
    return ReadWav(out);
  }
  static std::size_t Peak(const std::vector<short>& a) {
    std::size_t peak = 0;
    for (std::size_t k = 0; k < a.size(); ++k)
      if (std::abs(a[k]) > std::abs(a[peak])) peak = k;
    return peak;
  }
  // The correlation coefficient of a response and the truth turned (circularly) so that
  // their peaks meet, as the sequence deconvolvers place the peak.
  static double Similarity(const std::vector<short>& a, const std::vector<short>& truth) {
    const std::size_t n = a.size(), shift = (Peak(truth) + n - Peak(a)) % n;
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t k = 0; k < n && n == truth.size(); ++k) {
      const double b = truth[(k + shift) % n];
      ab += double(a[k]) * b;
      aa += double(a[k]) * a[k];
      bb += b * b;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
  }
};

TEST_F(MeasureCommand, RecoversAKnownRoomWithEveryMethodThroughTheVirtualDevice) {
  for (const char* method : {"mls", "irs", "sweep"}) {
    SCOPED_TRACE(method);
    const std::string response = dir_ + "/" + method + ".wav", recording = dir_ + "/rec-" + method + ".wav";
    std::string out, err;
    // The sweep covers the room's whole band, as the sequences do (the generator's --set).
    // Two periods of sweeps: the averaging takes every sweep recorded.
    const std::string band = std::string(method) == "sweep" ? " --set 1036=20 --set 1037=23500 --periods 2" : "";
    ASSERT_EQ(Run(std::string("measure --method ") + method + " --device virtual --system " + kRoom +
                      " --noise -90 -o '" + recording + "' --save-clip '" + response + "' --json" + band,
                  &out, &err),
              0)
        << err << out;
    EXPECT_NE(out.find("\"clipped\":0"), std::string::npos) << out;
    EXPECT_NE(out.find("\"response\":{"), std::string::npos) << out;
    if (!band.empty()) {
      EXPECT_NE(out.find("\"N. of sweeps/measur.\":2"), std::string::npos) << out;
    }
    int rate = 0;
    const auto got = ReadWav(response, nullptr, &rate);
    ASSERT_GT(got.size(), 8000u);
    EXPECT_TRUE(fs::exists(recording));
    const auto truth = Truth(kRoom, got.size(), rate);
    ASSERT_EQ(truth.size(), got.size());
    // (A sweep's inverse filter leaves ripple at the band's edges.)
    EXPECT_GT(Similarity(got, truth), std::string(method) == "sweep" ? 0.93 : 0.99);
    // Sample-synchronous: the sweep's response has the direct sound where the room has
    // it (1 ms); the sequence deconvolvers place the peak at frame 1500.
    EXPECT_EQ(Peak(got), std::string(method) == "sweep" ? static_cast<std::size_t>(rate / 1000) : 1500u);
  }
  // The response stays on the clipboard for the next command.
  std::string out;
  ASSERT_EQ(Run("clip show --json", &out), 0);
  EXPECT_NE(out.find("\"wave\":{"), std::string::npos) << out;
}

TEST_F(MeasureCommand, PlaysADocumentAndRecordsItThroughTheVirtualDevice) {
  std::vector<short> doc(4800);
  for (std::size_t k = 0; k < doc.size(); ++k) doc[k] = static_cast<short>((k * 7919) % 20001 - 10000);
  doc[100] = 32767;  // clipped on the way back
  const std::string in = WriteWav("doc.wav", doc, 48000), rec = dir_ + "/rec.wav";
  std::string out, err;
  ASSERT_EQ(Run("measure '" + in + "' --device virtual --system delay:7 --in-channels 2 -o '" + rec + "' --json", &out,
                &err),
            0)
      << err;
  int channels = 0;
  const auto got = ReadWav(rec, &channels);
  ASSERT_EQ(channels, 2);
  ASSERT_EQ(got.size(), 2 * doc.size());
  for (std::size_t n = 0; n < doc.size(); ++n) {
    ASSERT_EQ(got[2 * n], n < 7 ? 0 : doc[n - 7]) << n;
    ASSERT_EQ(got[2 * n + 1], got[2 * n]) << n;
  }
  EXPECT_NE(out.find("\"clipped\":2"), std::string::npos) << out;
  EXPECT_NE(err.find("2 samples of the recording are clipped (peak 0.0 dBFS)"), std::string::npos) << err;
}

TEST_F(MeasureCommand, RemovesTheLatencyFoundOnTheReferenceChannelThroughAlsaFiles) {
  // What the ALSA file PCM gives the capture: the MLS train through the room on channel
  // 1, the same train delayed by the sound card's 123 frames on both channels.
  const std::string mls = dir_ + "/mls.wav", sim = dir_ + "/sim.wav";
  ASSERT_EQ(Run("run \"MLS Signal\" --new 48000 --defaults -o '" + mls + "'"), 0);
  ASSERT_EQ(Run("simulate '" + mls + "' -o '" + sim + "' --periods 5 --phase 0 --system 'delay:123/delay:123'"), 0);
  auto delayed = ReadWav(sim);
  ASSERT_EQ(Run("simulate '" + sim + "' -o '" + sim + "2.wav' --periods 1 --system '" + kRoom + "/gain:1'"), 0);
  int channels = 0;
  auto heard = ReadWav(sim + "2.wav", &channels);
  ASSERT_EQ(channels, 2);
  // The simulation is periodic: the first frames, before the delay, are made silent.
  for (std::size_t k = 0; k < 2 * 123; ++k) heard[k] = 0;
  const std::string raw = dir_ + "/in.raw";
  {
    std::ofstream f(raw, std::ios::binary);
    f.write(reinterpret_cast<const char*>(heard.data()), static_cast<std::streamsize>(heard.size() * 2));
  }
  setenv("ALSA_CONFIG_PATH", TOVREL_ALSA_TEST_CONFIG, 1);
  const std::string response = dir_ + "/response.wav";
  std::string out, err;
  ASSERT_EQ(Run("measure --method mls --device 'fromfile:INFILE=" + raw +
                    "' --in-channels 2 --reference-channel 2 --save-clip '" + response + "' --json",
                &out, &err),
            0)
      << err << out;
  unsetenv("ALSA_CONFIG_PATH");
  EXPECT_NE(out.find("\"frames\":123,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"drift\":0"), std::string::npos) << out;
  const auto got = ReadWav(response);
  const auto truth = Truth(kRoom, got.size(), 48000);
  ASSERT_FALSE(got.empty());
  EXPECT_GT(Similarity(got, truth), 0.99);
}

TEST_F(MeasureCommand, CancelledMeasurementWritesNothing) {
  const std::string rec = dir_ + "/rec.wav", response = dir_ + "/response.wav", err = dir_ + "/err.txt";
  const std::string home = "TOVREL_HOME=" + dir_ + "/home";
  const pid_t pid = fork();
  if (pid == 0) {
    char* env[] = {const_cast<char*>(home.c_str()), nullptr};
    const char* argv[] = {tovrel_.c_str(), "measure", "--method", "mls", "--device", "virtual", "--periods", "1000",
                          "-o", rec.c_str(), "--save-clip", response.c_str(), nullptr};
    freopen("/dev/null", "w", stdout);
    freopen(err.c_str(), "w", stderr);
    execve(tovrel_.c_str(), const_cast<char**>(argv), env);
    _exit(127);
  }
  // Interrupted while it plays.
  for (int k = 0; k < 2000 && Slurp(err).find("playing and recording") == std::string::npos; ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_FALSE(fs::exists(rec));
  EXPECT_FALSE(fs::exists(response));
  for (const auto& e : fs::directory_iterator(dir_))
    EXPECT_TRUE(e.path().filename() == "err.txt" || e.path().filename() == "home") << e.path();
  EXPECT_NE(Slurp(err).find("cancelled"), std::string::npos) << Slurp(err);
}

TEST_F(MeasureCommand, BadOptionsAreUsageErrors) {
  std::string err;
  for (const std::string args :
       {"measure --device virtual", "measure --method mls x.wav --device virtual", "measure --method chirp --device virtual",
        "measure --method mls --device hw:0 --system room:0.3", "measure --method mls --device virtual --in-channels 3",
        "measure --method mls --device virtual --reference-channel 2", "measure --method mls --device virtual --noise 3",
        "measure --method mls --device virtual --periods 0",
        "measure --method mls --device virtual --set Nonsense=1", "measure x.wav --device virtual --save-clip r.wav"}) {
    EXPECT_EQ(Run(args, nullptr, &err), 2) << args;
    EXPECT_FALSE(err.empty()) << args;
  }
  EXPECT_EQ(Run("measure '" + dir_ + "/missing.wav' --device virtual", nullptr, &err), 3);
  EXPECT_EQ(Run("measure --method mls --device virtual -o '" + dir_ + "/no/such/dir/rec.wav'", nullptr, &err), 3);
  // A device that cannot be opened fails the measurement, naming the device.
  setenv("ALSA_CONFIG_PATH", TOVREL_ALSA_TEST_CONFIG, 1);
  EXPECT_EQ(Run("measure --method mls --device no_such_pcm", nullptr, &err), 1);
  unsetenv("ALSA_CONFIG_PATH");
  EXPECT_NE(err.find("no_such_pcm"), std::string::npos) << err;
}

}  // namespace
