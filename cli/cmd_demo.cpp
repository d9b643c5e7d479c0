// tovrel demo: whole measurements on simulated hardware. Generate the excitation, "play
// and record" it through a small room, deconvolve the recording, and compare the
// recovered impulse response with the room's true one; then the same room, with a weak
// non-linearity after it, measured with logarithmic sine sweeps: the linear response and
// the 2nd harmonic's, beside the MLS results.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "cli/documents.h"
#include "cli/report_acoustic.h"
#include "host/measure.h"
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
// The same room (same seed) with a square term after it, for the sweeps.
constexpr char kNonLinearRoom[] = "room:0.2+poly:1,0.1";
// Two sweeps of 2 s from 100 Hz to 10 kHz, each followed by 1 s of silence (longer than the room's tail).
constexpr long kSweeps = 2;

host::RunOptions DemoOptions() {
  host::RunOptions o;
  o.keepBlock = false;  // the demo runs on the modules' defaults, whatever a user stored
  o.batch = true;
  return o;
}

// The room's true response, turned and scaled as a recovered one of `period` frames is:
// its peak where the recovered peak lies, at full scale. Returns the error of the recovered
// response relative to it, in dB, and the aligned truth.
double AgainstTruth(const std::vector<double>& h, const host::Document& response, host::Document& trueDoc,
                    long& recoveredPeak) {
  const long period = response.frames();
  std::vector<double> truth(static_cast<std::size_t>(period), 0.0);
  for (std::size_t k = 0; k < h.size(); ++k) truth[k % static_cast<std::size_t>(period)] += h[k];
  std::size_t peakAt = 0;
  for (std::size_t k = 0; k < truth.size(); ++k)
    if (std::fabs(truth[k]) > std::fabs(truth[peakAt])) peakAt = k;
  recoveredPeak = 0;
  for (long k = 0; k < period; ++k)
    if (std::abs(response.samples[k]) > std::abs(response.samples[recoveredPeak])) recoveredPeak = k;
  const double scale = 32767.0 / std::fabs(truth[peakAt]) * (response.samples[recoveredPeak] < 0 ? -1 : 1);
  trueDoc = host::Document::Empty(response.sampleRate, 1);
  double signal = 0, difference = 0;
  for (long t = 0; t < period; ++t) {
    const long lag = (t - recoveredPeak + static_cast<long>(peakAt) + period) % period;
    const double v = truth[static_cast<std::size_t>(lag)] * scale;
    trueDoc.samples.push_back(static_cast<int16_t>(std::lround(v)));
    signal += v * v;
    const double d = response.samples[t] - v;
    difference += d * d;
  }
  trueDoc.SelectAll();
  return 10.0 * std::log10(std::max(difference, 1e-12) / signal);
}

// Runs a module with its dialog set as given (not the stored settings); the report.
host::RunReport RunWith(App& app, const host::Module& module, host::Document& doc,
                        std::vector<host::ControlSetting> sets) {
  host::RunOptions o;
  o.keepBlock = false;
  o.sets = std::move(sets);
  return host::RunCommand(module, doc, o, app.store);
}

// Steps 6 to 10: the room with a square term after it, measured with two log sweeps.
template <class Save>
int SweepDemo(App& app, Save& save, const host::Document& mlsResponse) {
  std::string error;
  const host::Module* source = host::FindCommand(app.modules, "sweepsource", error);
  const host::Module* convolver = host::FindCommand(app.modules, "convolve", error);
  const host::Module* averager = host::FindCommand(app.modules, "sweepaverage", error);
  if (!source || !convolver || !averager) {
    std::printf("\nThe sweep modules (sweepsource, convolve, sweepaverage) are not all installed: the demo ends here.\n");
    return kExitOk;
  }
  auto failed = [](const host::RunReport& r) {
    Fail(r.message.empty() ? "a step of the sweep measurement did not complete" : r.message);
    return host::ExitCode(r.status == host::RunStatus::Completed ? host::RunStatus::Failed : r.status);
  };
  // 6. The sweeps; their inverse filter goes to the clipboard.
  host::Document sweeps = host::Document::Empty(kRate, 1);
  portable::LoadClipboard({});
  host::RunReport gen = RunWith(app, *source, sweeps, {{"1038", "2"}, {"1041", "1"}, {"N. of cycles", "2"}, {"Log Sweep", "on"}});
  if (gen.status != host::RunStatus::Completed) return failed(gen);
  const std::string sweepsPath = save("sweeps.wav", sweeps);
  if (sweepsPath.empty()) return kExitDocument;
  std::printf("\n6. \"%s\": %ld logarithmic sweeps of 2 s from 100 Hz to 10 kHz, each with 1 s of silence -> %s;\n"
              "   their inverse filter (-6 dB per octave) on the clipboard\n",
              source->title().c_str(), kSweeps, sweepsPath.c_str());

  // 7. Through the same room, now followed by a weak square term.
  auto system = host::ParseSystem(kNonLinearRoom, kRate, error);
  host::Recording rec;
  rec.periods = 1;
  rec.noiseDbfs = kNoiseDbfs;
  auto recorded = system ? host::Simulate(sweeps, *system, rec, error) : std::nullopt;
  if (!recorded) {
    Fail(error);
    return kExitFailed;
  }
  host::Document recording = recorded->recording;
  const std::string recordingPath = save("sweep-recording.wav", recording);
  if (recordingPath.empty()) return kExitDocument;
  std::printf("7. played through the same room followed by a square term (%s: y = v + 0.1 v^2), noise at %.0f dBFS\n"
              "   -> %s\n",
              kNonLinearRoom, kNoiseDbfs, recordingPath.c_str());

  // 8. Convolved with the inverse filter: each sweep becomes its responses.
  host::RunReport conv = RunWith(app, *convolver, recording, {});
  if (conv.status != host::RunStatus::Completed) return failed(conv);
  std::printf("8. \"%s\": the recording convolved with the inverse filter, %ld frames\n", convolver->title().c_str(),
              recording.frames());

  // 9. Averaged: the linear response and the 2nd harmonic's, both as plain averages. The
  // harmonic's window ends before the linear response, ln 2 / ln 100 of a sweep later.
  const long harmonicFrames = 8192;
  host::Document responses[2];
  for (int k = 1; k <= 2; ++k) {
    host::Document doc = recording;
    doc.SelectAll();
    portable::LoadClipboard({});
    host::RunReport avg = RunWith(
        app, *averager, doc,
        {{"N. of measurements", "1"}, {"N. of sweeps / measurement", std::to_string(kSweeps)},
         {"Sweep duration (s or samples)", "2"}, {"Silence duration (s or samples)", "1"},
         {"Start Frequency (Hz)", "100"}, {"End Frequency (Hz)", "10000"},
         {"N. of samples for each response", std::to_string(k == 1 ? mlsResponse.frames() : harmonicFrames)},
         {"N. of first samples to skip", "0"}, {"Harmonic Order Number", k == 1 ? "1 Linear" : "2"},
         {"Autoscale each response separately", "off"}, {"Autoscale and remove DC component", "off"}});
    if (avg.status != host::RunStatus::Completed) return failed(avg);
    auto got = host::ClipboardResponse(avg.clipboard);
    if (!got) {
      Fail("the averaging left no response on the clipboard");
      return kExitFailed;
    }
    responses[k - 1] = *got;
  }
  auto peakOf = [](const host::Document& d, long& at) {
    at = 0;
    for (long t = 0; t < d.frames(); ++t)
      if (std::abs(d.samples[t]) > std::abs(d.samples[at])) at = t;
    return std::max(1, std::abs(static_cast<int>(d.samples[at])));
  };
  long linearAt = 0, harmonicAt = 0;
  const int linearPeak = peakOf(responses[0], linearAt), harmonicPeak = peakOf(responses[1], harmonicAt);
  const std::string linearPath = save("sweep-response.wav", responses[0]);
  const std::string harmonicPath = save("sweep-harmonic2.wav", responses[1]);
  if (linearPath.empty() || harmonicPath.empty()) return kExitDocument;
  std::printf("9. \"%s\" of the %ld sweeps:\n"
              "   linear response, %ld frames -> %s: peak at frame %ld (the direct sound, 1 ms)\n"
              "   2nd harmonic, %ld frames -> %s: peak at frame %ld, %.1f dB below the linear response\n",
              averager->title().c_str(), kSweeps, responses[0].frames(), linearPath.c_str(), linearAt,
              responses[1].frames(), harmonicPath.c_str(), harmonicAt,
              20.0 * std::log10(static_cast<double>(linearPeak) / harmonicPeak));

  // 10. The acoustical parameters of the two measurements side by side.
  if (!PrintAcousticComparison(app, DemoOptions(), mlsResponse, responses[0],
                               "10. \"Calculate Acoustical Parameters\" of each (MLS | sweep; the sweeps start at 100 Hz):"))
    return kExitFailed;
  return kExitOk;
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
  auto response = host::ClipboardResponse(dec.clipboard);
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
  host::Document trueDoc;
  long recoveredPeak = 0;
  const double db = AgainstTruth(room->channels[0], *response, trueDoc, recoveredPeak);
  std::string truePath = save("true-response.wav", trueDoc);
  if (truePath.empty()) return kExitDocument;
  std::printf("4. the room's true response, aligned and scaled alike -> %s\n"
              "   peak at frame %ld in both; recovered minus true: %.1f dB relative to the response\n",
              truePath.c_str(), recoveredPeak, db);

  // 5. The acoustical parameters of both.
  if (!PrintAcousticComparison(app, DemoOptions(), *response, trueDoc,
                               "5. \"Calculate Acoustical Parameters\" of each (recovered | true):"))
    return kExitFailed;
  return SweepDemo(app, save, *response);
}

}  // namespace

void RegisterDemo(CLI::App& cli, App& app, Commands& commands) {
  static std::string dir = "tovrel-demo";
  auto* cmd = cli.add_subcommand("demo", "Show MLS and sweep measurements of a simulated room, step by step");
  cmd->add_option("--dir", dir, "Where the demo writes its excitation, recording and responses")
      ->capture_default_str();
  cmd->callback([&app, &commands] { commands.chosen = [&app] { return Demo(app, dir); }; });
}

}  // namespace tovrel::cli
