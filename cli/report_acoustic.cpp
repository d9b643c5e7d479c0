#include "cli/report_acoustic.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "acoustic/acoustic/acoustic_block.h"
#include "acoustic/report.h"
#include "acoustic/response.h"
#include "frame/format.h"

namespace tovrel::cli {

namespace {

constexpr const char* kNames[kParameters] = {"C50", "C80", "D50", "TS", "EDT", "RT20", "rRT20",
                                             "RT30", "rRT30", "RTU", "rRTU"};
constexpr const char* kUnits[kParameters] = {"dB", "dB", "%", "ms", "s", "s", "", "s", "", "s", ""};

struct Analysis {
  AnalysisSettings settings;
  ResponseAnalysis result;
  int channels;
};

std::optional<Analysis> Analyse(const host::Document& doc, const AnalysisSettings& settings) {
  if (doc.channels != 1 && doc.channels != 2) return std::nullopt;
  const long start = std::max(0L, doc.selStart);
  const long end = std::min(doc.frames() - 1, doc.selEnd);
  std::vector<int16_t> selection;
  if (end >= start)
    selection.assign(doc.samples.begin() + start * doc.channels, doc.samples.begin() + (end + 1) * doc.channels);
  Analysis a{settings, AnalyseResponse(selection, doc.channels, static_cast<float>(doc.sampleRate), settings),
             doc.channels};
  if (a.result.outcome != ChannelOutcome::kCompleted) return std::nullopt;
  return a;
}

// The analysis the run did: the acoustic module, completed, with the block it used.
std::optional<Analysis> AnalyseRun(const host::Module& module, const host::Document& doc,
                                   const host::RunReport& report) {
  if (module.name() != "acoustic" || !report.doResult || *report.doResult != 0) return std::nullopt;
  if (report.block.size() != sizeof(AcousticParams)) return std::nullopt;
  AcousticParams block;
  std::memcpy(&block, report.block.data(), sizeof block);
  AnalysisSettings s;
  s.rtuUpper = block.rtuUpper;
  s.rtuLower = block.rtuLower;
  s.threshold = static_cast<float>(block.threshold);
  s.noiseCorrection = block.noiseCorrection != 0;
  return Analyse(doc, s);
}

std::string Text(const Analysis& a) { return BuildReportText(a.result.results, a.channels, a.settings); }

host::Json Value(float v) {
  if (std::isinf(v)) return host::Json(v > 0 ? "inf" : "-inf");
  return host::Json(static_cast<double>(v));
}

host::Json ToJson(const Analysis& a) {
  const AcousticResults& r = a.result.results;
  host::Json out = host::Json::object();
  host::Json settings = host::Json::object();
  settings["rtuUpperDb"] = static_cast<double>(a.settings.rtuUpper);
  settings["rtuLowerDb"] = static_cast<double>(a.settings.rtuLower);
  settings["threshold"] = static_cast<long>(a.settings.threshold);
  settings["noiseCorrection"] = a.settings.noiseCorrection;
  out["settings"] = settings;
  out["report"] = Text(a);
  host::Json channels = host::Json::array();
  for (int c = 0; c < a.channels; ++c) {
    host::Json channel = host::Json::object();
    channel["channel"] = a.channels == 1 ? "mono" : c == 0 ? "left" : "right";
    host::Json rows = host::Json::array();
    for (int row = 0; row < kRows; ++row) {
      host::Json jr = host::Json::object();
      jr["band"] = kReportRowLabels[row];
      jr["centreHz"] = row == 0 ? host::Json() : host::Json(static_cast<double>(kBandCentres[row - 1]));
      jr["noiseCorrected"] = a.settings.noiseCorrection && r.flags[kNoiseFlagsOffset + row] == 'y';
      host::Json params = host::Json::object();
      for (int j = 0; j < kParameters; ++j) {
        const int k = c * kChannelValues + row * kParameters + j;
        const bool valid = r.flags[k] == 'y';
        host::Json p = host::Json::object();
        p["value"] = valid ? Value(r.values[k]) : host::Json();
        p["valid"] = valid;
        p["unit"] = kUnits[j];
        params[kNames[j]] = p;
      }
      jr["parameters"] = params;
      rows.push(jr);
    }
    channel["rows"] = rows;
    channels.push(channel);
  }
  out["channels"] = channels;
  return out;
}

}  // namespace

std::optional<std::string> AcousticReportText(const host::Module& module, const host::Document& doc,
                                              const host::RunReport& report) {
  auto a = AnalyseRun(module, doc, report);
  if (!a) return std::nullopt;
  return Text(*a);
}

bool PrintAcousticReport(const host::Module& module, const host::Document& doc, const host::RunReport& report) {
  auto text = AcousticReportText(module, doc, report);
  if (!text) return false;
  std::fwrite(text->data(), 1, text->size(), stdout);
  std::fflush(stdout);
  return true;
}

void AddAcousticJson(const host::Module& module, const host::Document& doc, const host::RunReport& report,
                     host::Json& json) {
  if (auto a = AnalyseRun(module, doc, report)) json["acoustic"] = ToJson(*a);
}

host::Json AcousticJson(const host::Document& doc) {
  auto a = Analyse(doc, AnalysisSettings{});
  return a ? ToJson(*a) : host::Json();
}

std::optional<std::string> AcousticReportText(const host::Document& doc) {
  auto a = Analyse(doc, AnalysisSettings{});
  if (!a) return std::nullopt;
  return Text(*a);
}

bool PrintAcousticComparison(App& app, const host::RunOptions& options, const host::Document& recovered,
                             const host::Document& truth, const std::string& heading) {
  std::string error;
  const host::Module* module = host::FindCommand(app.modules, "acoustic", error);
  if (!module) {
    Fail("the acoustical parameters module (acoustic) is not installed");
    return false;
  }
  std::optional<Analysis> found[2];
  const host::Document* docs[2] = {&recovered, &truth};
  for (int i = 0; i < 2; ++i) {
    host::Document doc = *docs[i];
    const host::RunReport report = host::RunCommand(*module, doc, options, app.store);
    found[i] = AnalyseRun(*module, doc, report);
    if (!found[i]) {
      Fail(report.message.empty() ? "\"" + module->title() + "\" did not complete" : report.message);
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
  auto cell = [](const Analysis& a, int row, int j) {
    const int k = row * kParameters + j;
    return a.result.results.flags[k] == 'y' ? FormatGeneral(a.result.results.values[k], 4) : std::string("--");
  };
  const int rows = 1 + BandsAnalysed(static_cast<float>(recovered.sampleRate));
  for (int row = 0; row < rows; ++row) {
    std::string line = "   ";
    line += kReportRowLabels[row];
    line.resize(9, ' ');
    for (int j : kShown) column(line, cell(*found[0], row, j) + " | " + cell(*found[1], row, j));
    print(line);
  }
  return true;
}

}  // namespace tovrel::cli
