// The FFT passes on AVX2: two complex values per register, in double precision. Compiled
// with -mavx2 on x86-64 only; chosen at run time when the processor has it.
#include "frame/fft_tables.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include "frame/fft_kernels.h"

namespace {

struct Avx2 {
  static constexpr long W = 2;
  using Reg = __m256d;
  static Reg Load(const float* p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
  static Reg Load(const double* p) { return _mm256_loadu_pd(p); }
  static void Store(float* p, Reg v) { _mm_storeu_ps(p, _mm256_cvtpd_ps(v)); }
  static void Store(double* p, Reg v) { _mm256_storeu_pd(p, v); }
  static Reg Add(Reg a, Reg b) { return _mm256_add_pd(a, b); }
  static Reg Sub(Reg a, Reg b) { return _mm256_sub_pd(a, b); }
  static Reg Half(Reg a) { return _mm256_mul_pd(a, _mm256_set1_pd(0.5)); }
  static Reg NegateEven() { return _mm256_setr_pd(-0.0, 0.0, -0.0, 0.0); }
  static Reg NegateOdd() { return _mm256_setr_pd(0.0, -0.0, 0.0, -0.0); }
  static Reg Swap(Reg a) { return _mm256_permute_pd(a, 0x5); }
  template <int Dir>
  static Reg CMul(Reg a, Reg w) {
    const Reg cross = _mm256_mul_pd(Swap(a), _mm256_permute_pd(w, 0xF));
    return _mm256_add_pd(_mm256_mul_pd(a, _mm256_movedup_pd(w)), _mm256_xor_pd(cross, Dir > 0 ? NegateEven() : NegateOdd()));
  }
  template <int Dir>
  static Reg MulJ(Reg a) {
    return _mm256_xor_pd(Swap(a), Dir > 0 ? NegateEven() : NegateOdd());
  }
  static Reg Conj(Reg a) { return _mm256_xor_pd(a, NegateOdd()); }
  static Reg Reverse(Reg a) { return _mm256_permute2f128_pd(a, a, 0x01); }
  // x0, x1 hold the 4 values of one block, x2, x3 those of the next; afterwards xj holds
  // value j of both blocks. Untranspose undoes it.
  static void Transpose(Reg& x0, Reg& x1, Reg& x2, Reg& x3) {
    const Reg a = x0, b = x1;
    x0 = _mm256_permute2f128_pd(a, x2, 0x20);
    x1 = _mm256_permute2f128_pd(a, x2, 0x31);
    x2 = _mm256_permute2f128_pd(b, x3, 0x20);
    x3 = _mm256_permute2f128_pd(b, x3, 0x31);
  }
  static void Untranspose(Reg& x0, Reg& x1, Reg& x2, Reg& x3) {
    const Reg a = x0, b = x1, c = x2, e = x3;
    x0 = _mm256_permute2f128_pd(a, b, 0x20);
    x1 = _mm256_permute2f128_pd(c, e, 0x20);
    x2 = _mm256_permute2f128_pd(a, b, 0x31);
    x3 = _mm256_permute2f128_pd(c, e, 0x31);
  }
};

void Passes(float* d, const FftTables& t, int sign) { ComplexPassesFor<Avx2>(d, t, sign); }
void UntangleAvx2(float* d, const FftTables& t, int sign) { UntangleFor<Avx2>(d, t, sign); }

const FftIsa kAvx2 = {"avx2", Passes, UntangleAvx2};

}  // namespace

const FftIsa* FftAvx2Isa() {
  static const bool present = __builtin_cpu_supports("avx2");
  return present ? &kAvx2 : nullptr;
}

#else

const FftIsa* FftAvx2Isa() { return nullptr; }

#endif
