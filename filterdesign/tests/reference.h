// Reference computations in double precision that the filter-design tests share.
#pragma once

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace filterdesign_testing {

// A decaying response with some sign changes: an invertible but coloured system.
inline std::vector<double> Response(long n, double decay, unsigned seed) {
  std::vector<double> h(static_cast<std::size_t>(n));
  unsigned s = seed;
  for (long i = 0; i < n; ++i) {
    s = s * 1103515245u + 12345u;
    h[static_cast<std::size_t>(i)] = (i == 0 ? 1.0 : (static_cast<int>((s >> 8) % 2001) - 1000) / 1000.0) * std::pow(decay, i);
  }
  return h;
}

inline std::vector<double> Convolve(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> out(a.size() + b.size() - 1, 0.0);
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < b.size(); ++j) out[i + j] += a[i] * b[j];
  return out;
}

// Plain Gaussian elimination of the dense system R x = y in double precision.
inline std::vector<double> SolveDense(const std::vector<double>& r, const std::vector<double>& y) {
  const std::size_t L = y.size();
  std::vector<std::vector<double>> m(L, std::vector<double>(L + 1));
  for (std::size_t i = 0; i < L; ++i) {
    for (std::size_t j = 0; j < L; ++j) m[i][j] = r[i > j ? i - j : j - i];
    m[i][L] = y[i];
  }
  for (std::size_t c = 0; c < L; ++c)
    for (std::size_t i = c + 1; i < L; ++i) {
      const double f = m[i][c] / m[c][c];
      for (std::size_t j = c; j <= L; ++j) m[i][j] -= f * m[c][j];
    }
  std::vector<double> x(L);
  for (std::size_t i = L; i-- > 0;) {
    double s = m[i][L];
    for (std::size_t j = i + 1; j < L; ++j) s -= m[i][j] * x[j];
    x[i] = s / m[i][i];
  }
  return x;
}

// ||h * x - delayed impulse||².
inline double ErrorEnergy(const std::vector<double>& h, const std::vector<double>& x, long delay) {
  double e = 0;
  const std::vector<double> c = Convolve(h, x);
  for (std::size_t i = 0; i < c.size(); ++i) {
    const double d = c[i] - (static_cast<long>(i) == delay ? 1.0 : 0.0);
    e += d * d;
  }
  return e;
}

// The exact normal equations of the least-squares inverse of h: length L, delay D.
inline std::vector<double> LeastSquaresInverse(const std::vector<double>& h, long L, long delay) {
  const long n = static_cast<long>(h.size());
  std::vector<double> r(static_cast<std::size_t>(L), 0.0), y(static_cast<std::size_t>(L), 0.0);
  for (long m = 0; m < L && m < n; ++m)
    for (long j = 0; j + m < n; ++j) r[static_cast<std::size_t>(m)] += h[static_cast<std::size_t>(j)] * h[static_cast<std::size_t>(j + m)];
  for (long i = 0; i < L; ++i)
    if (delay - i >= 0 && delay - i < n) y[static_cast<std::size_t>(i)] = h[static_cast<std::size_t>(delay - i)];
  return SolveDense(r, y);
}

// The discrete-time Fourier transform of v at bin k of an L-point grid.
inline std::complex<double> Dtft(const std::vector<double>& v, long k, long L) {
  std::complex<double> s = 0;
  for (std::size_t i = 0; i < v.size(); ++i)
    s += v[i] * std::polar(1.0, -2 * std::numbers::pi * static_cast<double>(k) * static_cast<double>(i) / L);
  return s;
}

}  // namespace filterdesign_testing
