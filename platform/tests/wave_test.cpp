// Wave output: the virtual device's clock and recording, the header life cycle, reset in
// the middle of a buffer, underruns, the device table, and the ALSA back end through the
// test configuration (null and file PCMs), so the real library runs without a sound card.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/portable/faces.h"
#include "platform/wave.h"
#include "platform/win.h"
#include "platform/tests/wave_format.h"

namespace tp = tovrel::portable;
namespace fs = std::filesystem;

namespace {

// Every ALSA name of these tests resolves through the shipped configuration.
const bool kAlsaConfigured = setenv("ALSA_CONFIG_PATH", TOVREL_ALSA_TEST_CONFIG, 1) == 0;

std::vector<char> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Buffer {
  std::vector<int16_t> samples;
  WAVEHDR header{};
  explicit Buffer(std::size_t count, int16_t first) : samples(count) {
    for (std::size_t i = 0; i < count; ++i) samples[i] = static_cast<int16_t>(first + static_cast<int>(i));
    header.lpData = reinterpret_cast<LPSTR>(samples.data());
    header.dwBufferLength = static_cast<DWORD>(count * 2);
  }
};

class WaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kAlsaConfigured);
    dir_ = fs::temp_directory_path() / ("tovrel_wave_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    tp::SetVirtualWaveSpeed(1.0);
  }
  void TearDown() override {
    tp::SetVirtualWaveSpeed(1.0);
    tp::SetWaveDevices({});
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(WaveTest, VirtualDevicePlaysInRealTimeAndRecordsWhatItPlayed) {
  const fs::path file = dir_ / "played.wav";
  tp::SetWaveDevices({"virtual:" + file.string()});
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HWAVEOUT out = nullptr;
  const WAVEFORMATEX format = Pcm16(2, 8000);
  ASSERT_EQ(waveOutOpen(&out, 0, &format, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT), MMSYSERR_NOERROR);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);  // set at open
  const long buffersBefore = tp::WaveOutActivity().buffers;

  Buffer a(800, 1), b(800, 2000);  // 50 ms each
  EXPECT_EQ(waveOutWrite(out, &a.header, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
  ASSERT_EQ(waveOutPrepareHeader(out, &a.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutPrepareHeader(out, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(waveOutWrite(out, &a.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(out, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutUnprepareHeader(out, &b.header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutClose(out), WAVERR_STILLPLAYING);
  EXPECT_FALSE(WaveHeaderDone(&b.header));
  while (!WaveHeaderDone(&b.header)) ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(95));  // a clock, not at once
  EXPECT_TRUE(WaveHeaderDone(&a.header));
  EXPECT_EQ(b.header.dwFlags & (WHDR_INQUEUE | WHDR_PREPARED), static_cast<DWORD>(WHDR_PREPARED));
  EXPECT_EQ(tp::WaveOutActivity().buffers, buffersBefore + 2);
  UINT id = 99;
  EXPECT_EQ(waveOutGetID(out, &id), MMSYSERR_NOERROR);
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(waveOutUnprepareHeader(out, &a.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutUnprepareHeader(out, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_FALSE(fs::exists(file));  // the recording stands under its name once complete
  ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(out), MMSYSERR_INVALHANDLE);
  EXPECT_TRUE(CloseHandle(event));

  const std::vector<char> wav = ReadFile(file);
  ASSERT_EQ(wav.size(), 44u + 3200u);
  EXPECT_EQ(std::string(wav.data(), 4), "RIFF");
  int16_t sample = 0;
  std::memcpy(&sample, wav.data() + 44, 2);
  EXPECT_EQ(sample, 1);
  EXPECT_EQ(std::memcmp(wav.data() + 44, a.samples.data(), 1600), 0);
  EXPECT_EQ(std::memcmp(wav.data() + 44 + 1600, b.samples.data(), 1600), 0);
  EXPECT_FALSE(fs::exists(file.string() + ".part"));
}

TEST_F(WaveTest, ResetCutsTheBufferShortAndReturnsEveryHeader) {
  const fs::path file = dir_ / "cut.wav";
  tp::SetWaveDevices({"virtual:" + file.string()});
  HWAVEOUT out = nullptr;
  const WAVEFORMATEX format = Pcm16(1, 8000);
  ASSERT_EQ(waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  auto buffers = std::make_unique<std::vector<Buffer>>();
  for (int i = 0; i < 4; ++i) buffers->emplace_back(8000, static_cast<int16_t>(i));  // 1 s each
  for (auto& b : *buffers) {
    ASSERT_EQ(waveOutPrepareHeader(out, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  Sleep(100);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  for (auto& b : *buffers) {
    EXPECT_TRUE(WaveHeaderDone(&b.header));
    EXPECT_EQ(waveOutUnprepareHeader(out, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  buffers.reset();  // the device no longer touches them (ASan watches)
  ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  const std::vector<char> wav = ReadFile(file);
  ASSERT_GE(wav.size(), 44u);
  const std::size_t played = wav.size() - 44;
  EXPECT_EQ(played % 2, 0u);  // whole frames
  EXPECT_GT(played, 0u);
  EXPECT_LT(played, 16000u);  // only what was played before the reset
}

TEST_F(WaveTest, UnderrunsAreCountedOnlyWhenTheDeviceRanDry) {
  tp::SetWaveDevices({"virtual"});
  HWAVEOUT out = nullptr;
  const WAVEFORMATEX format = Pcm16(1, 8000);
  ASSERT_EQ(waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  Buffer a(400, 0), b(400, 0), c(400, 0);
  for (Buffer* x : {&a, &b, &c}) ASSERT_EQ(waveOutPrepareHeader(out, &x->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  const long before = tp::WaveOutActivity().underruns;
  ASSERT_EQ(waveOutWrite(out, &a.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(out, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);  // queued in time
  while (!WaveHeaderDone(&b.header)) Sleep(1);
  EXPECT_EQ(tp::WaveOutActivity().underruns, before);
  Sleep(20);
  ASSERT_EQ(waveOutWrite(out, &c.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);  // after the device ran dry
  while (!WaveHeaderDone(&c.header)) Sleep(1);
  EXPECT_EQ(tp::WaveOutActivity().underruns, before + 1);
  ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

TEST_F(WaveTest, DeviceTableCapabilitiesAndRefusals) {
  tp::SetWaveDevices({"virtual", "null", "no-such-pcm"});
  ASSERT_EQ(waveOutGetNumDevs(), 3u);
  WAVEOUTCAPSA caps{};
  ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "virtual");
  EXPECT_EQ(caps.dwFormats, 0xFFFu);
  ASSERT_EQ(waveOutGetDevCapsA(1, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "null");
  EXPECT_TRUE(caps.dwFormats & WAVE_FORMAT_4S16);
  EXPECT_EQ(waveOutGetDevCapsA(3, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
  const auto devices = tp::WaveDevices();
  EXPECT_EQ(devices[1].backend, "alsa");
  EXPECT_TRUE(devices[1].problem.empty());
  EXPECT_FALSE(devices[2].problem.empty());

  HWAVEOUT out = nullptr;
  WAVEFORMATEX format = Pcm16(2, 44100);
  EXPECT_EQ(waveOutOpen(&out, 2, &format, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);  // cannot be opened
  EXPECT_EQ(waveOutOpen(&out, 3, &format, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveOutOpen(nullptr, 1, &format, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_FUNCTION), MMSYSERR_INVALFLAG);
  format.nBlockAlign = 2;
  EXPECT_EQ(waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
  EXPECT_EQ(tp::WaveOutActivity().openNow, 0);

  // A recording that cannot be made refuses the open and leaves nothing behind.
  tp::SetWaveDevices({"virtual:" + (dir_ / "missing" / "x.wav").string()});
  format = Pcm16(2, 44100);
  EXPECT_EQ(waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ERROR);
  EXPECT_TRUE(fs::is_empty(dir_));

  char text[MAXERRORLENGTH];
  EXPECT_EQ(waveOutGetErrorTextA(MMSYSERR_BADDEVICEID, text, sizeof text), MMSYSERR_NOERROR);
  EXPECT_GT(std::strlen(text), 10u);
  EXPECT_EQ(waveOutGetErrorTextA(WAVERR_BADFORMAT, text, 8), MMSYSERR_NOERROR);
  EXPECT_EQ(std::strlen(text), 7u);
  EXPECT_EQ(waveOutGetErrorTextA(999, text, sizeof text), MMSYSERR_BADERRNUM);

  std::string why;
  EXPECT_TRUE(tp::CheckWaveDeviceName("hw:0", &why));
  EXPECT_FALSE(tp::CheckWaveDeviceName("virtual:", &why));
  EXPECT_FALSE(tp::CheckWaveDeviceName("", &why));
}

TEST_F(WaveTest, AlsaFilePcmReceivesTheSamplesInOrder) {
  const fs::path raw = dir_ / "alsa.raw";
  tp::SetWaveDevices({"tofile:FILE=" + raw.string()});
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HWAVEOUT out = nullptr;
  const WAVEFORMATEX format = Pcm16(2, 44100);
  ASSERT_EQ(waveOutOpen(&out, 0, &format, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT), MMSYSERR_NOERROR);
  std::vector<Buffer> buffers;
  for (int i = 0; i < 4; ++i) buffers.emplace_back(4410, static_cast<int16_t>(i * 5000));
  for (auto& b : buffers) {
    ASSERT_EQ(waveOutPrepareHeader(out, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  while (!WaveHeaderDone(&buffers.back().header)) ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  for (auto& b : buffers) ASSERT_EQ(waveOutUnprepareHeader(out, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  CloseHandle(event);
  const std::vector<char> bytes = ReadFile(raw);
  ASSERT_EQ(bytes.size(), 4u * 4410u * 2u);
  for (std::size_t i = 0; i < buffers.size(); ++i)
    EXPECT_EQ(std::memcmp(bytes.data() + i * 8820, buffers[i].samples.data(), 8820), 0) << i;
}

TEST(Events, AutoAndManualResetAndPriority) {
  HANDLE automatic = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(automatic, nullptr);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);  // cleared by the wait
  EXPECT_EQ(WaitForSingleObject(manual, 1), WAIT_TIMEOUT);
  std::thread setter([&] { SetEvent(manual); });
  EXPECT_EQ(WaitForSingleObject(manual, INFINITE), WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);  // stays set
  EXPECT_TRUE(ResetEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(automatic));
  EXPECT_TRUE(CloseHandle(manual));
  EXPECT_FALSE(SetEvent(manual));
  EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, "named"), nullptr);

  HANDLE thread = CreateThread(nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL));
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_BELOW_NORMAL);
  EXPECT_FALSE(SetThreadPriority(thread, 15));
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

}  // namespace
