// tovrel simulate: play a document through a known system and record it.
#include <cmath>
#include <cstdio>

#include "cli/commands.h"
#include "cli/documents.h"
#include "host/core/json.h"
#include "host/simulate.h"

namespace tovrel::cli {

namespace {

struct SimulateArgs {
  std::string excitation;
  std::string output;
  std::string system = "room:0.3";
  std::string selection;
  long periods = 2;
  long phase = 0;
  std::string noise;
  unsigned seed = 1;
  bool json = false;
};

int SimulateMain(App& app, const SimulateArgs& a) {
  std::string error;
  if (!CheckOutput(app, a.output, error)) {
    Fail(error);
    return kExitDocument;
  }
  auto doc = OpenDocument(app, a.excitation, error);
  if (!doc) {
    Fail(error);
    return kExitDocument;
  }
  if (!a.selection.empty() && !host::ParseSelection(a.selection, *doc, error)) {
    Fail(error);
    return kExitUsage;
  }
  auto system = host::ParseSystem(a.system, doc->sampleRate, error);
  if (!system) {
    Fail(error);
    return kExitUsage;
  }
  host::Recording rec;
  rec.periods = a.periods;
  rec.phase = a.phase;
  rec.seed = a.seed;
  if (!a.noise.empty()) {
    char* end = nullptr;
    double dbfs = std::strtod(a.noise.c_str(), &end);
    if (*end != '\0' || !std::isfinite(dbfs) || dbfs > 0) {
      Fail("--noise takes a level in dB relative to full scale (0 or below), not \"" + a.noise + "\"");
      return kExitUsage;
    }
    rec.noiseDbfs = dbfs;
  }
  auto result = host::Simulate(*doc, *system, rec, error);
  if (!result) {
    Fail(error);
    return kExitUsage;
  }
  if (!SaveDocument(app, a.output, result->recording, error)) {
    Fail(error);
    return kExitDocument;
  }
  if (a.json) {
    host::Json j = host::Json::object();
    j["system"] = system->description;
    j["channels"] = result->recording.channels;
    j["rate"] = result->recording.sampleRate;
    j["frames"] = result->recording.frames();
    j["periods"] = rec.periods;
    j["phase"] = rec.phase;
    j["noiseDbfs"] = rec.noiseDbfs ? host::Json(*rec.noiseDbfs) : host::Json();
    j["clipped"] = result->clipped;
    j["output"] = a.output;
    std::printf("%s\n", j.dump().c_str());
  } else {
    // Standard output may be the recording itself.
    std::fprintf(a.output == "-" ? stderr : stdout, "recorded %ld frames (%ld periods, from phase %ld) through \"%s\" into \"%s\"\n",
                result->recording.frames(), rec.periods, rec.phase, system->description.c_str(), a.output.c_str());
  }
  if (result->clipped)
    std::fprintf(stderr, "tovrel: %ld samples of the recording were clipped at full scale; lower the amplitude\n",
                 result->clipped);
  return kExitOk;
}

}  // namespace

void RegisterSimulate(CLI::App& cli, App& app, Commands& commands) {
  static SimulateArgs a;
  auto* cmd = cli.add_subcommand("simulate", "Play a document (looped) through a known system and record it");
  cmd->add_option("EXCITATION", a.excitation, "Audio file whose selection is one period of the excitation")
      ->required();
  cmd->add_option("-o,--output", a.output, "Where the recording is written")->required();
  cmd->add_option("--system", a.system,
                  "delay:N, gain:G, fir:a,b,..., room:T[:MS], each optionally followed by +poly:a1,a2,... (a "
                  "memoryless non-linearity a1 v + a2 v^2 + ... of the output v relative to full scale), or "
                  "poly:a1,a2,... alone; an audio file of responses; channels joined by /")
      ->capture_default_str();
  cmd->add_option("--select", a.selection, "The period: FROM:TO in frames or seconds (default: everything)");
  cmd->add_option("--periods", a.periods, "Whole periods recorded")->capture_default_str();
  cmd->add_option("--phase", a.phase, "Frames of the period passed before the recording starts")
      ->capture_default_str();
  cmd->add_option("--noise", a.noise, "Added white noise, RMS in dB relative to full scale");
  cmd->add_option("--seed", a.seed, "Seed of the noise and of room tails")->capture_default_str();
  cmd->add_flag("--json", a.json, "Print what was recorded as JSON");
  cmd->callback([&app, &commands] { commands.chosen = [&app] { return SimulateMain(app, a); }; });
}

}  // namespace tovrel::cli
