#include "host/audiofile.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
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

int ContainerFor(const std::string& path) {
  auto dot = path.find_last_of('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext == "aif" || ext == "aiff") return SF_FORMAT_AIFF;
  if (ext == "flac") return SF_FORMAT_FLAC;
  return SF_FORMAT_WAV;
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

bool WriteAudioFile(const std::string& path, const Document& doc, std::string& error) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(doc.sampleRate);
  info.channels = doc.channels;
  info.format = ContainerFor(path) | SF_FORMAT_PCM_16;
  if (!sf_format_check(&info)) {
    error = "cannot write a " + std::to_string(doc.channels) + "-channel 16-bit file at " +
            std::to_string(doc.sampleRate) + " Hz as \"" + path + "\"";
    return false;
  }
  const std::string temp = path + ".tovrel-partial";
  SNDFILE* file = sf_open(temp.c_str(), SFM_WRITE, &info);
  if (!file) {
    error = "cannot write \"" + path + "\": " + sf_strerror(nullptr);
    return false;
  }
  sf_count_t frames = doc.frames();
  sf_count_t put = frames ? sf_writef_short(file, doc.samples.data(), frames) : 0;
  int closed = sf_close(file);
  if (put != frames || closed != 0) {
    std::remove(temp.c_str());
    error = "cannot write \"" + path + "\": the disk refused the data";
    return false;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    error = "cannot write \"" + path + "\": it cannot be replaced";
    return false;
  }
  return true;
}

}  // namespace tovrel::host
