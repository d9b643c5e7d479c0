// What both filter-design modules share around their kernels: the statistics, and the
// delivery of the designed filters to the clipboard as one 16-bit WAV.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

#include "frame/dialogs.h"
#include "frame/paramblock.h"
#include "frame/stages.h"
#include "frame/xfm.h"

inline constexpr char kZeroFilterMessage[] =
    "The designed filter is zero everywhere\nand cannot be scaled to full scale.\n\n"
    "Nothing has been stored in the clipboard.";
inline constexpr char kNotFiniteFilterMessage[] =
    "The designed filter has values that are not finite:\nthe impulse response cannot be inverted.\n\n"
    "Nothing has been stored in the clipboard.";

// "44100 Hz/Mono/1024 Samples".
std::string ResponseInfo(const XfmContext* context, int64_t frames);

// The statistics both result dialogs show: 1028 the channel count, 1027 the sample
// rate, 1030 the elapsed time as "%li.%.3li" seconds.
void FillCommonStatistics(HWND dialog, const XfmContext* context, long elapsedMs);

// The texts of a module's delivery: its caption, and its memory message with the caption
// that message carries.
struct FilterTexts {
  const char* caption;
  const char* memoryMessage;
  const char* memoryCaption;
};

// The filters, one common peak, as `channels`-channel frames: `parts` holds blocks of
// `channels` filters of `length` values each; block b gives frames b × length on.
// A filter with a value that is not finite, or zero everywhere, is refused with its
// message (stop icon, owned by `owner`). Otherwise the WAV block is made (the memory
// message on failure) and placed on the clipboard (the busy message on failure).
// True when the clipboard took it.
bool DeliverFilters(std::initializer_list<std::span<const float>> parts, int channels, long length,
                    long sampleRate, HWND owner, const FilterTexts& texts);
