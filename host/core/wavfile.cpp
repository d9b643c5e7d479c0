#include "host/core/wavfile.h"

#include <cstdio>
#include <cstring>

#include "frame/clipwave.h"

namespace tovrel::host {

namespace {

uint32_t Le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& data) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  data.clear();
  uint8_t chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool WriteFileBytes(const std::string& path, const void* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

bool ParseWavFile(const std::vector<uint8_t>& f, const std::string& name, Document& doc, std::string& error) {
  if (f.size() < 12 || std::memcmp(f.data(), "RIFF", 4) || std::memcmp(f.data() + 8, "WAVE", 4))
    return error = name + " is not a WAV file", false;
  bool fmt = false;
  Document d;
  for (std::size_t pos = 12; pos + 8 <= f.size();) {
    uint32_t size = Le32(&f[pos + 4]);
    const std::size_t body = pos + 8;
    if (size > f.size() - body) {
      if (!std::memcmp(&f[pos], "data", 4))
        return error = name + " is truncated: it holds less data than its header announces", false;
      size = static_cast<uint32_t>(f.size() - body);
    }
    if (!std::memcmp(&f[pos], "fmt ", 4) && size >= 16) {
      if (Le16(&f[body]) != 1 || Le16(&f[body + 14]) != 16) return error = name + " is not 16-bit PCM", false;
      d.channels = Le16(&f[body + 2]);
      d.sampleRate = static_cast<long>(Le32(&f[body + 4]));
      if (d.channels != 1 && d.channels != 2) return error = name + " is neither mono nor stereo", false;
      fmt = true;
    } else if (!std::memcmp(&f[pos], "data", 4)) {
      if (!fmt) return error = name + " has no format before its data", false;
      const std::size_t frames = size / (2u * static_cast<std::size_t>(d.channels));
      d.samples.resize(frames * static_cast<std::size_t>(d.channels));
      if (!d.samples.empty()) std::memcpy(d.samples.data(), &f[body], d.samples.size() * 2);
      d.SelectAll();
      doc = std::move(d);
      return true;
    }
    pos = body + size + (size & 1);
  }
  return error = name + " has no data", false;
}

bool ReadWavFile(const std::string& path, Document& doc, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(path, bytes)) return error = "cannot read " + path, false;
  return ParseWavFile(bytes, path, doc, error);
}

std::vector<uint8_t> WavFileImage(const Document& doc) {
  const std::size_t bytes = doc.samples.size() * 2;
  std::vector<uint8_t> w(kWavHeaderBytes + bytes);
  WriteWavHeader(w.data(), doc.channels, doc.sampleRate, static_cast<uint32_t>(bytes));
  if (bytes) std::memcpy(w.data() + kWavHeaderBytes, doc.samples.data(), bytes);
  return w;
}

bool WriteWavFile(const std::string& path, const Document& doc) {
  const std::vector<uint8_t> image = WavFileImage(doc);
  return WriteFileBytes(path, image.data(), image.size());
}

}  // namespace tovrel::host
