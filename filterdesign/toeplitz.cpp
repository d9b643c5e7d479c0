#include "filterdesign/toeplitz.h"

#if defined(__x86_64__) && !defined(_WIN32) && (defined(__GNUC__) || defined(__clang__))
#  define TOVREL_TOEPLITZ_AVX2 1
// GCC 12 takes the deliberately undefined lanes of its AVX-512 intrinsics for
// uninitialised variables.
#  pragma GCC diagnostic ignored "-Wuninitialized"
#  pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#  include <immintrin.h>
#endif

namespace {

constexpr long kRowsPerReport = 100;

struct Sums {
  double sd = 0, sxn = 0, sgn = 0;
};

// The pairs (p, q = m - 1 - p) from p = first on, and the middle element when m is odd:
// x[p] -= a g[q], x[q] -= a g[p], g[p] -= b g[q], g[q] -= b g[p] (old values on the
// right), then the next step's products of the new values added to s.
void PairsScalar(float* x, float* g, const float* r, long m, float a, float b, long first, Sums& s) {
  long p = first;
  for (; p < m - 1 - p; ++p) {
    const long q = m - 1 - p;
    const double gp = g[p], gq = g[q], xp = x[p], xq = x[q];
    const float gpn = static_cast<float>(gp - b * gq), gqn = static_cast<float>(gq - b * gp);
    const float xpn = static_cast<float>(xp - a * gq), xqn = static_cast<float>(xq - a * gp);
    g[p] = gpn;
    g[q] = gqn;
    x[p] = xpn;
    x[q] = xqn;
    s.sd += static_cast<double>(r[p + 1]) * gpn + static_cast<double>(r[q + 1]) * gqn;
    s.sxn += static_cast<double>(r[q + 2]) * xpn + static_cast<double>(r[p + 2]) * xqn;
    s.sgn += static_cast<double>(r[q + 2]) * gpn + static_cast<double>(r[p + 2]) * gqn;
  }
  if (p == m - 1 - p) {
    const double gp = g[p];
    const float gpn = static_cast<float>(gp - b * gp), xpn = static_cast<float>(x[p] - a * gp);
    g[p] = gpn;
    x[p] = xpn;
    s.sd += static_cast<double>(r[p + 1]) * gpn;
    s.sxn += static_cast<double>(r[p + 2]) * xpn;
    s.sgn += static_cast<double>(r[p + 2]) * gpn;
  }
}

#ifdef TOVREL_TOEPLITZ_AVX2
#  define TOVREL_AVX2 __attribute__((target("avx2,fma")))

TOVREL_AVX2 inline __m256 Reverse(__m256 v) {
  return _mm256_permutevar8x32_ps(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
}
// acc += u v over eight lanes, in double precision (four lanes in each accumulator).
TOVREL_AVX2 inline void Dot(__m256d& lo, __m256d& hi, __m256 u, __m256 v) {
  lo = _mm256_fmadd_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(u)), _mm256_cvtps_pd(_mm256_castps256_ps128(v)), lo);
  hi = _mm256_fmadd_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(u, 1)), _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)), hi);
}
TOVREL_AVX2 inline double Total(__m256d lo, __m256d hi) {
  const __m256d v = _mm256_add_pd(lo, hi);
  const __m128d h = _mm_add_pd(_mm256_castpd256_pd128(v), _mm256_extractf128_pd(v, 1));
  return _mm_cvtsd_f64(_mm_add_sd(h, _mm_unpackhi_pd(h, h)));
}

// Eight pairs at a time: the low block p ... p + 7 and the high block m - 8 - p ...
// m - 1 - p (reversed, so that lane i of both holds a pair) while they do not overlap;
// the scalar pass does the rest.
TOVREL_AVX2 void PairsAvx2(float* x, float* g, const float* r, long m, float a, float b, Sums& s) {
  const __m256 va = _mm256_set1_ps(a), vb = _mm256_set1_ps(b);
  __m256d sd0 = _mm256_setzero_pd(), sd1 = sd0, sx0 = sd0, sx1 = sd0, sg0 = sd0, sg1 = sd0;
  long p = 0;
  for (; 2 * p + 16 <= m; p += 8) {
    const long h = m - 8 - p;
    const __m256 gl = _mm256_loadu_ps(g + p), xl = _mm256_loadu_ps(x + p);
    const __m256 gh = Reverse(_mm256_loadu_ps(g + h)), xh = Reverse(_mm256_loadu_ps(x + h));
    const __m256 gln = _mm256_fnmadd_ps(vb, gh, gl), ghn = _mm256_fnmadd_ps(vb, gl, gh);
    const __m256 xln = _mm256_fnmadd_ps(va, gh, xl), xhn = _mm256_fnmadd_ps(va, gl, xh);
    const __m256 ghNatural = Reverse(ghn), xhNatural = Reverse(xhn);
    _mm256_storeu_ps(g + p, gln);
    _mm256_storeu_ps(x + p, xln);
    _mm256_storeu_ps(g + h, ghNatural);
    _mm256_storeu_ps(x + h, xhNatural);
    // r[p + 1], r[q + 1] (high block in natural order), r[q + 2] (lane order) and
    // r[p + 2] (reversed, to meet the high block in natural order).
    const __m256 r1l = _mm256_loadu_ps(r + p + 1), r1h = _mm256_loadu_ps(r + h + 1);
    const __m256 r2h = Reverse(_mm256_loadu_ps(r + h + 2)), r2l = Reverse(_mm256_loadu_ps(r + p + 2));
    Dot(sd0, sd1, r1l, gln);
    Dot(sd0, sd1, r1h, ghNatural);
    Dot(sx0, sx1, r2h, xln);
    Dot(sx0, sx1, r2l, xhNatural);
    Dot(sg0, sg1, r2h, gln);
    Dot(sg0, sg1, r2l, ghNatural);
  }
  s.sd += Total(sd0, sd1);
  s.sxn += Total(sx0, sx1);
  s.sgn += Total(sg0, sg1);
  PairsScalar(x, g, r, m, a, b, p, s);
}

#  define TOVREL_AVX512 __attribute__((target("avx512f")))

TOVREL_AVX512 inline __m512 Reverse16(__m512 v) {
  return _mm512_permutexvar_ps(_mm512_setr_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0), v);
}
TOVREL_AVX512 inline __m256 High8(__m512 v) {
  return _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1));
}
TOVREL_AVX512 inline void Dot16(__m512d& lo, __m512d& hi, __m512 u, __m512 v) {
  lo = _mm512_fmadd_pd(_mm512_cvtps_pd(_mm512_castps512_ps256(u)), _mm512_cvtps_pd(_mm512_castps512_ps256(v)), lo);
  hi = _mm512_fmadd_pd(_mm512_cvtps_pd(High8(u)), _mm512_cvtps_pd(High8(v)), hi);
}

// The same pass sixteen pairs at a time.
TOVREL_AVX512 void PairsAvx512(float* x, float* g, const float* r, long m, float a, float b, Sums& s) {
  const __m512 va = _mm512_set1_ps(a), vb = _mm512_set1_ps(b);
  __m512d sd0 = _mm512_setzero_pd(), sd1 = sd0, sx0 = sd0, sx1 = sd0, sg0 = sd0, sg1 = sd0;
  long p = 0;
  for (; 2 * p + 32 <= m; p += 16) {
    const long h = m - 16 - p;
    const __m512 gl = _mm512_loadu_ps(g + p), xl = _mm512_loadu_ps(x + p);
    const __m512 gh = Reverse16(_mm512_loadu_ps(g + h)), xh = Reverse16(_mm512_loadu_ps(x + h));
    const __m512 gln = _mm512_fnmadd_ps(vb, gh, gl), ghn = _mm512_fnmadd_ps(vb, gl, gh);
    const __m512 xln = _mm512_fnmadd_ps(va, gh, xl), xhn = _mm512_fnmadd_ps(va, gl, xh);
    const __m512 ghNatural = Reverse16(ghn), xhNatural = Reverse16(xhn);
    _mm512_storeu_ps(g + p, gln);
    _mm512_storeu_ps(x + p, xln);
    _mm512_storeu_ps(g + h, ghNatural);
    _mm512_storeu_ps(x + h, xhNatural);
    const __m512 r1l = _mm512_loadu_ps(r + p + 1), r1h = _mm512_loadu_ps(r + h + 1);
    const __m512 r2h = Reverse16(_mm512_loadu_ps(r + h + 2)), r2l = Reverse16(_mm512_loadu_ps(r + p + 2));
    Dot16(sd0, sd1, r1l, gln);
    Dot16(sd0, sd1, r1h, ghNatural);
    Dot16(sx0, sx1, r2h, xln);
    Dot16(sx0, sx1, r2l, xhNatural);
    Dot16(sg0, sg1, r2h, gln);
    Dot16(sg0, sg1, r2l, ghNatural);
  }
  s.sd += _mm512_reduce_add_pd(_mm512_add_pd(sd0, sd1));
  s.sxn += _mm512_reduce_add_pd(_mm512_add_pd(sx0, sx1));
  s.sgn += _mm512_reduce_add_pd(_mm512_add_pd(sg0, sg1));
  PairsScalar(x, g, r, m, a, b, p, s);
}

enum class VectorUnits { None, Avx2, Avx512 };
VectorUnits Units() {
  static const VectorUnits units = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return VectorUnits::Avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return VectorUnits::Avx2;
    return VectorUnits::None;
  }();
  return units;
}
#endif

}  // namespace

QuadraticProgress QuadraticSteps(int64_t rows, int64_t total) {
  uint64_t done = static_cast<uint64_t>(rows) * static_cast<uint64_t>(rows);
  uint64_t all = static_cast<uint64_t>(total) * static_cast<uint64_t>(total);
  while (all > 0x7FFFFFFFu) {
    done >>= 1;
    all >>= 1;
  }
  return {static_cast<long>(done), static_cast<long>(all)};
}

ToeplitzResult ToeplitzSolve(std::span<const float> rs, std::span<const float> ys, std::span<float> xs,
                             std::span<float> gs, const ProgressFn& progress, bool vectorised) {
  const long L = static_cast<long>(xs.size());
  if (L <= 0) return ToeplitzResult::Solved;
  const float* r = rs.data();
  const float* y = ys.data();
  float* x = xs.data();
  float* g = gs.data();
  if (r[0] == 0) return ToeplitzResult::Singular;
  x[0] = static_cast<float>(static_cast<double>(y[0]) / r[0]);
  if (L == 1) return ToeplitzResult::Solved;
  g[0] = static_cast<float>(static_cast<double>(r[1]) / r[0]);
  Sums s;
  s.sd = -static_cast<double>(r[0]) + static_cast<double>(r[1]) * g[0];
  s.sxn = -static_cast<double>(y[1]) + static_cast<double>(r[1]) * x[0];
  s.sgn = L > 2 ? -static_cast<double>(r[2]) + static_cast<double>(r[1]) * g[0] : 0;
#ifdef TOVREL_TOEPLITZ_AVX2
  const VectorUnits units = vectorised ? Units() : VectorUnits::None;
#endif
  for (long m = 1; m < L; ++m) {
    if (s.sd == 0) return ToeplitzResult::Singular;
    const float a = static_cast<float>(s.sxn / s.sd);
    x[m] = a;
    if (m + 1 == L) {
      for (long p = 0; p < m; ++p) x[p] = static_cast<float>(x[p] - static_cast<double>(a) * g[m - 1 - p]);
      return ToeplitzResult::Solved;
    }
    const float b = static_cast<float>(s.sgn / s.sd);
    g[m] = b;
    Sums next;
#ifdef TOVREL_TOEPLITZ_AVX2
    if (units == VectorUnits::Avx512) PairsAvx512(x, g, r, m, a, b, next);
    else if (units == VectorUnits::Avx2) PairsAvx2(x, g, r, m, a, b, next);
    else PairsScalar(x, g, r, m, a, b, 0, next);
#else
    PairsScalar(x, g, r, m, a, b, 0, next);
#endif
    // Row m's own terms and the constants of step m + 1.
    s.sd = next.sd + static_cast<double>(r[m + 1]) * b - r[0];
    s.sxn = next.sxn + static_cast<double>(r[1]) * a - y[m + 1];
    s.sgn = m + 2 < L ? next.sgn + static_cast<double>(r[1]) * b - r[m + 2] : 0;
    if ((m + 1) % kRowsPerReport == 0 && progress) {
      const QuadraticProgress q = QuadraticSteps(m + 1, L);
      if (!progress(q.done, q.total)) return ToeplitzResult::Cancelled;
    }
  }
  return ToeplitzResult::Solved;
}
