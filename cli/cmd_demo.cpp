// tovrel demo: a whole MLS measurement on simulated hardware. Generate the excitation,
// "play and record" it through a small room, deconvolve the recording, and compare the
// recovered impulse response with the room's true one.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "cli/documents.h"
#include "cli/report_acoustic.h"
#include "frame/clipwave.h"
#include "host/runner.h"
#include "host/simulate.h"
#include "host/user.h"

namespace tovrel::cli {

namespace {

constexpr long kRate = 48000;
constexpr char kRoom[] = "room:0.2";  // 0.6 s of response: shorter than one order-15 period
constexpr double kNoiseDbfs = -85.0;
constexpr long kPeriods = 4;
constexpr long kPhase = 12345;  // the recording starts anywhere in the period

host::RunOptions DemoOptions() {
  host::RunOptions o;
  o.keepBlock = false;  // the demo runs on the modules' defaults, whatever a user stored
  o.batch = true;
  return o;
}

// The response the clipboard holds, as a document.
std::optional<host::Document> ClipboardResponse(const host::RunReport& report) {
  for (const auto& item : report.clipboard) {
    if (item.format != CF_WAVE) continue;
    WavImage w = ReadWavImage(item.bytes.data(), item.bytes.size());
    if (!w.riff || w.bitsPerSample != 16 || !w.dataFits || w.channels < 1 || w.channels > 2) return std::nullopt;
    host::Document d = host::Document::Empty(static_cast<long>(w.sampleRate), w.channels);
    d.samples.resize(w.dataBytes / 2);
    for (std::size_t k = 0; k < d.samples.size(); ++k)
      d.samples[k] = static_cast<int16_t>(w.data[2 * k] | (w.data[2 * k + 1] << 8));
    d.SelectAll();
    return d;
  }
  return std::nullopt;
}

int Demo(App& app, const std::string& dir) {
  app.LoadModules();
  std::string error;
  const host::Module* generator = host::FindCommand(app.modules, "seqsource", error);
  const host::Module* deconvolver = host::FindCommand(app.modules, "sequnfold", error);
  if (!generator) {
    Fail("the demo needs the MLS generator (seqsource)");
    return kExitFailed;
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  auto save = [&](const char* name, const host::Document& doc) {
    std::string path = (std::filesystem::path(dir) / name).string();
    if (!SaveDocument(app, path, doc, error)) {
      Fail(error);
      return std::string();
    }
    return path;
  };

  std::printf("tovrel demo: an MLS measurement of a small room, simulated\n\n");
  // 1. The excitation.
  host::Document excitation = host::Document::Empty(kRate, 1);
  host::RunReport gen = host::RunCommand(*generator, excitation, DemoOptions(), app.store);
  if (gen.status != host::RunStatus::Completed) {
    Fail(gen.message);
    return host::ExitCode(gen.status);
  }
  std::string excitationPath = save("excitation.wav", excitation);
  if (excitationPath.empty()) return kExitDocument;
  std::printf("1. \"%s\" (default settings: order 15, entry \"15 B\", amplitude 16384):\n"
              "   one period of %ld frames at %ld Hz -> %s\n",
              generator->title().c_str(), excitation.frames(), kRate, excitationPath.c_str());

  // 2. Played through the room and recorded.
  auto room = host::ParseSystem(kRoom, kRate, error);
  host::Recording rec;
  rec.periods = kPeriods;
  rec.phase = kPhase;
  rec.noiseDbfs = kNoiseDbfs;
  auto recorded = room ? host::Simulate(excitation, *room, rec, error) : std::nullopt;
  if (!recorded) {
    Fail(error);
    return kExitFailed;
  }
  std::string recordingPath = save("recording.wav", recorded->recording);
  if (recordingPath.empty()) return kExitDocument;
  std::printf("2. played in a loop through a simulated room (%s: reverberation time 0.2 s), noise at %.0f dBFS;\n"
              "   %ld periods recorded from frame %ld of the period -> %s\n",
              kRoom, kNoiseDbfs, kPeriods, kPhase, recordingPath.c_str());
  if (recorded->clipped)
    std::printf("   (%ld samples clipped at full scale)\n", recorded->clipped);

  if (!deconvolver) {
    std::printf("\nThe MLS deconvolver (sequnfold) is not installed: the demo ends here.\n");
    return kExitOk;
  }
  // 3. Deconvolved: the response goes to the clipboard.
  host::Document recording = recorded->recording;
  portable::LoadClipboard({});
  host::RunReport dec = host::RunCommand(*deconvolver, recording, DemoOptions(), app.store);
  if (dec.status != host::RunStatus::Completed) {
    Fail(dec.message);
    return host::ExitCode(dec.status);
  }
  auto response = ClipboardResponse(dec);
  if (!response) {
    Fail("the deconvolver left no impulse response on the clipboard");
    return kExitFailed;
  }
  std::string responsePath = save("response.wav", *response);
  if (responsePath.empty()) return kExitDocument;
  std::printf("3. \"%s\" of the whole recording: a response of %ld frames on the clipboard -> %s\n",
              deconvolver->title().c_str(), response->frames(), responsePath.c_str());
  for (const auto& e : dec.journal)
    if (auto* d = std::get_if<portable::DialogEvent>(&e); d && d->final.templateId != 100)
      for (const auto& line : host::DialogTextLines(d->final)) std::printf("   | %s\n", line.c_str());

  // 4. Against the truth: the room's response, turned and scaled as the deconvolver does.
  const std::vector<double>& h = room->channels[0];
  const long period = response->frames();
  std::vector<double> truth(static_cast<std::size_t>(period), 0.0);
  for (std::size_t k = 0; k < h.size(); ++k) truth[k % static_cast<std::size_t>(period)] += h[k];
  std::size_t peakAt = 0;
  for (std::size_t k = 0; k < truth.size(); ++k)
    if (std::fabs(truth[k]) > std::fabs(truth[peakAt])) peakAt = k;
  long recoveredPeak = 0;
  for (long k = 0; k < period; ++k)
    if (std::abs(response->samples[k]) > std::abs(response->samples[recoveredPeak])) recoveredPeak = k;
  const double scale = 32767.0 / std::fabs(truth[peakAt]);
  host::Document trueDoc = host::Document::Empty(kRate, 1);
  double signal = 0, difference = 0;
  for (long t = 0; t < period; ++t) {
    const long lag = (t - recoveredPeak + static_cast<long>(peakAt) + period) % period;
    const double v = truth[static_cast<std::size_t>(lag)] * scale;
    trueDoc.samples.push_back(static_cast<int16_t>(std::lround(v)));
    signal += v * v;
    const double d = response->samples[t] - v;
    difference += d * d;
  }
  trueDoc.SelectAll();
  std::string truePath = save("true-response.wav", trueDoc);
  if (truePath.empty()) return kExitDocument;
  const double db = 10.0 * std::log10(std::max(difference, 1e-12) / signal);
  std::printf("4. the room's true response, aligned and scaled alike -> %s\n"
              "   peak at frame %ld in both; recovered minus true: %.1f dB relative to the response\n",
              truePath.c_str(), recoveredPeak, db);

  // 5. The acoustical parameters of both.
  if (!PrintAcousticComparison(app, DemoOptions(), *response, trueDoc,
                               "5. \"Calculate Acoustical Parameters\" of each (recovered | true):"))
    return kExitFailed;
  return kExitOk;
}

}  // namespace

void RegisterDemo(CLI::App& cli, App& app, Commands& commands) {
  static std::string dir = "tovrel-demo";
  auto* cmd = cli.add_subcommand("demo", "Show an MLS measurement of a simulated room, step by step");
  cmd->add_option("--dir", dir, "Where the demo writes its excitation, recording and responses")
      ->capture_default_str();
  cmd->callback([&app, &commands] { commands.chosen = [&app] { return Demo(app, dir); }; });
}

}  // namespace tovrel::cli
