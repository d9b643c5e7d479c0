// The tab-separated text report of an analysis, as placed on the clipboard.
#pragma once

#include <array>
#include <string>

#include "acoustic/parameters.h"

// Row labels of the report and of the results dialog.
inline constexpr std::array<const char*, kRows> kReportRowLabels = {
    "Lin", "31.5", "63", "125", "250", "500", "1K", "2K", "4K", "8K", "16K"};
inline constexpr std::array<const char*, kRows> kDialogRowLabels = {
    "Lin", "31.5", "63", "125", "250", "500", "1k", "2k", "4k", "8k", "16k"};

// Parameter labels of the report and of the results dialog.
inline constexpr std::array<const char*, kParameters> kReportParameterLabels = {
    "C50 [dB]", "C80 [dB]", "D50 [%]", "TS [ms]", "EDT [s]", "RT20 [s]",
    "r RT20",   "RT30 [s]", "r RT30",  "RTU [s]", "r RTU"};
inline constexpr std::array<const char*, kParameters> kDialogParameterLabels = {
    "C50 (dB)", "C80 (dB)", "D50 (%)", "TS (ms)", "EDT (s)", "RT20 (s)",
    "r RT20",   "RT30 (s)", "r RT30",  "RTU (s)", "r RTU"};

// Bytes the report may take per channel (the clipboard block holds channels x 2000).
inline constexpr int kReportBytesPerChannel = 2000;

// The report: heading, then one table per channel (left then right, each under its
// channel name, when stereo), with CR LF line ends. values and flags are laid out as in
// AcousticResults; the noise-correction line shows "--" throughout when correction was off.
std::string BuildReportText(const float* values, const char* flags, int channels,
                            bool noiseCorrection, float rtuUpper, float rtuLower);

// Reads a report back: the inverse of BuildReportText. Values shown as "--" come back
// invalid (flag 'n', value 0); the noise-correction line sets noiseCorrection (false
// when it shows "--" throughout) and the noise flags. False when the text is not a report.
struct ParsedReport {
  AcousticResults results{};
  int channels = 1;
  bool noiseCorrection = false;
  float rtuUpper = 0, rtuLower = 0;
};
bool ParseReportText(const std::string& text, ParsedReport& report);

inline std::string BuildReportText(const AcousticResults& results, int channels,
                                   const AnalysisSettings& settings) {
  return BuildReportText(results.values, results.flags, channels, settings.noiseCorrection,
                         settings.rtuUpper, settings.rtuLower);
}
