// tovrel report: the page and the tables of one or several analysed responses. Pure text
// building: the command gathers what they show.
#pragma once

#include <string>
#include <vector>

#include "cli/response_view.h"

namespace tovrel::cli {

// One response as the report shows it.
struct ReportedResponse {
  std::string name;  // as named on the command line
  long rate = 0;
  int channels = 1;
  long frames = 0;
  // One analysis per channel; the acoustic module's results (both channels) are in each
  // view's `module`.
  std::vector<ResponseView> views;
  std::string plots;  // SVG of its plots, to sit inline (no ids, no XML prolog); empty: none
};

// Text made safe inside HTML elements and attribute values: markup characters as
// entities, control characters as U+FFFD, bytes that are no UTF-8 read as Latin-1.
std::string HtmlEscape(const std::string& text);

// The whole self-contained page: the responses side by side, each with its format, the
// settings the module ran with, its parameter table per channel (invalid values marked)
// and its plots.
std::string ReportHtml(const std::vector<ReportedResponse>& responses, const std::string& generator);

// The parameter table as CSV: a header, then one row per response, channel and band; per
// parameter its value (empty when not valid) and its validity flag (y or n).
std::string ParameterCsv(const std::vector<ReportedResponse>& responses);

// The curves of the plots as CSV, one point per line: response, channel, curve, band, x, y.
// Curves: "waveform" (s, full scale 1), "etc" (s, dB re its maximum), "magnitude" (Hz, dB
// re full scale, smoothed), per band "decay" (s, dB re the first arrival) and the lines the
// module fitted, "EDT", "RT20", "RT30", "RTU" (their two ends, s and dB).
std::string CurveCsv(const std::vector<ReportedResponse>& responses);

// A field of a CSV line: quoted when it holds a separator, a quote or a line break.
std::string CsvField(const std::string& text);

}  // namespace tovrel::cli
