#include "cli/report_acoustic.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "acoustic/acoustic/acoustic_block.h"
#include "acoustic/report.h"
#include "frame/format.h"
#include "frame/octave.h"

namespace tovrel::cli {

namespace {

constexpr const char* kNames[kParameters] = {"C50", "C80", "D50", "TS", "EDT", "RT20", "rRT20",
                                             "RT30", "rRT30", "RTU", "rRTU"};
constexpr const char* kUnits[kParameters] = {"dB", "dB", "%", "ms", "s", "s", "", "s", "", "s", ""};

// The value as the report shows it: the shortest decimal that reads back as the float.
host::Json Value(float v) {
  if (std::isinf(v)) return host::Json(v > 0 ? "inf" : "-inf");
  return host::Json(host::DecimalValue(v));
}

// The first text a result dialog handed on that is an acoustic report.
const std::string* ReadReport(const host::RunReport& report, ParsedReport& parsed) {
  for (const auto& text : report.resultTexts)
    if (ParseReportText(text, parsed)) return &text;
  return nullptr;
}

}  // namespace

host::Json AcousticJson(const std::string& reportText, const std::vector<uint8_t>& block) {
  ParsedReport a;
  if (!ParseReportText(reportText, a)) return host::Json();
  const AcousticResults& r = a.results;
  host::Json out = host::Json::object();
  host::Json settings = host::Json::object();
  settings["rtuUpperDb"] = static_cast<double>(a.rtuUpper);
  settings["rtuLowerDb"] = static_cast<double>(a.rtuLower);
  AcousticParams params{};
  const bool haveBlock = block.size() == sizeof params;
  if (haveBlock) std::memcpy(&params, block.data(), sizeof params);
  settings["threshold"] = haveBlock ? host::Json(static_cast<long>(params.threshold)) : host::Json();
  settings["noiseCorrection"] = a.noiseCorrection;
  out["settings"] = settings;
  out["report"] = reportText;
  host::Json channels = host::Json::array();
  for (int c = 0; c < a.channels; ++c) {
    host::Json channel = host::Json::object();
    channel["channel"] = a.channels == 1 ? "mono" : c == 0 ? "left" : "right";
    host::Json rows = host::Json::array();
    for (int row = 0; row < kRows; ++row) {
      host::Json jr = host::Json::object();
      jr["band"] = kReportRowLabels[row];
      jr["centreHz"] = row == 0 ? host::Json() : host::Json(static_cast<double>(kBandCentres[row - 1]));
      jr["noiseCorrected"] = a.noiseCorrection && r.flags[kNoiseFlagsOffset + row] == 'y';
      host::Json values = host::Json::object();
      for (int j = 0; j < kParameters; ++j) {
        const int k = c * kChannelValues + row * kParameters + j;
        const bool valid = r.flags[k] == 'y';
        host::Json p = host::Json::object();
        p["value"] = valid ? Value(r.values[k]) : host::Json();
        p["valid"] = valid;
        p["unit"] = kUnits[j];
        values[kNames[j]] = p;
      }
      jr["parameters"] = values;
      rows.push(jr);
    }
    channel["rows"] = rows;
    channels.push(channel);
  }
  out["channels"] = channels;
  return out;
}

namespace {

// Runs the module on a copy of the response and reads back the report its results dialog
// handed on: its text (within `report`), or null with the reason.
const std::string* RunReporting(App& app, const host::RunOptions& options, const host::Document& response,
                                ParsedReport& parsed, host::RunReport& report, std::string& error) {
  const host::Module* module = host::FindCommand(app.modules, "acoustic", error);
  if (!module) {
    error = "the acoustical parameters module (acoustic) is not installed";
    return nullptr;
  }
  // The results dialog hands its report on when its button is pressed, which batch mode
  // leaves no time for: the dialogs are confirmed by the scripted user instead.
  host::RunOptions pressing = options;
  pressing.batch = false;
  host::Document doc = response;
  report = host::RunCommand(*module, doc, pressing, app.store);
  const std::string* text = report.status == host::RunStatus::Completed ? ReadReport(report, parsed) : nullptr;
  if (!text) error = report.message.empty() ? "\"" + module->title() + "\" did not complete" : report.message;
  return text;
}

}  // namespace

bool PrintAcousticComparison(App& app, const host::RunOptions& options, const host::Document& recovered,
                             const host::Document& truth, const std::string& heading) {
  ParsedReport found[2];
  const host::Document* docs[2] = {&recovered, &truth};
  for (int i = 0; i < 2; ++i) {
    host::RunReport report;
    std::string error;
    if (!RunReporting(app, options, *docs[i], found[i], report, error)) {
      Fail(error);
      return false;
    }
  }
  std::printf("%s\n", heading.c_str());
  constexpr int kShown[] = {kEdt, kRt20, kRt30, kC50, kC80, kD50, kTs};
  auto column = [](std::string& line, const std::string& text) {
    line += text;
    line.append(text.size() < 18 ? 18 - text.size() : 1, ' ');
  };
  auto print = [](std::string line) {
    line.erase(line.find_last_not_of(' ') + 1);
    std::printf("%s\n", line.c_str());
  };
  std::string head = "   band  ";
  for (int j : kShown) column(head, kReportParameterLabels[j]);
  print(head);
  auto valid = [](const ParsedReport& a, int row, int j) {
    return a.results.flags[row * kParameters + j] == 'y';
  };
  auto cell = [&valid](const ParsedReport& a, int row, int j) {
    return valid(a, row, j) ? FormatGeneral(a.results.values[row * kParameters + j], 4) : std::string("--");
  };
  // The bands the response's rate has: every row up to the last with a value.
  int rows = 1;
  for (int row = 1; row < kRows; ++row)
    for (int j = 0; j < kParameters; ++j)
      if (valid(found[0], row, j) || valid(found[1], row, j)) rows = row + 1;
  for (int row = 0; row < rows; ++row) {
    std::string line = "   ";
    line += kReportRowLabels[row];
    line.resize(9, ' ');
    for (int j : kShown) column(line, cell(found[0], row, j) + " | " + cell(found[1], row, j));
    print(line);
  }
  return true;
}

static_assert(host::plot::kParameterCount == kParameters && host::plot::kRowCount == kRows);
static_assert(host::plot::kEdtIndex == kEdt && host::plot::kRt20Index == kRt20 && host::plot::kRt30Index == kRt30 &&
              host::plot::kRtuIndex == kRtu && kRRt20 == kRt20 + 1 && kRRt30 == kRt30 + 1 && kRRtu == kRtu + 1);

std::optional<host::plot::ModuleResults> RunAcousticModule(App& app, const host::Document& response,
                                                           std::string& error) {
  host::RunOptions options;
  options.storeBlock = false;
  host::Document doc = response;
  doc.SelectAll();
  ParsedReport parsed;
  host::RunReport report;
  const std::string* text = RunReporting(app, options, doc, parsed, report, error);
  if (!text) return std::nullopt;
  AcousticParams params{};
  if (report.block.size() != sizeof params) {
    error = "the acoustical parameters module left no settings to read";
    return std::nullopt;
  }
  std::memcpy(&params, report.block.data(), sizeof params);
  host::plot::ModuleResults m;
  m.channels = parsed.channels;
  m.noiseCorrection = params.noiseCorrection != 0;
  m.rtuUpper = params.rtuUpper;
  m.rtuLower = params.rtuLower;
  m.threshold = params.threshold;
  for (int row = 0; row < kRows; ++row) {
    m.rowLabels[row] = kReportRowLabels[row];
    m.noiseCorrected[row] = parsed.results.flags[kNoiseFlagsOffset + row] == 'y';
    for (int c = 0; c < parsed.channels && c < 2; ++c)
      for (int j = 0; j < kParameters; ++j) {
        const int k = c * kChannelValues + row * kParameters + j;
        m.values[c][row][j] = parsed.results.values[k];
        m.valid[c][row][j] = parsed.results.flags[k] == 'y';
      }
  }
  for (int j = 0; j < kParameters; ++j) m.parameterLabels[j] = kReportParameterLabels[j];
  m.report = *text;
  m.earlierSettings = report.setupResult && !report.initResult;
  return m;
}

}  // namespace tovrel::cli
