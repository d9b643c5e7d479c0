// Writing files without damaging what was there, and the stored state read as outside data.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <thread>

#include "host/safefile.h"
#include "host/state.h"

namespace fs = std::filesystem;

namespace tovrel::host {
namespace {

class SafeFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tovrel-safe-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  static void Put(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
  static std::string Get(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  bool Write(const std::string& name, const std::string& text, std::string& error) {
    return WriteFileSafely(Path(name), std::vector<uint8_t>(text.begin(), text.end()), error);
  }
  std::size_t Entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {})); }
  std::string dir_;
};

TEST_F(SafeFile, KeepsLinksModesAndRefusesWhatItMayNotWrite) {
  std::string error;
  // A symbolic link is written through; the file keeps its mode; a hard link stays one file.
  Put(Path("real"), "old");
  ASSERT_EQ(chmod(Path("real").c_str(), 0640), 0);
  fs::create_symlink("real", Path("link"));
  ASSERT_TRUE(Write("link", "new", error)) << error;
  EXPECT_TRUE(fs::is_symlink(Path("link")));
  EXPECT_EQ(Get(Path("real")), "new");
  EXPECT_EQ(fs::status(Path("real")).permissions() & fs::perms::all, fs::perms(0640));
  fs::create_hard_link(Path("real"), Path("hard"));
  ASSERT_TRUE(Write("hard", "newer and longer", error)) << error;
  EXPECT_EQ(Get(Path("real")), "newer and longer");
  EXPECT_EQ(fs::hard_link_count(Path("real")), 2u);
  ASSERT_TRUE(Write("hard", "short", error)) << error;
  EXPECT_EQ(Get(Path("real")), "short");

  // A link planted where a temporary file might go is not followed.
  Put(Path("victim"), "mine");
  fs::create_symlink("victim", Path("out.wav.tovrel-partial"));
  ASSERT_TRUE(Write("out.wav", "x", error)) << error;
  EXPECT_EQ(Get(Path("victim")), "mine");

  // Refused before anything is made: a read-only file, a folder, a missing folder.
  Put(Path("ro"), "keep");
  ASSERT_EQ(chmod(Path("ro").c_str(), 0444), 0);
  const std::size_t before = Entries();
  EXPECT_FALSE(Write("ro", "x", error));
  EXPECT_NE(error.find("read-only"), std::string::npos) << error;
  EXPECT_EQ(Get(Path("ro")), "keep");
  fs::create_directory(Path("sub"));
  EXPECT_FALSE(Write("sub", "x", error));
  EXPECT_FALSE(Write("none/x", "x", error));
  EXPECT_FALSE(fs::exists(Path("none")));
  EXPECT_EQ(Entries(), before + 1);
}

TEST_F(SafeFile, AFailedProducerLeavesTheTargetAndNoTemporaryFile) {
  Put(Path("doc"), "precious");
  std::string error;
  const std::size_t before = Entries();
  EXPECT_FALSE(WriteFileSafely(Path("doc"), [](int fd, const std::string&, std::string& why) {
    EXPECT_EQ(write(fd, "half", 4), 4);
    why = "the disk refused";
    return false;
  }, error));
  EXPECT_EQ(error, "the disk refused");
  EXPECT_EQ(Get(Path("doc")), "precious");
  EXPECT_EQ(Entries(), before);
}

TEST_F(SafeFile, DevicesAndFifosAreWrittenThrough) {
  std::string error;
  ASSERT_TRUE(WriteFileSafely("/dev/null", std::vector<uint8_t>(10, 1), error)) << error;
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  std::string got;
  std::thread reader([&] { got = Get(Path("fifo")); });
  EXPECT_TRUE(Write("fifo", "through", error)) << error;
  reader.join();
  EXPECT_EQ(got, "through");
  EXPECT_TRUE(fs::is_fifo(Path("fifo")));
}

TEST_F(SafeFile, StoredBlocksAreCheckedBeforeUse) {
  StateStore store(dir_);
  std::string error, problem;
  std::vector<uint8_t> block(8, 0);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::memcpy(block.data() + 4, &nan, 4);
  ASSERT_TRUE(store.SaveBlock("m", "lf", block, error)) << error;
  EXPECT_FALSE(store.LoadBlock("m", "lf", 8, &problem));
  EXPECT_NE(problem.find("not a number"), std::string::npos) << problem;
  block.assign(8, 1);
  ASSERT_TRUE(store.SaveBlock("m", "lf", block, error)) << error;
  EXPECT_EQ(store.LoadBlock("m", "lf", 8, &problem), block);
  EXPECT_TRUE(problem.empty());
  EXPECT_FALSE(store.LoadBlock("m", "fl", 8, &problem));  // another layout of the same size
  EXPECT_NE(problem.find("another layout"), std::string::npos) << problem;

  // Every cut and every flipped byte of the stored file is noticed.
  const std::vector<uint8_t> file = BlockFileImage("lf", block);
  for (std::size_t k = 0; k < file.size(); ++k) {
    std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(k)), flipped = file;
    flipped[k] ^= 0x40;
    EXPECT_FALSE(ReadBlockFile(cut, "lf", 8, problem)) << k;
    EXPECT_FALSE(ReadBlockFile(flipped, "lf", 8, problem)) << k;
  }
}

}  // namespace
}  // namespace tovrel::host
