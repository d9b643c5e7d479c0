// Documents through the TIM filter module, as the host reads and saves them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "host/filter_driver.h"
#include "host/user.h"

namespace fs = std::filesystem;

namespace tovrel::host {
namespace {

template <typename T>
void Put(std::vector<uint8_t>& v, const T& x) {
  const auto* b = reinterpret_cast<const uint8_t*>(&x);
  v.insert(v.end(), b, b + sizeof x);
}
template <typename T>
T At(const std::vector<uint8_t>& v, std::size_t offset) {
  T x;
  std::memcpy(&x, v.data() + offset, sizeof x);
  return x;
}

// A TIM file as the measuring system writes it: 3000 points, mode 2, 48 kHz.
std::vector<uint8_t> MeasurementFile(std::vector<float>* pointsOut = nullptr) {
  std::vector<uint8_t> f;
  Put(f, uint32_t{0xFFFFABCD});
  Put(f, uint16_t{2});
  Put(f, 1000.0f / 48000.0f);
  Put(f, int32_t{3000});
  std::vector<float> points;
  for (int i = 0; i < 3000; ++i) points.push_back(0.2f * std::sin(0.05f * i) + 0.01f * std::cos(1.3f * i));
  for (float p : points) Put(f, p);
  std::vector<uint8_t> trailer(840, 0);
  std::memcpy(trailer.data(), "Room 12, source S1", 18);
  std::memcpy(trailer.data() + 80, "receiver R3", 11);
  for (std::size_t i = 140; i < 840; ++i) trailer[i] = static_cast<uint8_t>(i * 13 + 5);
  const float kHz = 48.0f;
  std::memcpy(trailer.data() + 140 + 6, &kHz, 4);
  f.insert(f.end(), trailer.begin(), trailer.end());
  if (pointsOut) *pointsOut = points;
  return f;
}

class FilterDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::string> path, problems;
    if (const char* build = std::getenv("TOVREL_BUILD_DIR")) path.push_back(std::string(build) + "/modules");
    if (const char* env = std::getenv("TOVREL_MODULE_PATH")) path.push_back(env);
    modules = LoadAllModules(path, &problems);
    filters = FileFilters(modules, &problems);
    for (const auto& f : filters)
      if (f->name() == "timfilter") tim = f.get();
    ASSERT_NE(tim, nullptr) << "timfilter module not built (TOVREL_BUILD_DIR/modules, TOVREL_MODULE_PATH)";
    std::string pattern = (fs::temp_directory_path() / "filter-driver-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    portable::ClearJournal();
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Path(const std::string& name) const { return (dir / name).string(); }
  std::string Save(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return Path(name);
  }
  static std::vector<uint8_t> Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::vector<std::unique_ptr<Module>> modules;
  std::vector<std::unique_ptr<FileFilter>> filters;
  const FileFilter* tim = nullptr;
  fs::path dir;
};

TEST_F(FilterDriverTest, FindsTheFilterByContentOrExtension) {
  EXPECT_EQ(tim->shortName(), "MLSSA");
  EXPECT_EQ(tim->description(), "MLSSA Time Domain Data File");
  EXPECT_EQ(tim->extension(), "TIM");
  EXPECT_TRUE(tim->HasExtension("a/b.tim"));
  EXPECT_TRUE(tim->HasExtension("B.TIM"));
  EXPECT_FALSE(tim->HasExtension("tim"));
  EXPECT_FALSE(tim->HasExtension("b.wav"));

  EXPECT_EQ(FilterForReading(filters, Save("measured.dat", MeasurementFile())), tim);
  EXPECT_EQ(FilterForReading(filters, Save("broken.tim", {1, 2, 3})), tim);
  EXPECT_EQ(FilterForReading(filters, Save("sound.wav", {'R', 'I', 'F', 'F'})), nullptr);
  EXPECT_EQ(FilterForWriting(filters, Path("new.TIM")), tim);
  EXPECT_EQ(FilterForWriting(filters, Path("measured.dat")), tim);  // a TIM file already there
  EXPECT_EQ(FilterForWriting(filters, Path("new.dat")), nullptr);
  EXPECT_EQ(FilterForWriting(filters, Path("sound.wav")), nullptr);
}

TEST_F(FilterDriverTest, ReadsTheAudioAndKeepsTheItems) {
  std::vector<float> points;
  const auto r = ReadWithFilter(*tim, Save("m.tim", MeasurementFile(&points)));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.doc.sampleRate, 48000);
  EXPECT_EQ(r.doc.channels, 1);
  ASSERT_EQ(r.doc.samples.size(), 3000u);
  EXPECT_EQ(r.doc.selStart, 0);
  EXPECT_EQ(r.doc.selEnd, 2999);
  float peak = 0;
  for (float p : points) peak = std::max(peak, std::fabs(p));
  for (std::size_t i = 0; i < points.size(); ++i)
    ASSERT_EQ(r.doc.samples[i], static_cast<int16_t>(std::round(double{points[i]} / peak * 32767.0))) << i;

  EXPECT_EQ(r.data.filter, "timfilter");
  EXPECT_EQ(r.data.option, 3u);
  EXPECT_EQ(r.data.optionText, "Asynchronous-correlation mode acquired MLSSA");
  std::vector<std::pair<LONG, LONG>> types;
  for (const auto& item : r.data.items) types.emplace_back(item.type, item.size);
  EXPECT_EQ(types, (std::vector<std::pair<LONG, LONG>>{{21, 60}, {24, 501}, {26, 36}, {27, 501}, {31, 401}, {32, 80}, {33, 9}}));
  EXPECT_EQ(r.data.items[0].text, "receiver R3");
  EXPECT_EQ(r.data.items[5].text, "Room 12, source S1");
}

TEST_F(FilterDriverTest, RefusedFilesSayWhyAndGiveNoDocument) {
  auto bytes = MeasurementFile();
  bytes.resize(14 + 4 * 1000);  // cut inside the points
  const auto r = ReadWithFilter(*tim, Save("cut.tim", bytes));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("This TIM file holds fewer points than its record length."), std::string::npos) << r.error;
  EXPECT_TRUE(r.doc.samples.empty());
  EXPECT_TRUE(r.data.items.empty());

  const auto notTim = ReadWithFilter(*tim, Save("text.tim", {'h', 'e', 'l', 'l', 'o'}));
  EXPECT_FALSE(notTim.ok);
  EXPECT_NE(notTim.error.find("not a file the MLSSA Time Domain Data File filter can read"), std::string::npos);
}

TEST_F(FilterDriverTest, SavedBackThroughTheFilterKeepsTheTrailingBlocks) {
  const auto original = MeasurementFile();
  const auto r = ReadWithFilter(*tim, Save("m.tim", original));
  ASSERT_TRUE(r.ok) << r.error;
  std::string error;
  ASSERT_TRUE(WriteWithFilter(*tim, Path("back.tim"), r.doc, &r.data, error)) << error;
  const auto back = Load(Path("back.tim"));
  ASSERT_EQ(back.size(), 14u + 4 * 4096 + 840);
  EXPECT_EQ(At<uint16_t>(back, 4), 2);  // the mode of the file read, confirmed in the dialog
  const std::size_t before = 14 + 4 * 3000, after = 14 + 4 * 4096;
  for (std::size_t i = 0; i < 840; ++i) {
    if (i >= 140 + 40 && i < 140 + 46) continue;  // record length and mode
    ASSERT_EQ(back[after + i], original[before + i]) << "trailer byte " << i;
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"back.tim", "m.tim"}));  // nothing else left beside
}

TEST_F(FilterDriverTest, TheOptionsDialogChoosesTheMode) {
  const auto r = ReadWithFilter(*tim, Save("m.tim", MeasurementFile()));
  ASSERT_TRUE(r.ok);
  ScriptedUser scope({{"Scope", "on"}}, {}, std::nullopt, false, false);
  std::string error;
  ASSERT_TRUE(WriteWithFilter(*tim, Path("scope.tim"), r.doc, &r.data, error, {nullptr, &scope})) << error;
  EXPECT_EQ(At<uint16_t>(Load(Path("scope.tim")), 4), 0);

  ScriptedUser cancel({}, {"Cancel"}, std::nullopt, false, false);
  EXPECT_FALSE(WriteWithFilter(*tim, Path("never.tim"), r.doc, &r.data, error, {nullptr, &cancel}));
  EXPECT_NE(error.find("cancelled"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(Path("never.tim")));
}

TEST_F(FilterDriverTest, AudioFromElsewhereGetsTheDefaultBlock) {
  Document doc = Document::Empty(44100, 1);
  doc.samples.assign(1000, 1234);
  doc.SelectAll();
  std::string error;
  ASSERT_TRUE(WriteWithFilter(*tim, Path("from.wav.tim"), doc, nullptr, error)) << error;
  const auto file = Load(Path("from.wav.tim"));
  ASSERT_EQ(file.size(), 14u + 4 * 2048 + 840);
  EXPECT_EQ(At<uint16_t>(file, 4), 1);  // cross-correlation, the dialog's choice for a new file
  const std::size_t t = 14 + 4 * 2048;
  EXPECT_STREQ(reinterpret_cast<const char*>(&file[t]), "Waveform (from Vorn Edit conversion) - Volts");

  // Items of another filter's file do not go to this one.
  FilterData foreign;
  foreign.filter = "otherfilter";
  foreign.items.push_back({32, 80, "not mine"});
  ASSERT_TRUE(WriteWithFilter(*tim, Path("f.tim"), doc, &foreign, error)) << error;
  EXPECT_STREQ(reinterpret_cast<const char*>(&Load(Path("f.tim"))[t]), "Waveform (from Vorn Edit conversion) - Volts");
}

TEST_F(FilterDriverTest, ARefusedDocumentLeavesTheTargetAsItWas) {
  Save("keep.tim", {'o', 'l', 'd'});
  Document stereo = Document::Empty(44100, 2);
  stereo.samples.assign(200, 100);
  std::string error;
  EXPECT_FALSE(WriteWithFilter(*tim, Path("keep.tim"), stereo, nullptr, error));
  EXPECT_NE(error.find("2-channel"), std::string::npos) << error;
  EXPECT_EQ(Load(Path("keep.tim")), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_FALSE(WriteWithFilter(*tim, Path("new.tim"), stereo, nullptr, error));
  EXPECT_EQ(Files(), std::vector<std::string>{"keep.tim"});

  Document mono = Document::Empty(8000, 1);
  mono.samples.assign(100, 1);
  EXPECT_FALSE(WriteWithFilter(*tim, Path("no/such/folder/x.tim"), mono, nullptr, error));
  EXPECT_NE(error.find("there is no folder"), std::string::npos) << error;

  // An empty document still makes a whole file: one record of silence.
  ASSERT_TRUE(WriteWithFilter(*tim, Path("empty.tim"), Document::Empty(8000, 1), nullptr, error)) << error;
  EXPECT_EQ(Load(Path("empty.tim")).size(), 14u + 4 * 2048 + 840);
}

TEST(FilterChunks, AtMost8192BytesOfWholeFrames) {
  EXPECT_EQ(FilterChunkBytes(8192, 1), 8192);
  EXPECT_EQ(FilterChunkBytes(65536, 2), 8192);
  EXPECT_EQ(FilterChunkBytes(0, 1), 8192);
  EXPECT_EQ(FilterChunkBytes(-5, 2), 8192);
  EXPECT_EQ(FilterChunkBytes(8190, 2), 8188);
  EXPECT_EQ(FilterChunkBytes(3, 2), 4);
}

}  // namespace
}  // namespace tovrel::host
