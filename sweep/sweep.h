// Sine sweeps for impulse-response measurement: the lengths of a sweep train, the faded
// linear or logarithmic sweep, its inverse filter, and the start frames of the responses
// in a recording convolved with that filter.
#pragma once

#include <cstdint>

// The generator's duration fields: seconds up to and including 100, samples above
// (divided by the rate).
double GeneratorSeconds(float field, long sampleRate);
// The averager's duration fields: seconds below 100 (times the rate), samples from 100.
double AveragerSamples(float field, long sampleRate);

struct SweepSettings {
  float startFrequency;   // f1, Hz
  float endFrequency;     // f2, Hz
  float sweepDuration;    // seconds up to 100, samples above
  float silenceDuration;  // seconds up to 100, samples above
  long amplitude;         // peak sample value A
  bool linear;            // linear sweep, else logarithmic
  long sampleRate;
};

// Everything a sweep needs, in double precision from the settings' float fields.
struct SweepPlan {
  double L = 0;          // sweep length in samples, unrounded
  int64_t N = 0;         // sweep samples
  int64_t P = 0;         // samples per period: sweep and silence
  int64_t a = 0;         // fade-in length
  int64_t b = 0;         // fade-out start
  double w1 = 0, w2 = 0; // normalised angular frequencies
  double O = 0;          // octaves, log2(w2 / w1)
  double K = 0;          // logarithmic phase factor
  double plateau = 0;    // gain between the fades
  double A = 0;
  bool linear = false;
};

SweepPlan PlanSweep(const SweepSettings& s);

// The frames of a train of R periods: R x P, twice that when a stereo document plays the
// sweeps on the left and then on the right (no control tone).
int64_t SweepFrames(const SweepPlan& plan, long periods, int channels, bool controlTone);

// Null when the settings give a sweep the document can hold, else why not (a text for
// the user): amplitude, frequencies, equal log-sweep frequencies, fade-in, silence,
// periods, length.
const char* CheckSweep(const SweepSettings& s, long periods, int channels, bool controlTone);

// G x sin(phi) of sweep sample n (0 <= n < N), unrounded.
double SweepValue(const SweepPlan& plan, int64_t n);
// The 16-bit document sample: the value truncated toward zero.
int16_t SweepSample(double value);
// The inverse-filter sample that sits at index N - 1 - n, from the unrounded value.
int16_t InverseSample(const SweepPlan& plan, int64_t n, double value);
// The control tone on the right channel at sweep sample n (angle n radians).
int16_t ControlToneSample(int64_t n);
inline constexpr int64_t kControlToneSamples = 200;

// The longest signal a document takes in one write: 2^31 - 1 bytes of 16-bit samples.
inline constexpr int64_t kMostDocumentSamples = 0x7fffffff / 2;

// Synchronous averaging of a recorded train of sweep responses convolved with the
// inverse filter: H measurements of M periods each.
struct AverageSettings {
  long measurements;     // H
  long sweeps;           // M, periods per measurement
  float sweepDuration;   // seconds below 100, samples from 100
  float silenceDuration;
  long responseLength;   // samples kept per response
  long skipSamples;      // first samples of each period left out
  long harmonicOrder;    // 1 (or 0) the linear response, 2 .. 9 a harmonic
  float startFrequency;  // f1 of the sweep, Hz
  float endFrequency;    // f2
  long sampleRate;
};

struct AveragePlan {
  int64_t T = 0;  // sweep length, rounded half away from zero
  int64_t P = 0;  // period: sweep and silence, unrounded sum rounded so
  int64_t R = 0;  // samples kept per response: at most the period after the skipped samples
};
AveragePlan PlanAverage(const AverageSettings& s);

// The frame (from the selection's start) where measurement i starts: T - 1 for the linear
// response of the first, earlier by T ln k / ln(f2 / f1) for the k-th harmonic, the
// result truncated toward zero.
int64_t AverageStartFrame(const AverageSettings& s, const AveragePlan& plan, long i);

// Whether a selection of the given frames can be averaged with these settings.
enum class AverageFit { Fits, TooShort, Refused };
// Refused comes with why (a text for the user); TooShort means the selection is shorter
// than T + H x M x P - 1 frames.
AverageFit CheckAverage(const AverageSettings& s, int64_t selectionFrames, const char** why);
