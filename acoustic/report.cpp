#include "acoustic/report.h"

#include <cstdlib>
#include <vector>

#include "frame/format.h"

std::string BuildReportText(const float* values, const char* flags, int channels,
                            bool noiseCorrection, float rtuUpper, float rtuLower) {
  const int tables = channels == 2 ? 2 : 1;
  std::string text = "OCTAVE BAND ACOUSTICAL PARAMETERS\r\n\r\n";
  for (int ch = 0; ch < tables; ++ch) {
    if (tables == 2) text += ch == 0 ? "Left Channel\r\n" : "Right Channel\r\n";
    text += "Band";
    for (const char* label : kReportRowLabels) (text += '\t') += label;
    text += "\r\nParameters\r\n";
    for (int j = 0; j < kParameters; ++j) {
      text += kReportParameterLabels[j];
      for (int r = 0; r < kRows; ++r) {
        const int i = ch * kChannelValues + r * kParameters + j;
        text += '\t';
        text += flags[i] == 'y' ? FormatGeneral(values[i], 4) : std::string("--");
      }
      text += "\r\n";
    }
    text += "\r\nNoise Correction:";
    for (int r = 0; r < kRows; ++r) {
      text += '\t';
      text += !noiseCorrection ? "--" : flags[kNoiseFlagsOffset + r] == 'y' ? "yes" : "no";
    }
    text += "\r\n\r\nRTU = RT User (" + FormatGeneral(rtuUpper, 4) + " dB, " +
            FormatGeneral(rtuLower, 4) + " dB)\r\n\r\n";
  }
  return text;
}

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) return {};  // every line of a report ends in CR LF
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  std::size_t at = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', at);
    cells.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
    if (tab == std::string::npos) return cells;
    at = tab + 1;
  }
}

bool Number(const std::string& text, float& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtof(text.c_str(), &end);
  return *end == '\0';
}

}  // namespace

bool ParseReportText(const std::string& text, ParsedReport& report) {
  const std::vector<std::string> lines = Lines(text);
  ParsedReport r;
  std::size_t k = 0;
  auto next = [&](const std::string& expected) { return k < lines.size() && lines[k++] == expected; };
  if (!next("OCTAVE BAND ACOUSTICAL PARAMETERS") || !next("")) return false;
  r.channels = k < lines.size() && lines[k] == "Left Channel" ? 2 : 1;
  std::string band = "Band";
  for (const char* label : kReportRowLabels) (band += '\t') += label;
  for (int ch = 0; ch < r.channels; ++ch) {
    if (r.channels == 2 && !next(ch == 0 ? "Left Channel" : "Right Channel")) return false;
    if (!next(band) || !next("Parameters")) return false;
    for (int j = 0; j < kParameters; ++j) {
      if (k >= lines.size()) return false;
      const std::vector<std::string> cells = Cells(lines[k++]);
      if (cells.size() != kRows + 1 || cells[0] != kReportParameterLabels[j]) return false;
      for (int row = 0; row < kRows; ++row) {
        const int i = ch * kChannelValues + row * kParameters + j;
        const std::string& cell = cells[static_cast<std::size_t>(row) + 1];
        r.results.flags[i] = cell == "--" ? 'n' : 'y';
        if (cell != "--" && !Number(cell, r.results.values[i])) return false;
      }
    }
    if (!next("") || k >= lines.size()) return false;
    const std::vector<std::string> noise = Cells(lines[k++]);
    if (noise.size() != kRows + 1 || noise[0] != "Noise Correction:") return false;
    if (ch == 0) r.noiseCorrection = noise[1] != "--";
    for (int row = 0; row < kRows; ++row) {
      const std::string& cell = noise[static_cast<std::size_t>(row) + 1];
      const bool fits = r.noiseCorrection ? cell == "yes" || cell == "no" : cell == "--";
      if (!fits) return false;
      if (ch == 0) r.results.flags[kNoiseFlagsOffset + row] = cell == "yes" ? 'y' : 'n';
    }
    if (!next("") || k >= lines.size()) return false;
    const std::string& rtu = lines[k++];
    const std::string head = "RTU = RT User (", mid = " dB, ", tail = " dB)";
    const std::size_t comma = rtu.find(mid);
    if (rtu.rfind(head, 0) != 0 || comma == std::string::npos || comma < head.size() ||
        rtu.size() < comma + mid.size() + tail.size() ||
        rtu.compare(rtu.size() - tail.size(), tail.size(), tail) != 0 ||
        !Number(rtu.substr(head.size(), comma - head.size()), r.rtuUpper) ||
        !Number(rtu.substr(comma + mid.size(), rtu.size() - tail.size() - comma - mid.size()), r.rtuLower) ||
        !next(""))
      return false;
  }
  if (k != lines.size()) return false;
  report = r;
  return true;
}
