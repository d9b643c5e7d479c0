// Loading the convolver's impulse responses: wave layouts, the three sources, the rules
// that tie IR1 and IR2, their messages, and the blocks a parameter block may name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "liveconvolver/livefold/sources.h"
#include "platform/portable/faces.h"

namespace tp = tovrel::portable;
namespace fs = std::filesystem;

namespace {

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(v >> (8 * k)));
}
void Put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void PutTag(std::vector<uint8_t>& b, const char* tag) {
  for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(tag[k]));
}

struct WaveImageShape {
  int channels = 1;
  int bits = 16;
  uint32_t rate = 44100;
  std::vector<int16_t> samples = {1000, -2000, 3000};
  uint32_t fmtBytes = 16;
  std::vector<std::pair<std::string, uint32_t>> extra;  // chunks between "fmt " and "data"
  int64_t statedData = -1;                              // data length as stated, -1: the real one
};

std::vector<uint8_t> Wave(const WaveImageShape& s) {
  std::vector<uint8_t> b;
  PutTag(b, "RIFF");
  Put32(b, 0);
  PutTag(b, "WAVE");
  PutTag(b, "fmt ");
  Put32(b, s.fmtBytes);
  Put16(b, 1);
  Put16(b, static_cast<uint16_t>(s.channels));
  Put32(b, s.rate);
  Put32(b, s.rate * s.channels * 2);
  Put16(b, static_cast<uint16_t>(s.channels * 2));
  Put16(b, static_cast<uint16_t>(s.bits));
  for (uint32_t k = 16; k < s.fmtBytes; ++k) b.push_back(0);
  for (const auto& [tag, bytes] : s.extra) {
    PutTag(b, tag.c_str());
    Put32(b, bytes);
    b.insert(b.end(), bytes + (bytes & 1), 0x55);
  }
  PutTag(b, "data");
  Put32(b, s.statedData >= 0 ? static_cast<uint32_t>(s.statedData) : static_cast<uint32_t>(2 * s.samples.size()));
  for (int16_t v : s.samples) Put16(b, static_cast<uint16_t>(v));
  const uint32_t riff = static_cast<uint32_t>(b.size() - 8);
  std::memcpy(b.data() + 4, &riff, 4);
  return b;
}

// Answers file dialogs from a queue and records them.
class FileUser : public tp::User {
 public:
  void DialogIdle(HWND, int) override {}
  int MessageBox(const tp::MessageBoxEvent& box) override { return tp::DefaultAnswer(box.type); }
  std::optional<std::string> OpenFileName(const tp::FileDialogEvent&) override {
    if (answers.empty()) return std::nullopt;
    std::string next = answers.front();
    answers.erase(answers.begin());
    return next;
  }
  std::vector<std::string> answers;
};

class Sources : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("livefold_sources_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    tp::SetUser(&user_);
    tp::LoadClipboard({});
    tp::ClearJournal();
    std::memset(&p_, 0, sizeof p_);
    p_.combinedLetter = p_.responseLetter[0] = p_.responseLetter[1] = 'x';
    p_.selectionFrames = 1000;
  }
  void TearDown() override {
    ReleaseBlocks(p_, 0);
    ReleaseBlocks(p_, 1);
    tp::SetUser(nullptr);
    tp::SetWindowsFolder("");
    tp::DisarmFaults();
    fs::remove_all(dir_);
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
  }
  bool LoadFile(int which, const std::string& path) {
    user_.answers = {path};
    return LoadResponse(nullptr, p_, which, kSourceFile, false);
  }
  // The message boxes shown since the journal was cleared, as "caption: text".
  std::vector<std::string> Boxes() {
    std::vector<std::string> out;
    for (const auto& e : tp::Journal())
      if (auto* b = std::get_if<tp::MessageBoxEvent>(&e)) out.push_back(b->caption + ": " + b->text);
    tp::ClearJournal();
    return out;
  }
  std::vector<int16_t> Samples(int which) {
    if (!LiveSampleBlock(p_, which)) return {};
    HGLOBAL h = reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(p_.responseSamples[which]));
    const auto* s = static_cast<const int16_t*>(GlobalLock(h));
    std::vector<int16_t> out(s, s + p_.responseFrames[which] * p_.responseChannels[which]);
    GlobalUnlock(h);
    return out;
  }

  fs::path dir_;
  FileUser user_;
  LiveParams p_;
};

}  // namespace

TEST(WaveLayouts, FilesWalkTheirChunksWhileClipboardDataMustBeCanonical) {
  struct Case {
    const char* what;
    WaveImageShape shape;
    WaveProblem file, clipboard;
  };
  WaveImageShape extra;
  extra.extra = {{"LIST", 3}, {"junk", 10}};  // an odd chunk and its pad byte
  WaveImageShape longFmt;
  longFmt.fmtBytes = 18;
  WaveImageShape bits8;
  bits8.bits = 8;
  WaveImageShape three;
  three.channels = 3;
  WaveImageShape overlong;
  overlong.statedData = 1000;
  WaveImageShape empty;
  empty.samples = {};
  const Case cases[] = {
      {"canonical", {}, WaveProblem::None, WaveProblem::None},
      {"extra chunks", extra, WaveProblem::None, WaveProblem::NoData},
      {"fmt of 18 bytes", longFmt, WaveProblem::None, WaveProblem::NoData},
      {"8-bit", bits8, WaveProblem::Bits, WaveProblem::Bits},
      {"three channels", three, WaveProblem::Format, WaveProblem::Format},
      {"data longer than the file", overlong, WaveProblem::NoData, WaveProblem::NoData},
      {"no frame", empty, WaveProblem::NoData, WaveProblem::NoData},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = Wave(c.shape);
    auto read = [](void* file, uint64_t at, uint8_t* to, std::size_t n) {
      auto* b = static_cast<std::vector<uint8_t>*>(file);
      if (at + n > b->size()) return false;
      std::memcpy(to, b->data() + at, n);
      return true;
    };
    const WaveLayout f = ParseWaveFile(&bytes, read, bytes.size());
    EXPECT_EQ(f.problem, c.file) << c.what;
    EXPECT_EQ(ParseClipboardWave(bytes.data(), bytes.size()).problem, c.clipboard) << c.what;
    if (f.problem == WaveProblem::None) {
      EXPECT_EQ(f.dataBytes, 2 * c.shape.samples.size()) << c.what;
      EXPECT_EQ(bytes[f.dataOffset], static_cast<uint8_t>(c.shape.samples[0] & 0xff)) << c.what;
    }
  }
  // A truncated header, and a file that ends inside its chunk list.
  std::vector<uint8_t> cut = Wave({});
  EXPECT_EQ(ParseClipboardWave(cut.data(), 40).problem, WaveProblem::Format);
  extra.extra = {{"LIST", 400}};
  cut = Wave(extra);
  cut.resize(100);
  auto read = [](void* file, uint64_t at, uint8_t* to, std::size_t n) {
    auto* b = static_cast<std::vector<uint8_t>*>(file);
    if (at + n > b->size()) return false;
    std::memcpy(to, b->data() + at, n);
    return true;
  };
  EXPECT_EQ(ParseWaveFile(&cut, read, cut.size()).problem, WaveProblem::NoData);
  EXPECT_EQ(DoubledDirectory("C:\\ir\\hall.wav"), "C:\\\\ir\\\\");
  EXPECT_EQ(DoubledDirectory("/data/ir/hall.wav"), "/data/ir/");
}

TEST_F(Sources, AFileLoadsThroughTheFileDialogAndAFailureKeepsThePreviousResponse) {
  WaveImageShape stereo;
  stereo.channels = 2;
  stereo.rate = 48000;
  stereo.samples = {100, -200, 300, -400};
  stereo.extra = {{"LIST", 5}};
  const std::string good = Write("hall.wav", Wave(stereo));
  p_.routingMask = 0xFF;
  ASSERT_TRUE(LoadFile(0, good));
  EXPECT_EQ(+p_.responseSource[0], kSourceFile);
  EXPECT_EQ(+p_.responseChannels[0], 2);
  EXPECT_EQ(+p_.responseRate[0], 48000);
  EXPECT_EQ(+p_.responseFrames[0], 2);
  EXPECT_EQ(+p_.responseEnergy[0], 100.0 * 100 + 200 * 200 + 300 * 300 + 400 * 400);
  EXPECT_EQ(+p_.routingMask, 0xF0);  // IR1's switches cleared
  EXPECT_STREQ(p_.responsePath[0], good.c_str());
  EXPECT_EQ(std::string(p_.fileDirectory), dir_.string() + "/");
  EXPECT_EQ(Samples(0), stereo.samples);
  const tp::FileDialogEvent* shown = nullptr;
  for (const auto& e : tp::Journal())
    if (auto* f = std::get_if<tp::FileDialogEvent>(&e)) shown = f;
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->title, "Open WAV File");
  EXPECT_EQ(shown->filters, (std::vector<std::string>{"Wav Files (*.wav)", "*.wav", "All (*.*)", "*.*"}));
  EXPECT_EQ(shown->filterIndex, 1u);
  EXPECT_EQ(shown->fileName, "*.wav");
  EXPECT_EQ(shown->flags, static_cast<DWORD>(OFN_LONGNAMES | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_SHOWHELP));
  tp::ClearJournal();

  // Each bad file gives its message; the stereo response stays, with its path.
  WaveImageShape bits8, three, overlong;
  bits8.bits = 8;
  three.channels = 3;
  overlong.statedData = 4000;
  std::vector<uint8_t> truncated = Wave({});
  truncated.resize(30);
  const std::pair<std::vector<uint8_t>, std::string> bad[] = {
      {Wave(bits8), "Loading File Error: Impulse Response must be a 16-bit WAV file"},
      {Wave(three), "Loading File Error: Impulse Response must be a Mono/Stereo 16-Bit WAV File"},
      {truncated, "Loading File Error: Impulse Response must be a Mono/Stereo 16-Bit WAV File"},
      {Wave(overlong), "Loading File Error: Error loading WAV File"},
  };
  for (const auto& [bytes, message] : bad) {
    EXPECT_FALSE(LoadFile(0, Write("bad.wav", bytes)));
    EXPECT_EQ(Boxes(), std::vector<std::string>{message});
    EXPECT_STREQ(p_.responsePath[0], good.c_str());
    EXPECT_EQ(Samples(0), stereo.samples);
  }
  // Cancelling the file dialog fails without a word.
  EXPECT_FALSE(LoadResponse(nullptr, p_, 0, kSourceFile, false));
  EXPECT_TRUE(Boxes().empty());

  // A file held by another process, and a read that fails.
  HANDLE held = CreateFileA(good.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(LoadFile(0, good));
  CloseHandle(held);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"File Access Error: " + good +
                                              "\nis alredy in use by another process.\n\nConvolver will exit."});
  const long blocks = tp::Memory().liveBlocks;
  tp::Faults faults;
  faults.failFileRead = 5;  // the data, after the header and three chunk headers
  tp::ArmFaults(faults);
  EXPECT_FALSE(LoadFile(0, good));
  tp::DisarmFaults();
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Loading File Error: Error loading WAV File"});
  EXPECT_EQ(tp::Memory().liveBlocks, blocks);
  EXPECT_EQ(Samples(0), stereo.samples);
}

TEST_F(Sources, TheRulesTieTheTwoResponses) {
  const std::string file = Write("mono.wav", Wave({}));
  EXPECT_FALSE(LoadFile(1, file));
  EXPECT_EQ(Boxes(), std::vector<std::string>{
                         "Impulse Response loading Error: Can't load Impulse Response 2 before loading Impulse Response 1!"});
  ASSERT_TRUE(LoadFile(0, file));
  p_.routingMask = 0x01;
  ASSERT_TRUE(LoadFile(1, file));
  EXPECT_EQ(+p_.routingMask, 0x01);
  p_.routingMask = 0x11;
  UpdateRouting(p_);
  EXPECT_FALSE(UnloadResponse(nullptr, p_, 0));
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Impulse Response unloading Error: Can't unload Impulse Response 1 "
                                              "before unloading Impulse Response 2!"});
  EXPECT_TRUE(LiveSampleBlock(p_, 0));
  // Unloading IR2 keeps IR1 and its routing.
  const long blocks = tp::Memory().liveBlocks;
  EXPECT_TRUE(UnloadResponse(nullptr, p_, 1));
  EXPECT_EQ(tp::Memory().liveBlocks, blocks - 2);  // its samples and its view
  EXPECT_EQ(+p_.routingMask, 0x01);
  EXPECT_EQ(+p_.responseSource[1], kSourceNone);
  EXPECT_EQ(+p_.responseFrames[1], 0);
  EXPECT_EQ(+p_.responseSamples[1], 0u);
  EXPECT_EQ(+p_.responseLetter[0], 'a');
  EXPECT_EQ(+p_.responseLetter[1], 'x');
  EXPECT_TRUE(UnloadResponse(nullptr, p_, 0));
  EXPECT_EQ(tp::Memory().liveBlocks, blocks - 4);
}

TEST_F(Sources, ClipboardsAreReadAsTheyAreNow) {
  WaveImageShape first;
  first.samples = {7, 8, 9, 10};
  tp::LoadClipboard({{CF_WAVE, Wave(first)}});
  ASSERT_TRUE(LoadResponse(nullptr, p_, 0, kSourceWindowsClipboard, false));
  EXPECT_EQ(Samples(0), first.samples);
  EXPECT_EQ(+p_.responseSource[0], kSourceWindowsClipboard);

  // Extra chunks are refused from the clipboard; no wave data, or a busy clipboard, fail silently.
  WaveImageShape extra;
  extra.extra = {{"LIST", 4}};
  tp::LoadClipboard({{CF_WAVE, Wave(extra)}});
  EXPECT_FALSE(LoadResponse(nullptr, p_, 0, kSourceWindowsClipboard, false));
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Loading File Error: Error loading WAV File"});
  tp::LoadClipboard({{CF_TEXT, {'a', 0}}});
  EXPECT_FALSE(LoadResponse(nullptr, p_, 0, kSourceWindowsClipboard, false));
  tp::LoadClipboard({{CF_WAVE, Wave({})}});
  tp::Faults busy;
  busy.clipboardBusy = true;
  tp::ArmFaults(busy);
  EXPECT_FALSE(LoadResponse(nullptr, p_, 0, kSourceWindowsClipboard, false));
  tp::DisarmFaults();
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Samples(0), first.samples);
  EXPECT_FALSE(tp::ClipboardIsOpen());

  // The reload when the dialog opens reads the clipboard of that moment.
  ASSERT_TRUE(ReloadResponses(nullptr, p_));
  EXPECT_EQ(Samples(0), (std::vector<int16_t>{1000, -2000, 3000}));

  // The host's clipboard: the file "Vorn.ini" names in the Windows folder.
  tp::SetWindowsFolder(dir_.string());
  EXPECT_FALSE(LoadResponse(nullptr, p_, 0, kSourceHostClipboard, false));
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Loading File Error: Error loading WAV File"});
  std::ofstream(dir_ / "Vorn.ini") << "[Vorn]\r\nTemp=C:\\TEMP\r\nClipboard=C:\\WINDOWS\\vornclip.tmp\r\n";
  EXPECT_EQ(HostClipboardFile(), "C:\\WINDOWS\\vornclip.wav");
  Write("vornclip.wav", Wave(first));
  ASSERT_TRUE(LoadResponse(nullptr, p_, 0, kSourceHostClipboard, false));
  EXPECT_EQ(+p_.responseSource[0], kSourceHostClipboard);
  EXPECT_EQ(Samples(0), first.samples);
}

TEST_F(Sources, HandlesNotMadeByThisModuleAreNeverUsed) {
  const std::string file = Write("ir.wav", Wave({}));
  // A block kept on disk from an earlier run names some other block of this process.
  HGLOBAL other = GlobalAlloc(GMEM_MOVEABLE, 64);
  p_.responseSource[0] = kSourceFile;
  p_.responseChannels[0] = 1;
  p_.responseFrames[0] = 32;
  p_.responseSamples[0] = static_cast<DWORD>(reinterpret_cast<uintptr_t>(other));
  p_.responseDisplay[0] = 12345;
  std::strcpy(p_.responsePath[0], file.c_str());
  p_.routingMask = 0x01;
  EXPECT_FALSE(LiveSampleBlock(p_, 0));
  ASSERT_TRUE(ReloadResponses(nullptr, p_));
  EXPECT_EQ(+p_.routingMask, 0x01);  // the reload keeps the routing
  EXPECT_EQ(GlobalSize(other), 64u);  // untouched
  EXPECT_EQ(Samples(0), (std::vector<int16_t>{1000, -2000, 3000}));
  EXPECT_NE(+p_.responseDisplay[0], 12345u);  // a view of its own
  GlobalFree(other);

  // Released blocks (Cancel) are reloaded; a source that is gone leaves both responses unloaded.
  ASSERT_TRUE(LoadFile(1, file));
  ReleaseBlocks(p_, 0);
  ReleaseBlocks(p_, 1);
  EXPECT_FALSE(LiveSampleBlock(p_, 0));
  fs::remove(file);
  const long blocks = tp::Memory().liveBlocks;
  EXPECT_FALSE(ReloadResponses(nullptr, p_));
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Loading File Error: Error loading WAV File"});
  EXPECT_EQ(+p_.responseSource[0], kSourceNone);
  EXPECT_EQ(+p_.responseSource[1], kSourceNone);
  EXPECT_EQ(tp::Memory().liveBlocks, blocks);

  // Memory that runs out keeps the previous response and leaks nothing.
  const std::string again = Write("ir.wav", Wave({}));
  ASSERT_TRUE(LoadFile(0, again));
  tp::Faults faults;
  faults.failAllocation = 1;
  tp::ArmFaults(faults);
  EXPECT_FALSE(LoadFile(0, again));
  tp::DisarmFaults();
  EXPECT_TRUE(LiveSampleBlock(p_, 0));
  EXPECT_NE(+p_.responseDisplay[0], 0u);
  EXPECT_EQ(tp::Memory().liveBlocks, blocks + 2);
}
