#include "sweep/sweep.h"

#include <cmath>

namespace {

constexpr double kTwoPi = 6.283185308;  // 2 pi as the sweep's phase takes it
constexpr double kE = 2.718281828459045;

double Floor(double v) { return std::floor(v); }

// 16 bits by truncation toward zero, held within the sample range.
int16_t Truncate(double v) {
  const double t = std::trunc(v);
  if (!(t > -32768)) return -32768;  // NaN too
  if (t > 32767) return 32767;
  return static_cast<int16_t>(t);
}

// A x ln(1 + (e - 1) x^2): 0 at x = 0, A at x = 1.
double FadeGain(double A, double x) { return A * std::log(1 + (kE - 1) * x * x); }

}  // namespace

double GeneratorSeconds(float field, long sampleRate) {
  const double v = field;
  return v <= 100 ? v : v / static_cast<double>(sampleRate);
}

double AveragerSamples(float field, long sampleRate) {
  const double v = field;
  return v < 100 ? v * static_cast<double>(sampleRate) : v;
}

SweepPlan PlanSweep(const SweepSettings& s) {
  SweepPlan p;
  const double sr = static_cast<double>(s.sampleRate);
  const double d = GeneratorSeconds(s.sweepDuration, s.sampleRate);
  const double silence = GeneratorSeconds(s.silenceDuration, s.sampleRate);
  p.L = sr * d;
  p.N = static_cast<int64_t>(Floor(p.L + 0.5));
  p.P = static_cast<int64_t>(Floor(sr * (d + silence) + 0.5));
  p.a = static_cast<int64_t>(Floor(0.03 * p.L + 0.5));
  p.b = static_cast<int64_t>(Floor(0.98 * p.L + 0.5));
  p.w1 = kTwoPi * static_cast<double>(s.startFrequency) / sr;
  p.w2 = kTwoPi * static_cast<double>(s.endFrequency) / sr;
  p.O = std::log2(p.w2 / p.w1);
  p.K = p.w1 * p.L / (p.O * std::log(2.0));
  p.A = static_cast<double>(s.amplitude);
  p.linear = s.linear;
  // Between the fades the gain keeps its value of the last fade-in sample.
  p.plateau = p.a > 0 ? FadeGain(p.A, static_cast<double>(p.a - 1) / static_cast<double>(p.a)) : 0;
  return p;
}

int64_t SweepFrames(const SweepPlan& plan, long periods, int channels, bool controlTone) {
  const int64_t frames = plan.P * periods;
  return channels == 2 && !controlTone ? 2 * frames : frames;
}

const char* CheckSweep(const SweepSettings& s, long periods, int channels, bool controlTone) {
  if (s.amplitude < 1 || s.amplitude > 32767) return "The amplitude must lie between 1 and 32767.";
  const double nyquist = static_cast<double>(s.sampleRate) / 2;
  const double f1 = s.startFrequency, f2 = s.endFrequency;
  if (!(f1 > 0 && f1 <= nyquist && f2 > 0 && f2 <= nyquist))
    return "The start and end frequencies must lie above 0 Hz\nand at most at half the sample rate.";
  if (!s.linear && f1 == f2) return "A logarithmic sweep needs an end frequency\nother than its start frequency.";
  const double d = GeneratorSeconds(s.sweepDuration, s.sampleRate);
  const double silence = GeneratorSeconds(s.silenceDuration, s.sampleRate);
  const double sr = static_cast<double>(s.sampleRate);
  // The fade-in needs one sample at least: a sweep of about 17 samples.
  if (!(0.03 * sr * d + 0.5 >= 1)) return "The sweep is too short for its fade-in:\nit must last at least 17 samples.";
  if (!(silence >= 0)) return "The silence duration must not be negative.";
  if (periods < 1) return "The number of cycles must be at least 1.";
  // Lengths in double first: the train must fit one write of the host.
  const double channelsWritten = channels == 2 ? 2 : 1;
  const double frames = Floor(sr * (d + silence) + 0.5) * periods * (channels == 2 && !controlTone ? 2 : 1);
  if (!(frames * channelsWritten <= static_cast<double>(kMostDocumentSamples)))
    return "The signal would be too long.\nChoose a shorter sweep or silence, or fewer cycles.";
  return nullptr;
}

double SweepValue(const SweepPlan& p, int64_t n) {
  const double x = static_cast<double>(n);
  double gain = p.plateau;
  if (n < p.a) gain = FadeGain(p.A, x / static_cast<double>(p.a));
  else if (n > p.b) gain = FadeGain(p.A, static_cast<double>(p.N - n) / static_cast<double>(p.N - p.b));
  const double phase =
      p.linear ? x * (p.w1 + x * (p.w2 - p.w1) / (2 * p.L)) : p.K * (std::exp2(x * p.O / p.L) - 1);
  return gain * std::sin(phase);
}

int16_t SweepSample(double value) { return Truncate(value); }

int16_t InverseSample(const SweepPlan& p, int64_t n, double value) {
  // The log sweep's filter falls by 6 dB per octave toward the sweep's start.
  const double m = p.linear ? 1.0 : std::exp2(-(p.L - static_cast<double>(n) - 1) * p.O / p.L);
  return Truncate(32767 * value / p.A * m);
}

int16_t ControlToneSample(int64_t n) { return Truncate(32767 * std::sin(static_cast<double>(n))); }

namespace {

// Half away from zero.
int64_t RoundHalfAway(double v) { return static_cast<int64_t>(v < 0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5)); }

long HarmonicOrder(const AverageSettings& s) { return s.harmonicOrder < 1 ? 1 : s.harmonicOrder; }

// The start of measurement i before truncation, in double.
double StartPosition(const AverageSettings& s, const AveragePlan& p, long i) {
  double K = static_cast<double>(p.T) + static_cast<double>(i) * s.sweeps * static_cast<double>(p.P) - 1;
  const long k = HarmonicOrder(s);
  if (k > 1) {
    const double ratio = static_cast<double>(s.endFrequency) / static_cast<double>(s.startFrequency);
    K -= static_cast<double>(p.T) * std::log(static_cast<double>(k)) / std::log(ratio);
  }
  return K;
}

}  // namespace

AveragePlan PlanAverage(const AverageSettings& s) {
  AveragePlan p;
  const double sweep = AveragerSamples(s.sweepDuration, s.sampleRate);
  const double silence = AveragerSamples(s.silenceDuration, s.sampleRate);
  p.T = RoundHalfAway(sweep);
  p.P = RoundHalfAway(sweep + silence);
  const int64_t room = p.P - s.skipSamples;
  p.R = s.responseLength < room ? s.responseLength : room;
  return p;
}

int64_t AverageStartFrame(const AverageSettings& s, const AveragePlan& p, long i) {
  return static_cast<int64_t>(std::trunc(StartPosition(s, p, i)));
}

AverageFit CheckAverage(const AverageSettings& s, int64_t selectionFrames, const char** why) {
  auto refuse = [&](const char* text) {
    *why = text;
    return AverageFit::Refused;
  };
  if (s.measurements < 1 || s.sweeps < 1 || s.sweeps > 65536)
    return refuse("The N. of measurements must be at least 1,\nthe N. of sweeps / measurement between 1 and 65536.");
  const double sweep = AveragerSamples(s.sweepDuration, s.sampleRate);
  const double silence = AveragerSamples(s.silenceDuration, s.sampleRate);
  if (!(sweep >= 0.5 && sweep < 1e15)) return refuse("The sweep duration must be at least one sample.");
  if (!(silence >= 0 && silence < 1e15)) return refuse("The silence duration must not be negative.");
  if (s.responseLength < 1) return refuse("The N. of samples for each response must be at least 1.");
  const AveragePlan p = PlanAverage(s);
  if (s.skipSamples < 0 || s.skipSamples >= p.P)
    return refuse("The N. of first samples to skip must lie within one period\nof sweep and silence.");
  const long k = HarmonicOrder(s);
  if (k > 9) return refuse("The harmonic order must lie between 1 and 9.");
  const double f1 = s.startFrequency, f2 = s.endFrequency;
  if (k > 1 && !(f1 > 0 && f2 > 0 && f1 != f2 && std::isfinite(f1) && std::isfinite(f2)))
    return refuse("A harmonic response needs the start and end frequencies of a\nlogarithmic sweep: both above 0 Hz and different.");
  // Every frame read lies within the selection.
  const double periods = static_cast<double>(s.measurements) * s.sweeps * static_cast<double>(p.P);
  if (static_cast<double>(selectionFrames) < static_cast<double>(p.T) + periods - 1) return AverageFit::TooShort;
  const double first = std::trunc(StartPosition(s, p, 0));
  if (first < 0)
    return refuse("The harmonic response would start before the highlighted area:\n"
                  "choose a lower harmonic order or a longer sweep.");
  if (first + periods > static_cast<double>(selectionFrames))
    return refuse("The harmonic responses would reach beyond the highlighted area:\n"
                  "choose a lower harmonic order or fewer sweeps.");
  return AverageFit::Fits;
}
