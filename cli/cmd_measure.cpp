// tovrel measure: play a document through a wave device while recording its input, and
// with --method generate the excitation and deconvolve the recording through the modules'
// own chain, the response landing on the clipboard.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/documents.h"
#include "cli/run_output.h"
#include "host/interrupt.h"
#include "host/measure.h"
#include "host/safefile.h"
#include "host/simulate.h"
#include "platform/portable/faces.h"

namespace tovrel::cli {

namespace {

// The virtual device runs this much faster than real time: a simulated measurement need
// not take as long as a real one.
constexpr double kVirtualSpeed = 1000.0;

struct MeasureArgs {
  std::string excitation;
  std::string method;
  std::string device = "default";
  std::string system;
  std::string noise;
  long periods = -1;  // -1: the method's default
  long preRoll = -1;  // -1: the method's default
  int inChannels = 1;
  int referenceChannel = 0;
  long rate = 48000;
  unsigned seed = 1;
  std::string output;
  std::string saveClip;
  std::vector<std::string> sets;
  bool json = false;
};

bool IsVirtualDevice(const std::string& name) { return name == "virtual" || name.rfind("virtual:", 0) == 0; }

host::Json LevelsJson(const host::Levels& l) {
  host::Json j = host::Json::object();
  j["peakDbfs"] = std::round(l.peakDbfs * 100) / 100;
  j["rmsDbfs"] = std::round(l.rmsDbfs * 100) / 100;
  return j;
}

struct ResponseFacts {
  long peakFrame = 0;
  host::Levels levels;
};
ResponseFacts Facts(const host::Document& d) {
  ResponseFacts f;
  int peak = -1;
  for (long n = 0; n < d.frames(); ++n)
    for (int c = 0; c < d.channels; ++c)
      if (std::abs(d.samples[static_cast<std::size_t>(n * d.channels + c)]) > peak) {
        peak = std::abs(d.samples[static_cast<std::size_t>(n * d.channels + c)]);
        f.peakFrame = n;
      }
  f.levels = host::LevelsOf(d.samples, d.channels);
  return f;
}

// The channels the chain deconvolves: all but the loopback, unless it is the only one.
host::Document MeasuredChannels(const host::Document& recording, int referenceChannel) {
  if (referenceChannel == 0 || recording.channels == 1) return recording;
  host::Document d = host::Document::Empty(recording.sampleRate, 1);
  const int keep = referenceChannel == 1 ? 1 : 0;
  for (long n = 0; n < recording.frames(); ++n)
    d.samples.push_back(recording.samples[static_cast<std::size_t>(n * recording.channels + keep)]);
  d.SelectAll();
  return d;
}

int MeasureMain(App& app, const MeasureArgs& a) {
  // Ctrl-C or SIGTERM from here on cancels the measurement: nothing is written, exit status 1.
  host::CancellableWork cancellable;
  std::string error;
  auto usage = [](const std::string& text) {
    Fail(text);
    return kExitUsage;
  };
  if (a.excitation.empty() == a.method.empty())
    return usage(a.method.empty() ? "name an EXCITATION document to play, or a --method (mls, irs or sweep)"
                                  : "give either an EXCITATION document or a --method, not both");
  host::Method method = host::Method::Mls;
  if (!a.method.empty() && !host::ParseMethod(a.method, method))
    return usage("--method takes mls, irs or sweep, not \"" + a.method + "\"");
  if (a.method.empty() && !a.saveClip.empty())
    return usage("--save-clip needs a --method: a document played as it is is not deconvolved");
  if (a.method.empty() && !a.sets.empty()) return usage("--set sets the generator of a --method");
  if (a.inChannels < 1 || a.inChannels > 2) return usage("--in-channels takes 1 or 2");
  if (a.referenceChannel < 0 || a.referenceChannel > a.inChannels)
    return usage("--reference-channel takes a recorded channel, 1 to " + std::to_string(a.inChannels));
  if ((a.periods < 1 && a.periods != -1) || a.periods > 100000)
    return usage("--periods takes a whole number of periods, 1 to 100000");
  if (a.preRoll < -1 || a.preRoll > 1000) return usage("--pre-roll takes a whole number of periods, 0 to 1000");
  if (a.rate < 1000 || a.rate > 384000) return usage("--rate takes a sample rate from 1000 to 384000 Hz");
  const bool isVirtual = IsVirtualDevice(a.device);
  if (!isVirtual && (!a.system.empty() || !a.noise.empty()))
    return usage("--system and --noise describe the virtual device's loop; the device \"" + a.device +
                 "\" records what it hears");
  std::optional<double> noiseDbfs;
  if (!a.noise.empty()) {
    char* end = nullptr;
    const double dbfs = std::strtod(a.noise.c_str(), &end);
    if (*end != '\0' || !std::isfinite(dbfs) || dbfs > 0)
      return usage("--noise takes a level in dB relative to full scale (0 or below), not \"" + a.noise + "\"");
    noiseDbfs = dbfs;
  }
  host::RunOptions options;
  for (const auto& s : a.sets) {
    const auto eq = s.find('=');
    if (eq == std::string::npos) return usage("--set takes CONTROL=VALUE, not \"" + s + "\"");
    options.sets.push_back({s.substr(0, eq), s.substr(eq + 1)});
  }
  // The chain runs on the modules' defaults (and the generator on --set), whatever a user
  // stored: its steps must agree with each other, and a measurement must be repeatable.
  options.keepBlock = false;
  options.handleInterrupt = true;
  options.printMessages = !a.json;
  if (!a.output.empty() && !CheckOutput(app, a.output, error)) {
    Fail(error);
    return kExitDocument;
  }
  if (!a.saveClip.empty() && !host::CheckWritable(a.saveClip, error)) {
    Fail(error);
    return kExitDocument;
  }
  if (!UseDevice(a.device)) return kExitUsage;
  app.LoadModules();

  // The excitation: a document, or the generator's.
  host::Chain chain;
  host::ChainStep generated;
  host::Document excitation;
  if (!a.method.empty()) {
    if (!host::FindChain(app.modules, method, chain, error)) {
      Fail(error);
      return kExitFailed;
    }
    if (!host::CheckControlNames(*chain.generator, options, error)) return usage(error);
    excitation = host::Document::Empty(a.rate, 1);
    generated = host::Generate(chain, excitation, options, app.store);
    if (generated.report.status != host::RunStatus::Completed) {
      Fail(generated.report.message);
      return host::ExitCode(generated.report.status);
    }
  } else {
    auto opened = OpenDocument(app, a.excitation, error);
    if (!opened) {
      Fail(error);
      return kExitDocument;
    }
    excitation = std::move(*opened);
  }

  // The virtual device hears its output through the simulated system.
  std::unique_ptr<host::SystemStream> loop;
  if (isVirtual) {
    if (!a.system.empty() || noiseDbfs) {
      auto system = host::ParseSystem(a.system.empty() ? "gain:1" : a.system, excitation.sampleRate, error);
      if (!system) return usage(error);
      loop = std::make_unique<host::SystemStream>(std::move(*system), noiseDbfs, a.seed);
      portable::SetVirtualWaveLoop([s = loop.get()](const int16_t* played, std::size_t frames, int playedChannels,
                                                    int16_t* heard, int heardChannels) {
        s->Process(played, frames, playedChannels, heard, heardChannels);
      });
    }
    portable::SetVirtualWaveSpeed(kVirtualSpeed);
  }
  struct LoopGuard {
    ~LoopGuard() {
      portable::SetVirtualWaveLoop(nullptr);
      portable::SetVirtualWaveSpeed(1.0);
    }
  } loopGuard;

  const bool periodic = !a.method.empty() && method != host::Method::Sweep;
  host::MeasureSettings settings;
  settings.periods = a.periods >= 1 ? a.periods : periodic ? 2 : 1;
  settings.preRoll = a.preRoll >= 0 ? a.preRoll : periodic ? 1 : 0;
  settings.inChannels = a.inChannels;
  settings.referenceChannel = a.referenceChannel;
  settings.cancelled = [] { return host::Interrupted(); };
  const bool showProgress = isatty(STDERR_FILENO) != 0;
  int shown = -1;
  settings.progress = [&](double fraction) {
    const int percent = static_cast<int>(fraction * 100);
    if (!showProgress || percent == shown) return;
    shown = percent;
    std::fprintf(stderr, "\rplaying and recording: %3d%%", percent);
    std::fflush(stderr);
  };
  if (!a.json)
    std::fprintf(stderr, "tovrel: playing and recording on \"%s\" (Ctrl-C stops)\n", a.device.c_str());
  bool cancelled = false;
  auto measured = host::PlayAndRecord(excitation, settings, error, cancelled);
  if (showProgress && shown >= 0) std::fprintf(stderr, "\n");
  if (!measured) {
    Fail(cancelled ? "the measurement was cancelled (interrupted); nothing was written"
                   : "the measurement on \"" + a.device + "\" failed: " + error);
    return kExitFailed;
  }

  // The response, through the chain.
  std::vector<host::ChainStep> steps;
  std::optional<host::Document> response;
  int code = kExitOk;
  if (!a.method.empty()) {
    response = host::Deconvolve(chain, generated, MeasuredChannels(measured->recording, a.referenceChannel), options,
                                app.store, steps, error);
    if (host::Interrupted() || (!steps.empty() && steps.back().report.status == host::RunStatus::Cancelled)) {
      Fail("the measurement was cancelled (interrupted); nothing was written");
      return kExitFailed;
    }
    if (!response) {
      Fail(error);
      code = kExitFailed;
    }
  }

  // Written once everything is done: the recording, the response, the clipboard.
  bool recordingWritten = false, responseWritten = false;
  if (!a.output.empty()) {
    if (SaveDocument(app, a.output, measured->recording, error)) {
      recordingWritten = true;
    } else {
      Fail(error);
      code = kExitDocument;
    }
  }
  if (response) {
    const auto& clipboard = steps.back().report.clipboard;
    if (!app.store.SaveClipboard(clipboard, error)) {
      Fail("the response on the clipboard could not be kept: " + error);
      code = kExitFailed;
    }
    if (!a.saveClip.empty()) {
      const int saved = SaveClipboardItems(clipboard, a.saveClip);
      if (saved != kExitOk) code = saved;
      else responseWritten = true;
    }
  }

  const auto& m = *measured;
  const double rate = static_cast<double>(excitation.sampleRate);
  long drift = m.periodLatency.empty() ? 0 : m.periodLatency.back() - m.periodLatency.front();
  host::Levels recordingLevels = host::LevelsOf(m.recording.samples, m.recording.channels);
  if (a.json) {
    host::Json j = host::Json::object();
    j["method"] = a.method.empty() ? host::Json() : host::Json(a.method);
    j["device"] = a.device;
    j["system"] = loop ? host::Json(a.system.empty() ? "gain:1" : a.system) : host::Json();
    j["noiseDbfs"] = noiseDbfs ? host::Json(*noiseDbfs) : host::Json();
    j["rate"] = excitation.sampleRate;
    j["periods"] = settings.periods;
    j["preRoll"] = settings.preRoll;
    host::Json ex = LevelsJson(m.excitation);
    ex["frames"] = excitation.selectionLength() > 0 ? excitation.selectionLength() : excitation.frames();
    ex["channels"] = excitation.channels;
    j["excitation"] = ex;
    host::Json rec = LevelsJson(recordingLevels);
    rec["frames"] = m.recording.frames();
    rec["channels"] = m.recording.channels;
    rec["clipped"] = m.clipped;
    host::Json perChannel = host::Json::array();
    for (const auto& l : m.channels) perChannel.push(LevelsJson(l));
    rec["channelLevels"] = perChannel;
    rec["output"] = recordingWritten ? host::Json(a.output) : host::Json();
    j["recording"] = rec;
    if (a.referenceChannel > 0) {
      host::Json lat = host::Json::object();
      lat["referenceChannel"] = a.referenceChannel;
      lat["frames"] = m.latency;
      lat["ms"] = std::round(m.latency / rate * 1e5) / 100;
      host::Json per = host::Json::array();
      for (long l : m.periodLatency) per.push(l);
      lat["perPeriod"] = per;
      lat["drift"] = drift;
      j["latency"] = lat;
    } else {
      j["latency"] = host::Json();
    }
    if (response) {
      const ResponseFacts f = Facts(*response);
      host::Json r = LevelsJson(f.levels);
      r["frames"] = response->frames();
      r["channels"] = response->channels;
      r["rate"] = response->sampleRate;
      r["peakFrame"] = f.peakFrame;
      r["output"] = responseWritten ? host::Json(a.saveClip) : host::Json();
      j["response"] = r;
    } else {
      j["response"] = host::Json();
    }
    host::Json chainJson = host::Json::array();
    if (generated.module) steps.insert(steps.begin(), generated);
    for (const auto& step : steps) {
      host::Json s = host::Json::object();
      s["command"] = step.module->title();
      s["status"] = step.report.status == host::RunStatus::Completed ? "completed" : "failed";
      PrintModuleResultsJson(*step.module, step.report, s);
      chainJson.push(s);
    }
    j["steps"] = chainJson;
    j["errors"] = TakeErrorsJson();
    std::printf("%s\n", j.dump().c_str());
  } else {
    FILE* out = a.output == "-" ? stderr : stdout;
    std::fprintf(out, "played %ld periods of %ld frames (%ld before the recorded ones) on \"%s\"; recorded %d channel(s)\n",
                 settings.preRoll + settings.periods,
                 excitation.selectionLength() > 0 ? excitation.selectionLength() : excitation.frames(), settings.preRoll,
                 a.device.c_str(), m.recording.channels);
    std::fprintf(out, "excitation: peak %.1f dBFS, RMS %.1f dBFS; recording: peak %.1f dBFS, RMS %.1f dBFS",
                 m.excitation.peakDbfs, m.excitation.rmsDbfs, recordingLevels.peakDbfs, recordingLevels.rmsDbfs);
    std::fprintf(out, recordingWritten ? " -> %s\n" : "\n", a.output.c_str());
    if (a.referenceChannel > 0) {
      std::fprintf(out, "latency on the reference channel %d: %ld frames (%.2f ms), removed", a.referenceChannel,
                   m.latency, m.latency / rate * 1000);
      if (drift != 0)
        std::fprintf(out, "; it drifted by %ld frames from the first recorded period to the last", drift);
      std::fprintf(out, "\n");
    }
    if (response) {
      const ResponseFacts f = Facts(*response);
      std::fprintf(out, "response (\"%s\"): %ld frames, %d channel(s), peak at frame %ld (%.1f dBFS) on the clipboard",
                   steps.back().module->title().c_str(), response->frames(), response->channels, f.peakFrame,
                   f.levels.peakDbfs);
      std::fprintf(out, responseWritten ? " -> %s\n" : "\n", a.saveClip.c_str());
    }
  }
  if (m.clipped > 0)
    std::fprintf(stderr, "tovrel: %ld samples of the recording are clipped (peak %.1f dBFS); lower the level\n",
                 m.clipped, recordingLevels.peakDbfs);
  if (drift != 0 && !a.json)
    std::fprintf(stderr, "tovrel: the latency drifted by %ld frames: the clocks of output and input differ\n", drift);
  return code;
}

}  // namespace

void RegisterMeasure(CLI::App& cli, App& app, Commands& commands) {
  static MeasureArgs a;
  auto* cmd = cli.add_subcommand(
      "measure", "Play a document on a wave device while recording it; with --method, measure a response");
  cmd->add_option("EXCITATION", a.excitation, "Document to play: its selection (or all of it) is one period");
  cmd->add_option("--method", a.method,
                  "Generate the excitation and deconvolve the recording: mls (\"MLS Signal\", \"Deconvolve MLS "
                  "Signal\"), irs (\"IRS Signal\", \"Deconvolve IRS Signal\"), sweep (\"Sine Sweep\", \"Convolve with "
                  "Clipboard\", \"Synchronous Average\")");
  cmd->add_option("--device", a.device,
                  "The device that plays and records: an ALSA name (default, hw:0, plughw:1, ...), or virtual, a "
                  "loop through --system")
      ->capture_default_str();
  cmd->add_option("--system", a.system,
                  "What the virtual device's input hears of its output, as tovrel simulate takes it (default: a cable)");
  cmd->add_option("--noise", a.noise, "Noise the virtual device adds, RMS in dB relative to full scale");
  cmd->add_option("--seed", a.seed, "Seed of the virtual device's noise")->capture_default_str();
  cmd->add_option("--periods", a.periods, "Whole periods recorded (default: 2 for mls and irs, else 1)");
  cmd->add_option("--pre-roll", a.preRoll,
                  "Periods played before the recorded ones, so the system is in steady state (default: 1 for mls "
                  "and irs, else 0)");
  cmd->add_option("--in-channels", a.inChannels, "Channels recorded, 1 or 2")->capture_default_str();
  cmd->add_option("--reference-channel", a.referenceChannel,
                  "A recorded channel that loops the output back: the latency found on it is removed from the "
                  "recording, and its drift reported");
  cmd->add_option("--rate", a.rate, "Sample rate of a generated excitation (Hz)")->capture_default_str();
  cmd->add_option("--set", a.sets, "Set a control of the generator's dialog: CONTROL=VALUE")->expected(1)->take_all();
  cmd->add_option("-o,--output", a.output, "Write the recording (every channel, latency removed) to FILE");
  cmd->add_option("--save-clip", a.saveClip, "Write the response, which lands on the clipboard, to FILE");
  cmd->add_flag("--json", a.json, "Print levels, clipping, latency and the response's figures as JSON");
  cmd->footer("Exit status: 0 measured; 1 a device, a step or the run failed or was cancelled; 2 usage error; "
              "3 a document could not be read or written.");
  cmd->callback([&app, &commands] { commands.chosen = [&app] { return MeasureMain(app, a); }; });
}

}  // namespace tovrel::cli
