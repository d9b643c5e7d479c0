// Octave-band analysis kernels: the band filters, the noise estimate, the
// backward-integrated energy decay and the straight-line fit to its level. Pure functions
// over float32 buffers holding samples in 16-bit units (a full-scale sample is 32767.0).
// The acoustic module computes its parameters with them; the host draws the same curves.
#pragma once

#include <array>
#include <span>

// Rows of the analysis: row 0 is the unfiltered signal, rows 1 ... 10 the octave bands.
inline constexpr int kRows = 11;
inline constexpr int kBands = 10;
inline constexpr std::array<float, kBands> kBandCentres = {31.5f, 63.0f,   125.0f,  250.0f,  500.0f,
                                                           1000.0f, 2000.0f, 4000.0f, 8000.0f, 16000.0f};

// Highest centre frequency analysed at a sample rate (about fs / 2.1).
inline float HighestCentre(float fs) { return fs * 0.4761905f; }

// Number of octave bands analysed at a sample rate: the bands up to the first centre
// above HighestCentre.
int BandsAnalysed(float fs);

// One second-order band-pass section, in place:
//   y[k] = 2 (alpha (x[k] - x[k-2]) + gamma y[k-1] - beta y[k-2]),
// with the samples before the buffer taken as 0.
void OctaveSection(std::span<float> x, double f0, double q, double fs);

// The octave filter for centre fc: sections at 0.75 fc (Q 8), fc (Q 4) and 1.3 fc (Q 8)
// applied one after another, in place. The result is the same as three OctaveSection
// passes; the three recursions run in one sweep over the buffer.
void OctaveFilter(std::span<float> x, float fc, double fs);

// Mean square of the last sixteenth of the buffer (0 when that is empty).
double NoisePower(std::span<const float> x);

// Replaces x[k] by the energy from k to the end, E[k] = sum of g[j] for j >= k, where
// g = x^2, or x^2 - P clipped at 0 when the noise power P is not 0. Returns the first
// moment sum of (k - a + 1) g[k] over k >= a, divided by fs (used for the centre time).
double BackwardIntegrate(std::span<float> x, long a, double noisePower, double fs);

// Replaces each energy by its level 10 log10(E) in dB, and by 0 where E is not positive.
void ToDecibels(std::span<float> x);

// Index of the first sample whose magnitude reaches the threshold, or -1.
long FindFirstArrival(std::span<const float> x, float threshold);

struct DecayFit {
  float time;  // seconds; 0 when the fit failed
  float fit;   // square of the correlation coefficient, 0 or a status code (11 ... 71)
  long first = 0;   // index of the first point of the range
  long points = 0;  // points in the range (the samples first ... first + points - 1)
};

// Least-squares line through the levels L (dB) from b dB to b + c dB below the level at
// the first arrival a. Fails (0, 0) when the range runs into the last tenth (noise
// corrected) or sixteenth of the record, or when the fit figure is below 0.85; a
// degenerate fit gives time 0 and its status code as fit figure. The range found is given
// whatever the outcome.
DecayFit FitDecay(std::span<const float> levels, long a, float b, float c, bool noiseCorrected,
                  float fs);
