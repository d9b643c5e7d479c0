// tovrel plot: pictures of an impulse response (waveform, energy-time curve, magnitude,
// octave-band decays with the acoustic module's fitted lines) as PNG or SVG.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "cli/commands.h"
#include "cli/documents.h"
#include "cli/plot_sheet.h"
#include "cli/response_view.h"
#include "host/measure.h"
#include "host/safefile.h"

namespace tovrel::cli {

namespace {

struct PlotArgs {
  std::string response;
  std::string output;
  std::string view = "all";
  std::string smoothing = "1/3";
  std::string channel = "1";
  bool json = false;
};

// "1/N" (N from 1 to 96), or "0" / "none" for no smoothing.
bool ParseSmoothing(const std::string& text, int& n) {
  if (text == "0" || text == "none") {
    n = 0;
    return true;
  }
  if (text.rfind("1/", 0) != 0) return false;
  char* end = nullptr;
  const long v = std::strtol(text.c_str() + 2, &end, 10);
  if (end == text.c_str() + 2 || *end != '\0' || v < 1 || v > 96) return false;
  n = static_cast<int>(v);
  return true;
}

// "1" or "left", "2" or "right": the channel's index.
bool ParseChannel(const std::string& text, int& channel) {
  if (text == "1" || text == "left") channel = 0;
  else if (text == "2" || text == "right") channel = 1;
  else return false;
  return true;
}

host::Json FitJson(const FittedLine& f) {
  host::Json j = host::Json::object();
  j["rangeDb"] = host::Json(host::Json::Array{f.rangeTopDb, f.rangeBottomDb});
  j["valid"] = f.valid;
  j["seconds"] = f.valid ? host::Json(f.seconds) : host::Json();
  if (f.valid) {
    j["startSeconds"] = f.startSeconds;
    j["endSeconds"] = f.endSeconds;
    j["startDb"] = f.startDb;
    j["endDb"] = f.endDb;
    j["slopeDbPerSecond"] = f.slopeDbPerSecond;
  }
  return j;
}

host::Json PlotJson(const ResponseView& v, const PlotArgs& a) {
  host::Json j = host::Json::object();
  j["output"] = a.output;
  j["view"] = a.view;
  j["response"] = v.name;
  j["rate"] = v.rate;
  j["channels"] = v.channels;
  j["frames"] = v.frames;
  j["channel"] = v.channel + 1;
  j["peak"] = v.peak;
  j["peakFrame"] = v.peakIndex;
  j["smoothing"] = v.smoothing;
  if (v.module) {
    j["firstArrival"] = v.firstArrival;
    host::Json bands = host::Json::array();
    for (const BandDecay& b : v.bands) {
      host::Json jb = host::Json::object();
      jb["band"] = b.label;
      jb["centreHz"] = b.centreHz > 0 ? host::Json(b.centreHz) : host::Json();
      jb["noiseCorrected"] = b.noiseCorrected;
      for (const FittedLine& f : b.fits) jb[f.name] = FitJson(f);
      bands.push(jb);
    }
    j["bands"] = bands;
  }
  return j;
}

int PlotMain(App& app, const PlotArgs& a) {
  PlotView view{};
  if (!ParseView(a.view, view)) {
    Fail("--view: no view \"" + a.view + "\" (views: " + host::plot::ViewNames() + ", or all)");
    return kExitUsage;
  }
  ResponseOptions options;
  if (!ParseSmoothing(a.smoothing, options.smoothing)) {
    Fail("--smoothing takes 1/N (fractions of an octave, N from 1 to 96) or none, not \"" + a.smoothing + "\"");
    return kExitUsage;
  }
  int channel = 0;
  if (!ParseChannel(a.channel, channel)) {
    Fail("--channel takes 1 (left) or 2 (right), not \"" + a.channel + "\"");
    return kExitUsage;
  }
  std::string error;
  if (!host::plot::IsPlotFileName(a.output)) {
    Fail("cannot write \"" + a.output + "\": a plot is written as .png or .svg");
    return kExitDocument;
  }
  if (!host::CheckWritable(a.output, error)) {
    Fail(error);
    return kExitDocument;
  }

  std::optional<host::Document> doc;
  if (a.response.empty() || a.response == "clipboard") {
    std::vector<std::string> notices;
    const auto items = LoadStoredClipboard(app, notices);
    doc = host::ClipboardResponse(items);
    // A damaged wave says so; otherwise there is no response to plot.
    error = notices.empty() ? "the clipboard holds no 16-bit mono or stereo wave data" : notices.back();
    options.name = "clipboard";
  } else {
    doc = OpenDocument(app, a.response, error);
    options.name = std::filesystem::path(a.response).filename().string();
  }
  if (!doc) {
    Fail(error);
    return kExitDocument;
  }
  if (channel >= doc->channels) {
    Fail("--channel " + a.channel + ": " + options.name + " has only one channel");
    return kExitUsage;
  }
  options.decay = view == PlotView::All || view == PlotView::Decay;
  std::optional<ResponseView> analysed = AnalyseResponse(app, *doc, channel, error, options);
  if (!analysed) {
    Fail(error);
    return kExitFailed;
  }
  if (!WritePlot({*analysed}, view, a.output, error)) {
    Fail(error);
    return kExitDocument;
  }
  if (a.json) std::printf("%s\n", PlotJson(*analysed, a).dump().c_str());
  else std::printf("plotted %s of %s into %s\n", view == PlotView::All ? "every view" : ViewName(view),
                   options.name.c_str(), a.output.c_str());
  return kExitOk;
}

}  // namespace

void RegisterPlot(CLI::App& cli, App& app, Commands& commands) {
  static PlotArgs a;
  auto* cmd = cli.add_subcommand(
      "plot", "Plot an impulse response: waveform, energy-time curve, magnitude and octave-band decays");
  cmd->add_option("RESPONSE", a.response,
                  "Audio file of the response, or \"clipboard\" (the default): the response on the clipboard");
  cmd->add_option("-o,--output", a.output, "FILE.png or FILE.svg")->required();
  cmd->add_option("--view", a.view,
                  "ir (waveform), etc (energy-time curve), magnitude, decay (per octave band, with the acoustic "
                  "module's EDT, RT20, RT30 and RTU lines), or all on one sheet")
      ->capture_default_str();
  cmd->add_option("--smoothing", a.smoothing, "Magnitude smoothing: 1/N octave, or none")->capture_default_str();
  cmd->add_option("--channel", a.channel, "The channel of a stereo response: 1 (left) or 2 (right)")
      ->capture_default_str();
  cmd->add_flag("--json", a.json, "Print the response's figures and the fitted lines as JSON");
  cmd->callback([&app, &commands] { commands.chosen = [&app] { return PlotMain(app, a); }; });
}

}  // namespace tovrel::cli
