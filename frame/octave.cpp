#include "frame/octave.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

int BandsAnalysed(float fs) {
  const float top = HighestCentre(fs);
  int bands = 0;
  while (bands < kBands && kBandCentres[bands] <= top) ++bands;
  return bands;
}

namespace {

// Coefficients of one section, already multiplied by the factor 2 of the recursion
// (exact in binary floating point). alpha and gamma are float32 values.
struct Section {
  double a, g, b;
};

Section MakeSection(double f0, double q, double fs) {
  const double theta = 2.0 * std::numbers::pi * f0 / fs;
  const double t = std::tan(theta / (2.0 * q));
  const double beta = 0.5 * (1.0 - t) / (1.0 + t);
  const float gamma = static_cast<float>((0.5 + beta) * std::cos(theta));
  const float alpha = static_cast<float>((0.5 - beta) / 2.0);
  return {2.0 * alpha, 2.0 * gamma, 2.0 * beta};
}

// State of one section: the last two inputs and outputs. The outputs are kept in
// double; what the next stage sees is the float32 value stored in the buffer.
struct State {
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  double Step(const Section& s, double x) {
    // The part that does not depend on y[k-1] first, so the recursion's chain is
    // one multiply and one add long.
    const double y = (s.a * (x - x2) - s.b * y2) + s.g * y1;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }
};

}  // namespace

void OctaveSection(std::span<float> x, double f0, double q, double fs) {
  const Section s = MakeSection(f0, q, fs);
  State st;
  for (float& v : x) v = static_cast<float>(st.Step(s, v));
}

void OctaveFilter(std::span<float> x, float fc, double fs) {
  const double c = fc;
  const Section s1 = MakeSection(0.75 * c, 8.0, fs);
  const Section s2 = MakeSection(c, 4.0, fs);
  const Section s3 = MakeSection(1.3 * c, 8.0, fs);
  State a, b, d;
  // Each stage takes the float32 output of the one before, as three separate passes
  // would; the three recursions are independent chains and overlap in the processor.
  for (float& v : x) {
    const float u1 = static_cast<float>(a.Step(s1, v));
    const float u2 = static_cast<float>(b.Step(s2, u1));
    v = static_cast<float>(d.Step(s3, u2));
  }
}

double NoisePower(std::span<const float> x) {
  const std::size_t m = x.size() / 16;
  if (m == 0) return 0.0;
  double sum = 0.0;
  for (std::size_t k = x.size() - m; k < x.size(); ++k) sum += static_cast<double>(x[k]) * x[k];
  return sum / static_cast<double>(m);
}

double BackwardIntegrate(std::span<float> x, long a, double noisePower, double fs) {
  const long n = static_cast<long>(x.size());
  double s = 0.0;
  double moment = 0.0;
  long k = n - 1;
  // From the end down to the first arrival: energy and first moment.
  for (; k >= 0 && k >= a; --k) {
    double g = static_cast<double>(x[k]) * x[k];
    if (noisePower != 0.0) g = g - noisePower > 0.0 ? g - noisePower : 0.0;
    s += g;
    moment += static_cast<double>(k - a + 1) * g;
    x[k] = static_cast<float>(s);
  }
  for (; k >= 0; --k) {
    double g = static_cast<double>(x[k]) * x[k];
    if (noisePower != 0.0) g = g - noisePower > 0.0 ? g - noisePower : 0.0;
    s += g;
    x[k] = static_cast<float>(s);
  }
  return moment / fs;
}

namespace {

// 10 log10(v) for a positive normal float given by its bits, written so that the
// compiler can vectorise it: v = 2^e m with m in [sqrt(1/2), sqrt(2)),
// ln m = 2 atanh(f / (2 + f)) with f = m - 1, summed as an odd series (|s| <= 0.1716,
// error below float32 resolution).
inline float Decibels(std::uint32_t bits) {
  // Shift the mantissa range to [sqrt(1/2), sqrt(2)) by moving the split point.
  bits += 0x3f800000u - 0x3f3504f3u;
  const int e = static_cast<int>(bits >> 23) - 127;
  bits = (bits & 0x007fffffu) + 0x3f3504f3u;
  const float f = std::bit_cast<float>(bits) - 1.0f;
  const float s = f / (2.0f + f);
  const float z = s * s;
  const float series =
      1.0f + z * (1.0f / 3 + z * (1.0f / 5 + z * (1.0f / 7 + z * (1.0f / 9 + z * (1.0f / 11)))));
  const float lnm = 2.0f * s * series;
  // 10 log10(v) = (10 / ln 10) (e ln 2 + ln m), with e ln 2 in two parts.
  constexpr float ln2hi = 6.9313812256e-01f;
  constexpr float ln2lo = 9.0580006145e-06f;
  const float fe = static_cast<float>(e);
  return (fe * ln2hi + (fe * ln2lo + lnm)) * 4.34294481903251828f;
}

constexpr std::int32_t kSmallestNormal = 0x00800000;

// The main loop over energies that are all zero or normal.
void NormalDecibels(float* p, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) {
    const std::int32_t b = std::bit_cast<std::int32_t>(p[k]);
    // Both arms as values (not references) keep the select free of branches.
    const std::int32_t normal = b < kSmallestNormal ? std::int32_t{kSmallestNormal} : b;
    const std::int32_t keep = b > 0 ? -1 : 0;  // zero energy reads 0 dB
    const float l = Decibels(static_cast<std::uint32_t>(normal));
    p[k] = std::bit_cast<float>(std::bit_cast<std::int32_t>(l) & keep);
  }
}

}  // namespace

void ToDecibels(std::span<float> x) {
  float* p = x.data();
  const std::size_t n = x.size();
  // Energies are never negative, so their bit patterns order as integers: 0 is zero,
  // below 0x00800000 subnormal. Integer tests keep the loops free of branches.
  int subnormal = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const std::int32_t b = std::bit_cast<std::int32_t>(p[k]);
    subnormal |= (b > 0) & (b < kSmallestNormal);
  }
  if (subnormal) {
    // Rare (far ends of filtered decays): the library path.
    for (std::size_t k = 0; k < n; ++k) p[k] = p[k] > 0.0f ? 10.0f * std::log10(p[k]) : 0.0f;
    return;
  }
  NormalDecibels(p, n);
}

long FindFirstArrival(std::span<const float> x, float threshold) {
  for (std::size_t k = 0; k < x.size(); ++k) {
    if (std::fabs(x[k]) >= threshold) return static_cast<long>(k);
  }
  return -1;
}

DecayFit FitDecay(std::span<const float> levels, long a, float b, float c, bool noiseCorrected,
                  float fs) {
  const long n = static_cast<long>(levels.size());
  if (a < 0 || a >= n) return {0.0f, 0.0f};
  const double l0 = levels[a];
  const double start = l0 - static_cast<double>(b);
  const double bottom = -(static_cast<double>(b) + static_cast<double>(c));

  // First sample at or after the first arrival that is at least b dB down.
  long s = a;
  if (b > 0.0f) {
    while (s < n && static_cast<double>(levels[s]) > start) ++s;
  }

  // Points (1, y), (2, y), ... while the curve stays within the range.
  double count = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  long k = s;
  for (; k < n; ++k) {
    const double y = static_cast<double>(levels[k]) - l0;
    if (y < bottom) break;
    count += 1.0;
    sx += count;
    sy += y;
    sxx += count * count;
    syy += y * y;
    sxy += count * y;
  }
  const long end = k < n ? k + 1 : n;
  const long points = k - s;

  // A range reaching into the noise-dominated end of the record is not fitted.
  const long limit = noiseCorrected ? n - n / 10 : n - n / 16;
  if (end > limit) return {0.0f, 0.0f, s, points};

  int code = 1;
  double slope = 0.0;
  const double dx = count * sxx - sx * sx;
  if (dx == 0.0) {
    code = 11;
  } else {
    slope = (count * sxy - sx * sy) / dx;
  }
  double time = 0.0;
  if (slope == 0.0) {
    code += 20;
  } else {
    time = (-60.0 / slope) / static_cast<double>(fs);
  }
  double fit = 0.0;
  const double dr = dx * (count * syy - sy * sy);
  if (dr == 0.0) {
    code += 40;
  } else {
    const double cov = count * sxy - sx * sy;
    fit = std::fabs(cov * cov / dr);
  }
  if (fit < 0.85) {
    time = 0.0;
    fit = 0.0;
  }
  if (code != 1) {
    // A degenerate fit shows its cause in the fit-figure column.
    time = 0.0;
    fit = code;
  }
  return {static_cast<float>(time), static_cast<float>(fit), s, points};
}

