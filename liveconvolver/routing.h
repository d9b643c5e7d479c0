// The real-time convolver's routing: the channel selector's mask, the letters it stands
// for, the filter length and FFT size it needs, the energy of a response and the gain.
//
// Each response has four paths, one bit each in its half of the mask (IR1 bits 0-3, IR2
// bits 4-7): left input to L, left input to R, right input to L, right input to R. The
// response channel of a path ("L" or "R") is also the output channel it feeds.
#pragma once

#include <cstdint>
#include <span>

// Path bits of one response (a 4-bit path set); IR2's are these shifted left by 4.
inline constexpr unsigned kPathLL = 0x1, kPathLR = 0x2, kPathRL = 0x4, kPathRR = 0x8;

// The letter of a 4-bit path set; 'x' for the empty set ("j" and "k" are not used).
char RoutingLetter(unsigned pathSet);
// The path set of a letter; -1 for a character that is no routing letter.
int PathSetOf(char letter);

// The letters of a mask: IR1's from bits 0-3, IR2's from bits 4-7, the combined one from
// their union.
struct RoutingLetters {
  char combined = 'x';
  char first = 'x';   // IR1
  char second = 'x';  // IR2
};
RoutingLetters LettersFromMask(uint32_t mask);

// The groups of letters the engine tests.
inline constexpr char kOnlyLeftInput[] = "abc";
inline constexpr char kOnlyRightInput[] = "def";
inline constexpr char kBothInputs[] = "ghilmnopq";
inline constexpr char kSingleLeftPath[] = "ab";
inline constexpr char kSingleRightPath[] = "de";
inline constexpr char kUsesResponseRight[] = "bcefhilmnopq";
inline constexpr char kUsesRightInput[] = "defghilmnopq";
inline constexpr char kUsesBothResponseChannels[] = "cfhilnopq";
inline constexpr char kOnlyResponseLeft[] = "adg";
inline constexpr char kOnlyResponseRight[] = "bem";
inline constexpr char kSinglePath[] = "abde";
// Whether the letter is one of the set (never for '\0').
bool LetterIn(const char* set, char letter);

// The path set of response 0 (IR1) or 1 (IR2).
inline unsigned ResponsePaths(uint32_t mask, int response) { return (mask >> (4 * response)) & 0xFu; }
inline bool Routed(uint32_t mask, int response) { return ResponsePaths(mask, response) != 0; }
// Both responses act on one path: they are applied in series.
inline bool Cascade(uint32_t mask) { return (ResponsePaths(mask, 0) & ResponsePaths(mask, 1)) != 0; }
// The mask a mono document can carry: its left-input switches only.
inline constexpr uint32_t kMonoDocumentMask = 0x33;

// The filter length M of the routing, for planning and for the run alike: the routed
// response's length; M1 + M2 - 1 in cascade; max(M1, M2) side by side; 1 unrouted.
long FilterLength(uint32_t mask, long firstFrames, long secondFrames);

// The FFT size for filter length M and selection length L: with p the power of two not
// below M (at least 4), 4p when M < L, else the cost search from 2p.
long PlannedFftSize(long filterFrames, long selectionFrames);
// The size the parameter block keeps: PlannedFftSize of the routing; 0 when nothing is routed.
long RoutingFftSize(uint32_t mask, long firstFrames, long secondFrames, long selectionFrames);
// The size a run or preview starts from: the kept size, 16384 when nothing is routed.
inline constexpr long kUnroutedFftSize = 16384;

// Sum of the squares of every sample (all channels), as float64.
double ResponseEnergy(std::span<const int16_t> samples);

// The normalisation g0 of the playback for FFT size N and selection energy term E_in:
// 1 unrouted; 32767 / (r E_in N) / N with r = sqrt(E/N) of the routed response (the larger
// r side by side), and 32767 / (r1 r2 E_in N N) / N in cascade. A silent response
// (energy 0) gives 0: its output is silence, and an infinite gain would make it NaN.
float BaseGain(uint32_t mask, double firstEnergy, double secondEnergy, double selectionEnergy, long fftSize);
// g = g0 10^(S/10): the scaling factor S in dB as a power ratio; kept finite.
float PlaybackGain(float baseGain, int scalingDb);
