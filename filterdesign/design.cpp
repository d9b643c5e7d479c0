#include "filterdesign/design.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "frame/fft.h"

void DelayedImpulseCorrelation(std::span<const float> h, int64_t delay, std::span<float> y) {
  const int64_t n = static_cast<int64_t>(h.size());
  for (std::size_t i = 0; i < y.size(); ++i) {
    const int64_t lag = delay - static_cast<int64_t>(i);
    y[i] = lag >= 0 && lag < n ? h[static_cast<std::size_t>(lag)] : 0.0f;
  }
}

void PowerSpectrum(std::span<float> packed) {
  if (packed.size() < 2) {
    for (float& v : packed) v *= v;
    return;
  }
  packed[0] *= packed[0];
  packed[1] *= packed[1];
  for (std::size_t k = 2; k + 1 < packed.size(); k += 2) {
    const double re = packed[k], im = packed[k + 1];
    packed[k] = static_cast<float>(re * re + im * im);
    packed[k + 1] = 0;
  }
}

int64_t AutocorrelationSize(int64_t n) {
  if (n < 1) return 0;
  int64_t g = 1;
  while (g < 2 * n - 1) {
    g *= 2;
    if (g > (int64_t{1} << 30)) return 0;
  }
  return g;
}

namespace {

long TruncatedBin(double v) {
  constexpr double kLimit = 1073741824.0;  // 2^30
  if (std::isnan(v)) return 0;
  return static_cast<long>(std::clamp(v, -kLimit, kLimit));
}

using Complex = std::complex<double>;

Complex Bin(std::span<const float> packed, long k) {
  return {packed[static_cast<std::size_t>(2 * k)], packed[static_cast<std::size_t>(2 * k + 1)]};
}
void SetBin(std::span<float> packed, long k, Complex v) {
  packed[static_cast<std::size_t>(2 * k)] = static_cast<float>(v.real());
  packed[static_cast<std::size_t>(2 * k + 1)] = static_cast<float>(v.imag());
}

}  // namespace

BandEdges ComputeBandEdges(long sampleRate, long length, long low, long high, float width) {
  const double down = std::exp2(-static_cast<double>(width) / 2), up = std::exp2(static_cast<double>(width) / 2);
  const double perHz = static_cast<double>(length) / static_cast<double>(sampleRate);
  return {TruncatedBin(low * down * perHz), TruncatedBin(low * up * perHz), TruncatedBin(high * down * perHz),
          TruncatedBin(high * up * perHz)};
}

double RegularisationAt(const Regularisation& reg, long bins, long k) {
  const long k1 = std::max(reg.edges.k1, 1L), k2 = std::max(reg.edges.k2, 1L);
  const long k3 = std::min(reg.edges.k3, bins - 1), k4 = std::min(reg.edges.k4, bins - 1);
  const double in = reg.inBand, out = reg.outBand;
  double eps = out;
  if (k >= 1 && k < k1) eps = out;
  if (k >= k1 && k < k2) eps = out * std::pow(in / out, static_cast<double>(k - k1) / static_cast<double>(k2 - k1));
  if (k >= k2 && k < k3) eps = in;
  if (k >= k3 && k < k4) eps = in * std::pow(out / in, static_cast<double>(k - k3) / static_cast<double>(k4 - k3));
  if (k >= k4 && k <= bins - 1) eps = out;
  return eps;
}

void RegularisedInverse(std::span<float> packed, long bins, const Regularisation& reg) {
  const double out = reg.outBand;
  for (int part = 0; part < 2; ++part) {
    const double v = packed[static_cast<std::size_t>(part)];
    packed[static_cast<std::size_t>(part)] = static_cast<float>(v / (v * v + out));
  }
  for (long k = 1; k < bins; ++k) {
    const Complex x = Bin(packed, k);
    SetBin(packed, k, std::conj(x) / (std::norm(x) + RegularisationAt(reg, bins, k)));
  }
}

void ReduceSpectrum(std::span<float> packed, long from, long to) {
  const long r = from / to, d = r / 2;
  for (long t = 1; t < to; ++t) {
    const long centre = t * r;
    Complex sum = 0.5 * (Bin(packed, centre - d) + Bin(packed, centre + d));
    for (long k = centre - d + 1; k <= centre + d - 1; ++k) sum += Bin(packed, k);
    SetBin(packed, t, sum);
  }
}

void RotateHalf(std::span<float> values, long half) {
  for (long i = 0; i < half; ++i)
    std::swap(values[static_cast<std::size_t>(i)], values[static_cast<std::size_t>(half + i)]);
}

bool DesignFlattening(std::span<float> work, long p0, long length, const Regularisation& reg,
                      const ProgressFn& progress) {
  auto report = [&](long k) { return !progress || progress(k, 5); };
  const long bins = length / 2;
  const bool reduce = bins < p0 / 2;
  RealFft(work.first(static_cast<std::size_t>(reduce ? p0 : length)), +1);
  if (!report(1)) return false;
  if (reduce) ReduceSpectrum(work, p0 / 2, bins);
  if (!report(2)) return false;
  RegularisedInverse(work, bins, reg);
  if (!report(3)) return false;
  RealFft(work.first(static_cast<std::size_t>(length)), -1);
  if (!report(4)) return false;
  RotateHalf(work, bins);
  return report(5);
}

bool DesignDipole(std::span<float> a, std::span<float> b, std::span<float> c, std::span<float> d,
                  std::span<float> det, long q, long length, const Regularisation& reg, const ProgressFn& progress) {
  auto report = [&](long k) { return !progress || progress(k, 5); };
  const long bins = length / 2;
  const bool reduce = bins < q / 2;
  const std::span<float> works[4] = {a, b, c, d};
  for (std::span<float> w : works) RealFft(w.first(static_cast<std::size_t>(reduce ? q : length)), +1);
  if (!report(1)) return false;
  if (reduce)
    for (std::span<float> w : works) ReduceSpectrum(w, q / 2, bins);
  if (!report(2)) return false;

  // The determinant; bin 0 carries two real values, multiplied part by part.
  for (std::size_t part = 0; part < 2; ++part)
    det[part] = static_cast<float>(static_cast<double>(a[part]) * d[part] - static_cast<double>(c[part]) * b[part]);
  for (long k = 1; k < bins; ++k)
    SetBin(det, k, Bin(a, k) * Bin(d, k) - Bin(c, k) * Bin(b, k));
  RegularisedInverse(det, bins, reg);
  if (!report(3)) return false;

  for (std::size_t part = 0; part < 2; ++part) {
    const double inv = det[part], ar = a[part], br = b[part], cr = c[part], dr = d[part];
    a[part] = static_cast<float>(dr * inv);
    b[part] = static_cast<float>(-br * inv);
    c[part] = static_cast<float>(-cr * inv);
    d[part] = static_cast<float>(ar * inv);
  }
  for (long k = 1; k < bins; ++k) {
    const Complex inv = Bin(det, k), ak = Bin(a, k), bk = Bin(b, k), ck = Bin(c, k), dk = Bin(d, k);
    SetBin(a, k, dk * inv);
    SetBin(b, k, -bk * inv);
    SetBin(c, k, -ck * inv);
    SetBin(d, k, ak * inv);
  }
  for (std::span<float> w : works) RealFft(w.first(static_cast<std::size_t>(length)), -1);
  if (!report(4)) return false;
  for (std::span<float> w : works) RotateHalf(w, bins);
  return report(5);
}

float FilterPeak(std::span<const float> values) {
  float peak = 0;
  for (float v : values) {
    if (!std::isfinite(v)) return -1;
    peak = std::max(peak, std::fabs(v));
  }
  return peak;
}

int16_t ScaleFilterSample(float value, float gain) {
  double v = static_cast<double>(value) * gain;
  v = v >= 0 ? v + 0.5 : v - 0.5;
  return static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
}
