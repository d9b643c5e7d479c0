#include "cli/report_page.h"

#include <cmath>
#include <cstdio>

#include "frame/format.h"
#include "frame/octave.h"
#include "host/core/json.h"

namespace tovrel::cli {

namespace {

namespace plot = host::plot;

const ModuleResults& Module(const ReportedResponse& r) { return *r.views.front().module; }

const char* ChannelName(int channels, int channel) { return channels == 1 ? "mono" : channel == 0 ? "left" : "right"; }

// Why the module finds a parameter not valid.
const char* InvalidReason(int parameter) {
  switch (parameter) {
    case 0:
    case 2: return "not valid: less than 50 ms of response after the first arrival";
    case 1: return "not valid: less than 80 ms of response after the first arrival";
    case plot::kEdtIndex: return "not valid: no decay fitted over the first 10 dB";
    default:
      return "not valid: the decay does not cover the range before the end of the response, or does not fit a "
             "straight line (fit figure below 0.85)";
  }
}

// The fit figure that goes with a parameter (its own, or its decay time's); -1 for none.
int FitFigureOf(int parameter) {
  for (int t : {plot::kRt20Index, plot::kRt30Index, plot::kRtuIndex})
    if (parameter == t || parameter == t + 1) return t + 1;
  return -1;
}

// A fit figure above 1 is no squared correlation but the cause of a failed fit, which the
// module reports as valid with a decay time of 0.
std::string DegenerateFit(double figure) {
  const long code = static_cast<long>(figure);
  std::string why = code == 71   ? "fewer than two points in the range"
                    : code == 61 ? "a flat stretch"
                    : code == 21 ? "a slope of zero"
                                 : "code " + std::to_string(code);
  return "degenerate fit (" + why + "): the decay time 0 is no measurement";
}

const char kStyle[] = R"(
body { font: 14px/1.4 "DejaVu Sans", Verdana, sans-serif; color: #111; background: #fff; margin: 1.5em; }
h1 { font-size: 1.4em; margin: 0 0 .8em; }
h2 { font-size: 1.15em; margin: 0 0 .4em; word-break: break-all; }
h3 { font-size: 1em; margin: 1em 0 .3em; }
.responses { display: grid; gap: 2em; align-items: start; overflow-x: auto; }
.response { min-width: 0; }
div.table { overflow-x: auto; }
dl { display: grid; grid-template-columns: max-content auto; gap: .1em 1em; margin: 0; }
dt { color: #444; }
dd { margin: 0; }
table.parameters { border-collapse: collapse; font-variant-numeric: tabular-nums; font-size: .92em; }
table.parameters th, table.parameters td { border: 1px solid #bbb; padding: .15em .4em; }
table.parameters td { text-align: right; }
table.parameters thead th { background: #e8eef5; }
table.parameters tbody th { text-align: left; background: #f4f6f8; white-space: nowrap; }
td.invalid { color: #a33; background: repeating-linear-gradient(135deg, #fbeaea 0 4px, #fff 4px 8px); }
td.degenerate { color: #a33; background: #fbeaea; font-style: italic; }
tr.noise td { text-align: center; }
figure { margin: 1em 0 0; }
figure svg { width: 100%; height: auto; border: 1px solid #ddd; }
footer { margin-top: 2em; color: #555; font-size: .9em; }
)";

void FormatList(std::string& out, const ReportedResponse& r) {
  const char* layout = r.channels == 1 ? " (mono)" : r.channels == 2 ? " (stereo)" : "";
  char seconds[64];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.rate > 0 ? static_cast<double>(r.frames) / r.rate : 0.0);
  out += "<h3>Format</h3>\n<dl class=\"format\">\n";
  out += "<dt>Sample rate</dt><dd>" + std::to_string(r.rate) + " Hz</dd>\n";
  out += "<dt>Channels</dt><dd>" + std::to_string(r.channels) + layout + "</dd>\n";
  out += "<dt>Length</dt><dd>" + std::to_string(r.frames) + " frames (" + seconds + " s)</dd>\n";
  out += "<dt>Samples</dt><dd>16-bit PCM, as the module reads them</dd>\n</dl>\n";
}

void SettingsList(std::string& out, const ReportedResponse& r) {
  const ModuleResults& m = Module(r);
  out += "<h3>Settings of \"Calculate Acoustical Parameters\"</h3>\n<dl class=\"settings\">\n";
  out += "<dt>User Defined Reverberation Time Extremes:</dt><dd>(" + FormatGeneral(m.rtuUpper) + " dB, " +
         FormatGeneral(m.rtuLower) + " dB)</dd>\n";
  out += "<dt>First Arrival Time Threshold:</dt><dd>" + std::to_string(std::lround(m.threshold)) + "</dd>\n";
  out += std::string("<dt>Noise Correction</dt><dd>") + (m.noiseCorrection ? "on" : "off") + "</dd>\n";
  out += std::string("<dt>Taken from</dt><dd>") +
         (m.earlierSettings ? "the settings of an earlier run" : "the module's defaults") + "</dd>\n</dl>\n";
}

void ParameterTable(std::string& out, const ModuleResults& m, int channel) {
  out += "<h3>OCTAVE BAND ACOUSTICAL PARAMETERS";
  if (m.channels > 1) out += channel == 0 ? " - Left Channel" : " - Right Channel";
  out += "</h3>\n<div class=\"table\"><table class=\"parameters\">\n<thead><tr><th>Band</th>";
  for (const std::string& label : m.rowLabels) out += "<th>" + HtmlEscape(label) + "</th>";
  out += "</tr></thead>\n<tbody>\n";
  for (int j = 0; j < plot::kParameterCount; ++j) {
    out += "<tr><th>" + HtmlEscape(m.parameterLabels[j]) + "</th>";
    for (int row = 0; row < plot::kRowCount; ++row) {
      if (!m.valid[channel][row][j]) {
        out += "<td class=\"invalid\" title=\"" + HtmlEscape(InvalidReason(j)) + "\">--</td>";
        continue;
      }
      const std::string value = FormatGeneral(m.values[channel][row][j], 4);
      const int figure = FitFigureOf(j);
      if (figure >= 0 && m.values[channel][row][figure] > 1.0f)
        out += "<td class=\"degenerate\" title=\"" + HtmlEscape(DegenerateFit(m.values[channel][row][figure])) + "\">" +
               value + "</td>";
      else
        out += "<td>" + value + "</td>";
    }
    out += "</tr>\n";
  }
  out += "<tr class=\"noise\"><th>Noise Correction:</th>";
  for (int row = 0; row < plot::kRowCount; ++row)
    out += std::string("<td>") + (!m.noiseCorrection ? "--" : m.noiseCorrected[row] ? "yes" : "no") + "</td>";
  out += "</tr>\n</tbody>\n</table></div>\n";
}

// A number of a curve: 7 significant digits (9 for times and frequencies).
std::string Figure(double v, int digits) {
  char text[40];
  std::snprintf(text, sizeof text, "%.*g", digits, v);
  return text;
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t k = 0; k < text.size(); ++k) {
    const auto c = static_cast<unsigned char>(text[k]);
    switch (c) {
      case '&': out += "&amp;"; continue;
      case '<': out += "&lt;"; continue;
      case '>': out += "&gt;"; continue;
      case '"': out += "&quot;"; continue;
      case '\'': out += "&#39;"; continue;
      default: break;
    }
    if (c >= 0x80) {
      if (const std::size_t n = host::Utf8Length(text, k)) {
        out.append(text, k, n);
        k += n - 1;
      } else {
        out += "&#" + std::to_string(c) + ";";
      }
    } else if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7f) {
      out += "&#xFFFD;";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string ReportHtml(const std::vector<ReportedResponse>& responses, const std::string& generator) {
  std::string names;
  for (const auto& r : responses) names += (names.empty() ? "" : ", ") + r.name;
  std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  out += "<title>Acoustical parameters: " + HtmlEscape(names) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
  out += "<h1>Acoustical parameters</h1>\n";
  out += "<div class=\"responses\" style=\"grid-template-columns: repeat(" + std::to_string(responses.size()) +
         ", minmax(40em, 1fr))\">\n";
  for (const ReportedResponse& r : responses) {
    out += "<section class=\"response\">\n<h2>" + HtmlEscape(r.name) + "</h2>\n";
    FormatList(out, r);
    SettingsList(out, r);
    for (int channel = 0; channel < Module(r).channels; ++channel) ParameterTable(out, Module(r), channel);
    if (!r.plots.empty())
      out += "<figure class=\"plots\">\n" + r.plots + "\n</figure>\n";
    out += "</section>\n";
  }
  out += "</div>\n<footer>\n<p>\"--\" (hatched) marks a value the module found not valid; hover it for the reason. "
         "A fit figure above 1 (italic) names the cause of a degenerate fit, whose decay time 0 is no measurement. "
         "Values as the module reports them, with 4 significant digits.</p>\n<p>" +
         HtmlEscape(generator) + "</p>\n</footer>\n</body>\n</html>\n";
  return out;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string ParameterCsv(const std::vector<ReportedResponse>& responses) {
  std::string out = "response,channel,band,centre [Hz],noise correction";
  if (!responses.empty())
    for (const std::string& label : Module(responses.front()).parameterLabels) out += "," + label + "," + label + " valid";
  out += "\r\n";
  for (const ReportedResponse& r : responses) {
    const ModuleResults& m = Module(r);
    for (int channel = 0; channel < m.channels; ++channel)
      for (int row = 0; row < plot::kRowCount; ++row) {
        out += CsvField(r.name) + "," + ChannelName(m.channels, channel) + "," + CsvField(m.rowLabels[row]) + ",";
        if (row > 0) out += host::ShortestDecimal(host::DecimalValue(kBandCentres[row - 1]));
        out += std::string(",") + (!m.noiseCorrection ? "off" : m.noiseCorrected[row] ? "yes" : "no");
        for (int j = 0; j < plot::kParameterCount; ++j) {
          const bool valid = m.valid[channel][row][j];
          out += "," + (valid ? host::ShortestDecimal(host::DecimalValue(m.values[channel][row][j])) : "") +
                 (valid ? ",y" : ",n");
        }
        out += "\r\n";
      }
  }
  return out;
}

std::string CurveCsv(const std::vector<ReportedResponse>& responses) {
  std::string out = "response,channel,curve,band,x,y\r\n";
  for (const ReportedResponse& r : responses) {
    const std::string name = CsvField(r.name);
    for (const ResponseView& v : r.views) {
      const std::string head = name + "," + ChannelName(r.channels, v.channel) + ",";
      // Times and frequencies with 9 digits, levels with 7; samples exactly.
      auto point = [&out, &head](const char* curve, const std::string& band, double x, const std::string& y) {
        out += head + curve + "," + band + "," + Figure(x, 9) + "," + y + "\r\n";
      };
      const double rate = static_cast<double>(v.rate);
      for (std::size_t n = 0; n < v.ir.size(); ++n)
        point("waveform", "", static_cast<double>(n) / rate, host::ShortestDecimal(v.ir[n]));
      for (std::size_t n = 0; n < v.etcDb.size(); ++n)
        point("etc", "", static_cast<double>(n) / rate, Figure(v.etcDb[n], 7));
      for (std::size_t k = 0; k < v.frequencyHz.size() && k < v.magnitudeDb.size(); ++k)
        point("magnitude", "", v.frequencyHz[k], Figure(v.magnitudeDb[k], 7));
      for (const BandDecay& band : v.bands) {
        const std::string label = CsvField(band.label);
        for (std::size_t n = 0; n < band.levelDb.size(); ++n)
          point("decay", label, static_cast<double>(n) / rate, Figure(band.levelDb[n], 7));
        for (const FittedLine& line : band.fits) {
          if (!line.valid) continue;
          point(line.name.c_str(), label, line.startSeconds, Figure(line.startDb, 7));
          point(line.name.c_str(), label, line.endSeconds, Figure(line.endDb, 7));
        }
      }
    }
  }
  return out;
}

}  // namespace tovrel::cli
