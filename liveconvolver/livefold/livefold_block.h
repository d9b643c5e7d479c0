// The parameter block of "Real Time Convolver", as the host keeps it. Fields of the two
// responses stand side by side: index 0 is IR1, index 1 is IR2.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/xfm.h"
#include "liveconvolver/routing.h"

// Where a response was loaded from.
enum ResponseSource : int16_t {
  kSourceNone = 0,
  kSourceFile = 1,
  kSourceWindowsClipboard = 2,
  kSourceHostClipboard = 3,
};

#pragma pack(push, 1)
struct LiveParams {
  LONG routingMask;             // 0: the channel selector, 8 bits (routing.h)
  char combinedLetter;          // 4: letter of the union of both responses' paths
  char responseLetter[2];       // 5, 6
  LONG responseFrames[2];       // 7, 11: lengths M1, M2 in frames
  LONG selectionFrames;         // 15: L
  LONG fftSize;                 // 19: N planned for the routing, 0 when nothing is routed
  LONG responseRate[2];         // 23, 27: Hz
  LONG documentRate;            // 31: Hz
  int16_t documentChannels;     // 35
  int16_t responseChannels[2];  // 37, 39: 1 or 2; 0 when not loaded
  int16_t responseSource[2];    // 41, 43: ResponseSource
  DWORD responseSamples[2];     // 45, 49: movable blocks of 16-bit samples, interleaved
  DWORD responseDisplay[2];     // 53, 57: movable blocks of the waveform views' data
  double selectionEnergy;       // 61: E_in of the gain, 300 whenever the dialog opens
  double responseEnergy[2];     // 69, 77: sum of squares of every sample
  int16_t scalingDb;            // 85: "Scaling Factor (dB)", -32767 ... 32767
  char responsePath[2][256];    // 87, 343: file of a response loaded from one
  char reserved[256];           // 599
  char fileDirectory[256];      // 855: initial directory of the next file dialog
};
#pragma pack(pop)
static_assert(offsetof(LiveParams, routingMask) == 0);
static_assert(offsetof(LiveParams, combinedLetter) == 4);
static_assert(offsetof(LiveParams, responseLetter) == 5);
static_assert(offsetof(LiveParams, responseLetter) + 1 == 6);
static_assert(offsetof(LiveParams, responseFrames) == 7);
static_assert(offsetof(LiveParams, responseFrames) + 4 == 11);
static_assert(offsetof(LiveParams, selectionFrames) == 15);
static_assert(offsetof(LiveParams, fftSize) == 19);
static_assert(offsetof(LiveParams, responseRate) == 23);
static_assert(offsetof(LiveParams, responseRate) + 4 == 27);
static_assert(offsetof(LiveParams, documentRate) == 31);
static_assert(offsetof(LiveParams, documentChannels) == 35);
static_assert(offsetof(LiveParams, responseChannels) == 37);
static_assert(offsetof(LiveParams, responseChannels) + 2 == 39);
static_assert(offsetof(LiveParams, responseSource) == 41);
static_assert(offsetof(LiveParams, responseSource) + 2 == 43);
static_assert(offsetof(LiveParams, responseSamples) == 45);
static_assert(offsetof(LiveParams, responseSamples) + 4 == 49);
static_assert(offsetof(LiveParams, responseDisplay) == 53);
static_assert(offsetof(LiveParams, responseDisplay) + 4 == 57);
static_assert(offsetof(LiveParams, selectionEnergy) == 61);
static_assert(offsetof(LiveParams, responseEnergy) == 69);
static_assert(offsetof(LiveParams, responseEnergy) + 8 == 77);
static_assert(offsetof(LiveParams, scalingDb) == 85);
static_assert(offsetof(LiveParams, responsePath) == 87);
static_assert(offsetof(LiveParams, responsePath) + 256 == 343);
static_assert(offsetof(LiveParams, reserved) == 599);
static_assert(offsetof(LiveParams, fileDirectory) == 855);
static_assert(sizeof(LiveParams) == 1111);

inline constexpr char kLiveTypeString[] = "lcccllllllliiiiihhhhdddissss";

// After a change of the mask or of a loaded response: the three letters from the mask,
// then the FFT size for the routing and the selection.
inline void UpdateRouting(LiveParams& p) {
  const RoutingLetters letters = LettersFromMask(static_cast<uint32_t>(p.routingMask));
  p.combinedLetter = letters.combined;
  p.responseLetter[0] = letters.first;
  p.responseLetter[1] = letters.second;
  p.fftSize = RoutingFftSize(static_cast<uint32_t>(p.routingMask), p.responseFrames[0], p.responseFrames[1],
                             p.selectionFrames);
}
