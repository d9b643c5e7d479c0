#include "filterdesign/delivery.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "filterdesign/design.h"
#include "frame/clipwave.h"
#include "frame/messages.h"

std::string ResponseInfo(const XfmContext* context, int64_t frames) {
  return std::to_string(context->sampleRate) + " Hz/" + (context->channels == 1 ? "Mono/" : "Stereo/") +
         std::to_string(frames) + " Samples";
}

void FillCommonStatistics(HWND dialog, const XfmContext* context, long elapsedMs) {
  char text[48];
  std::snprintf(text, sizeof text, "%i", static_cast<int>(context->channels));
  SetDlgItemTextA(dialog, 1028, text);
  std::snprintf(text, sizeof text, "%li", static_cast<long>(context->sampleRate));
  SetDlgItemTextA(dialog, 1027, text);
  std::snprintf(text, sizeof text, "%li.%.3li", elapsedMs / 1000, elapsedMs % 1000);
  SetDlgItemTextA(dialog, 1030, text);
}

bool DeliverFilters(std::initializer_list<std::span<const float>> parts, int channels, long length,
                    long sampleRate, HWND owner, const FilterTexts& texts) {
  float peak = 0;
  for (std::span<const float> part : parts) {
    const float p = FilterPeak(part.first(static_cast<std::size_t>(length)));
    if (p < 0) {
      MessageBoxA(owner, kNotFiniteFilterMessage, texts.caption, MB_OK | MB_ICONSTOP);
      return false;
    }
    if (p > peak) peak = p;
  }
  if (peak == 0) {
    MessageBoxA(owner, kZeroFilterMessage, texts.caption, MB_OK | MB_ICONSTOP);
    return false;
  }
  const uint64_t dataBytes = static_cast<uint64_t>(parts.size()) * static_cast<uint64_t>(length) * 2;
  HGLOBAL block = dataBytes <= 0x7FFFFFF0u - kWavHeaderBytes ? AllocClipboardWave(static_cast<std::size_t>(dataBytes))
                                                             : nullptr;
  auto* bytes = block ? static_cast<uint8_t*>(GlobalLock(block)) : nullptr;
  if (!bytes) {
    if (block) GlobalFree(block);
    MessageBoxA(owner, texts.memoryMessage, texts.memoryCaption, MB_OK | MB_ICONSTOP);
    return false;
  }
  WriteWavHeader(bytes, channels, sampleRate, static_cast<uint32_t>(dataBytes));
  const float gain = 32767.0f / peak;
  std::size_t index = 0;
  for (std::span<const float> part : parts) {
    const std::size_t frameBlock = index / static_cast<std::size_t>(channels);
    const std::size_t channel = index % static_cast<std::size_t>(channels);
    for (long t = 0; t < length; ++t) {
      const std::size_t at = (frameBlock * static_cast<std::size_t>(length) + static_cast<std::size_t>(t)) *
                                 static_cast<std::size_t>(channels) + channel;
      const int16_t s = ScaleFilterSample(part[static_cast<std::size_t>(t)], gain);
      std::memcpy(bytes + kWavHeaderBytes + 2 * at, &s, 2);
    }
    ++index;
  }
  GlobalUnlock(block);
  return PlaceOnClipboard(owner, block, CF_WAVE, texts.caption);
}
