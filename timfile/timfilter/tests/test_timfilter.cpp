// The TIM filter module as the host drives it: loaded, its exports called by name,
// files written and read on disk.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "host/filter_driver.h"
#include "platform/portable/faces.h"
#include "timfile/tim_format.h"

namespace fs = std::filesystem;
namespace tp = tovrel::portable;

namespace {

std::vector<uint8_t> Bytes(const void* p, std::size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  return std::vector<uint8_t>(b, b + n);
}

template <typename T>
void Put(std::vector<uint8_t>& v, const T& x) {
  auto b = Bytes(&x, sizeof x);
  v.insert(v.end(), b.begin(), b.end());
}

template <typename T>
T At(const std::vector<uint8_t>& v, std::size_t offset) {
  T x;
  std::memcpy(&x, v.data() + offset, sizeof x);
  return x;
}

// A TIM file as the measuring system writes it.
struct TimImage {
  uint16_t mode = 1;
  float interval = 1000.0f / 48000.0f;
  std::vector<float> points;
  std::string title = "Loudspeaker A, 1 m";
  std::string comment = "on axis, 85 dB";
  std::vector<uint8_t> settings = std::vector<uint8_t>(700);
  bool trailer = true;
  std::optional<int32_t> length;  // the header's record length, when not the points' count

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> f;
    Put(f, kTimMagic);
    Put(f, mode);
    Put(f, interval);
    Put(f, length ? *length : static_cast<int32_t>(points.size()));
    for (float p : points) Put(f, p);
    if (trailer) {
      std::vector<uint8_t> t(140, 0);
      std::memcpy(t.data(), title.data(), std::min<std::size_t>(title.size(), 80));
      std::memcpy(t.data() + 80, comment.data(), std::min<std::size_t>(comment.size(), 60));
      f.insert(f.end(), t.begin(), t.end());
      f.insert(f.end(), settings.begin(), settings.end());
    }
    return f;
  }
};

std::vector<uint8_t> MeasurementSettings() {
  std::vector<uint8_t> s(700);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>((i * 37 + 11) & 0xFF);
  const float kHz = 48.0f;
  std::memcpy(s.data() + 6, &kHz, 4);
  return s;
}

class TimFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The build tree's modules folder, or the module path.
    const char* build = std::getenv("TOVREL_BUILD_DIR");
    const char* modules = std::getenv("TOVREL_MODULE_PATH");
    const std::string folder = build ? std::string(build) + "/modules" : modules ? modules : ".";
    std::string error;
    module = tovrel::host::Module::Load(folder + "/timfilter.so", error);
    ASSERT_NE(module, nullptr) << error;
    filter = tovrel::host::FileFilter::FromModule(*module, error);
    ASSERT_NE(filter, nullptr) << error;
    std::string pattern = (fs::temp_directory_path() / "timfilter-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    tp::ClearJournal();
    blocks = tp::Memory().liveBlocks;
  }
  void TearDown() override {
    fs::remove_all(dir);
    EXPECT_EQ(tp::Memory().liveBlocks, blocks) << "memory blocks left behind";
  }

  std::string Path(const std::string& name) const { return (dir / name).string(); }
  std::string Save(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream(Path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                      static_cast<std::streamsize>(bytes.size()));
    return Path(name);
  }
  std::vector<uint8_t> Load(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

  struct Opened {
    HANDLE handle = nullptr;
    LONG rate = 0, bufferSize = 0;
    WORD bits = 0, channels = 0;
    std::vector<int16_t> samples;
  };
  Opened Open(const std::string& path) {
    Opened o;
    o.handle = f().openInput(path.c_str(), &o.rate, &o.bits, &o.channels, nullptr, &o.bufferSize);
    if (!o.handle) return o;
    const LONG bytes = f().fileSize(o.handle);
    o.samples.resize(static_cast<std::size_t>(bytes / 2));
    for (LONG at = 0; at < bytes; at += o.bufferSize) {
      const LONG n = std::min(o.bufferSize, bytes - at);
      EXPECT_EQ(f().read(o.handle, reinterpret_cast<BYTE*>(o.samples.data()) + at, n), static_cast<DWORD>(n));
    }
    return o;
  }
  std::string Item(HANDLE input, LONG type) {
    const DWORD size = f().canReadSpecial(input, type);
    std::vector<char> buffer(size + 1, '\x7F');
    if (size == 0) return "";
    EXPECT_EQ(f().readSpecial(input, type, buffer.data(), static_cast<LONG>(size)), size);
    EXPECT_EQ(buffer[size], '\x7F');  // nothing beyond the announced size
    return buffer.data();
  }

  // Writes samples through the filter in the host's 8192-byte chunks, with the given items.
  DWORD Write(const std::string& path, const std::vector<int16_t>& samples, LONG rate, DWORD option,
              const std::vector<std::pair<LONG, std::string>>& items = {}) {
    LONG bufferSize = 0;
    HANDLE out = f().openOutput(path.c_str(), rate, 16, 1, static_cast<LONG>(samples.size() * 2), &bufferSize, option);
    EXPECT_NE(out, nullptr);
    if (!out) return 0;
    EXPECT_EQ(bufferSize, 8192);
    for (const auto& [type, text] : items) {
      EXPECT_EQ(f().canWriteSpecial(out, type), 1u);
      f().writeSpecial(out, type, text.c_str(), static_cast<LONG>(text.size() + 1));
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(samples.data());
    const LONG total = static_cast<LONG>(samples.size() * 2);
    for (LONG at = 0; at < total; at += bufferSize) {
      const LONG n = std::min(bufferSize, total - at);
      EXPECT_EQ(f().write(out, bytes + at, n), static_cast<DWORD>(n));
    }
    return f().closeOutput(out);
  }

  std::vector<const tp::MessageBoxEvent*> Boxes() const {
    std::vector<const tp::MessageBoxEvent*> out;
    for (const auto& e : tp::Journal())
      if (auto* b = std::get_if<tp::MessageBoxEvent>(&e)) out.push_back(b);
    return out;
  }

  const tovrel::host::FileFilter& f() const { return *filter; }
  std::unique_ptr<tovrel::host::Module> module;
  std::unique_ptr<tovrel::host::FileFilter> filter;
  fs::path dir;
  long blocks = 0;
};

TEST_F(TimFilterTest, DescribesItself) {
  const FilterDescriptor& d = f().descriptor();
  EXPECT_EQ(f().queryResult(), 0x480);
  EXPECT_STREQ(d.name, "MLSSA");
  EXPECT_STREQ(d.description, "MLSSA Time Domain Data File");
  const auto bytes = Bytes(&d, sizeof d);
  for (std::size_t at : {104, 106, 108, 110, 114, 116, 118, 120, 126, 128}) EXPECT_EQ(At<uint16_t>(bytes, at), 0) << at;
  EXPECT_EQ(At<uint16_t>(bytes, 124), 255);
  EXPECT_EQ(At<uint32_t>(bytes, 132), 359u);
  EXPECT_STREQ(d.extension, "TIM");
  EXPECT_EQ(At<uint32_t>(bytes, 140), 8192u);
  // The options dialog procedure also by its ordinal.
  const HMODULE instance = f().module().instance();
  EXPECT_EQ(GetProcAddress(instance, MAKEINTRESOURCEA(20)), GetProcAddress(instance, "DIALOGMsgProc"));
  EXPECT_NE(GetProcAddress(instance, "DIALOGMsgProc"), nullptr);
}

TEST_F(TimFilterTest, RecognisesTimFilesByTheirMagic) {
  TimImage tim;
  tim.points = {0.1f, -0.2f};
  EXPECT_EQ(f().understands(Save("a.tim", tim.Build()).c_str()), 1);
  EXPECT_EQ(f().understands(Save("b.wav", {'R', 'I', 'F', 'F', 0, 0, 0, 0}).c_str()), 0);
  EXPECT_EQ(f().understands(Save("c.tim", {0xCD, 0xAB, 0xFF}).c_str()), 0);
  EXPECT_EQ(f().understands(Path("missing.tim").c_str()), 0);
  EXPECT_EQ(f().understands(dir.c_str()), 0);
}

TEST_F(TimFilterTest, ReadsAMeasurementAsFullRangeMonoAudio) {
  TimImage tim;
  tim.mode = 2;
  tim.interval = 0.0208333f;
  for (int i = 0; i < 5000; ++i) tim.points.push_back(0.8f * std::sin(0.01f * i) * std::exp(-0.0005f * i));
  tim.points[1234] = -1.25f;  // the peak
  tim.settings = MeasurementSettings();
  auto o = Open(Save("m.tim", tim.Build()));
  ASSERT_NE(o.handle, nullptr);
  EXPECT_EQ(o.rate, 48000);
  EXPECT_EQ(o.bits, 16);
  EXPECT_EQ(o.channels, 1);
  EXPECT_EQ(o.bufferSize, 8192);
  ASSERT_EQ(o.samples.size(), 5000u);
  for (std::size_t i = 0; i < 5000; ++i)
    ASSERT_EQ(o.samples[i], static_cast<int16_t>(std::round(tim.points[i] / 1.25 * 32767.0))) << i;
  EXPECT_EQ(o.samples[1234], -32767);

  char text[64] = {};
  EXPECT_EQ(f().options(o.handle), 3u);
  EXPECT_EQ(f().optionsString(o.handle, text), 3u);
  EXPECT_STREQ(text, "Asynchronous-correlation mode acquired MLSSA");

  const std::pair<LONG, DWORD> sizes[] = {{31, 401}, {27, 501}, {24, 501}, {33, 9}, {26, 36}, {21, 60}, {32, 80}};
  for (auto [type, size] : sizes) EXPECT_EQ(f().canReadSpecial(o.handle, type), size) << type;
  EXPECT_EQ(f().canReadSpecial(o.handle, 25), 0u);
  EXPECT_EQ(Item(o.handle, 32), "Loudspeaker A, 1 m");
  EXPECT_EQ(Item(o.handle, 21), "on axis, 85 dB");
  EXPECT_EQ(Item(o.handle, 26), "Do not modify the lines below !!!");
  EXPECT_EQ(Item(o.handle, 33), "0000A03F");  // 1.25f in memory order
  const std::string hex = Item(o.handle, 27) + Item(o.handle, 24) + Item(o.handle, 31);
  ASSERT_EQ(hex.size(), 1400u);
  EXPECT_EQ(hex.substr(0, 6), "0B3055");  // bytes 11, 48, 85
  f().closeInput(o.handle);
}

TEST_F(TimFilterTest, ModesAndTheirTexts) {
  const std::pair<uint16_t, std::pair<DWORD, const char*>> cases[] = {
      {0, {1, "Scope mode acquired MLSSA"}},
      {1, {2, "Cross-correlation mode acquired MLSSA"}},
      {2, {3, "Asynchronous-correlation mode acquired MLSSA"}},
      {7, {2, "Cross-correlation mode acquired MLSSA"}},
      {0xFFFF, {2, "Cross-correlation mode acquired MLSSA"}}};
  for (const auto& [mode, expected] : cases) {
    TimImage tim;
    tim.mode = mode;
    tim.points = {0.5f};
    auto o = Open(Save("mode.tim", tim.Build()));
    ASSERT_NE(o.handle, nullptr);
    char text[64];
    EXPECT_EQ(f().optionsString(o.handle, text), expected.first) << mode;
    EXPECT_STREQ(text, expected.second);
    f().closeInput(o.handle);
  }
}

TEST_F(TimFilterTest, SilentRecordOpensAsSilence) {
  TimImage tim;
  tim.points.assign(300, 0.0f);
  auto o = Open(Save("zero.tim", tim.Build()));
  ASSERT_NE(o.handle, nullptr);
  EXPECT_EQ(o.samples, std::vector<int16_t>(300, 0));
  EXPECT_EQ(Item(o.handle, 33), "00000000");
  f().closeInput(o.handle);
}

TEST_F(TimFilterTest, RecordsLongerThanTheBufferAreReadFromTheFile) {
  TimImage tim;
  for (int i = 0; i < 70000; ++i) tim.points.push_back(static_cast<float>((i % 1000) - 500) * 0.001f);
  auto o = Open(Save("long.tim", tim.Build()));
  ASSERT_NE(o.handle, nullptr);
  ASSERT_EQ(o.samples.size(), 70000u);
  for (std::size_t i = 0; i < 70000; i += 997)
    ASSERT_EQ(o.samples[i], static_cast<int16_t>(std::round(tim.points[i] / 0.5 * 32767.0))) << i;
  EXPECT_EQ(o.samples[69000], -32767);
  EXPECT_EQ(Item(o.handle, 32), "Loudspeaker A, 1 m");
  f().closeInput(o.handle);
}

TEST_F(TimFilterTest, WithoutMemoryForTheBufferThePointsComeFromTheFile) {
  TimImage tim;
  for (int i = 0; i < 9000; ++i) tim.points.push_back(0.001f * static_cast<float>(i % 301 - 150));
  const auto path = Save("nobuffer.tim", tim.Build());
  // The state block is had, the 256 KB buffer is not, or it cannot be locked.
  for (const tp::Faults& fault : {tp::Faults{.failAllocation = 2}, tp::Faults{.failLock = 2}}) {
    tp::ArmFaults(fault);
    auto o = Open(path);
    tp::DisarmFaults();
    ASSERT_NE(o.handle, nullptr);
    ASSERT_EQ(o.samples.size(), 9000u);
    const double peak = std::fabs(tim.points[0]);
    for (std::size_t i = 0; i < 9000; ++i)
      ASSERT_EQ(o.samples[i], static_cast<int16_t>(std::round(tim.points[i] / peak * 32767.0))) << i;
    EXPECT_EQ(Item(o.handle, 21), "on axis, 85 dB");
    f().closeInput(o.handle);
  }

  tp::ArmFaults({.failAllocation = 1});  // not even the state block
  EXPECT_EQ(Open(path).handle, nullptr);
  tp::DisarmFaults();
}

TEST_F(TimFilterTest, MalformedFilesAreRefusedWithAReason) {
  const auto refused = [&](TimImage tim, const char* why) {
    tp::ClearJournal();
    auto o = Open(Save("bad.tim", tim.Build()));
    EXPECT_EQ(o.handle, nullptr) << why;
    const auto boxes = Boxes();
    EXPECT_EQ(boxes.size(), 1u) << why;
    if (!boxes.empty()) {
      EXPECT_FALSE(boxes[0]->text.empty());
      EXPECT_EQ(boxes[0]->type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR)) << why;
    }
  };
  TimImage base;
  base.points = {0.25f, -0.5f, 0.125f};
  for (int32_t length : {0, -1, -100000, 1000, 1 << 30, std::numeric_limits<int32_t>::max()}) {
    TimImage t = base;
    t.length = length;
    refused(t, "record length");
  }
  for (float interval : {0.0f, -0.02f, std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(), 1e-30f, 5000.0f}) {
    TimImage t = base;
    t.interval = interval;
    refused(t, "interval");
  }
  TimImage nan = base;
  nan.points[1] = std::numeric_limits<float>::quiet_NaN();
  refused(nan, "not a number");
  TimImage inf = base;
  inf.points[2] = -std::numeric_limits<float>::infinity();
  refused(inf, "infinite");

  // Not a TIM file at all: simply not taken.
  tp::ClearJournal();
  auto bytes = base.Build();
  bytes[0] = 0;
  EXPECT_EQ(Open(Save("wav.tim", bytes)).handle, nullptr);
  EXPECT_EQ(Open(Path("missing.tim")).handle, nullptr);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(TimFilterTest, FileCutAtEveryOffsetOpensWithItsPointsOrIsRefused) {
  TimImage tim;
  for (int i = 0; i < 16; ++i) tim.points.push_back(0.01f * static_cast<float>(i - 8));
  const auto whole = tim.Build();
  const std::size_t pointsEnd = kTimHeaderBytes + 4 * 16;
  for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
    auto o = Open(Save("cut.tim", std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(cut))));
    if (cut < pointsEnd) {
      EXPECT_EQ(o.handle, nullptr) << cut;
      continue;
    }
    ASSERT_NE(o.handle, nullptr) << cut;
    EXPECT_EQ(o.samples.size(), 16u);
    EXPECT_EQ(o.samples[0], -32767);
    // The text items come only with the whole file.
    EXPECT_EQ(f().canReadSpecial(o.handle, 32), cut == whole.size() ? 80u : 0u) << cut;
    char buffer[80];
    EXPECT_EQ(f().readSpecial(o.handle, 32, buffer, 80), cut == whole.size() ? 80u : 0u);
    f().closeInput(o.handle);
  }
}

std::vector<int16_t> Ramp(std::size_t n) {
  std::vector<int16_t> s(n);
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<int16_t>(static_cast<int>(i * 131 % 65536) - 32768);
  return s;
}

TEST_F(TimFilterTest, WritesAShortDocumentWithTheDefaultBlock) {
  const auto samples = Ramp(1000);
  ASSERT_EQ(Write(Path("out.tim"), samples, 44100, 2), 1u);
  const auto file = Load(Path("out.tim"));
  ASSERT_EQ(file.size(), 14u + 4 * 2048 + 840);
  EXPECT_EQ(At<uint32_t>(file, 0), kTimMagic);
  EXPECT_EQ(At<uint16_t>(file, 4), 1);
  EXPECT_NEAR(At<float>(file, 6), 0.022675737f, 1e-9f);
  EXPECT_EQ(At<int32_t>(file, 10), 2048);
  for (std::size_t i = 0; i < 1000; ++i)
    ASSERT_EQ(At<float>(file, 14 + 4 * i), static_cast<float>(samples[i]) / 32768.0f) << i;
  for (std::size_t i = 1000; i < 2048; ++i) ASSERT_EQ(At<float>(file, 14 + 4 * i), 0.0f) << i;
  const std::size_t t = 14 + 4 * 2048;
  EXPECT_STREQ(reinterpret_cast<const char*>(&file[t]), "Waveform (from Vorn Edit conversion) - Volts");
  EXPECT_STREQ(reinterpret_cast<const char*>(&file[t + 80]), "File transferred from a 16 bit original file");
  const std::size_t s = t + 140;
  EXPECT_EQ(At<uint16_t>(file, s + 32), 11);
  EXPECT_EQ(At<uint32_t>(file, s + 40), 2048u);
  EXPECT_EQ(At<uint16_t>(file, s + 44), 1);
  EXPECT_EQ(At<float>(file, s + 6), static_cast<float>(44.1));
  const std::string when(reinterpret_cast<const char*>(&file[s + 412]));
  EXPECT_TRUE(std::regex_match(when, std::regex(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d)"))) << when;
}

TEST_F(TimFilterTest, LongDocumentsFillOrCutTheRecordAt65535) {
  ASSERT_EQ(Write(Path("40k.tim"), Ramp(40000), 48000, 1), 1u);
  auto file = Load(Path("40k.tim"));
  ASSERT_EQ(file.size(), 14u + 4 * 65535 + 840);
  EXPECT_EQ(At<int32_t>(file, 10), 65535);
  EXPECT_EQ(At<uint16_t>(file, 4), 0);
  EXPECT_NE(At<float>(file, 14 + 4 * 39999), 0.0f);
  for (std::size_t i = 40000; i < 65535; ++i) ASSERT_EQ(At<float>(file, 14 + 4 * i), 0.0f);

  const auto samples = Ramp(70000);
  ASSERT_EQ(Write(Path("70k.tim"), samples, 48000, 3), 1u);
  file = Load(Path("70k.tim"));
  ASSERT_EQ(file.size(), 14u + 4 * 65535 + 840);
  EXPECT_EQ(At<int32_t>(file, 10), 65535);
  EXPECT_EQ(At<float>(file, 14 + 4 * 65534), static_cast<float>(samples[65534]) / 32768.0f);
  EXPECT_EQ(At<uint32_t>(file, 14 + 4 * 65535 + 140 + 40), 65535u);
}

TEST_F(TimFilterTest, OnlyMono16BitIsWrittenAndNothingIsCreatedOtherwise) {
  LONG bufferSize = 0;
  EXPECT_EQ(f().openOutput(Path("st.tim").c_str(), 44100, 16, 2, 4000, &bufferSize, 2), nullptr);
  EXPECT_EQ(f().openOutput(Path("8.tim").c_str(), 44100, 8, 1, 4000, &bufferSize, 2), nullptr);
  EXPECT_EQ(f().openOutput(Path("r.tim").c_str(), 0, 16, 1, 4000, &bufferSize, 2), nullptr);
  EXPECT_FALSE(fs::exists(Path("st.tim")));
  EXPECT_FALSE(fs::exists(Path("8.tim")));
  EXPECT_FALSE(fs::exists(Path("r.tim")));
}

TEST_F(TimFilterTest, ReadAndWrittenBackKeepsTitleCommentAndSettings) {
  TimImage tim;
  tim.mode = 0;
  for (int i = 0; i < 3000; ++i) tim.points.push_back(0.003f * static_cast<float>((i * 7) % 200 - 100));
  tim.settings = MeasurementSettings();
  const auto original = tim.Build();
  auto o = Open(Save("in.tim", original));
  ASSERT_NE(o.handle, nullptr);
  std::vector<std::pair<LONG, std::string>> items;
  for (LONG type : {31, 27, 24, 33, 26, 21, 32})
    if (f().canWriteSpecial(o.handle, type)) items.emplace_back(type, Item(o.handle, type));
  EXPECT_EQ(items.size(), 6u);  // the fixed line is not taken back
  const DWORD option = f().options(o.handle);
  f().closeInput(o.handle);

  const auto trailerOf = [](const std::vector<uint8_t>& file, std::size_t points) {
    return std::vector<uint8_t>(file.begin() + static_cast<long>(14 + 4 * points), file.end());
  };
  // The same rate: everything but the record length (40) and the mode (44) is kept.
  ASSERT_EQ(Write(Path("same.tim"), o.samples, 48000, option, items), 1u);
  auto back = Load(Path("same.tim"));
  ASSERT_EQ(back.size(), 14u + 4 * 4096 + 840);
  EXPECT_EQ(At<uint16_t>(back, 4), 0);
  auto before = trailerOf(original, 3000), after = trailerOf(back, 4096);
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (i >= 140 + 40 && i < 140 + 46) continue;  // record length 3000 -> 4096, mode
    ASSERT_EQ(after[i], before[i]) << "trailer byte " << i;
  }
  EXPECT_EQ(At<uint32_t>(after, 140 + 40), 4096u);
  EXPECT_EQ(At<uint16_t>(after, 140 + 44), 0);
  // The scale restores the volts: P * round(v / P * 32767) / 32768 with the peak P = 0.3.
  for (std::size_t i = 0; i < 3000; i += 101)
    EXPECT_NEAR(At<float>(back, 14 + 4 * i), tim.points[i], 1.5 * 0.3 / 32768) << i;

  // Another rate: offsets 6 and 10 follow it too.
  ASSERT_EQ(Write(Path("rate.tim"), o.samples, 44100, 1, items), 1u);
  after = trailerOf(Load(Path("rate.tim")), 4096);
  for (std::size_t i = 0; i < before.size(); ++i) {
    const std::size_t s = i - 140;
    if (i >= 140 && ((s >= 6 && s < 14) || (s >= 40 && s < 46))) continue;
    ASSERT_EQ(after[i], before[i]) << "trailer byte " << i;
  }
  EXPECT_EQ(At<float>(after, 140 + 6), static_cast<float>(44.1));
  EXPECT_EQ(At<float>(after, 140 + 10), static_cast<float>(44.1f * 0.45454544));
}

TEST_F(TimFilterTest, ItemsThatDoNotComeBackWhole) {
  const auto samples = Ramp(100);
  TimTexts texts;
  TimTextsFromTrailer(std::vector<uint8_t>(840, 0xAB), texts);
  const std::vector<std::pair<LONG, std::string>> good = {
      {33, "0000803F"}, {27, texts.settings1}, {24, texts.settings2}, {31, texts.settings3}, {32, "T"}, {21, "C"}};
  const auto trailer = [&](const std::vector<std::pair<LONG, std::string>>& items) {
    EXPECT_EQ(Write(Path("i.tim"), samples, 8000, 2, items), 1u);
    const auto file = Load(Path("i.tim"));
    return std::vector<uint8_t>(file.begin() + 14 + 4 * 2048, file.end());
  };
  EXPECT_STREQ(reinterpret_cast<const char*>(trailer(good).data()), "T");
  // Lowercase hex, a settings text missing, or no scale: the default block and texts.
  auto lower = good;
  for (char& c : lower[1].second) c = static_cast<char>(std::tolower(c));
  for (const auto& items : {lower, std::vector(good.begin() + 1, good.end()),
                            std::vector(good.begin(), good.begin() + 3)}) {
    const auto t = trailer(items);
    EXPECT_STREQ(reinterpret_cast<const char*>(t.data()), kTimDefaultTitle);
    EXPECT_STREQ(reinterpret_cast<const char*>(t.data() + 140 + 440), "Vorn Edit conversion");
  }
  // A wrong size also drops the scale: the points are sample / 32768 again.
  LONG bufferSize;
  HANDLE out = f().openOutput(Path("w.tim").c_str(), 8000, 16, 1, 200, &bufferSize, 2);
  ASSERT_NE(out, nullptr);
  f().writeSpecial(out, 33, "00000040", 9);  // 2.0
  f().writeSpecial(out, 27, texts.settings1, 500);
  EXPECT_EQ(f().write(out, reinterpret_cast<const BYTE*>(samples.data()), 200), 200u);
  EXPECT_EQ(f().closeOutput(out), 1u);
  const auto file = Load(Path("w.tim"));
  EXPECT_EQ(At<float>(file, 14 + 4 * 5), static_cast<float>(samples[5]) / 32768.0f);
}

TEST_F(TimFilterTest, FailedWritesAreReportedAndLeaveNoTrailer) {
  LONG bufferSize;
  HANDLE out = f().openOutput(Path("full.tim").c_str(), 8000, 16, 1, 2000, &bufferSize, 2);
  ASSERT_NE(out, nullptr);
  // The file may not grow beyond 100 bytes from now on.
  struct rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 100;
  setrlimit(RLIMIT_FSIZE, &small);
  const auto samples = Ramp(1000);
  const DWORD written = f().write(out, reinterpret_cast<const BYTE*>(samples.data()), 2000);
  const DWORD closed = f().closeOutput(out);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(closed, 0u);
  EXPECT_LE(fs::file_size(Path("full.tim")), 100u);

  // A record the host never completed is closed without trailing blocks.
  out = f().openOutput(Path("short.tim").c_str(), 8000, 16, 1, 2000, &bufferSize, 2);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(f().write(out, reinterpret_cast<const BYTE*>(samples.data()), 1000), 1000u);
  EXPECT_EQ(f().closeOutput(out), 0u);
  EXPECT_EQ(fs::file_size(Path("short.tim")), 14u + 4 * 500);
}

// A user who clicks the given controls in turn, then nothing more.
class Clicker : public tp::User {
 public:
  explicit Clicker(std::vector<int> ids) : ids_(std::move(ids)) {}
  void DialogIdle(HWND dialog, int round) override {
    if (round == 0) seen = tp::Inspect(dialog);
    if (static_cast<std::size_t>(round) < ids_.size()) {
      if (ids_[static_cast<std::size_t>(round)] == 0) tp::PressCloseBox(dialog);
      else tp::Click(dialog, ids_[static_cast<std::size_t>(round)]);
    }
  }
  int MessageBox(const tp::MessageBoxEvent& box) override { return tp::DefaultAnswer(box.type); }
  tp::DialogState seen;

 private:
  std::vector<int> ids_;
};

TEST_F(TimFilterTest, OptionsDialogChoosesTheAcquisitionMode) {
  const auto run = [&](std::vector<int> clicks, DWORD current, tp::DialogState* seen = nullptr) {
    Clicker user(std::move(clicks));
    tp::SetUser(&user);
    const DWORD result = f().getOptions(tp::HostWindow(), f().module().instance(), 44100, 1, 16, current);
    tp::SetUser(nullptr);
    if (seen) *seen = user.seen;
    return result;
  };
  tp::DialogState seen;
  EXPECT_EQ(run({IDOK}, 0, &seen), 2u);
  EXPECT_EQ(seen.caption, "MLSSA acquisition mode");
  ASSERT_NE(seen.Find(1001), nullptr);
  EXPECT_EQ(seen.Find(1001)->check, BST_CHECKED);
  EXPECT_EQ(seen.Find(1000)->text, "Scope");
  EXPECT_EQ(seen.Find(1003)->text, "Asynchronous-correlation");
  EXPECT_EQ(run({IDOK}, 1), 1u);
  EXPECT_EQ(run({IDOK}, 3), 3u);
  EXPECT_EQ(run({IDOK}, 9), 2u);
  EXPECT_EQ(run({1003, IDOK}, 1), 3u);
  EXPECT_EQ(run({1000, IDOK}, 3), 1u);
  EXPECT_EQ(run({1001, IDOK}, 3), 2u);
  EXPECT_EQ(run({1003, IDCANCEL}, 1), 0u);
  EXPECT_EQ(run({0}, 1), 0u);  // the close box
  tp::ClearJournal();
  EXPECT_EQ(run({3, 1000, IDOK}, 2), 1u);  // Help leaves the dialog open
  bool helped = false;
  for (const auto& e : tp::Journal())
    if (auto* h = std::get_if<tp::HelpEvent>(&e))
      helped = h->file == "tovrel96.hlp" && h->command == HELP_KEY && h->keyword == "TIM Filter";
  EXPECT_TRUE(helped);
}

}  // namespace
