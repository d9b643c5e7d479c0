// tovrel report: one self-contained HTML page for one or several impulse responses side by
// side (their format, the acoustical parameters with their validity, the settings they
// were computed with, their plots), and the parameter table as CSV.
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "cli/documents.h"
#include "cli/plot_sheet.h"
#include "cli/report_page.h"
#include "cli/response_view.h"
#include "host/interrupt.h"
#include "host/safefile.h"

namespace tovrel::cli {

namespace {

struct ReportArgs {
  std::vector<std::string> responses;
  std::string output;
  std::string csv;
  std::string curves;
  bool json = false;
};

// Two names of one file: the same path, or links to one file.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  const auto ca = std::filesystem::weakly_canonical(a, ec);
  if (ec) return a == b;
  const auto cb = std::filesystem::weakly_canonical(b, ec);
  return ec ? a == b : ca == cb;
}

// The files the report writes, checked before any work: named, distinct, none of them a
// response, each one we may write.
bool CheckOutputs(const ReportArgs& a, const std::vector<std::pair<const char*, std::string>>& outputs, int& code) {
  std::string error;
  code = kExitUsage;
  if (a.output.empty()) {
    Fail("name the page to write with -o FILE.html");
    return false;
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j)
      if (SameFile(outputs[i].second, outputs[j].second)) {
        Fail(std::string(outputs[j].first) + " and " + outputs[i].first + " name the same file \"" +
             outputs[i].second + "\"");
        return false;
      }
    for (const auto& response : a.responses)
      if (SameFile(outputs[i].second, response)) {
        Fail(std::string(outputs[i].first) + " names the response \"" + response + "\": it would be overwritten");
        return false;
      }
  }
  code = kExitDocument;
  for (const auto& [option, path] : outputs)
    if (!host::CheckWritable(path, error)) {
      Fail(error);
      return false;
    }
  return true;
}

int ReportMain(App& app, const ReportArgs& a) {
  // Ctrl-C or SIGTERM cancels: nothing is written, the exit status is 1.
  host::CancellableWork cancellable;
  std::vector<std::pair<const char*, std::string>> outputs;
  if (!a.output.empty()) outputs.emplace_back("-o", a.output);
  if (!a.csv.empty()) outputs.emplace_back("--csv", a.csv);
  if (!a.curves.empty()) outputs.emplace_back("--csv-curves", a.curves);
  int code = kExitOk;
  if (!CheckOutputs(a, outputs, code)) return code;

  app.LoadModules();
  std::vector<ReportedResponse> responses;
  std::string error;
  for (const std::string& name : a.responses) {
    auto doc = OpenDocument(app, name, error);
    if (!doc) {
      Fail(error);
      return kExitDocument;
    }
    doc->SelectAll();
    ReportedResponse r;
    r.name = name;
    r.rate = doc->sampleRate;
    r.channels = doc->channels;
    r.frames = doc->frames();
    for (int channel = 0; channel < doc->channels; ++channel) {
      ResponseOptions options;
      options.name = doc->channels == 1 ? name : name + (channel == 0 ? " (left)" : " (right)");
      auto view = AnalyseResponse(app, *doc, channel, error, options);
      if (!view || !view->module || host::Interrupted()) {
        Fail("\"" + name + "\": " + (host::Interrupted() ? "the report was cancelled (interrupted)" : error));
        return kExitFailed;
      }
      r.views.push_back(std::move(*view));
    }
    const auto size = DefaultSize(PlotView::All);
    r.plots = PlotSvg(r.views, PlotView::All, size.width, size.height);
    responses.push_back(std::move(r));
  }

  // Each file is written whole or not at all; the page comes last, so that a page on disk
  // means every file of the report was written.
  const std::string generator = std::string("tovrel ") + TOVREL_VERSION + " report";
  const std::pair<const std::string*, std::string (*)(const std::vector<ReportedResponse>&)> tables[] = {
      {&a.csv, ParameterCsv}, {&a.curves, CurveCsv}};
  for (const auto& [path, build] : tables) {
    if (path->empty()) continue;
    const std::string text = build(responses);
    if (!host::WriteFileSafely(*path, std::vector<uint8_t>(text.begin(), text.end()), error)) {
      Fail(error);
      return host::Interrupted() ? kExitFailed : kExitDocument;
    }
  }
  const std::string html = ReportHtml(responses, generator);
  if (!host::WriteFileSafely(a.output, std::vector<uint8_t>(html.begin(), html.end()), error)) {
    Fail(error);
    return host::Interrupted() ? kExitFailed : kExitDocument;
  }

  if (a.json) {
    host::Json j = host::Json::object();
    j["output"] = a.output;
    j["csv"] = a.csv.empty() ? host::Json() : host::Json(a.csv);
    j["csvCurves"] = a.curves.empty() ? host::Json() : host::Json(a.curves);
    host::Json list = host::Json::array();
    for (const auto& r : responses) {
      host::Json item = host::Json::object();
      item["name"] = r.name;
      item["rate"] = r.rate;
      item["channels"] = r.channels;
      item["frames"] = r.frames;
      item["settingsFrom"] = r.views.front().module->earlierSettings ? "earlier run" : "defaults";
      list.push(item);
    }
    j["responses"] = list;
    j["errors"] = TakeErrorsJson();
    std::printf("%s\n", j.dump().c_str());
  } else {
    std::printf("report of %zu response%s -> %s\n", responses.size(), responses.size() == 1 ? "" : "s",
                a.output.c_str());
    if (!a.csv.empty()) std::printf("parameter table -> %s\n", a.csv.c_str());
    if (!a.curves.empty()) std::printf("curves -> %s\n", a.curves.c_str());
  }
  return kExitOk;
}

}  // namespace

void RegisterReport(CLI::App& cli, App& app, Commands& commands) {
  static ReportArgs a;
  auto* cmd = cli.add_subcommand("report", "Write one HTML page of the acoustical parameters and plots of responses");
  cmd->add_option("RESPONSE", a.responses, "Impulse responses (audio files), shown side by side")->required();
  cmd->add_option("-o,--output", a.output, "The page to write (self-contained HTML)");
  cmd->add_option("--csv", a.csv, "Also write the parameter table as CSV: one row per response, channel and band");
  cmd->add_option("--csv-curves", a.curves,
                  "Also write the plotted curves as CSV: response, channel, curve, band, x, y (one point a line)");
  cmd->add_flag("--json", a.json, "Print what was written, with every response's parameters, as one JSON object");
  cmd->callback([&app, &commands] { commands.chosen = [&app] { return ReportMain(app, a); }; });
}

}  // namespace tovrel::cli
