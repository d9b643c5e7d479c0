// Synchronous averaging of periodic excitations: whole periods of the document's 16-bit
// frames summed per channel in 32-bit integers, then turned into floats for the
// transforms. The sums are exact (up to 32767 periods of full-scale samples fit).
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/progress.h"

struct XfmContext;

// Adds one period of interleaved frames: sums[ch][k] += frames[k * channels + ch] for
// k = 0 .. period - 1 and each channel.
void AddPeriod(const int16_t* frames, long period, int channels, int32_t* const sums[]);

// Reads `count` periods of `period` frames, one after the other from document frame
// `first`, through the host into `buffer` (period x channels samples), and adds each to
// the sums. Reports (periods done, count) after each period when a callback is given;
// false as soon as it asks to stop.
bool SumPeriods(XfmContext* context, long first, long period, long count, int channels, int16_t* buffer,
                int32_t* const sums[], const ProgressFn& progress = {});

// Sums of 32-bit integers become floats in the same cells, first .. last inclusive.
void SumsToFloats(int32_t* cells, std::size_t first, std::size_t last);
