// What the run and the preview share when they set the engine up: its memory as staged
// movable blocks, and the questions about sample rates and the FFT size.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

#include "frame/stages.h"
#include "liveconvolver/engine.h"
#include "liveconvolver/livefold/livefold_block.h"

// The engine's buffers as movable blocks, zero-filled, given back together.
class StagedAllocator : public EngineAllocator {
 public:
  void* Allocate(std::size_t bytes) override { return staging_.AllocLocked<char>(bytes, GMEM_MOVEABLE | GMEM_ZEROINIT); }
  void ReleaseAll() override { staging_.ReleaseAll(); }

 private:
  Staging staging_;
};

inline std::string LongText(long v) {
  char text[32];
  std::snprintf(text, sizeof text, "%li", v);
  return text;
}

// |document rate / response rate - 1| >= 1 %: the user is asked.
inline bool RatesDiffer(long documentRate, long responseRate) {
  return !(std::fabs(static_cast<double>(documentRate) / static_cast<double>(responseRate) - 1.0) < 0.01);
}

// The question for response k (0 IR1, 1 IR2) whose rate differs from the document's.
inline std::string RatesQuestion(long documentRate, int k, long responseRate) {
  return "Sampling Rates don't match!\n\nSampling Rate of Audio Signal is " + LongText(documentRate) +
         "Hz\nSampling Rate of Impulse Response " + LongText(k + 1) + " is " + LongText(responseRate) +
         "Hz\n\nContinue?";
}

// The question when only a smaller FFT size than the optimum fits.
inline std::string FftSizeQuestion(const LiveParams& p, bool secondLoaded, long optimum, long available) {
  std::string question = "Not optimum FFT size!\n\nImpulse Response 1 size: " + LongText(p.responseFrames[0]) +
                         " Points\nOptimum FFT size: " + LongText(optimum) +
                         " Points\nAvailable FFT size: " + LongText(available);
  if (secondLoaded)
    question += "\n\nImpulse Response 2 size: " + LongText(p.responseFrames[1]) + " Points\nOptimum FFT size: " +
                LongText(optimum) + " Points\nAvailable FFT size: " + LongText(available);
  return question + " Points\n\nThis may result in slower elaboration.\nContinue?";
}
