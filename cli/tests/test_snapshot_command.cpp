// tovrel run --snapshot: the display windows of the real-time convolver's dialog, as PNG.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <string>
#include <vector>

#include "cli/testing.h"
#include "cli/tests/sound_files.h"
#include "platform/portable/faces.h"

namespace {

class SnapshotCommand : public tovrel::cli::testing::CommandTest {
 protected:
  std::string Wav(const std::string& name, int channels, const std::vector<short>& samples) {
    return tovrel::cli::testing::WriteSoundFile(dir_ + "/" + name, samples, 44100, channels);
  }
  tovrel::portable::Picture Png(const std::string& name, const std::string& folder = "") {
    std::string error;
    auto p = tovrel::portable::ReadPng((folder.empty() ? dir_ : folder) + "/" + name, &error);
    EXPECT_TRUE(p.has_value()) << error;
    return p.value_or(tovrel::portable::Picture{});
  }
};

TEST_F(SnapshotCommand, SavesTheRoutingAndTheResponsesAsTheDialogShowsThem) {
  std::string list;
  Run("list", &list);
  if (list.find("Real Time Convolver") == std::string::npos) GTEST_SKIP() << "the convolver module is not built";
  std::vector<short> stereo(2 * 300), mono(200);
  for (std::size_t i = 0; i < stereo.size(); ++i) stereo[i] = static_cast<short>((i * 7919) % 20000 - 10000);
  for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = static_cast<short>(i % 2 ? 8000 : -8000);
  const std::string doc = Wav("doc.wav", 2, std::vector<short>(2 * 1000, 100));
  const std::string ir1 = Wav("ir1.wav", 2, stereo), ir2 = Wav("ir2.wav", 1, mono);
  std::string err;
  // IR1 (stereo) from the left input to both outputs, IR2 (mono) after it on the left path.
  ASSERT_EQ(Run("run \"Real Time Convolver\" '" + doc + "' --tab \"IR #1\" --open-file '" + ir1 +
                    "' --press File --tab \"IR #2\" --open-file '" + ir2 +
                    "' --press File --tab Monitor --set 1007=on --set 1008=on --set 1011=on --snapshot 'monitor=" +
                    dir_ + "/m.png' --snapshot 'ir2=" + dir_ + "/ir2.png' --snapshot 'audio=" + dir_ + "/a.png' -o '" +
                    dir_ + "/out.wav'",
                nullptr, &err),
            0)
      << err;
  const auto monitor = Png("m.png");
  EXPECT_EQ(monitor.pixels, Png("routing_c_a_mono.png", TOVREL_DISPLAY_REFERENCES).pixels);
  const auto view = Png("ir2.png");
  EXPECT_EQ(view.width, 280);
  EXPECT_NE(view.pixels, Png("ir_not_loaded.png", TOVREL_DISPLAY_REFERENCES).pixels);
  EXPECT_EQ(Png("a.png").width, 244);
  // A view the dialog has not: a usage error, and the document is not run.
  EXPECT_EQ(Run("run \"MLS Signal\" --new 44100 --snapshot 'ir1=" + dir_ + "/x.png'", nullptr, &err), 2);
  EXPECT_NE(err.find("no display windows"), std::string::npos) << err;
}

}  // namespace
