// The FFT passes on SSE2: one complex value per register, in double precision. The
// baseline of x86-64 and of the win32 target.
#include "frame/fft_tables.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "frame/fft_kernels.h"

namespace {

struct Sse2 {
  static constexpr long W = 1;
  using Reg = __m128d;
  static Reg Load(const float* p) {
    return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
  }
  static Reg Load(const double* p) { return _mm_loadu_pd(p); }
  static void Store(float* p, Reg v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_cvtpd_ps(v)));
  }
  static void Store(double* p, Reg v) { _mm_storeu_pd(p, v); }
  static Reg Add(Reg a, Reg b) { return _mm_add_pd(a, b); }
  static Reg Sub(Reg a, Reg b) { return _mm_sub_pd(a, b); }
  static Reg Half(Reg a) { return _mm_mul_pd(a, _mm_set1_pd(0.5)); }
  static Reg NegateEven() { return _mm_setr_pd(-0.0, 0.0); }
  static Reg NegateOdd() { return _mm_setr_pd(0.0, -0.0); }
  static Reg Swap(Reg a) { return _mm_shuffle_pd(a, a, 1); }
  template <int Dir>
  static Reg CMul(Reg a, Reg w) {
    const Reg cross = _mm_mul_pd(Swap(a), _mm_unpackhi_pd(w, w));
    return _mm_add_pd(_mm_mul_pd(a, _mm_unpacklo_pd(w, w)), _mm_xor_pd(cross, Dir > 0 ? NegateEven() : NegateOdd()));
  }
  template <int Dir>
  static Reg MulJ(Reg a) {
    return _mm_xor_pd(Swap(a), Dir > 0 ? NegateEven() : NegateOdd());
  }
  static Reg Conj(Reg a) { return _mm_xor_pd(a, NegateOdd()); }
  static Reg Reverse(Reg a) { return a; }
  // One value per register: the registers already hold one butterfly input each.
  static void Transpose(Reg&, Reg&, Reg&, Reg&) {}
  static void Untranspose(Reg&, Reg&, Reg&, Reg&) {}
};

void Passes(float* d, const FftTables& t, int sign) { ComplexPassesFor<Sse2>(d, t, sign); }
void UntangleSse2(float* d, const FftTables& t, int sign) { UntangleFor<Sse2>(d, t, sign); }

const FftIsa kSse2 = {"sse2", Passes, UntangleSse2};

}  // namespace

const FftIsa* FftSse2Isa() { return &kSse2; }

#else

const FftIsa* FftSse2Isa() { return nullptr; }

#endif
