// Every dialog template of every module under Wine, as a user on a 96-dpi screen sees it:
// each text of a static, button, check box, radio button or group box, measured in the
// dialog's own font and wrapped as the control wraps it, fits the control. A picture of
// each dialog is kept under the build tree's Testing/dialogs as MODULE-ID.png.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "platform/portable/faces.h"
#include "win32/tests/wine_support.h"

namespace tovrel::wine {
namespace {

// The harness's top-down 32-bit BMP as a picture; empty when it is not one.
portable::Picture ReadBmp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  portable::Picture p;
  auto u32 = [&](std::size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
  };
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return p;
  const int32_t width = static_cast<int32_t>(u32(18)), height = -static_cast<int32_t>(u32(22));
  const std::size_t offset = u32(10), count = static_cast<std::size_t>(width) * (height > 0 ? height : 0);
  if (width <= 0 || height <= 0 || b.size() < offset + count * 4) return p;
  p.width = width;
  p.height = height;
  p.pixels.resize(count);
  std::memcpy(p.pixels.data(), b.data() + offset, count * 4);
  for (auto& px : p.pixels) px &= 0xFFFFFFu;
  return p;
}

std::vector<std::string> ModuleNames() {
  std::vector<std::string> names;
  for (const auto& m : Modules()) names.push_back(m.name);
  return names;
}

class DialogsOf : public ::testing::TestWithParam<std::string> {};

TEST_P(DialogsOf, EveryLabelFitsItsControl) {
  const std::string& name = GetParam();
  TOVREL_REQUIRE_WINE(name);
  const std::string dir = ScratchDir();
  HarnessRun run = RunHarness(name, {"--fit-dialogs", WinePath(dir)});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& r = run.report;
  for (const Json& e : r["errors"].elements) ADD_FAILURE() << e.text;
  std::set<unsigned> shown;
  for (const Json& d : r["dialogs"].elements) {
    const std::string dialog = name + " dialog " + std::to_string(d["id"].integer()) + " \"" + d["caption"].text + "\"";
    shown.insert(static_cast<unsigned>(d["id"].integer()));
    int measured = 0;
    for (const Json& c : d["controls"].elements) {
      if (!c.has("fits")) continue;
      ++measured;
      EXPECT_TRUE(c["fits"].boolean) << dialog << ": " << c["class"].text << " " << c["id"].integer() << " \""
                                     << c["text"].text << "\" needs " << c["needed"][0].integer() << "x"
                                     << c["needed"][1].integer() << " pixels, has " << c["available"][0].integer()
                                     << "x" << c["available"][1].integer();
    }
    EXPECT_GT(measured, 0) << dialog;
    // The picture shows the dialog: more than one colour, kept as PNG.
    const portable::Picture picture = ReadBmp(dir + "/" + std::to_string(d["id"].integer()) + ".bmp");
    ASSERT_EQ(picture.width, d["width"].integer()) << dialog;
    EXPECT_NE(std::count(picture.pixels.begin(), picture.pixels.end(), picture.pixels.front()),
              static_cast<long>(picture.pixels.size()))
        << dialog;
    const std::vector<uint8_t> png = portable::EncodePng(picture);
    std::ofstream out(ArtifactDir() + "/" + name + "-" + std::to_string(d["id"].integer()) + ".png", std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    EXPECT_TRUE(out.good() && !png.empty()) << dialog;
  }
  const std::vector<unsigned> templates = ReadRcDialogs(FindModule(name).rc);
  EXPECT_EQ(shown, std::set<unsigned>(templates.begin(), templates.end())) << "every template of " << name;
}

INSTANTIATE_TEST_SUITE_P(Wine, DialogsOf, ::testing::ValuesIn(ModuleNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
}  // namespace tovrel::wine
