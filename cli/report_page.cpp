#include "cli/report_page.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "frame/format.h"
#include "host/core/json.h"
#include "host/runner.h"

namespace tovrel::cli {

namespace {

using host::Json;

const Json& Member(const Json& j, const char* key) {
  static const Json null;
  const Json* m = j.find(key);
  return m ? *m : null;
}

const Json::Array& Items(const Json& j) {
  static const Json::Array none;
  const auto* a = std::get_if<Json::Array>(&j.value());
  return a ? *a : none;
}

std::string Text(const Json& j) {
  const auto* s = std::get_if<std::string>(&j.value());
  return s ? *s : std::string();
}

bool Flag(const Json& j) {
  const auto* b = std::get_if<bool>(&j.value());
  return b && *b;
}

// A number of the report: a double, a whole number, or "inf" / "-inf" as text.
double Number(const Json& j) {
  if (const auto* d = std::get_if<double>(&j.value())) return *d;
  if (const auto* i = std::get_if<int64_t>(&j.value())) return static_cast<double>(*i);
  const std::string s = Text(j);
  return s == "inf" ? HUGE_VAL : s == "-inf" ? -HUGE_VAL : 0.0;
}

// The settings the module ran with, as its parameter block holds them.
struct Settings {
  double rtuUpper = 0, rtuLower = 0;
  long threshold = 0;
  bool noiseCorrection = false;
};

Settings BlockSettings(const AcousticRun& run) {
  Settings s;
  const Json fields = host::BlockJson("fficccllhh", run.block);
  const auto& f = Items(fields);
  if (f.size() > 3) {
    s.rtuUpper = Number(Member(f[0], "value"));
    s.rtuLower = Number(Member(f[1], "value"));
    s.threshold = static_cast<long>(Number(Member(f[2], "value")));
    s.noiseCorrection = Number(Member(f[3], "value")) != 0;
  }
  return s;
}

// Why the module finds a parameter not valid.
const char* InvalidReason(const std::string& key) {
  if (key == "C50" || key == "D50") return "not valid: less than 50 ms of response after the first arrival";
  if (key == "C80") return "not valid: less than 80 ms of response after the first arrival";
  if (key == "EDT") return "not valid: no decay fitted over the first 10 dB";
  return "not valid: the decay does not cover the range before the end of the response, or does not fit a "
         "straight line (fit figure below 0.85)";
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
.response { min-width: 44em; }
dl { display: grid; grid-template-columns: max-content auto; gap: .1em 1em; margin: 0; }
dt { color: #444; }
dd { margin: 0; }
table.parameters { border-collapse: collapse; font-variant-numeric: tabular-nums; }
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
  const Settings s = BlockSettings(r.acoustic);
  out += "<h3>Settings of \"Calculate Acoustical Parameters\"</h3>\n<dl class=\"settings\">\n";
  out += "<dt>User Defined Reverberation Time Extremes:</dt><dd>(" + FormatGeneral(s.rtuUpper) + " dB, " +
         FormatGeneral(s.rtuLower) + " dB)</dd>\n";
  out += "<dt>First Arrival Time Threshold:</dt><dd>" + std::to_string(s.threshold) + "</dd>\n";
  out += std::string("<dt>Noise Correction</dt><dd>") + (s.noiseCorrection ? "on" : "off") + "</dd>\n";
  out += std::string("<dt>Taken from</dt><dd>") +
         (r.acoustic.earlierSettings ? "the settings of an earlier run" : "the module's defaults") + "</dd>\n</dl>\n";
}

void ParameterTable(std::string& out, const Json& channel, int channels, bool noiseCorrection) {
  const std::string name = Text(Member(channel, "channel"));
  out += "<h3>OCTAVE BAND ACOUSTICAL PARAMETERS";
  if (channels > 1) out += name == "left" ? " - Left Channel" : " - Right Channel";
  out += "</h3>\n<table class=\"parameters\">\n<thead><tr><th>Band</th>";
  const auto& rows = Items(Member(channel, "rows"));
  for (const Json& row : rows) out += "<th>" + HtmlEscape(Text(Member(row, "band"))) + "</th>";
  out += "</tr></thead>\n<tbody>\n";
  for (const AcousticParameter& p : AcousticParameters()) {
    out += "<tr><th>" + HtmlEscape(p.label) + "</th>";
    for (const Json& row : rows) {
      const Json& values = Member(row, "parameters");
      const Json& cell = Member(values, p.key);
      if (!Flag(Member(cell, "valid"))) {
        out += "<td class=\"invalid\" title=\"" + HtmlEscape(InvalidReason(p.key)) + "\">--</td>";
        continue;
      }
      const double v = Number(Member(cell, "value"));
      // A decay time and its fit figure: the figure tells whether the fit was degenerate.
      const bool figure = p.key[0] == 'r';
      const double fit = figure ? v : Number(Member(Member(values, (std::string("r") + p.key).c_str()), "value"));
      const bool hasFigure = figure || values.find(std::string("r") + p.key);
      if (hasFigure && fit > 1.0)
        out += "<td class=\"degenerate\" title=\"" + HtmlEscape(DegenerateFit(fit)) + "\">" + FormatGeneral(v, 4) + "</td>";
      else
        out += "<td>" + FormatGeneral(v, 4) + "</td>";
    }
    out += "</tr>\n";
  }
  out += "<tr class=\"noise\"><th>Noise Correction:</th>";
  for (const Json& row : rows)
    out += std::string("<td>") + (!noiseCorrection ? "--" : Flag(Member(row, "noiseCorrected")) ? "yes" : "no") + "</td>";
  out += "</tr>\n</tbody>\n</table>\n";
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

std::string InlineSvg(const std::string& svg, const std::string& idPrefix) {
  std::string s = svg;
  const auto start = s.find("<svg");
  if (start == std::string::npos) return "";
  s.erase(0, start);
  // Every id and every reference to one: id="x", href="#x" (also xlink:href), url(#x).
  for (const char* marker : {"id=\"", "href=\"#", "url(#"}) {
    const bool isId = marker[0] == 'i';
    std::string out;
    std::size_t at = 0;
    for (std::size_t k; (k = s.find(marker, at)) != std::string::npos; at = k + std::strlen(marker)) {
      out.append(s, at, k - at);
      out += marker;
      // "id=" is an attribute of its own, not the end of another name ("glyph-id=").
      if (!isId || (k > 0 && std::isspace(static_cast<unsigned char>(s[k - 1])))) out += idPrefix;
    }
    out.append(s, at, std::string::npos);
    s = std::move(out);
  }
  return s;
}

std::string ReportHtml(const std::vector<ReportedResponse>& responses, const std::string& generator) {
  std::string names;
  for (const auto& r : responses) names += (names.empty() ? "" : ", ") + r.name;
  std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  out += "<title>Acoustical parameters: " + HtmlEscape(names) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
  out += "<h1>Acoustical parameters</h1>\n";
  out += "<div class=\"responses\" style=\"grid-template-columns: repeat(" + std::to_string(responses.size()) +
         ", minmax(44em, 1fr))\">\n";
  for (std::size_t k = 0; k < responses.size(); ++k) {
    const ReportedResponse& r = responses[k];
    out += "<section class=\"response\">\n<h2>" + HtmlEscape(r.name) + "</h2>\n";
    FormatList(out, r);
    SettingsList(out, r);
    const bool noiseCorrection = BlockSettings(r.acoustic).noiseCorrection;
    const auto& channels = Items(Member(r.acoustic.json, "channels"));
    for (const Json& channel : channels)
      ParameterTable(out, channel, static_cast<int>(channels.size()), noiseCorrection);
    if (!r.plots.empty())
      out += "<figure class=\"plots\">\n" + InlineSvg(r.plots, "r" + std::to_string(k + 1) + "-") + "\n</figure>\n";
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
  const auto parameters = AcousticParameters();
  std::string out = "response,channel,band,centre [Hz],noise correction";
  for (const AcousticParameter& p : parameters) out += std::string(",") + p.label + "," + p.label + " valid";
  out += "\r\n";
  for (const ReportedResponse& r : responses) {
    const bool noiseCorrection = BlockSettings(r.acoustic).noiseCorrection;
    for (const Json& channel : Items(Member(r.acoustic.json, "channels"))) {
      for (const Json& row : Items(Member(channel, "rows"))) {
        out += CsvField(r.name) + "," + Text(Member(channel, "channel")) + "," + CsvField(Text(Member(row, "band")));
        const Json& centre = Member(row, "centreHz");
        out += "," + (std::holds_alternative<std::nullptr_t>(centre.value()) ? "" : host::ShortestDecimal(Number(centre)));
        out += std::string(",") + (!noiseCorrection ? "off" : Flag(Member(row, "noiseCorrected")) ? "yes" : "no");
        const Json& values = Member(row, "parameters");
        for (const AcousticParameter& p : parameters) {
          const Json& cell = Member(values, p.key);
          const bool valid = Flag(Member(cell, "valid"));
          out += "," + (valid ? host::ShortestDecimal(Number(Member(cell, "value"))) : "") + (valid ? ",y" : ",n");
        }
        out += "\r\n";
      }
    }
  }
  return out;
}

}  // namespace tovrel::cli
