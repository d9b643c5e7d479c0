// The host's own pieces: selections, labels as users type them, documents on disk,
// the state kept between runs and the JSON it prints.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>

#include "host/audiofile.h"
#include "host/core/document.h"
#include "host/core/json.h"
#include "host/state.h"
#include "host/user.h"

namespace fs = std::filesystem;
using namespace tovrel::host;
namespace portable = tovrel::portable;

namespace {

std::string TempDir() {
  std::string pattern = (fs::temp_directory_path() / "tovrel-host-XXXXXX").string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  return mkdtemp(buf.data());
}

TEST(Selection, FramesSecondsAndErrors) {
  Document doc = Document::Empty(1000, 2);
  doc.samples.resize(2 * 5000);
  std::string error;
  ASSERT_TRUE(ParseSelection("10:19", doc, error));
  EXPECT_EQ(doc.selStart, 10);
  EXPECT_EQ(doc.selectionLength(), 10);
  ASSERT_TRUE(ParseSelection("0.5s:1s", doc, error));
  EXPECT_EQ(doc.selStart, 500);
  EXPECT_EQ(doc.selEnd, 1000);
  for (const char* bad : {"", "5", "9:3", "-1:4", "0:5000", "a:b", "1s:xs", "0:1e9s"}) {
    Document d = doc;
    EXPECT_FALSE(ParseSelection(bad, d, error)) << bad;
    EXPECT_EQ(d.selStart, doc.selStart) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(Labels, MatchAsAUserTypesThem) {
  EXPECT_EQ(NormalizeLabel(" &MLS Order: "), "mls order");
  EXPECT_EQ(NormalizeLabel("Save && Quit"), "save & quit");
  portable::DialogState d;
  d.caption = "Test";
  auto add = [&](int id, portable::ControlKind kind, std::string text) {
    portable::ControlState c;
    c.id = id;
    c.kind = kind;
    c.text = std::move(text);
    d.controls.push_back(c);
  };
  add(-1, portable::ControlKind::Static, "&Length:");
  add(1001, portable::ControlKind::Edit, "10");
  add(-1, portable::ControlKind::Static, "Length");
  add(1002, portable::ControlKind::Edit, "20");
  add(1003, portable::ControlKind::CheckBox, "&Stereo");
  add(1, portable::ControlKind::PushButton, "OK");
  std::string error;
  EXPECT_EQ(FindControl(d, "stereo", error), 4);
  EXPECT_EQ(FindControl(d, "1002", error), 3);
  EXPECT_EQ(FindControl(d, "Width", error), -1);
  EXPECT_EQ(FindControl(d, "length", error), -2);
  EXPECT_NE(error.find("1001"), std::string::npos);
  EXPECT_NE(error.find("1002"), std::string::npos);
  EXPECT_EQ(ControlLabel(d, 1), "&Length:");
  EXPECT_EQ(ControlValue(d.controls[4]), "off");
}

TEST(AudioFiles, SixteenBitRoundTripAndWiderFormatsRoundedWithANotice) {
  const std::string dir = TempDir();
  Document doc = Document::Empty(22050, 2);
  doc.samples = {0, 1, -1, 32767, -32768, 100};
  std::string error;
  for (const char* ext : {".wav", ".aiff", ".flac"}) {
    const std::string path = dir + "/a" + ext;
    ASSERT_TRUE(WriteAudioFile(path, doc, error)) << error;
    AudioReadResult r = ReadAudioFile(path);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.doc.samples, doc.samples) << ext;
    EXPECT_EQ(r.doc.sampleRate, 22050);
    EXPECT_EQ(r.doc.selectionLength(), 3);
    EXPECT_TRUE(r.notice.empty());
  }
  // A float file: rounded to 16 bits, full scale clipped, and the user is told.
  SF_INFO info{};
  info.samplerate = 48000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  const std::string path = dir + "/f.wav";
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  const float values[] = {0.5f, -0.25f, 1.5f, -2.0f, 1.0f / 65536};
  sf_write_float(f, values, 5);
  sf_close(f);
  AudioReadResult r = ReadAudioFile(path);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.doc.samples, (std::vector<int16_t>{16384, -8192, 32767, -32768, 1}));
  EXPECT_NE(r.notice.find("2 samples clipped"), std::string::npos) << r.notice;
  // Not audio, and more than two channels: refused with a reason, no document.
  EXPECT_FALSE(ReadAudioFile(dir + "/missing.wav").ok);
  info.channels = 3;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  f = sf_open((dir + "/three.wav").c_str(), SFM_WRITE, &info);
  sf_close(f);
  r = ReadAudioFile(dir + "/three.wav");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("3 channels"), std::string::npos);
  // A write that cannot happen leaves nothing behind.
  EXPECT_FALSE(WriteAudioFile(dir + "/none/x.wav", doc, error));
  fs::remove_all(dir);
}

TEST(State, BlocksAndClipboardSurviveBetweenRuns) {
  const std::string dir = TempDir();
  StateStore store(dir);
  std::string error;
  EXPECT_FALSE(store.LoadBlock("seqsource", "ccl", 10).has_value());
  ASSERT_TRUE(store.SaveBlock("seqsource", "ccl", std::vector<uint8_t>(10, 7), error));
  EXPECT_EQ(store.LoadBlock("seqsource", "ccl", 10), std::vector<uint8_t>(10, 7));
  EXPECT_FALSE(store.LoadBlock("seqsource", "ccl", 12).has_value());  // a block of another layout is not used

  ASSERT_TRUE(store.SaveClipboard({{CF_WAVE, {1, 2, 3}}, {CF_TEXT, {'a', 0}}}, error));
  auto items = store.LoadClipboard();
  ASSERT_EQ(items.size(), 2u);
  ASSERT_TRUE(store.SaveClipboard({{CF_TEXT, {'b', 0}}}, error));
  items = store.LoadClipboard();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].format, static_cast<UINT>(CF_TEXT));
  EXPECT_EQ(items[0].bytes, (std::vector<uint8_t>{'b', 0}));
  fs::remove_all(dir);
}

TEST(JsonText, QuotesControlsAndKeepsNumbersExact) {
  Json j = Json::object();
  j["text"] = "a\"b\\c\n\td\x01";
  j["n"] = 0.1;
  j["f"] = static_cast<double>(0.1f);
  j["inf"] = INFINITY;
  j["list"] = Json::Array{Json(1), Json(true), Json()};
  EXPECT_EQ(j.dump(),
            "{\"text\":\"a\\\"b\\\\c\\n\\td\\u0001\",\"n\":0.1,\"f\":0.10000000149011612,\"inf\":null,"
            "\"list\":[1,true,null]}");
}

}  // namespace
