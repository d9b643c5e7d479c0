#include "frame/spectrum.h"

#include <algorithm>
#include <cstddef>

namespace {

// The size both spectra share, rounded down to an even count.
std::size_t Common(std::span<float> a, std::span<const float> b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  return n & ~static_cast<std::size_t>(1);
}

// a * (b or its conjugate), pair by pair after the two real terms.
template <bool kConjugate>
void Multiply(std::span<float> spectrum, std::span<const float> other) {
  const std::size_t n = Common(spectrum, other);
  if (n < 2) return;
  spectrum[0] *= other[0];
  spectrum[1] *= other[1];
  for (std::size_t k = 2; k + 1 < n; k += 2) {
    const double re = spectrum[k], im = spectrum[k + 1];
    const double rr = other[k], ri = kConjugate ? -static_cast<double>(other[k + 1]) : other[k + 1];
    spectrum[k] = static_cast<float>(re * rr - im * ri);
    spectrum[k + 1] = static_cast<float>(re * ri + im * rr);
  }
}

}  // namespace

void MultiplyPackedSpectra(std::span<float> spectrum, std::span<const float> other) {
  Multiply<false>(spectrum, other);
}

void MultiplyPackedSpectraConjugate(std::span<float> spectrum, std::span<const float> other) {
  Multiply<true>(spectrum, other);
}

bool PackedPowerSpectrum(std::span<const float> spectrum, std::span<float> power) {
  const std::size_t n = spectrum.size();
  if (n < 2 || n % 2 != 0 || power.size() < n / 2 + 1) return false;
  const double dc = spectrum[0], nyquist = spectrum[1];
  power[0] = static_cast<float>(dc * dc);
  power[n / 2] = static_cast<float>(nyquist * nyquist);
  for (std::size_t k = 1; k < n / 2; ++k) {
    const double re = spectrum[2 * k], im = spectrum[2 * k + 1];
    power[k] = static_cast<float>(re * re + im * im);
  }
  return true;
}

void ScaleSpectrum(std::span<float> spectrum, float factor) {
  for (float& v : spectrum) v *= factor;
}

void MixPackedSpectra(std::span<float> left, std::span<float> right, std::span<const float> a,
                      std::span<const float> b, std::span<const float> c, std::span<const float> d) {
  std::size_t n = Common(left, right);
  for (std::span<const float> h : {a, b, c, d}) n = std::min(n, h.size() & ~static_cast<std::size_t>(1));
  if (n < 2) return;
  for (std::size_t k = 0; k < 2; ++k) {
    const float l = left[k], r = right[k];
    left[k] = l * a[k] + r * b[k];
    right[k] = l * c[k] + r * d[k];
  }
  for (std::size_t k = 2; k + 1 < n; k += 2) {
    const double lr = left[k], li = left[k + 1], rr = right[k], ri = right[k + 1];
    left[k] = static_cast<float>(lr * a[k] - li * a[k + 1] + rr * b[k] - ri * b[k + 1]);
    left[k + 1] = static_cast<float>(lr * a[k + 1] + li * a[k] + rr * b[k + 1] + ri * b[k]);
    right[k] = static_cast<float>(lr * c[k] - li * c[k + 1] + rr * d[k] - ri * d[k + 1]);
    right[k + 1] = static_cast<float>(lr * c[k + 1] + li * c[k] + rr * d[k + 1] + ri * d[k]);
  }
}
