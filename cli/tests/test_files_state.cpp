// Files a user gives the tovrel command and the state it keeps, tried with bad input.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/testing.h"
#include "host/core/stored.h"

namespace fs = std::filesystem;

namespace {

class FilesAndState : public tovrel::cli::testing::CommandTest {
 protected:
  // A 16-bit mono WAV; `announced` data bytes in its header (the samples' own by default),
  // and `extra` bytes after them.
  std::string Wav(const std::string& name, long rate, const std::vector<int16_t>& samples, long announced = -1,
                  std::size_t extra = 0) {
    const uint32_t bytes = static_cast<uint32_t>(samples.size() * 2);
    std::vector<uint8_t> h(44);
    auto put = [&](std::size_t at, uint32_t v, int n) {
      for (int k = 0; k < n; ++k) h[at + k] = static_cast<uint8_t>(v >> (8 * k));
    };
    std::copy_n("RIFF", 4, h.begin());
    put(4, 36 + (announced < 0 ? bytes : static_cast<uint32_t>(announced)), 4);
    std::copy_n("WAVEfmt ", 8, h.begin() + 8);
    put(16, 16, 4);
    put(20, 1, 2);
    put(22, 1, 2);
    put(24, static_cast<uint32_t>(rate), 4);
    put(28, static_cast<uint32_t>(rate * 2), 4);
    put(32, 2, 2);
    put(34, 16, 2);
    std::copy_n("data", 4, h.begin() + 36);
    put(40, announced < 0 ? bytes : static_cast<uint32_t>(announced), 4);
    const std::string path = dir_ + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(h.data()), 44);
    out.write(reinterpret_cast<const char*>(samples.data()), bytes);
    out << std::string(extra, 'x');
    return path;
  }
  int RunWithHome(const std::string& home, const std::string& args, std::string* err) {
    const int status = std::system(("TOVREL_HOME='" + home + "' '" + tovrel_ + "' " + args + " </dev/null >/dev/null 2>'" +
                                    dir_ + "/err'").c_str());
    *err = Slurp(dir_ + "/err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Q(const std::string& name) { return "'" + dir_ + "/" + name + "'"; }
};

TEST_F(FilesAndState, FilesAreRefusedOrWrittenExactly) {
  std::string err;
  const std::string ok = Wav("ok.wav", 8000, {100, -100, 200});
  // Formats we do not write are refused, naming those we do.
  EXPECT_EQ(Run("convert '" + ok + "' " + Q("r.mp3"), nullptr, &err), 3);
  EXPECT_NE(err.find("WAV (.wav"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(dir_ + "/r.mp3"));
  // A header that announces data the file does not hold is a truncated file.
  EXPECT_EQ(Run("convert '" + Wav("cut.wav", 8000, {1, 2}, 1000) + "' " + Q("c.wav"), nullptr, &err), 3);
  EXPECT_NE(err.find("truncated"), std::string::npos) << err;
  // Standard output is written through.
  std::string out;
  ASSERT_EQ(Run("convert '" + ok + "' -", &out), 0);
  EXPECT_EQ(out, Slurp(ok));

  // The clipboard: a folder is not a file to load; a missing folder is not made.
  EXPECT_EQ(Run("clip load " + Q(""), nullptr, &err), 3);
  EXPECT_NE(err.find("folder"), std::string::npos) << err;
  ASSERT_EQ(Run("clip load --raw '" + Wav("long.wav", 8000, {7, 8}, -1, 4) + "'"), 0);
  EXPECT_EQ(Run("clip save " + Q("none/x.wav")), 3);
  EXPECT_FALSE(fs::exists(dir_ + "/none"));
  // A clipboard block larger than its WAV is saved as the WAV alone.
  ASSERT_EQ(Run("clip save " + Q("saved.wav")), 0);
  EXPECT_EQ(fs::file_size(dir_ + "/saved.wav"), 44u + 4u);

  // Damaged wave data on the clipboard is reported, not saved.
  std::string bad = Slurp(ok);
  bad[22] = bad[23] = '\xff';
  std::ofstream(dir_ + "/bad.wav", std::ios::binary) << bad;
  ASSERT_EQ(Run("clip load --raw " + Q("bad.wav")), 0);
  ASSERT_EQ(Run("clip show", &out), 0);
  EXPECT_NE(out.find("damaged"), std::string::npos) << out;
  EXPECT_EQ(Run("clip save " + Q("garbage.wav")), 1);
  EXPECT_FALSE(fs::exists(dir_ + "/garbage.wav"));

  // A response file is named by its path, "/" and all.
  EXPECT_EQ(Run("simulate '" + ok + "' -o " + Q("rec.wav") + " --system '" + ok + "'", nullptr, &err), 0) << err;
}

TEST_F(FilesAndState, StoredSettingsAreOutsideData) {
  std::string err;
  // Random bytes for the stored block: a notice, then the defaults (order 15, one period).
  fs::create_directories(dir_ + "/home/params");
  std::ofstream(dir_ + "/home/params/multiseqsource.blk") << std::string(40, '\x7f');
  ASSERT_EQ(Run("run \"Multi MLS Signal\" --new 8000 -o " + Q("m.wav"), nullptr, &err), 0) << err;
  EXPECT_NE(err.find("not used"), std::string::npos) << err;
  EXPECT_EQ(fs::file_size(dir_ + "/m.wav"), 44u + 2u * 32767u);

  // A whole block holding a value its dialog cannot hold (an amplitude of -32768): a notice
  // naming the field and its range, then the defaults.
  const std::vector<uint8_t> block = {3, 0, 0, 0, 7, 0, 0, 0, 0x00, 0x80};
  const std::vector<uint8_t> image = tovrel::host::BlockFileImage("iili", block);
  std::ofstream(dir_ + "/home/params/seqsource.blk", std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  ASSERT_EQ(Run("run \"MLS Signal\" --new 8000 -o " + Q("d.wav"), nullptr, &err), 0) << err;
  EXPECT_NE(err.find("Amplitude must be a whole number from -32767 to 32767); the defaults are used"), std::string::npos)
      << err;
  EXPECT_GT(fs::file_size(dir_ + "/d.wav"), 44u + 2u * 7u);  // the default order, not the stored one
  EXPECT_EQ(Run("run \"MLS Signal\" --new 8000 -o " + Q("d.wav"), nullptr, &err), 0);
  EXPECT_EQ(err.find("not used"), std::string::npos) << err;  // the defaults' run stored sound settings

  // A cancelled or failed run keeps the settings of the last completed one.
  ASSERT_EQ(Run("run \"MLS Signal\" --new 8000 --set \"MLS Order=3\" -o " + Q("a.wav")), 0);
  EXPECT_EQ(Run("run \"MLS Signal\" --new 8000 --set \"MLS Order=4\" --press Cancel"), 1);
  EXPECT_EQ(Run("run \"Multi MLS Signal\" --new 8000 --set Repetitions=0"), 1);
  ASSERT_EQ(Run("run \"MLS Signal\" --new 8000 -o " + Q("b.wav")), 0);
  EXPECT_EQ(fs::file_size(dir_ + "/b.wav"), 44u + 2u * 7u);
  EXPECT_EQ(Run("run \"Multi MLS Signal\" --new 8000 -o " + Q("m.wav"), nullptr, &err), 0);
  EXPECT_EQ(err.find("not used"), std::string::npos) << err;

  // A result that cannot be kept fails the run: the home is below a file.
  ASSERT_EQ(Run("simulate " + Q("b.wav") + " -o " + Q("rec.wav") + " --system delay:1 --periods 3"), 0);
  std::ofstream(dir_ + "/file") << "";
  EXPECT_EQ(RunWithHome(dir_ + "/file/home", "run \"Deconvolve MLS Signal\" " + Q("rec.wav") +
                                                 " --set \"MLS Order=3\"", &err), 1);
  EXPECT_NE(err.find("could not be kept"), std::string::npos) << err;
}

// SIGTERM (as Ctrl-C) at any point of a run cancels it: exit 1, nothing written.
// Whether the process has a handler for SIGTERM (its SigCgt mask in /proc).
bool CatchesTerm(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1;
  return false;
}

TEST_F(FilesAndState, ATerminatedRunIsCancelled) {
  std::vector<int16_t> noise(48000 * 120);
  for (std::size_t k = 0; k < noise.size(); ++k)
    noise[k] = static_cast<int16_t>(static_cast<long>((k * 7919) % 20001 - 10000) * 30 / static_cast<long>(30 + k / 4800));
  const std::string doc = Wav("long.wav", 48000, noise), out = dir_ + "/out.wav";
  for (int ms : {50, 500}) {
    const pid_t pid = fork();
    if (pid == 0) {
      const std::string home = "TOVREL_HOME=" + dir_ + "/home";
      char* env[] = {const_cast<char*>(home.c_str()), nullptr};
      const char* argv[] = {tovrel_.c_str(), "run", "Acoustical Parameters", doc.c_str(), "--batch", "-o",
                            out.c_str(), nullptr};
      freopen("/dev/null", "w", stderr);
      execve(tovrel_.c_str(), const_cast<char**>(argv), env);
      _exit(127);
    }
    // From the moment the command catches SIGTERM (a slow start under sanitizers must not
    // let the default action end it before it can cancel).
    for (int k = 0; k < 6000 && !CatchesTerm(pid); ++k) usleep(5000);
    usleep(ms * 1000);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << ms << " ms: " << status;
    EXPECT_FALSE(fs::exists(out)) << ms;
  }
}

TEST_F(FilesAndState, AnAnalysisAtOneHertzGivesNoInfiniteValue) {
  std::vector<int16_t> decay(64);
  for (std::size_t k = 0; k < decay.size(); ++k) decay[k] = static_cast<int16_t>(30000 >> (k / 4));
  std::string out, err;
  Run("run \"Acoustical Parameters\" '" + Wav("slow.wav", 1, decay) + "' --json", &out, &err);
  EXPECT_EQ(out.find("inf\",\"valid\":true"), std::string::npos) << out;
}

}  // namespace
