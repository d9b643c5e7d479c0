// tovrel report: the page and the tables of one or several analysed responses. Pure text
// building: the command gathers what they show.
#pragma once

#include <string>
#include <vector>

#include "cli/report_acoustic.h"

namespace tovrel::cli {

// One response as the report shows it.
struct ReportedResponse {
  std::string name;  // as named on the command line
  long rate = 0;
  int channels = 1;
  long frames = 0;
  AcousticRun acoustic;  // the acoustic module's run on the whole response
  std::string plots;     // SVG of its plots (empty: none)
};

// Text made safe inside HTML elements and attribute values: markup characters as
// entities, control characters as U+FFFD, bytes that are no UTF-8 read as Latin-1.
std::string HtmlEscape(const std::string& text);

// An SVG document made fit to sit inline in a page beside others: no XML prolog, and
// every id (with the references to it) prefixed, since ids are shared by the whole page.
std::string InlineSvg(const std::string& svg, const std::string& idPrefix);

// The whole self-contained page: the responses side by side, each with its format, the
// settings the module ran with, its parameter table per channel (invalid values marked)
// and its plots.
std::string ReportHtml(const std::vector<ReportedResponse>& responses, const std::string& generator);

// The parameter table as CSV: a header, then one row per response, channel and band; per
// parameter its value (empty when not valid) and its validity flag (y or n).
std::string ParameterCsv(const std::vector<ReportedResponse>& responses);

// A field of a CSV line: quoted when it holds a separator, a quote or a line break.
std::string CsvField(const std::string& text);

}  // namespace tovrel::cli
