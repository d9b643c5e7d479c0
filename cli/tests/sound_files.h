// 16-bit sound files for the tests of the tovrel command, read and written with libsndfile.
#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

namespace tovrel::cli::testing {

// The interleaved samples of the file (empty when it cannot be opened), its channels and rate.
inline std::vector<short> ReadSoundFile(const std::string& path, int* channels = nullptr, int* rate = nullptr) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return {};
  std::vector<short> s(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_short(f, s.data(), info.frames);
  sf_close(f);
  if (channels) *channels = info.channels;
  if (rate) *rate = info.samplerate;
  return s;
}

// Writes interleaved samples as a 16-bit WAV file; gives the path back.
inline std::string WriteSoundFile(const std::string& path, const std::vector<short>& samples, long rate,
                                  int channels = 1) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(rate);
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) return path;
  sf_writef_short(f, samples.data(), static_cast<sf_count_t>(samples.size() / static_cast<std::size_t>(channels)));
  sf_close(f);
  return path;
}

}  // namespace tovrel::cli::testing
