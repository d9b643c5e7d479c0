#include "host/simulate.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

#include "frame/fft.h"
#include "host/audiofile.h"

namespace tovrel::host {

namespace {

bool ParseDouble(const std::string& text, double& v) {
  char* end = nullptr;
  v = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(v);
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, sep)) parts.push_back(part);
  if (!text.empty() && text.back() == sep) parts.push_back("");
  return parts;
}

// A room: the direct sound at 1 ms, then exponentially decaying noise (60 dB in T seconds)
// from 3 ms on. The direct sound is 0.25 and the tail carries half its energy, so that a
// full-scale noise-like excitation stays (mostly) within range.
std::vector<double> Room(double t60, double lengthMs, long rate, uint32_t seed) {
  const long length = std::max(8L, static_cast<long>(lengthMs * 1e-3 * static_cast<double>(rate)));
  std::vector<double> h(static_cast<std::size_t>(length), 0.0);
  const long direct = std::min(length - 1, rate / 1000);
  constexpr double directGain = 0.25;
  h[static_cast<std::size_t>(direct)] = directGain;
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const double decay = std::log(1000.0) / (t60 * static_cast<double>(rate));  // amplitude: -60 dB at T
  const long tailStart = std::min(length, direct + 2 * rate / 1000);
  double energy = 0.0;
  for (long n = tailStart; n < length; ++n) {
    double v = gauss(random) * std::exp(-decay * static_cast<double>(n - direct));
    h[static_cast<std::size_t>(n)] = v;
    energy += v * v;
  }
  const double scale = energy > 0 ? std::sqrt(0.5 * directGain * directGain / energy) : 0.0;
  for (long n = tailStart; n < length; ++n) h[static_cast<std::size_t>(n)] *= scale;
  return h;
}

bool ParseLinear(const std::string& text, long rate, uint32_t seed, std::vector<double>& h, std::string& error) {
  auto colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  const std::string args = colon == std::string::npos ? "" : text.substr(colon + 1);
  double v = 0;
  if (kind == "delay") {
    if (!ParseDouble(args, v) || v < 0 || v != std::floor(v) || v > 10.0 * static_cast<double>(rate)) {
      error = "delay:N takes a whole number of frames (at most 10 s), not \"" + args + "\"";
      return false;
    }
    h.assign(static_cast<std::size_t>(v) + 1, 0.0);
    h.back() = 1.0;
    return true;
  }
  if (kind == "gain") {
    if (!ParseDouble(args, v)) {
      error = "gain:G takes a number, not \"" + args + "\"";
      return false;
    }
    h = {v};
    return true;
  }
  if (kind == "fir") {
    h.clear();
    for (const auto& c : Split(args, ',')) {
      if (!ParseDouble(c, v)) {
        error = "fir:a,b,... takes numbers, not \"" + args + "\"";
        return false;
      }
      h.push_back(v);
    }
    if (h.empty()) {
      error = "fir: needs at least one coefficient";
      return false;
    }
    return true;
  }
  if (kind == "room") {
    auto parts = Split(args, ':');
    double t60 = 0, ms = 0;
    if (parts.empty() || !ParseDouble(parts[0], t60) || t60 <= 0 || t60 > 20 ||
        (parts.size() > 1 && (!ParseDouble(parts[1], ms) || ms <= 0 || ms > 60000)) || parts.size() > 2) {
      error = "room:T[:MS] takes a reverberation time in seconds (up to 20) and a length in ms, not \"" + args + "\"";
      return false;
    }
    if (parts.size() < 2) ms = 3000.0 * t60;
    h = Room(t60, ms, rate, seed);
    return true;
  }
  error = "unknown system \"" + text +
          "\" (delay:N, gain:G, fir:a,b,..., room:T[:MS], each optionally +poly:a1,a2,..., or an audio file)";
  return false;
}

// "poly:a1,a2,...": 1 to 9 coefficients.
bool ParsePolynomial(const std::string& text, std::vector<double>& a, std::string& error) {
  a.clear();
  bool ok = text.rfind("poly:", 0) == 0;
  double v = 0;
  if (ok)
    for (const auto& c : Split(text.substr(5), ',')) {
      if (!(ok = ParseDouble(c, v))) break;
      a.push_back(v);
    }
  if (!ok || a.empty() || a.size() > 9) {
    error = "poly:a1,a2,... takes 1 to 9 numbers, the coefficients of v, v^2, ..., not \"" + text + "\"";
    return false;
  }
  return true;
}

// A channel: a linear system, a polynomial, or the linear system followed by the polynomial.
bool ParseChannel(const std::string& text, long rate, uint32_t seed, std::vector<double>& h,
                  std::vector<double>& polynomial, std::string& error) {
  polynomial.clear();
  if (text.rfind("poly:", 0) == 0) {
    h = {1.0};
    return ParsePolynomial(text, polynomial, error);
  }
  const auto plus = text.find('+');
  if (!ParseLinear(text.substr(0, plus), rate, seed, h, error)) return false;
  return plus == std::string::npos || ParsePolynomial(text.substr(plus + 1), polynomial, error);
}

// a1 v + a2 v^2 + ... of a sample value, v relative to full scale.
double ApplyPolynomial(const std::vector<double>& a, double sample) {
  const double v = sample / 32768.0;
  double power = 1, y = 0;
  for (double c : a) {
    power *= v;
    y += c * power;
  }
  return y * 32768.0;
}

}  // namespace

std::optional<SimulatedSystem> ParseSystem(const std::string& text, long sampleRate, std::string& error) {
  SimulatedSystem system;
  system.description = text;
  const auto first = text.substr(0, text.find(':'));
  const bool builtIn = first == "delay" || first == "gain" || first == "fir" || first == "room" || first == "poly";
  // A file's path may hold the "/" that otherwise separates the channels.
  std::error_code ec;
  if (!builtIn && (text.find('/') == std::string::npos || std::filesystem::is_regular_file(text, ec))) {
    AudioReadResult file = ReadAudioFile(text);
    if (!file.ok) {
      std::string why;
      std::vector<double> unused, none;
      if (!ParseChannel(text, sampleRate, 1, unused, none, why)) error = why + "; " + file.error;
      return std::nullopt;
    }
    if (file.doc.sampleRate != sampleRate) {
      error = "the response \"" + text + "\" is at " + std::to_string(file.doc.sampleRate) +
              " Hz, the excitation at " + std::to_string(sampleRate) + " Hz";
      return std::nullopt;
    }
    const int c = file.doc.channels;
    system.channels.assign(static_cast<std::size_t>(c), {});
    for (long n = 0; n < file.doc.frames(); ++n)
      for (int k = 0; k < c; ++k)
        system.channels[static_cast<std::size_t>(k)].push_back(
            file.doc.samples[static_cast<std::size_t>(n * c + k)] / 32768.0);
    return system;
  }
  uint32_t seed = 1;
  for (const auto& part : Split(text, '/')) {
    std::vector<double> h, polynomial;
    if (!ParseChannel(part, sampleRate, seed++, h, polynomial, error)) return std::nullopt;
    system.channels.push_back(std::move(h));
    system.polynomials.push_back(std::move(polynomial));
  }
  if (system.channels.empty() || system.channels.size() > 2) {
    error = "a system has one or two channels";
    return std::nullopt;
  }
  return system;
}

std::vector<double> CircularConvolve(const std::vector<double>& x, const std::vector<double>& h,
                                     ConvolutionMethod method) {
  const std::size_t n = x.size();
  std::vector<double> y(n, 0.0);
  if (n == 0 || h.empty()) return y;
  // Short responses directly (exact); long ones through the FFT of a zero-padded linear
  // convolution, folded onto the period afterwards.
  std::size_t taps = 0;
  for (std::size_t k = 0; k < h.size(); ++k)
    if (h[k] != 0.0) ++taps;
  const bool direct = method == ConvolutionMethod::Direct ||
                      (method == ConvolutionMethod::Automatic && static_cast<double>(taps) * static_cast<double>(n) <= 4e8);
  if (direct) {
    for (std::size_t k = 0; k < h.size(); ++k) {
      if (h[k] == 0.0) continue;
      const std::size_t shift = k % n;
      for (std::size_t m = 0; m < n; ++m) {
        std::size_t at = m + shift;
        if (at >= n) at -= n;
        y[at] += h[k] * x[m];
      }
    }
    return y;
  }
  const std::vector<double> linear = LinearConvolve(x, h);
  for (std::size_t k = 0; k < linear.size(); ++k) y[k % n] += linear[k];
  return y;
}

std::vector<double> LinearConvolve(const std::vector<double>& x, const std::vector<double>& h) {
  if (x.empty() || h.empty()) return {};
  const std::size_t n = x.size() + h.size() - 1;
  std::vector<double> y(n, 0.0);
  if (static_cast<double>(x.size()) * static_cast<double>(h.size()) <= 1e6) {
    for (std::size_t k = 0; k < h.size(); ++k)
      if (h[k] != 0.0)
        for (std::size_t m = 0; m < x.size(); ++m) y[m + k] += h[k] * x[m];
    return y;
  }
  std::size_t size = 2;
  while (size < n + 1) size <<= 1;
  std::vector<float> a(size, 0.0f), b(size, 0.0f);
  for (std::size_t k = 0; k < x.size(); ++k) a[k] = static_cast<float>(x[k]);
  for (std::size_t k = 0; k < h.size(); ++k) b[k] = static_cast<float>(h[k]);
  RealFft(a.data(), static_cast<long>(size), 1);
  RealFft(b.data(), static_cast<long>(size), 1);
  a[0] *= b[0];
  a[1] *= b[1];
  for (std::size_t k = 2; k < size; k += 2) {
    const float re = a[k] * b[k] - a[k + 1] * b[k + 1];
    const float im = a[k] * b[k + 1] + a[k + 1] * b[k];
    a[k] = re;
    a[k + 1] = im;
  }
  RealFft(a.data(), static_cast<long>(size), -1);
  const double scale = 2.0 / static_cast<double>(size);
  for (std::size_t k = 0; k < n; ++k) y[k] = a[k] * scale;
  return y;
}

SystemStream::SystemStream(SimulatedSystem system, std::optional<double> noiseDbfs, uint32_t seed)
    : system_(std::move(system)),
      noise_(noiseDbfs ? 32767.0 * std::pow(10.0, *noiseDbfs / 20.0) : 0.0),
      random_(seed) {}

void SystemStream::Process(const int16_t* in, std::size_t frames, int inChannels, int16_t* out, int outChannels) {
  if (pending_.size() < static_cast<std::size_t>(outChannels)) pending_.resize(static_cast<std::size_t>(outChannels));
  for (int c = 0; c < outChannels; ++c) {
    const std::size_t path = std::min<std::size_t>(static_cast<std::size_t>(c), system_.channels.size() - 1);
    const int from = std::min(c, inChannels - 1);
    std::vector<double> x(frames);
    for (std::size_t n = 0; n < frames; ++n) x[n] = in[n * static_cast<std::size_t>(inChannels) + static_cast<std::size_t>(from)];
    const std::vector<double> y = LinearConvolve(x, system_.channels[path]);
    auto& pending = pending_[static_cast<std::size_t>(c)];
    if (pending.size() < y.size()) pending.resize(y.size(), 0.0);
    for (std::size_t k = 0; k < y.size(); ++k) pending[k] += y[k];
    const bool polynomial = path < system_.polynomials.size() && !system_.polynomials[path].empty();
    for (std::size_t n = 0; n < frames; ++n) {
      double v = n < pending.size() ? pending[n] : 0.0;
      if (polynomial) v = ApplyPolynomial(system_.polynomials[path], v);
      if (noise_ > 0) v += noise_ * gauss_(random_);
      v = std::round(v);
      if (v > 32767.0 || v < -32768.0) {
        v = std::clamp(v, -32768.0, 32767.0);
        ++clipped_;
      }
      out[n * static_cast<std::size_t>(outChannels) + static_cast<std::size_t>(c)] = static_cast<int16_t>(v);
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(std::min(frames, pending.size())));
  }
}

std::optional<SimulationResult> Simulate(const Document& excitation, const SimulatedSystem& system,
                                         const Recording& rec, std::string& error) {
  const long start = excitation.selectionLength() > 0 ? excitation.selStart : 0;
  const long period = excitation.selectionLength() > 0 ? excitation.selectionLength() : excitation.frames();
  if (period <= 0) {
    error = "the excitation is empty";
    return std::nullopt;
  }
  if (rec.periods < 1 || rec.periods > 100000) {
    error = "a recording holds 1 to 100000 periods";
    return std::nullopt;
  }
  if (rec.phase < 0) {
    error = "the phase is a frame count of 0 or more";
    return std::nullopt;
  }
  if (static_cast<double>(period) * static_cast<double>(rec.periods) * 2.0 > 2e9) {
    error = "the recording would be too long for a document";
    return std::nullopt;
  }
  const int outChannels = std::max<int>(static_cast<int>(system.channels.size()), excitation.channels);
  SimulationResult result;
  result.recording = Document::Empty(excitation.sampleRate, outChannels);
  std::vector<std::vector<double>> steady(static_cast<std::size_t>(outChannels));
  for (int c = 0; c < outChannels; ++c) {
    const int in = excitation.channels == 2 ? c : 0;
    std::vector<double> x(static_cast<std::size_t>(period));
    for (long k = 0; k < period; ++k)
      x[static_cast<std::size_t>(k)] =
          excitation.samples[static_cast<std::size_t>((start + k) * excitation.channels + in)];
    const std::size_t path = system.channels.size() == 1 ? 0 : static_cast<std::size_t>(c);
    steady[static_cast<std::size_t>(c)] = CircularConvolve(x, system.channels[path]);
    // A memoryless non-linearity after the response: exact on the periodic steady state.
    if (path < system.polynomials.size() && !system.polynomials[path].empty())
      for (double& v : steady[static_cast<std::size_t>(c)]) v = ApplyPolynomial(system.polynomials[path], v);
  }
  std::mt19937 random(rec.seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const double noise = rec.noiseDbfs ? 32767.0 * std::pow(10.0, *rec.noiseDbfs / 20.0) : 0.0;
  const long frames = period * rec.periods;
  auto& out = result.recording.samples;
  out.resize(static_cast<std::size_t>(frames) * static_cast<std::size_t>(outChannels));
  for (long n = 0; n < frames; ++n) {
    const std::size_t at = static_cast<std::size_t>((n + rec.phase) % period);
    for (int c = 0; c < outChannels; ++c) {
      double v = steady[static_cast<std::size_t>(c)][at];
      if (noise > 0) v += noise * gauss(random);
      v = std::round(v);
      if (v > 32767.0) { v = 32767.0; ++result.clipped; }
      if (v < -32768.0) { v = -32768.0; ++result.clipped; }
      out[static_cast<std::size_t>(n * outChannels + c)] = static_cast<int16_t>(v);
    }
  }
  result.recording.SelectAll();
  return result;
}

}  // namespace tovrel::host
