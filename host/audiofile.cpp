#include "host/audiofile.h"

#include "host/safefile.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace tovrel::host {

namespace {

bool FitsSixteenBits(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610:
    case SF_FORMAT_DWVW_12:
    case SF_FORMAT_DWVW_16:
      return true;
    default:
      return false;
  }
}

const char* SubformatName(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_24: return "24-bit";
    case SF_FORMAT_PCM_32: return "32-bit";
    case SF_FORMAT_FLOAT: return "32-bit float";
    case SF_FORMAT_DOUBLE: return "64-bit float";
    default: return "wider than 16-bit";
  }
}

// The container the file name asks for: its extension, WAV without one; 0 for an
// extension of a format we do not write.
int ContainerFor(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext.empty() || ext == "." || ext == ".wav" || ext == ".wave") return SF_FORMAT_WAV;
  if (ext == ".aif" || ext == ".aiff") return SF_FORMAT_AIFF;
  if (ext == ".flac") return SF_FORMAT_FLAC;
  return 0;
}

// For a RIFF/WAVE file: how many bytes of samples its header announces beyond what the
// file holds (0 when it holds them all, or announces no definite size, as a stream does).
uint64_t MissingWaveBytes(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  uint8_t h[12];
  uint64_t missing = 0;
  if (std::fread(h, 1, 12, f) == 12 && !std::memcmp(h, "RIFF", 4) && !std::memcmp(h + 8, "WAVE", 4)) {
    uint8_t c[8];
    for (long at = 12; std::fseek(f, at, SEEK_SET) == 0 && std::fread(c, 1, 8, f) == 8;) {
      const uint32_t size = c[4] | c[5] << 8 | c[6] << 16 | static_cast<uint32_t>(c[7]) << 24;
      if (!std::memcmp(c, "data", 4)) {
        std::fseek(f, 0, SEEK_END);
        const long end = std::ftell(f);
        const uint64_t held = end > at + 8 ? static_cast<uint64_t>(end - at - 8) : 0;
        if (size != 0 && size != 0xffffffffu && size > held) missing = size - held;
        break;
      }
      at += 8 + static_cast<long>(size) + (size & 1);
    }
  }
  std::fclose(f);
  return missing;
}

}  // namespace

AudioReadResult ReadAudioFile(const std::string& path) {
  AudioReadResult r;
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) {
    r.error = "cannot read \"" + path + "\": " + sf_strerror(nullptr);
    return r;
  }
  if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV)
    if (const uint64_t missing = MissingWaveBytes(path)) {
      sf_close(file);
      r.error = "\"" + path + "\" is truncated: its header announces " + std::to_string(missing) +
                " more bytes of samples than it holds";
      return r;
    }
  if (info.channels < 1 || info.channels > 2) {
    sf_close(file);
    r.error = "\"" + path + "\" has " + std::to_string(info.channels) +
              " channels; documents are mono or stereo";
    return r;
  }
  if (info.frames > 0x7fffffff / (2 * info.channels)) {
    sf_close(file);
    r.error = "\"" + path + "\" is too long for a document";
    return r;
  }
  Document doc;
  doc.sampleRate = info.samplerate;
  doc.channels = info.channels;
  const auto total = static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels);
  doc.samples.resize(total);
  sf_count_t got = 0;
  if (FitsSixteenBits(info.format)) {
    got = sf_readf_short(file, doc.samples.data(), info.frames);
  } else {
    std::vector<double> wide(total);
    sf_command(file, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
    got = sf_readf_double(file, wide.data(), info.frames);
    long clipped = 0;
    for (std::size_t k = 0; k < total; ++k) {
      double v = std::round(wide[k] * 32768.0);
      if (v > 32767.0) { v = 32767.0; ++clipped; }
      if (v < -32768.0) { v = -32768.0; ++clipped; }
      doc.samples[k] = static_cast<int16_t>(v);
    }
    r.notice = "\"" + path + "\" holds " + SubformatName(info.format) +
               " samples; they were rounded to 16 bits";
    if (clipped) r.notice += " (" + std::to_string(clipped) + " samples clipped at full scale)";
  }
  sf_close(file);
  if (got != info.frames) {
    r.error = "\"" + path + "\" ends early: " + std::to_string(got) + " of " + std::to_string(info.frames) +
              " frames could be read";
    return r;
  }
  doc.SelectAll();
  r.doc = std::move(doc);
  r.ok = true;
  return r;
}

bool WritesAudioFormat(const std::string& path) { return ContainerFor(path) != 0; }

const char* WritableAudioFormats() { return "WAV (.wav, or no extension), AIFF (.aif, .aiff), FLAC (.flac)"; }

bool WriteAudioFile(const std::string& path, const Document& doc, std::string& error) {
  if (!WritesAudioFormat(path)) {
    error = "cannot write \"" + path + "\": its extension names no format tovrel writes; it writes " +
            WritableAudioFormats();
    return false;
  }
  SF_INFO info{};
  info.samplerate = static_cast<int>(doc.sampleRate);
  info.channels = doc.channels;
  info.format = ContainerFor(path) | SF_FORMAT_PCM_16;
  if (!sf_format_check(&info)) {
    error = "cannot write a " + std::to_string(doc.channels) + "-channel 16-bit file at " +
            std::to_string(doc.sampleRate) + " Hz as \"" + path + "\"";
    return false;
  }
  return WriteFileSafely(path, [&](int fd, const std::string&, std::string& why) {
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (!file) {
      why = "cannot write \"" + path + "\": " + sf_strerror(nullptr);
      return false;
    }
    const sf_count_t frames = doc.frames();
    const sf_count_t put = frames ? sf_writef_short(file, doc.samples.data(), frames) : 0;
    const int closed = sf_close(file);
    if (put != frames || closed != 0) {
      why = "cannot write \"" + path + "\": the disk refused the data";
      return false;
    }
    return true;
  }, error);
}

}  // namespace tovrel::host
