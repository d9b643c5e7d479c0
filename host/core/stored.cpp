#include "host/core/stored.h"

#include <cmath>
#include <cstring>

#include "frame/clipwave.h"
#include "frame/paramblock.h"

namespace tovrel::host {

namespace {

// A stored block: the tag, the type string's length and letters, the block's size, a
// CRC-32 of the block, the block.
constexpr char kBlockTag[8] = {'T', 'V', 'R', 'B', 'L', 'K', '1', '\n'};

uint32_t Crc32(const uint8_t* p, std::size_t n) {
  uint32_t crc = 0xffffffffu;
  for (std::size_t k = 0; k < n; ++k) {
    crc ^= p[k];
    for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
}
uint32_t Get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// Whether each field of the block reads as its letter says.
std::string FieldProblem(const std::string& typeString, const std::vector<uint8_t>& block) {
  std::size_t offset = 0;
  for (std::size_t k = 0; k < typeString.size(); ++k) {
    const uint8_t* p = block.data() + offset;
    const std::string field = "field " + std::to_string(k + 1) + " ('" + typeString[k] + "')";
    if (typeString[k] == 'f') {
      float v;
      std::memcpy(&v, p, 4);
      if (!std::isfinite(v)) return field + " is not a number";
    } else if (typeString[k] == 'd') {
      double v;
      std::memcpy(&v, p, 8);
      if (!std::isfinite(v)) return field + " is not a number";
    } else if (typeString[k] == 's') {
      if (std::memchr(p, 0, 256) == nullptr) return field + " is not a terminated text";
    }
    offset += TypeLetterSize(typeString[k]);
  }
  return {};
}

}  // namespace

std::vector<uint8_t> BlockFileImage(const std::string& typeString, const std::vector<uint8_t>& block) {
  std::vector<uint8_t> out(kBlockTag, kBlockTag + sizeof kBlockTag);
  Put32(out, static_cast<uint32_t>(typeString.size()));
  out.insert(out.end(), typeString.begin(), typeString.end());
  Put32(out, static_cast<uint32_t>(block.size()));
  Put32(out, Crc32(block.data(), block.size()));
  out.insert(out.end(), block.begin(), block.end());
  return out;
}

std::optional<std::vector<uint8_t>> ReadBlockFile(const std::vector<uint8_t>& f, const std::string& typeString,
                                                  std::size_t size, std::string& problem) {
  const std::size_t head = sizeof kBlockTag + 4 + typeString.size() + 8;
  if (f.size() < sizeof kBlockTag + 4 || std::memcmp(f.data(), kBlockTag, sizeof kBlockTag) != 0)
    return problem = "it is not a stored parameter block", std::nullopt;
  const uint32_t letters = Get32(&f[sizeof kBlockTag]);
  if (letters != typeString.size() || f.size() < head ||
      std::memcmp(&f[sizeof kBlockTag + 4], typeString.data(), typeString.size()) != 0)
    return problem = "it was stored for another layout of the settings", std::nullopt;
  if (Get32(&f[head - 8]) != size || f.size() != head + size)
    return problem = "it is cut short or has bytes to spare", std::nullopt;
  std::vector<uint8_t> block(f.begin() + static_cast<std::ptrdiff_t>(head), f.end());
  if (Get32(&f[head - 4]) != Crc32(block.data(), block.size()))
    return problem = "its contents are damaged", std::nullopt;
  if (TypeStringSize(typeString) == size) {
    if (std::string field = FieldProblem(typeString, block); !field.empty())
      return problem = field, std::nullopt;
  }
  return block;
}

std::string WaveDamage(const std::vector<uint8_t>& image) {
  const WavImage w = ReadWavImage(image.data(), image.size());
  if (image.size() < kWavHeaderBytes) return "it is shorter than a WAV header";
  if (!w.riff || !w.waveFmt || !w.dataTag) return "it has no canonical WAV header";
  if (w.formatTag != 1) return "its samples are not PCM";
  if (w.channels < 1 || w.channels > 16) return "its header announces " + std::to_string(w.channels) + " channels";
  if (w.sampleRate < 1 || w.sampleRate > 1000000)
    return "its header announces " + std::to_string(w.sampleRate) + " Hz";
  if (w.bitsPerSample == 0 || w.bitsPerSample > 32 || w.bitsPerSample % 8 != 0)
    return "its header announces " + std::to_string(w.bitsPerSample) + "-bit samples";
  if (!w.dataFits)
    return "its header announces " + std::to_string(w.dataBytes) + " bytes of samples and it holds " +
           std::to_string(image.size() - kWavHeaderBytes);
  if (w.dataBytes % (w.channels * w.bitsPerSample / 8u) != 0) return "its samples end within a frame";
  return {};
}

}  // namespace tovrel::host
