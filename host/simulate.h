// A simulated measurement: a document played (looped) through a known system and
// recorded, as a user without a sound card tries the suite. The excitation is taken as
// periodic and the system as having settled, so the recording starts at any phase of
// the steady state.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "host/core/document.h"

namespace tovrel::host {

// One impulse response per recorded channel, in full-scale units (1.0 passes a sample
// unchanged), each followed by a memoryless polynomial when the channel has one.
struct SimulatedSystem {
  std::string description;
  std::vector<std::vector<double>> channels;
  // Per channel (empty: linear): coefficients a1, a2, ... of y = a1 v + a2 v^2 + ..., with
  // v the response's output relative to full scale (32768).
  std::vector<std::vector<double>> polynomials;
};

// Parses a system: channels separated by "/", each one of
//   delay:N        a pure delay of N frames
//   gain:G         a gain (negative inverts)
//   fir:a,b,c,...  a short FIR filter
//   room:T[:MS]    a small room: direct sound, then a diffuse tail decaying with
//                  reverberation time T seconds, MS milliseconds long (default 3 T)
// optionally followed by "+poly:a1,a2,..." (or poly:a1,a2,... alone): a weakly non-linear
// system, the polynomial a1 v + a2 v^2 + ... applied to the output v relative to full
// scale (room:0.4+poly:1,0.1 adds a 2nd harmonic of 0.1 v^2);
// or the name (a path) of an audio file whose channels are the responses (samples / 32768).
// The rate is needed for rooms and to check a file's rate.
std::optional<SimulatedSystem> ParseSystem(const std::string& text, long sampleRate, std::string& error);

struct Recording {
  long periods = 2;                       // whole excitation periods recorded
  long phase = 0;                         // frames of the period skipped before the recording starts
  std::optional<double> noiseDbfs;        // white noise RMS relative to full scale
  uint32_t seed = 1;                      // noise and room tails are repeatable
};

struct SimulationResult {
  Document recording;
  long clipped = 0;  // samples limited to the 16-bit range
};

// Plays the excitation's selection (the whole document when nothing is selected) through
// the system. A mono excitation feeds every channel of the system; a stereo one feeds
// channel c through response c (a one-channel system serves both).
std::optional<SimulationResult> Simulate(const Document& excitation, const SimulatedSystem& system,
                                         const Recording& recording, std::string& error);

// The system as a stream, for a loop that hears frames as they are played (the virtual
// wave device's): each output channel c is response c (or the only one) of input channel c
// (or the only one), then its polynomial, the noise, rounding and limiting to 16 bits. The
// responses' tails carry over from one call to the next.
class SystemStream {
 public:
  SystemStream(SimulatedSystem system, std::optional<double> noiseDbfs, uint32_t seed = 1);
  void Process(const int16_t* in, std::size_t frames, int inChannels, int16_t* out, int outChannels);
  long clipped() const { return clipped_; }

 private:
  SimulatedSystem system_;
  double noise_ = 0;
  std::mt19937 random_;
  std::normal_distribution<double> gauss_{0.0, 1.0};
  std::vector<std::vector<double>> pending_;  // per output channel: what is yet to come out
  long clipped_ = 0;
};

// The linear convolution of x and h (x.size() + h.size() - 1 values): exact sums for short
// work, the FFT otherwise.
std::vector<double> LinearConvolve(const std::vector<double>& x, const std::vector<double>& h);

// The steady-state (circular) response of one period x through h: y[n] = sum_k h[k] x[(n - k) mod N].
// Automatic: exact sums for short work, the FFT of a zero-padded linear convolution otherwise.
enum class ConvolutionMethod { Automatic, Direct, Fft };
std::vector<double> CircularConvolve(const std::vector<double>& x, const std::vector<double>& h,
                                     ConvolutionMethod method = ConvolutionMethod::Automatic);

}  // namespace tovrel::host
