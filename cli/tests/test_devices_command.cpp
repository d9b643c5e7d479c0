// tovrel devices, --device and --preview: the device table as scripts read it, and what is refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cli/testing.h"

namespace {

class Devices : public tovrel::cli::testing::CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    setenv("ALSA_CONFIG_PATH", TOVREL_ALSA_TEST_CONFIG, 1);  // "null" without a sound card
  }
};

TEST_F(Devices, ListTheChosenDeviceWithItsCapabilities) {
  std::string out, err;
  ASSERT_EQ(Run("devices --json --device 'virtual:" + dir_ + "/rec.wav'", &out, &err), 0) << err;
  EXPECT_EQ(out.find("{\"index\":0,\"name\":\"virtual:" + dir_ + "/rec.wav\",\"backend\":\"virtual\""), 1u) << out;
  EXPECT_NE(out.find("\"available\":true,\"problem\":null,\"channels\":2,\"formatFlags\":4095"), std::string::npos);
  EXPECT_NE(out.find("\"recording\":{\"available\":true,\"problem\":null,\"channels\":2"), std::string::npos) << out;
  EXPECT_EQ(out.find("\"index\":1"), std::string::npos);

  ASSERT_EQ(Run("devices --device null", &out), 0);
  EXPECT_NE(out.find("0  null  (alsa"), std::string::npos) << out;
  EXPECT_NE(out.find("44k         Yes           Yes          Yes            Yes"), std::string::npos) << out;
  ASSERT_EQ(Run("devices --json --device no-such-pcm", &out), 0);
  EXPECT_NE(out.find("\"available\":false"), std::string::npos) << out;

  // Without --device: the machine's devices, the virtual one last.
  ASSERT_EQ(Run("devices --json", &out), 0);
  EXPECT_EQ(out.find("[{\"index\":0,\"name\":\"default\""), 0u) << out;
  EXPECT_NE(out.find("\"name\":\"virtual\""), std::string::npos);
}

TEST_F(Devices, AnImpossibleNameIsAUsageError) {
  std::string err;
  EXPECT_EQ(Run("devices --device virtual:", nullptr, &err), 2);
  EXPECT_NE(err.find("tovrel: --device:"), std::string::npos) << err;
  EXPECT_EQ(Run("run \"MLS Signal\" --new 44100 --device virtual:", nullptr, &err), 2);
  EXPECT_EQ(Run("run \"MLS Signal\" --new 44100 --preview -1", nullptr, &err), 2);
  // A dialog without a preview: refused, nothing run.
  EXPECT_EQ(Run("run \"MLS Signal\" --new 44100 --preview 1 -o '" + dir_ + "/x.wav'", nullptr, &err), 2);
  EXPECT_NE(err.find("has no \"Preview\" button"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/x.wav"));
}

}  // namespace
