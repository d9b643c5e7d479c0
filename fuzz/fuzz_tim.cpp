// Fuzz target for the TIM reader and the parser of the text items the host hands back.
//
// The input is read as a TIM file image, in the order the filter reads a file: header
// checks against the file size, points in blocks with the peak, samples, and, when the
// trailing blocks are there, every text item offered, taken back and rebuilt into the
// settings block, which must then equal the file's block but for rate, length and mode.
// The same bytes are also read as a run of items (type, size, text) handed back by a host.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "timfile/tim_format.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void ReadAsTimFile(const uint8_t* data, std::size_t size) {
  const std::span<const uint8_t> file(data, size);
  TimHeader header;
  if (TimParseHeader(file, size, header) != TimStatus::Ok) return;
  Check(header.length > 0 && header.rate > 0);
  Check(kTimHeaderBytes + 4ull * static_cast<uint32_t>(header.length) <= size);

  std::vector<float> points(kTimBlockPoints);
  std::vector<int16_t> samples(kTimBlockPoints);
  float peak = 0.0f;
  bool finite = true;
  for (int32_t at = 0; at < header.length && finite; at += kTimBlockPoints) {
    const std::size_t n = static_cast<std::size_t>(std::min<int32_t>(kTimBlockPoints, header.length - at));
    std::memcpy(points.data(), data + kTimHeaderBytes + 4 * static_cast<std::size_t>(at), 4 * n);
    finite = TimFindPeak(std::span(points).first(n), peak);
  }
  if (!finite) return;
  for (int32_t at = 0; at < header.length; at += kTimBlockPoints) {
    const std::size_t n = static_cast<std::size_t>(std::min<int32_t>(kTimBlockPoints, header.length - at));
    std::memcpy(points.data(), data + kTimHeaderBytes + 4 * static_cast<std::size_t>(at), 4 * n);
    TimPointsToSamples(std::span(points).first(n), peak, samples);
    for (std::size_t i = 0; i < n; ++i) Check(samples[i] >= -32767 && samples[i] <= 32767);
  }

  const std::size_t trailerAt = kTimHeaderBytes + 4 * static_cast<std::size_t>(header.length);
  if (size - trailerAt < kTimTrailerBytes) return;
  const std::span<const uint8_t> trailer = file.subspan(trailerAt, kTimTrailerBytes);
  TimTexts texts;
  TimTextsFromTrailer(trailer, texts);

  TimReturned returned;
  for (int type : {31, 27, 24, 33, 26, 21, 32}) {
    const int itemSize = TimItemSize(type);
    Check(itemSize > 0);
    std::vector<char> buffer(static_cast<std::size_t>(itemSize));
    Check(TimReadItem(texts, peak, type, buffer));
    Check(std::memchr(buffer.data(), 0, buffer.size()) != nullptr);
    if (TimItemWritable(type)) TimWriteItem(returned, type, buffer);
  }
  Check(returned.specialsUsable && returned.scaleGiven);
  Check(std::memcmp(&returned.scale, &peak, 4) == 0);
  Check(std::strcmp(returned.texts.title, texts.title) == 0);

  std::vector<uint8_t> settings(kTimSettingsBytes);
  const int32_t length = TimRecordLength(header.length);
  Check(TimRestoreSettings(returned.texts, settings, header.rate, length, header.mode));
  const uint8_t* original = trailer.data() + kTimTitleBytes + kTimCommentBytes;
  for (std::size_t i = 0; i < kTimSettingsBytes; ++i)
    if (i < 6 || (i >= 14 && i < 40) || i >= 46) Check(settings[i] == original[i]);

  std::vector<uint8_t> rebuilt(kTimTrailerBytes);
  TimBuildTrailer(returned.texts.title, returned.texts.comment, settings, rebuilt);
}

// Items as a host might hand them back: type byte, size byte, then size bytes of text.
void ReadAsReturnedItems(const uint8_t* data, std::size_t size) {
  TimReturned returned;
  std::size_t at = 0;
  while (size - at >= 2) {
    const int type = data[at];
    std::size_t itemSize = data[at + 1];
    at += 2;
    if (type & 0x80) itemSize = itemSize * 2 + 1;  // reach the sizes of the settings texts
    itemSize = std::min(itemSize, size - at);
    std::vector<char> text(data + at, data + at + itemSize);  // exactly the bytes given
    TimWriteItem(returned, type & 0x7F, text);
    at += itemSize;
  }
  Check(std::strlen(returned.texts.title) < kTimTitleBytes);
  Check(std::strlen(returned.texts.comment) < kTimCommentBytes);
  if (returned.scaleGiven) Check(returned.scale >= 0.0f && std::isfinite(returned.scale));
  std::vector<uint8_t> settings(kTimSettingsBytes);
  if (returned.specialsUsable && TimRestoreSettings(returned.texts, settings, 44100, 2048, 1)) {
    float kHz;
    std::memcpy(&kHz, settings.data() + 6, 4);
    Check(kHz == TimKiloHertz(44100));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  ReadAsTimFile(data, size);
  ReadAsReturnedItems(data, size);
  return 0;
}
