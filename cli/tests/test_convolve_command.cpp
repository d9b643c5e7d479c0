// Convolution from the command line: raw clipboard data, the run's figures in its JSON.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <thread>
#include <string>
#include <vector>

#include "cli/testing.h"

namespace {

class ConvolveCommand : public tovrel::cli::testing::CommandTest {
 protected:
  // A canonical 16-bit WAV file; `dataBytes` overrides the length written at offset 40.
  std::string WriteWav(const std::string& name, int channels, const std::vector<int16_t>& samples,
                       long dataBytes = -1) {
    const uint32_t bytes = static_cast<uint32_t>(samples.size() * 2);
    std::vector<uint8_t> h(44);
    auto put = [&](std::size_t at, uint32_t v, int n) {
      for (int k = 0; k < n; ++k) h[at + k] = static_cast<uint8_t>(v >> (8 * k));
    };
    std::copy_n("RIFF", 4, h.begin());
    put(4, bytes + 36, 4);
    std::copy_n("WAVEfmt ", 8, h.begin() + 8);
    put(16, 16, 4);
    put(20, 1, 2);
    put(22, static_cast<uint32_t>(channels), 2);
    put(24, 44100, 4);
    put(28, static_cast<uint32_t>(44100 * channels * 2), 4);
    put(32, static_cast<uint32_t>(channels * 2), 2);
    put(34, 16, 2);
    std::copy_n("data", 4, h.begin() + 36);
    put(40, dataBytes < 0 ? bytes : static_cast<uint32_t>(dataBytes), 4);
    const std::string path = dir_ + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(h.data()), 44);
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(bytes));
    return path;
  }
};

TEST_F(ConvolveCommand, RunsWithTheClipboardResponseAndReportsItsFigures) {
  const std::string doc = WriteWav("doc.wav", 2, {10000, 20, -10000, 40, 300, 60, 0, 80});
  ASSERT_EQ(Run("clip load '" + WriteWav("ir.wav", 2, {32767, 16384, 0, 0}) + "'"), 0);
  std::string out, err;
  const std::string run = "run \"Convolve with Clipboard\" '" + doc + "' --set 1008=on --set 1030=off --set 1031=40";
  ASSERT_EQ(Run(run + " --json -o '" + dir_ + "/out.wav'", &out, &err), 0) << err;
  EXPECT_NE(out.find("\"FFT Size\":8,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"Gain applied for rescaling\":40,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"Saturated samples\":2"), std::string::npos) << out;  // +-10000 at +40 dB
  EXPECT_NE(out.find("\"offset\":47,\"value\":9999.69"), std::string::npos) << out;  // the peak
  EXPECT_NE(out.find("\"frames\":5"), std::string::npos) << out;
  // The module's name works as well; a response whose data length lies past its block
  // is refused.
  ASSERT_EQ(Run("clip load --raw '" + WriteWav("bad.wav", 1, {1, 2}, 400) + "'"), 0);
  EXPECT_EQ(Run("run convolve '" + doc + "' --json", &out), 1);
  EXPECT_NE(out.find("does not recognize\\nthe format of Clipboard Data."), std::string::npos) << out;
}

// Ctrl-C during the block loop: the run stops as cancelled, and its temporary file in
// the host's temporary folder (TMPDIR) is gone.
TEST_F(ConvolveCommand, InterruptedRunLeavesNoTemporaryFile) {
  const std::string tmp = dir_ + "/tmp";
  std::filesystem::create_directories(tmp);
  std::vector<int16_t> x(2 * 48000 * 30), h(2 * 24000);
  for (std::size_t k = 0; k < x.size(); ++k) x[k] = static_cast<int16_t>((k * 7919) % 4001 - 2000);
  for (std::size_t k = 0; k < h.size(); ++k) h[k] = static_cast<int16_t>((k * 104729) % 2001 - 1000);
  const std::string doc = WriteWav("long.wav", 2, x);
  ASSERT_EQ(Run("clip load '" + WriteWav("h.wav", 2, h) + "'"), 0);
  const std::string home = "TOVREL_HOME=" + dir_ + "/home", tmpdir = "TMPDIR=" + tmp;
  const pid_t pid = fork();
  if (pid == 0) {
    char* env[] = {const_cast<char*>(home.c_str()), const_cast<char*>(tmpdir.c_str()), nullptr};
    const char* argv[] = {tovrel_.c_str(), "run", "Convolve with Clipboard", doc.c_str(), "--json", nullptr};
    freopen("/dev/null", "w", stdout);
    execve(tovrel_.c_str(), const_cast<char**>(argv), env);
    _exit(127);
  }
  auto ours = [&] {
    for (const auto& e : std::filesystem::directory_iterator(tmp))
      if (e.path().filename().string().rfind("FLO", 0) == 0) return true;
    return false;
  };
  bool seen = false;
  for (int k = 0; k < 4000 && !(seen = ours()); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(seen) << "the run made no temporary file in TMPDIR";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_FALSE(ours());
}

}  // namespace
