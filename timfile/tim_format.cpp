#include "timfile/tim_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

uint32_t LoadU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void StoreU16(std::span<uint8_t> block, std::size_t at, uint16_t v) { std::memcpy(block.data() + at, &v, 2); }
void StoreU32(std::span<uint8_t> block, std::size_t at, uint32_t v) { std::memcpy(block.data() + at, &v, 4); }
void StoreF32(std::span<uint8_t> block, std::size_t at, float v) { std::memcpy(block.data() + at, &v, 4); }
float LoadF32(std::span<const uint8_t> block, std::size_t at) {
  float v;
  std::memcpy(&v, block.data() + at, 4);
  return v;
}
void StoreText(std::span<uint8_t> block, std::size_t at, const char* text) {
  std::memcpy(block.data() + at, text, std::strlen(text));
}

// Copies text up to its terminator, the end of its field, or maxChars characters,
// whichever comes first, and terminates it.
void CopyBounded(const char* from, std::size_t fieldBytes, char* to, std::size_t maxChars) {
  std::size_t n = 0;
  while (n < fieldBytes && n < maxChars && from[n] != '\0') ++n;
  if (n > 0) std::memcpy(to, from, n);
  to[n] = '\0';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct SettingsPart {
  int type;
  std::size_t offset, bytes;
};
constexpr SettingsPart kSettingsParts[] = {
    {kTimItemSettings1, 0, 250}, {kTimItemSettings2, 250, 250}, {kTimItemSettings3, 500, 200}};

template <typename Texts>
auto SettingsText(Texts& texts, int type) -> decltype(&texts.settings1[0]) {
  switch (type) {
    case kTimItemSettings1: return texts.settings1;
    case kTimItemSettings2: return texts.settings2;
    case kTimItemSettings3: return texts.settings3;
    default: return nullptr;
  }
}

void Stamp(std::span<uint8_t> settings, float kHz, int32_t length, uint16_t mode) {
  StoreF32(settings, 6, kHz);
  StoreU32(settings, 40, static_cast<uint32_t>(length));
  StoreU16(settings, 44, mode);
}

float BandLimit(float kHz) { return static_cast<float>(static_cast<double>(kHz) * 0.45454544); }

}  // namespace

const char* TimStatusMessage(TimStatus status) {
  switch (status) {
    case TimStatus::Ok: return "";
    case TimStatus::NotTim: return "This file is not an MLSSA time domain data file.";
    case TimStatus::BadLength: return "The record length of this TIM file is not valid.";
    case TimStatus::Truncated: return "This TIM file holds fewer points than its record length.";
    case TimStatus::BadInterval: return "The sample interval of this TIM file is not valid.";
    case TimStatus::BadPoints: return "This TIM file holds values that are not numbers.";
  }
  return "";
}

bool TimHasMagic(std::span<const uint8_t> bytes) {
  return bytes.size() >= 4 && LoadU32(bytes.data()) == kTimMagic;
}

int32_t TimRateFromInterval(float interval) {
  if (!std::isfinite(interval) || interval <= 0.0f) return 0;
  const double rate = std::floor(1000.0 / static_cast<double>(interval) + 0.5);
  if (!(rate >= 1.0 && rate <= 2147483647.0)) return 0;
  return static_cast<int32_t>(rate);
}

TimStatus TimParseHeader(std::span<const uint8_t> bytes, uint64_t fileBytes, TimHeader& header) {
  if (bytes.size() < kTimHeaderBytes || !TimHasMagic(bytes)) return TimStatus::NotTim;
  std::memcpy(&header.mode, bytes.data() + 4, 2);
  std::memcpy(&header.interval, bytes.data() + 6, 4);
  std::memcpy(&header.length, bytes.data() + 10, 4);
  header.rate = 0;
  if (header.length <= 0 || header.length > kTimMaxReadPoints) return TimStatus::BadLength;
  if (fileBytes < kTimHeaderBytes + 4 * static_cast<uint64_t>(header.length)) return TimStatus::Truncated;
  header.rate = TimRateFromInterval(header.interval);
  if (header.rate == 0) return TimStatus::BadInterval;
  return TimStatus::Ok;
}

float TimIntervalFromRate(int32_t rate) { return static_cast<float>(1000.0 / rate); }
float TimKiloHertz(int32_t rate) { return static_cast<float>(rate * 0.001); }

bool TimFindPeak(std::span<const float> points, float& peak) {
  float p = peak;
  for (float v : points) {
    if (!std::isfinite(v)) return false;
    p = std::max(p, std::fabs(v));
  }
  peak = p;
  return true;
}

void TimPointsToSamples(std::span<const float> points, float peak, std::span<int16_t> samples) {
  const std::size_t n = std::min(points.size(), samples.size());
  if (!(peak > 0.0f) || !std::isfinite(peak)) {
    std::fill_n(samples.begin(), n, int16_t{0});
    return;
  }
  const double p = peak;
  for (std::size_t i = 0; i < n; ++i) {
    const double s = std::round(static_cast<double>(points[i]) / p * 32767.0);
    // A point beyond the peak can only come from a file that changed under us.
    samples[i] = std::isnan(s) ? int16_t{0} : static_cast<int16_t>(std::clamp(s, -32767.0, 32767.0));
  }
}

void TimSamplesToPoints(std::span<const int16_t> samples, float scale, std::span<float> points) {
  const std::size_t n = std::min(points.size(), samples.size());
  for (std::size_t i = 0; i < n; ++i) points[i] = scale * static_cast<float>(samples[i]) / 32768.0f;
}

int32_t TimRecordLength(int64_t samples) {
  for (int32_t length = 2048; length <= 32768; length *= 2)
    if (samples <= length) return length;
  return kTimMaxWrittenPoints;
}

int TimItemSize(int type) {
  switch (type) {
    case kTimItemTitle: return 80;
    case kTimItemComment: return 60;
    case kTimItemWarning: return 36;
    case kTimItemScale: return 9;
    case kTimItemSettings1: return 501;
    case kTimItemSettings2: return 501;
    case kTimItemSettings3: return 401;
    default: return 0;
  }
}

bool TimItemWritable(int type) {
  return type == kTimItemComment || type == kTimItemSettings2 || type == kTimItemSettings1 ||
         type == kTimItemSettings3 || type == kTimItemTitle || type == kTimItemScale;
}

void TimTextsFromTrailer(std::span<const uint8_t> trailer, TimTexts& texts) {
  const char* bytes = reinterpret_cast<const char*>(trailer.data());
  CopyBounded(bytes, kTimTitleBytes, texts.title, kTimTitleBytes - 1);
  CopyBounded(bytes + kTimTitleBytes, kTimCommentBytes, texts.comment, kTimCommentBytes - 1);
  const auto settings = trailer.subspan(kTimTitleBytes + kTimCommentBytes, kTimSettingsBytes);
  for (const SettingsPart& part : kSettingsParts)
    TimEncodeHex(settings.subspan(part.offset, part.bytes),
                 std::span<char>(SettingsText(texts, part.type), 2 * part.bytes + 1));
}

bool TimReadItem(const TimTexts& texts, float peak, int type, std::span<char> buffer) {
  if (buffer.empty()) return false;
  char scale[9];
  const char* item = nullptr;
  switch (type) {
    case kTimItemTitle: item = texts.title; break;
    case kTimItemComment: item = texts.comment; break;
    case kTimItemWarning: item = kTimWarningLine; break;
    case kTimItemScale:
      TimEncodeHex(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(&peak), 4), scale);
      item = scale;
      break;
    default: item = SettingsText(texts, type); break;
  }
  if (item == nullptr) {
    buffer[0] = '\0';
    return false;
  }
  CopyBounded(item, static_cast<std::size_t>(TimItemSize(type)), buffer.data(), buffer.size() - 1);
  return true;
}

void TimWriteItem(TimReturned& returned, int type, std::span<const char> text) {
  const std::size_t size = text.size();
  switch (type) {
    case kTimItemTitle:
      CopyBounded(text.data(), size, returned.texts.title, kTimTitleBytes - 1);
      return;
    case kTimItemComment:
      CopyBounded(text.data(), size, returned.texts.comment, kTimCommentBytes - 1);
      return;
    case kTimItemScale: {
      uint8_t bytes[4];
      float scale = -1.0f;
      if (size == 9 && TimDecodeHex(text, bytes)) std::memcpy(&scale, bytes, 4);
      if (!std::isfinite(scale) || scale < 0.0f) {
        returned.specialsUsable = false;
        return;
      }
      returned.scale = scale;
      returned.scaleGiven = true;
      return;
    }
    default: break;
  }
  char* target = SettingsText(returned.texts, type);
  if (target == nullptr) return;
  const std::size_t digits = static_cast<std::size_t>(TimItemSize(type)) - 1;
  uint8_t bytes[250];
  if (size != digits + 1 || !TimDecodeHex(text, std::span<uint8_t>(bytes, digits / 2))) {
    returned.specialsUsable = false;
    return;
  }
  std::memcpy(target, text.data(), digits);
  target[digits] = '\0';
}

void TimEncodeHex(std::span<const uint8_t> bytes, std::span<char> text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::size_t at = 0;
  for (uint8_t b : bytes) {
    text[at++] = kDigits[b >> 4];
    text[at++] = kDigits[b & 15];
  }
  text[at] = '\0';
}

bool TimDecodeHex(std::span<const char> text, std::span<uint8_t> bytes) {
  if (text.size() < 2 * bytes.size()) return false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

void TimDefaultSettings(std::span<uint8_t> s, int32_t rate, int32_t length, uint16_t mode,
                        const TimDateTime& at) {
  std::fill(s.begin(), s.begin() + kTimSettingsBytes, uint8_t{0});
  const float kHz = TimKiloHertz(rate);
  StoreU32(s, 0, 4096);
  StoreF32(s, 6, kHz);
  StoreF32(s, 10, BandLimit(kHz));
  StoreF32(s, 14, 1.0f);
  StoreU16(s, 18, 1);
  StoreU16(s, 26, 2);
  StoreU32(s, 28, static_cast<uint32_t>(length));
  StoreU16(s, 32, static_cast<uint16_t>(std::floor(std::log2(static_cast<double>(length)) + 0.4)));
  StoreF32(s, 34, 1.0f);
  StoreU16(s, 38, 1);
  StoreU32(s, 40, static_cast<uint32_t>(length));
  StoreU16(s, 44, mode);
  StoreU16(s, 46, 2);
  StoreF32(s, 56, 1.0f);
  StoreText(s, 60, "Volts");
  StoreF32(s, 76, 1.0f);
  StoreText(s, 80, "Volts");
  StoreText(s, 124, "msec");
  StoreF32(s, 136, 1.0f);
  StoreText(s, 140, "Hz");
  StoreF32(s, 152, 1000.0f);
  StoreText(s, 156, "Ohm");
  char when[24];
  std::snprintf(when, sizeof when, "%02d/%02d/%02d %02d:%02d:%02d", at.month % 100, at.day % 100,
                at.year % 100, at.hour % 100, at.minute % 100, at.second % 100);
  StoreText(s, 412, when);
  StoreText(s, 440, "Vorn Edit conversion");
  StoreU16(s, 560, 1);
  StoreText(s, 562, "Unknown");
  StoreText(s, 575, "Electret");
  StoreText(s, 584, "00000");
  StoreText(s, 593, "01/01/1991");
  StoreF32(s, 604, 50.0f);
  StoreF32(s, 608, 20.0f);
  StoreF32(s, 612, 0.0001f);
}

bool TimRestoreSettings(const TimTexts& texts, std::span<uint8_t> settings, int32_t rate,
                        int32_t length, uint16_t mode) {
  for (const SettingsPart& part : kSettingsParts) {
    const char* text = SettingsText(texts, part.type);
    if (!TimDecodeHex(std::span<const char>(text, 2 * part.bytes + 1), settings.subspan(part.offset, part.bytes)))
      return false;
  }
  const float kHz = TimKiloHertz(rate);
  if (std::fabs(LoadF32(settings, 6) - kHz) > 0.002f) StoreF32(settings, 10, BandLimit(kHz));
  Stamp(settings, kHz, length, mode);
  return true;
}

void TimBuildTrailer(const char* title, const char* comment, std::span<const uint8_t> settings,
                     std::span<uint8_t> trailer) {
  std::fill(trailer.begin(), trailer.begin() + kTimTrailerBytes, uint8_t{0});
  CopyBounded(title, kTimTitleBytes - 1, reinterpret_cast<char*>(trailer.data()), kTimTitleBytes - 1);
  CopyBounded(comment, kTimCommentBytes - 1, reinterpret_cast<char*>(trailer.data() + kTimTitleBytes),
              kTimCommentBytes - 1);
  std::memcpy(trailer.data() + kTimTitleBytes + kTimCommentBytes, settings.data(), kTimSettingsBytes);
}

void TimBuildHeader(uint16_t mode, int32_t rate, int32_t length, std::span<uint8_t> header) {
  const uint32_t magic = kTimMagic;
  const float interval = TimIntervalFromRate(rate);
  std::memcpy(header.data(), &magic, 4);
  std::memcpy(header.data() + 4, &mode, 2);
  std::memcpy(header.data() + 6, &interval, 4);
  std::memcpy(header.data() + 10, &length, 4);
}
