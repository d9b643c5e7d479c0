// The FFT passes on AVX-512: four complex values per register, in double precision.
// Compiled with -mavx512f on x86-64 only; chosen at run time when the processor has it.
#include "frame/fft_tables.h"

#if defined(__AVX512F__)
#include <immintrin.h>

#include "frame/fft_kernels.h"

namespace {

struct Avx512 {
  static constexpr long W = 4;
  using Reg = __m512d;
  static Reg Load(const float* p) { return _mm512_cvtps_pd(_mm256_loadu_ps(p)); }
  static Reg Load(const double* p) { return _mm512_loadu_pd(p); }
  static void Store(float* p, Reg v) { _mm256_storeu_ps(p, _mm512_cvtpd_ps(v)); }
  static void Store(double* p, Reg v) { _mm512_storeu_pd(p, v); }
  static Reg Add(Reg a, Reg b) { return _mm512_add_pd(a, b); }
  static Reg Sub(Reg a, Reg b) { return _mm512_sub_pd(a, b); }
  static Reg Half(Reg a) { return _mm512_mul_pd(a, _mm512_set1_pd(0.5)); }
  static Reg Xor(Reg a, Reg b) {
    return _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(a), _mm512_castpd_si512(b)));
  }
  static Reg NegateEven() { return _mm512_setr_pd(-0.0, 0.0, -0.0, 0.0, -0.0, 0.0, -0.0, 0.0); }
  static Reg NegateOdd() { return _mm512_setr_pd(0.0, -0.0, 0.0, -0.0, 0.0, -0.0, 0.0, -0.0); }
  static Reg Swap(Reg a) { return _mm512_permute_pd(a, 0x55); }
  template <int Dir>
  static Reg CMul(Reg a, Reg w) {
    const Reg cross = _mm512_mul_pd(Swap(a), _mm512_permute_pd(w, 0xFF));
    return _mm512_add_pd(_mm512_mul_pd(a, _mm512_movedup_pd(w)), Xor(cross, Dir > 0 ? NegateEven() : NegateOdd()));
  }
  template <int Dir>
  static Reg MulJ(Reg a) {
    return Xor(Swap(a), Dir > 0 ? NegateEven() : NegateOdd());
  }
  static Reg Conj(Reg a) { return Xor(a, NegateOdd()); }
  static Reg Reverse(Reg a) { return _mm512_shuffle_f64x2(a, a, _MM_SHUFFLE(0, 1, 2, 3)); }
  // Register j holds block j; afterwards register j holds value j of the four blocks.
  static void Transpose(Reg& x0, Reg& x1, Reg& x2, Reg& x3) {
    const Reg t0 = _mm512_shuffle_f64x2(x0, x1, _MM_SHUFFLE(1, 0, 1, 0));
    const Reg t1 = _mm512_shuffle_f64x2(x0, x1, _MM_SHUFFLE(3, 2, 3, 2));
    const Reg t2 = _mm512_shuffle_f64x2(x2, x3, _MM_SHUFFLE(1, 0, 1, 0));
    const Reg t3 = _mm512_shuffle_f64x2(x2, x3, _MM_SHUFFLE(3, 2, 3, 2));
    x0 = _mm512_shuffle_f64x2(t0, t2, _MM_SHUFFLE(2, 0, 2, 0));
    x1 = _mm512_shuffle_f64x2(t0, t2, _MM_SHUFFLE(3, 1, 3, 1));
    x2 = _mm512_shuffle_f64x2(t1, t3, _MM_SHUFFLE(2, 0, 2, 0));
    x3 = _mm512_shuffle_f64x2(t1, t3, _MM_SHUFFLE(3, 1, 3, 1));
  }
  static void Untranspose(Reg& x0, Reg& x1, Reg& x2, Reg& x3) { Transpose(x0, x1, x2, x3); }
};

void Passes(float* d, const FftTables& t, int sign) { ComplexPassesFor<Avx512>(d, t, sign); }
void UntangleAvx512(float* d, const FftTables& t, int sign) { UntangleFor<Avx512>(d, t, sign); }

const FftIsa kAvx512 = {"avx512", Passes, UntangleAvx512};

}  // namespace

const FftIsa* FftAvx512Isa() {
  static const bool present = __builtin_cpu_supports("avx512f");
  return present ? &kAvx512 : nullptr;
}

#else

const FftIsa* FftAvx512Isa() { return nullptr; }

#endif
