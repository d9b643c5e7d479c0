// tovrel demo: a measurement session from the first step, on simulated hardware.
#include <cstdio>

#include "cli/commands.h"
#include "cli/documents.h"
#include "host/runner.h"

namespace tovrel::cli {

namespace {

int Demo(App& app, const std::string& output) {
  app.LoadModules();
  std::string error;
  const host::Module* mls = host::FindCommand(app.modules, "seqsource", error);
  if (!mls) {
    Fail("the demo needs the MLS generator: " + error);
    return kExitFailed;
  }
  std::printf("tovrel demo: a measurement excitation, step by step\n\n");
  host::Document doc = host::Document::Empty(48000, 1);
  host::RunOptions options;
  options.keepBlock = false;  // the demo runs on the modules' defaults
  options.batch = true;
  std::printf("1. \"%s\" on a new mono document at %ld Hz, default settings\n", mls->title().c_str(), doc.sampleRate);
  host::RunReport report = host::RunCommand(*mls, doc, options, app.store);
  if (report.status != host::RunStatus::Completed) {
    Fail(report.message);
    return host::ExitCode(report.status);
  }
  int peak = 0;
  long minus = 0;
  for (int16_t v : doc.samples) {
    peak = std::max(peak, v < 0 ? -v : static_cast<int>(v));
    if (v < 0) ++minus;
  }
  std::printf("   wrote %ld frames (one period of an order-15 MLS, entry \"15 B\"), amplitude %d,\n"
              "   %ld samples at -A and %ld at +A\n",
              report.after.frames, peak, minus, report.after.frames - minus);
  if (!SaveDocument(app, output, doc, error)) {
    Fail(error);
    return kExitDocument;
  }
  std::printf("2. saved as \"%s\": play it (looped) through the system under test and record the response\n",
              output.c_str());
  return kExitOk;
}

}  // namespace

void RegisterDemo(CLI::App& cli, App& app, Commands& commands) {
  static std::string output = "tovrel-demo.wav";
  auto* cmd = cli.add_subcommand("demo", "Show a measurement session on simulated hardware");
  cmd->add_option("-o,--output", output, "Where the demo writes its excitation")->capture_default_str();
  cmd->callback([&app, &commands] { commands.chosen = [&app] { return Demo(app, output); }; });
}

}  // namespace tovrel::cli
