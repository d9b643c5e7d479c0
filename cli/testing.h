// What the tests of the tovrel command share: a private home folder and a way to run
// the built command as a script would, with its exit status, stdout and stderr.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tovrel::cli::testing {

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "tovrel-cli-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    ASSERT_NE(mkdtemp(buf.data()), nullptr);
    dir_ = buf.data();
    const char* build = std::getenv("TOVREL_BUILD_DIR");
    ASSERT_NE(build, nullptr) << "TOVREL_BUILD_DIR names the build folder";
    tovrel_ = std::string(build) + "/cli/tovrel";
    if (!std::filesystem::exists(tovrel_)) GTEST_SKIP() << "the tovrel command is not built";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Runs tovrel with the arguments (no standard input); the exit status, and stdout and
  // stderr in out and err when given.
  int Run(const std::string& args, std::string* out = nullptr, std::string* err = nullptr) {
    const std::string cmd = "TOVREL_HOME='" + dir_ + "/home' '" + tovrel_ + "' " + args + " </dev/null 2>'" + dir_ +
                            "/err' >'" + dir_ + "/out'";
    const int status = std::system(cmd.c_str());
    if (out) *out = Slurp(dir_ + "/out");
    if (err) *err = Slurp(dir_ + "/err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::string dir_;
  std::string tovrel_;
};

}  // namespace tovrel::cli::testing
