// The parameter block of "Synchronous Averaging", as the host keeps it.
#pragma once

#include <cstddef>

#include "frame/xfm.h"

#pragma pack(push, 1)
struct SweepAverageBlock {
  BYTE resultChannels;      // 0: result: the document's channel count
  BYTE autoscaleRemoveDc;   // 1: one common scale, the DC component removed
  float rescaledFrom;       // 2: result: the value mapped to 32767
  LONG elapsedMs;           // 6: result: run time
  LONG resultSampleRate;    // 10: result: the document's sample rate
  DWORD ownerWindow;        // 14: parent of the settings dialog (a handle, also on 64-bit)
  DWORD moduleInstance;     // 18: the module's instance (a handle, also on 64-bit)
  LONG measurements;        // 22: H
  LONG sweepsPerMeasurement;// 26: M
  float sweepDuration;      // 30: seconds below 100, samples from 100
  float silenceDuration;    // 34: seconds below 100, samples from 100
  LONG responseLength;      // 38: samples kept per response
  LONG skipSamples;         // 42: first samples of each period left out
  BYTE autoscaleEach;       // 46: scale every response by its own peak
  LONG harmonicOrder;       // 47: 1 (0 shows as 1) the linear response, 2 .. 9 a harmonic
  float startFrequency;     // 51: f1 of the sweep, Hz
  float endFrequency;       // 55: f2 of the sweep, Hz
};
#pragma pack(pop)
static_assert(offsetof(SweepAverageBlock, resultChannels) == 0);
static_assert(offsetof(SweepAverageBlock, autoscaleRemoveDc) == 1);
static_assert(offsetof(SweepAverageBlock, rescaledFrom) == 2);
static_assert(offsetof(SweepAverageBlock, elapsedMs) == 6);
static_assert(offsetof(SweepAverageBlock, resultSampleRate) == 10);
static_assert(offsetof(SweepAverageBlock, ownerWindow) == 14);
static_assert(offsetof(SweepAverageBlock, moduleInstance) == 18);
static_assert(offsetof(SweepAverageBlock, measurements) == 22);
static_assert(offsetof(SweepAverageBlock, sweepsPerMeasurement) == 26);
static_assert(offsetof(SweepAverageBlock, sweepDuration) == 30);
static_assert(offsetof(SweepAverageBlock, silenceDuration) == 34);
static_assert(offsetof(SweepAverageBlock, responseLength) == 38);
static_assert(offsetof(SweepAverageBlock, skipSamples) == 42);
static_assert(offsetof(SweepAverageBlock, autoscaleEach) == 46);
static_assert(offsetof(SweepAverageBlock, harmonicOrder) == 47);
static_assert(offsetof(SweepAverageBlock, startFrequency) == 51);
static_assert(offsetof(SweepAverageBlock, endFrequency) == 55);
static_assert(sizeof(SweepAverageBlock) == 59);

inline constexpr char kSweepAverageTypeString[] = "ccfllhhllffllclff";
