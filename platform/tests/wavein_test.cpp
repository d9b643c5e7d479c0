// Wave input: the virtual device hears what the virtual output plays, frame for frame,
// through the loop; the header life cycle with stop, reset and the function callback; and
// the ALSA capture path through the test configuration's file PCM.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/portable/faces.h"
#include "platform/wave.h"
#include "platform/win.h"
#include "platform/tests/wave_format.h"

namespace tp = tovrel::portable;
namespace fs = std::filesystem;

namespace {

const bool kAlsaConfigured = setenv("ALSA_CONFIG_PATH", TOVREL_ALSA_TEST_CONFIG, 1) == 0;

struct Header {
  std::vector<int16_t> samples;
  WAVEHDR header{};
  explicit Header(std::size_t count) : samples(count) {
    header.lpData = reinterpret_cast<LPSTR>(samples.data());
    header.dwBufferLength = static_cast<DWORD>(count * 2);
  }
};

std::atomic<int> dataMessages{0};
void CALLBACK Counted(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
  if (message == WIM_DATA) ++dataMessages;
  EXPECT_EQ(instance, 42u);
}

// Plays `played` on output device 0 while input device 0 records into `headers`; every
// header of the output played.
void PlayAndRecord(const std::vector<int16_t>& played, WORD outChannels, std::vector<Header>& headers, WORD inChannels,
                   HWAVEIN& in, DWORD rate = 8000) {
  const WAVEFORMATEX outFormat = Pcm16(outChannels, rate), inFormat = Pcm16(inChannels, rate);
  ASSERT_EQ(waveInOpen(&in, 0, &inFormat, reinterpret_cast<DWORD_PTR>(&Counted), 42, CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  for (auto& h : headers) {
    ASSERT_EQ(waveInPrepareHeader(in, &h.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(in, &h.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  HWAVEOUT out = nullptr;
  ASSERT_EQ(waveOutOpen(&out, 0, &outFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
  std::vector<int16_t> copy = played;
  WAVEHDR header{};
  header.lpData = reinterpret_cast<LPSTR>(copy.data());
  header.dwBufferLength = static_cast<DWORD>(copy.size() * 2);
  ASSERT_EQ(waveOutPrepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(out, &header, sizeof header), MMSYSERR_NOERROR);
  while (!WaveHeaderDone(&header)) usleep(1000);
  ASSERT_EQ(waveOutUnprepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

class WaveInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kAlsaConfigured);
    dir_ = fs::temp_directory_path() / ("tovrel_wavein_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    tp::SetVirtualWaveSpeed(50.0);
    dataMessages = 0;
  }
  void TearDown() override {
    tp::SetVirtualWaveSpeed(1.0);
    tp::SetVirtualWaveLoop(nullptr);
    tp::SetWaveDevices({});
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(WaveInTest, VirtualInputHearsTheOutputThroughTheLoopFrameForFrame) {
  tp::SetWaveDevices({"virtual"});
  ASSERT_EQ(waveInGetNumDevs(), 1u);
  WAVEINCAPSA caps{};
  ASSERT_EQ(waveInGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "virtual");
  EXPECT_EQ(caps.wChannels, 2);
  EXPECT_EQ(waveInGetDevCapsA(1, &caps, sizeof caps), MMSYSERR_BADDEVICEID);

  // The loop: channel 1 the output inverted, channel 2 the output one frame late.
  int16_t last = 0;
  tp::SetVirtualWaveLoop([&last](const int16_t* played, std::size_t frames, int playedChannels, int16_t* heard,
                                 int heardChannels) {
    ASSERT_EQ(playedChannels, 1);
    ASSERT_EQ(heardChannels, 2);
    for (std::size_t n = 0; n < frames; ++n) {
      heard[2 * n] = static_cast<int16_t>(-played[n]);
      heard[2 * n + 1] = last;
      last = played[n];
    }
  });
  std::vector<int16_t> played(3000);
  for (std::size_t k = 0; k < played.size(); ++k) played[k] = static_cast<int16_t>(k * 7 % 2001 - 1000);
  std::vector<Header> headers;
  headers.emplace_back(2 * 1000);
  headers.emplace_back(2 * 1500);
  headers.emplace_back(2 * 1000);  // filled in part, returned by the stop
  headers.emplace_back(2 * 1000);  // stays empty, returned by the reset
  HWAVEIN in = nullptr;
  PlayAndRecord(played, 1, headers, 2, in);
  while (!WaveHeaderDone(&headers[1].header)) usleep(1000);
  EXPECT_EQ(waveInClose(in), WAVERR_STILLPLAYING);
  // The third header holds the last 500 frames once the recorder has seen them.
  for (int k = 0; k < 2000 && dataMessages < 2; ++k) usleep(1000);
  usleep(20000);
  ASSERT_EQ(waveInStop(in), MMSYSERR_NOERROR);
  EXPECT_TRUE(WaveHeaderDone(&headers[2].header));
  EXPECT_EQ(headers[2].header.dwBytesRecorded, 500u * 4u);
  EXPECT_FALSE(WaveHeaderDone(&headers[3].header));
  ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
  EXPECT_TRUE(WaveHeaderDone(&headers[3].header));
  EXPECT_EQ(headers[3].header.dwBytesRecorded, 0u);
  EXPECT_EQ(dataMessages, 4);
  for (auto& h : headers) ASSERT_EQ(waveInUnprepareHeader(in, &h.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(in), MMSYSERR_INVALHANDLE);

  std::vector<int16_t> heard;
  for (auto& h : headers)
    heard.insert(heard.end(), h.samples.begin(), h.samples.begin() + h.header.dwBytesRecorded / 2);
  ASSERT_EQ(heard.size(), 2 * played.size());
  for (std::size_t n = 0; n < played.size(); ++n) {
    ASSERT_EQ(heard[2 * n], -played[n]) << n;
    ASSERT_EQ(heard[2 * n + 1], n == 0 ? 0 : played[n - 1]) << n;
  }
}

TEST_F(WaveInTest, AlsaCaptureRecordsTheFileFromItsFirstFrame) {
  const fs::path infile = dir_ / "in.raw";
  std::vector<int16_t> source(2 * 4000);
  for (std::size_t k = 0; k < source.size(); ++k) source[k] = static_cast<int16_t>(k % 2 ? -int(k + 1) : int(k + 1));
  {
    std::ofstream f(infile, std::ios::binary);
    f.write(reinterpret_cast<const char*>(source.data()), static_cast<std::streamsize>(source.size() * 2));
  }
  tp::SetWaveDevices({"fromfile:INFILE=" + infile.string()});
  ASSERT_TRUE(tp::WaveDevices()[0].inProblem.empty()) << tp::WaveDevices()[0].inProblem;
  std::vector<Header> headers;
  headers.emplace_back(2 * 2500);
  headers.emplace_back(2 * 1500);
  HWAVEIN in = nullptr;
  PlayAndRecord(std::vector<int16_t>(8000, 5), 1, headers, 2, in);
  for (int k = 0; k < 5000 && !WaveHeaderDone(&headers[1].header); ++k) usleep(1000);
  ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
  for (auto& h : headers) {
    EXPECT_EQ(h.header.dwBytesRecorded, h.header.dwBufferLength);
    ASSERT_EQ(waveInUnprepareHeader(in, &h.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
  // Started with the output: the frames recorded are the file's (the start measured, up
  // to a frame or two of silence made up where the two started apart).
  std::vector<int16_t> heard = headers[0].samples;
  heard.insert(heard.end(), headers[1].samples.begin(), headers[1].samples.end());
  std::size_t lead = 0;
  while (lead < 6 && heard[lead] == 0 && heard[lead + 1] == 0 && source[lead] != 0) lead += 2;
  EXPECT_LE(lead, 4u);
  for (std::size_t k = lead; k < heard.size(); ++k) ASSERT_EQ(heard[k], source[k - lead]) << k;
}

}  // namespace
