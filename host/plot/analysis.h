// What a plot shows of one impulse response: its waveform, energy-time curve, magnitude
// response, and per octave band the backward-integrated decay with the lines the acoustic
// module fitted. The decay curves are computed with the module's own kernels (band filters,
// noise correction, integration; frame/octave.h) from its first arrival and noise flags, and
// the fitted lines take the module's reported decay times, so what is drawn is what the
// module measured.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "host/core/document.h"

namespace tovrel::host::plot {

// Positions of the module's parameters within a row, in the order of its report.
inline constexpr int kParameterCount = 11;
inline constexpr int kRowCount = 11;  // "Lin" and ten octave bands
inline constexpr int kEdtIndex = 4, kRt20Index = 5, kRt30Index = 7, kRtuIndex = 9;

// What the acoustic module said of a response (read from its report and parameter block).
struct ModuleResults {
  int channels = 1;
  bool noiseCorrection = false;
  float rtuUpper = -5, rtuLower = -15;  // dB
  float threshold = 10000;              // first-arrival threshold, 16-bit units
  std::array<std::string, kRowCount> rowLabels;              // "Lin", "31.5", ..., "16K"
  std::array<std::string, kParameterCount> parameterLabels;  // "C50 [dB]", ...
  // [channel][row][parameter] (channel 0 only for mono)
  float values[2][kRowCount][kParameterCount] = {};
  bool valid[2][kRowCount][kParameterCount] = {};
  bool noiseCorrected[kRowCount] = {};  // per row, both channels
  std::string report;                   // the module's text report
  bool earlierSettings = false;         // its settings were stored by an earlier run (not its defaults)
};

// One decay time as the module gave it and the line drawn for it.
struct FittedLine {
  std::string name;        // "EDT", "RT20", "RT30", "RTU"
  double rangeTopDb = 0;   // the fitted range, dB below the level at the first arrival
  double rangeBottomDb = 0;
  bool valid = false;      // the module reported a value
  double seconds = 0;      // the module's decay time
  double fit = 0;          // its fit figure (r^2; 0 for EDT, whose figure is not reported)
  // The line (valid only): least squares with the module's slope, -60 / seconds dB per
  // second, through the points of the range; times in seconds from the response's start,
  // levels in dB relative to the first arrival.
  double startSeconds = 0, endSeconds = 0;
  double startDb = 0, endDb = 0;
  double slopeDbPerSecond = 0;
};

struct BandDecay {
  std::string label;     // the module's row label
  double centreHz = 0;   // 0 for the wide band ("Lin")
  bool noiseCorrected = false;
  // Level of the backward-integrated energy in dB relative to the first arrival, from
  // sample 0 to where the energy runs out (noise correction can leave none at the end).
  std::vector<float> levelDb;
  std::array<FittedLine, 4> fits;  // EDT, RT20, RT30, RTU
  std::array<float, kParameterCount> values{};
  std::array<bool, kParameterCount> valid{};
};

struct ResponseView {
  std::string name;  // file name, or "clipboard"
  long rate = 0;
  int channels = 0;
  long frames = 0;
  int channel = 0;           // which channel was analysed (0 left or mono, 1 right)
  std::vector<double> ir;    // samples / 32768
  double peak = 0;           // largest magnitude in ir
  long peakIndex = 0;
  std::vector<double> etcDb;  // energy-time curve (squared envelope), dB re its maximum
  int smoothing = 3;          // magnitude smoothed over 1/smoothing octave (0: none)
  std::vector<double> frequencyHz, magnitudeDb;  // log-spaced; dB re full scale
  // From the acoustic module (empty bands when the analysis was not asked for).
  std::optional<ModuleResults> module;
  long firstArrival = -1;
  std::vector<BandDecay> bands;  // the rows the module computed, "Lin" first
};

struct AnalysisOptions {
  int smoothing = 3;  // 1/N octave; 0 for none
};

// Fewer frames than this are no response to plot.
inline constexpr long kMinimumFrames = 32;

// Waveform, energy-time curve and magnitude of one channel. Nothing when the channel does
// not exist or the response is too short or silent (error says so).
std::optional<ResponseView> AnalyseSignal(const Document& doc, int channel, const std::string& name,
                                          const AnalysisOptions& options, std::string& error);

// Adds the module's results and the decay curves of the rows it computed (channel
// view.channel of doc).
void AddDecay(ResponseView& view, const Document& doc, const ModuleResults& module);

// Power spectrum smoothed over 1/n octave (n > 0) and sampled at the given frequencies:
// the mean power of the bins within a factor 2^(1/2n) of each frequency (the nearest bin
// when none is). power[k] is the power at k * binHz.
std::vector<double> SmoothPower(const std::vector<double>& power, double binHz, int n,
                                const std::vector<double>& frequencies);

// Log-spaced frequencies from lo to hi, `perOctave` to the octave (hi included).
std::vector<double> LogFrequencies(double lo, double hi, int perOctave);

// The squared Hilbert envelope of x in dB relative to its maximum, floored at -200 dB.
std::vector<double> EnergyTimeCurve(const std::vector<double>& x);

}  // namespace tovrel::host::plot
