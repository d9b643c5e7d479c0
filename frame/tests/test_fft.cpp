#include "frame/fft.h"

#include "frame/fft_tables.h"

#include <fftw3.h>
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

namespace {

using Complex = std::complex<double>;

std::vector<float> RandomSignal(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  std::vector<float> signal(size);
  for (float& v : signal) v = uniform(generator);
  return signal;
}

// Reference transforms in double precision. FFTW_BACKWARD is the positive exponent.
std::vector<Complex> ReferenceComplex(const std::vector<float>& interleaved, int fftwSign) {
  const int nn = static_cast<int>(interleaved.size() / 2);
  fftw_complex* in = fftw_alloc_complex(nn);
  fftw_complex* out = fftw_alloc_complex(nn);
  fftw_plan plan = fftw_plan_dft_1d(nn, in, out, fftwSign, FFTW_ESTIMATE);
  for (int k = 0; k < nn; ++k) {
    in[k][0] = interleaved[2 * k];
    in[k][1] = interleaved[2 * k + 1];
  }
  fftw_execute(plan);
  std::vector<Complex> result(nn);
  for (int k = 0; k < nn; ++k) result[k] = Complex(out[k][0], out[k][1]);
  fftw_destroy_plan(plan);
  fftw_free(in);
  fftw_free(out);
  return result;
}

// X[0 ... n/2] of a real signal with the positive exponent: the conjugate of FFTW's r2c.
std::vector<Complex> ReferenceReal(const std::vector<float>& signal) {
  const int n = static_cast<int>(signal.size());
  double* in = fftw_alloc_real(n);
  fftw_complex* out = fftw_alloc_complex(n / 2 + 1);
  fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
  for (int j = 0; j < n; ++j) in[j] = signal[j];
  fftw_execute(plan);
  std::vector<Complex> result(n / 2 + 1);
  for (int k = 0; k <= n / 2; ++k) result[k] = Complex(out[k][0], -out[k][1]);
  fftw_destroy_plan(plan);
  fftw_free(in);
  fftw_free(out);
  return result;
}

// Unpacks the half spectrum of a forward RealFft into X[0 ... n/2].
std::vector<Complex> Unpack(const std::vector<float>& packed) {
  const std::size_t n = packed.size();
  std::vector<Complex> spectrum(n / 2 + 1);
  spectrum[0] = packed[0];
  spectrum[n / 2] = packed[1];
  for (std::size_t k = 1; k < n / 2; ++k) spectrum[k] = Complex(packed[2 * k], packed[2 * k + 1]);
  return spectrum;
}

std::vector<Complex> Pairs(const std::vector<float>& interleaved) {
  std::vector<Complex> values(interleaved.size() / 2);
  for (std::size_t k = 0; k < values.size(); ++k) values[k] = Complex(interleaved[2 * k], interleaved[2 * k + 1]);
  return values;
}

// ||a - b|| / ||b||.
double RelativeError(const std::vector<Complex>& a, const std::vector<Complex>& b) {
  double difference = 0, norm = 0;
  for (std::size_t k = 0; k < b.size(); ++k) {
    difference += std::norm(a[k] - b[k]);
    norm += std::norm(b[k]);
  }
  return std::sqrt(difference / norm);
}

// Float32 storage through log2(n) stages: the error grows with the number of stages.
double Tolerance(long n) { return 5e-8 * (std::log2(static_cast<double>(n)) + 1); }

// The butterflies exactly in the textbook order, offsets outside and blocks inside, to check
// that the grouped order of the kernel gives the same bits.
void TextbookComplexFft(std::vector<float>& d, short sign) {
  const long L = static_cast<long>(d.size());
  const long nn = L / 2;
  long j = 0;
  for (long i = 0; i < L; i += 2) {
    if (j > i) {
      std::swap(d[i], d[j]);
      std::swap(d[i + 1], d[j + 1]);
    }
    long m = nn;
    while (m >= 2 && j >= m) {
      j -= m;
      m >>= 1;
    }
    j += m;
  }
  for (long M = 2; M < L; M *= 2) {
    const double theta = sign * (6.28318530717959 / M);
    const double s = std::sin(0.5 * theta);
    const double wpr = -2.0 * s * s, wpi = std::sin(theta);
    double wr = 1.0, wi = 0.0;
    for (long m = 0; m < M; m += 2) {
      for (long i = m; i < L; i += 2 * M) {
        const long k = i + M;
        const double tr = wr * d[k] - wi * d[k + 1];
        const double ti = wr * d[k + 1] + wi * d[k];
        const double pr = d[i], pi = d[i + 1];
        d[k] = static_cast<float>(pr - tr);
        d[k + 1] = static_cast<float>(pi - ti);
        d[i] = static_cast<float>(pr + tr);
        d[i + 1] = static_cast<float>(pi + ti);
      }
      const double old = wr;
      wr = wr * wpr - wi * wpi + wr;
      wi = wi * wpr + old * wpi + wi;
    }
  }
}

TEST(RealFft, ImpulseAtZeroGivesFlatSpectrum) {
  for (long n : {2L, 4L, 8L, 64L, 256L, 4096L}) {
    std::vector<float> d(n, 0.0f);
    d[0] = 1.0f;
    ASSERT_TRUE(RealFft(d.data(), n, 1));
    // X[0], X[n/2] and every Re X[k] are 1; every Im X[k] is 0.
    for (long k = 0; k < n; ++k) EXPECT_EQ(d[k], (k == 1 || k % 2 == 0) ? 1.0f : 0.0f) << n << " " << k;
  }
}

TEST(RealFft, ImpulseAtOneUsesPositiveExponent) {
  const long n = 8;
  std::vector<float> d(n, 0.0f);
  d[1] = 1.0f;
  ASSERT_TRUE(RealFft(d.data(), n, 1));
  EXPECT_NEAR(d[0], 1.0, 1e-7);   // X[0]
  EXPECT_NEAR(d[1], -1.0, 1e-7);  // X[n/2]
  EXPECT_NEAR(d[4], 0.0, 1e-7);   // X[2] = (0, +1)
  EXPECT_NEAR(d[5], 1.0, 1e-7);
  for (long k = 1; k < n / 2; ++k) {
    const double angle = 2 * std::numbers::pi * k / n;
    EXPECT_NEAR(d[2 * k], std::cos(angle), 1e-6) << k;
    EXPECT_NEAR(d[2 * k + 1], std::sin(angle), 1e-6) << k;
  }
}

TEST(RealFft, SmallestSizesOnlyPack) {
  // n = 2: X[0] = a + b, X[1] = a - b. n = 4 runs no untangling step, only the packing.
  std::vector<float> two = {3.0f, 5.0f};
  ASSERT_TRUE(RealFft(two.data(), 2, 1));
  EXPECT_EQ(two, (std::vector<float>{8.0f, -2.0f}));
  ASSERT_TRUE(RealFft(two.data(), 2, -1));
  EXPECT_EQ(two, (std::vector<float>{3.0f, 5.0f}));  // n/2 = 1 times the input

  std::vector<float> four = {1.0f, 2.0f, 3.0f, 4.0f};
  ASSERT_TRUE(RealFft(four.data(), 4, 1));
  // X[0] = 10, X[2] = -2, X[1] = 1 + 2i + 3i^2 + 4i^3 = -2 - 2i.
  EXPECT_NEAR(four[0], 10.0, 1e-6);
  EXPECT_NEAR(four[1], -2.0, 1e-6);
  EXPECT_NEAR(four[2], -2.0, 1e-6);
  EXPECT_NEAR(four[3], -2.0, 1e-6);
}

TEST(ComplexFft, SingleValueIsUnchanged) {
  float d[2] = {1.5f, -2.25f};
  ASSERT_TRUE(ComplexFft(d, 1, 1));
  EXPECT_EQ(d[0], 1.5f);
  EXPECT_EQ(d[1], -2.25f);
  ASSERT_TRUE(ComplexFft(d, 1, -1));
  EXPECT_EQ(d[0], 1.5f);
  EXPECT_EQ(d[1], -2.25f);
}

TEST(Fft, InvalidArgumentsLeaveBufferUntouched) {
  const std::vector<float> original = RandomSignal(16, 1);
  std::vector<float> d = original;
  EXPECT_FALSE(ComplexFft(d.data(), 0, 1));
  EXPECT_FALSE(ComplexFft(d.data(), -4, 1));
  EXPECT_FALSE(ComplexFft(d.data(), 3, 1));
  EXPECT_FALSE(ComplexFft(d.data(), 6, -1));
  EXPECT_FALSE(ComplexFft(d.data(), 8, 0));
  EXPECT_FALSE(ComplexFft(d.data(), 8, 2));
  EXPECT_FALSE(ComplexFft(nullptr, 8, 1));
  EXPECT_FALSE(RealFft(d.data(), 1, 1));
  EXPECT_FALSE(RealFft(d.data(), 0, 1));
  EXPECT_FALSE(RealFft(d.data(), 12, 1));
  EXPECT_FALSE(RealFft(d.data(), 16, -2));
  EXPECT_FALSE(RealFft(nullptr, 16, 1));
  EXPECT_FALSE(ComplexFft(std::span<float>(d.data(), 15), 1));
  EXPECT_FALSE(ComplexFft(std::span<float>(), 1));
  EXPECT_FALSE(RealFft(std::span<float>(d.data(), 6), 1));
  EXPECT_EQ(d, original);
}

TEST(Fft, SpanOverloadsMatchPointerForms) {
  std::vector<float> a = RandomSignal(64, 2), b = a;
  ASSERT_TRUE(ComplexFft(std::span<float>(a), -1));
  ASSERT_TRUE(ComplexFft(b.data(), 32, -1));
  EXPECT_EQ(a, b);
  ASSERT_TRUE(RealFft(std::span<float>(a), 1));
  ASSERT_TRUE(RealFft(b.data(), 64, 1));
  EXPECT_EQ(a, b);
}

// The real transform of the textbook algorithm, on TextbookComplexFft.
void TextbookRealFft(std::vector<float>& d, short sign) {
  const long n = static_cast<long>(d.size());
  double theta = 3.141592653589793 / static_cast<double>(n / 2);
  double c2 = 0.5;
  if (sign == 1) {
    c2 = -0.5;
    TextbookComplexFft(d, 1);
  } else {
    theta = -theta;
  }
  const double s = std::sin(0.5 * theta);
  const double wpr = -2.0 * s * s, wpi = std::sin(theta);
  double wr = 1.0 + wpr, wi = wpi;
  for (long k = 1; k < n / 4; ++k) {
    const long a = 2 * k, b = a + 1, c = n - 2 * k, e = c + 1;
    const double h1r = 0.5 * (static_cast<double>(d[a]) + d[c]), h1i = 0.5 * (static_cast<double>(d[b]) - d[e]);
    const double h2r = -c2 * (static_cast<double>(d[b]) + d[e]), h2i = c2 * (static_cast<double>(d[a]) - d[c]);
    d[a] = static_cast<float>(h1r + wr * h2r - wi * h2i);
    d[b] = static_cast<float>(h1i + wr * h2i + wi * h2r);
    d[c] = static_cast<float>(h1r - wr * h2r + wi * h2i);
    d[e] = static_cast<float>(-h1i + wr * h2i + wi * h2r);
    const double old = wr;
    wr = wr * wpr - wi * wpi + wr;
    wi = wi * wpr + old * wpi + wi;
  }
  const double h = d[0];
  if (sign == 1) {
    d[0] = static_cast<float>(h + d[1]);
    d[1] = static_cast<float>(h - d[1]);
  } else {
    d[0] = static_cast<float>(0.5 * (h + d[1]));
    d[1] = static_cast<float>(0.5 * (h - d[1]));
    TextbookComplexFft(d, -1);
  }
}

// Runs body once with each instruction set the processor offers, then restores the
// automatic choice.
template <class Body>
void ForEachInstructionSet(Body body) {
  for (const char* name : {"sse2", "avx2", "avx512"}) {
    if (!SelectFftInstructionSet(name)) continue;
    body(name);
  }
  SelectFftInstructionSet("");
}

// The planned transforms against the textbook algorithm, both measured against FFTW in
// double precision: forward and inverse, complex and real, every size up to 2^22 floats.
TEST(Fft, NoLessAccurateThanTheTextbookAlgorithm) {
  for (long n = 2; n <= (1L << 22); n *= 2) {
    const std::vector<float> input = RandomSignal(n, static_cast<unsigned>(n) + 11);
    std::vector<Complex> exact[2];
    double textbookError[2];
    for (int s = 0; s < 2; ++s) {
      std::vector<float> textbook = input;
      TextbookComplexFft(textbook, s == 0 ? 1 : -1);
      exact[s] = ReferenceComplex(input, s == 0 ? FFTW_BACKWARD : FFTW_FORWARD);
      textbookError[s] = RelativeError(Pairs(textbook), exact[s]);
    }
    // Real: forward from the samples, inverse from the exact spectrum rounded to float
    // back to n/2 times the samples.
    const std::vector<Complex> spectrum = ReferenceReal(input);
    std::vector<float> packed(n);
    packed[0] = static_cast<float>(spectrum[0].real());
    packed[1] = static_cast<float>(spectrum[n / 2].real());
    for (long k = 1; k < n / 2; ++k) {
      packed[2 * k] = static_cast<float>(spectrum[k].real());
      packed[2 * k + 1] = static_cast<float>(spectrum[k].imag());
    }
    std::vector<Complex> scaled(n);
    for (long j = 0; j < n; ++j) scaled[j] = 0.5 * static_cast<double>(n) * input[j];
    const auto realErrors = [&](auto transform) {
      std::vector<float> forward = input, inverse = packed;
      transform(forward, short{1});
      transform(inverse, short{-1});
      return std::pair(RelativeError(Unpack(forward), spectrum),
                       RelativeError(std::vector<Complex>(inverse.begin(), inverse.end()), scaled));
    };
    const auto [textbookForward, textbookInverse] = realErrors(TextbookRealFft);
    std::vector<float> firstResult;  // every instruction set gives the same bits
    ForEachInstructionSet([&](const char* isa) {
      std::vector<float> result = input;
      ASSERT_TRUE(RealFft(result.data(), n, 1));
      if (firstResult.empty()) firstResult = result;
      EXPECT_EQ(0, std::memcmp(result.data(), firstResult.data(), n * sizeof(float))) << isa << " " << n;
      for (int s = 0; s < 2; ++s) {
        std::vector<float> ours = input;
        ASSERT_TRUE(ComplexFft(ours.data(), n / 2, s == 0 ? 1 : -1));
        EXPECT_LE(RelativeError(Pairs(ours), exact[s]), textbookError[s]) << isa << " complex " << n / 2 << " " << s;
      }
      const auto [forward, inverse] = realErrors([](std::vector<float>& d, short sign) { RealFft(d.data(), static_cast<long>(d.size()), sign); });
      EXPECT_LE(forward, textbookForward) << isa << " real " << n;
      EXPECT_LE(inverse, textbookInverse) << isa << " real inverse " << n;
    });
  }
}

TEST(Fft, PlansRunTheFunctionsAndServeSeveralThreads) {
  EXPECT_FALSE(RealFftPlan(1).valid());
  EXPECT_FALSE(RealFftPlan(12).valid());
  EXPECT_FALSE(ComplexFftPlan(0).valid());
  std::vector<float> unused(8);
  EXPECT_FALSE(RealFftPlan(6).Transform(unused.data(), 1));
  EXPECT_FALSE(RealFftPlan(8).Transform(unused.data(), 0));
  EXPECT_EQ(ComplexFftPlan(4).size(), 4);

  // A size no other test uses, so the threads race to make its tables.
  const long n = 1L << 23;
  const std::vector<float> input = RandomSignal(n, 9);
  std::vector<std::vector<float>> results(4, input);
  std::vector<std::thread> threads;
  for (auto& r : results) threads.emplace_back([&r, n] { RealFftPlan(n).Transform(r.data(), -1); });
  for (auto& t : threads) t.join();
  std::vector<float> expected = input;
  ASSERT_TRUE(RealFft(expected.data(), n, -1));
  for (const auto& r : results) EXPECT_EQ(0, std::memcmp(r.data(), expected.data(), n * sizeof(float)));
}

TEST(ComplexFft, AgreesWithDoublePrecisionDft) {
  for (long nn = 2; nn <= (1L << 20); nn *= 2) {
    const std::vector<float> input = RandomSignal(2 * nn, static_cast<unsigned>(nn));
    std::vector<float> forward = input, inverse = input;
    ASSERT_TRUE(ComplexFft(forward.data(), nn, 1));
    EXPECT_LT(RelativeError(Pairs(forward), ReferenceComplex(input, FFTW_BACKWARD)), Tolerance(nn)) << nn;
    ASSERT_TRUE(ComplexFft(inverse.data(), nn, -1));
    EXPECT_LT(RelativeError(Pairs(inverse), ReferenceComplex(input, FFTW_FORWARD)), Tolerance(nn)) << nn;
  }
}

TEST(RealFft, AgreesWithDoublePrecisionDft) {
  for (long n = 2; n <= (1L << 20); n *= 2) {
    const std::vector<float> input = RandomSignal(n, static_cast<unsigned>(n) + 7);
    std::vector<float> d = input;
    ASSERT_TRUE(RealFft(d.data(), n, 1));
    EXPECT_LT(RelativeError(Unpack(d), ReferenceReal(input)), Tolerance(n)) << n;
  }
}

TEST(Fft, RoundTripsScaleByTheirLength) {
  // With the forward transforms right, this pins down the inverse ones.
  for (long n : {2L, 4L, 8L, 1024L, 1L << 16}) {
    const std::vector<float> input = RandomSignal(n, static_cast<unsigned>(n) + 5);
    std::vector<float> real = input, complex = input;

    ASSERT_TRUE(RealFft(real.data(), n, 1));
    ASSERT_TRUE(RealFft(real.data(), n, -1));
    const long nn = n / 2;
    ASSERT_TRUE(ComplexFft(complex.data(), nn, 1));
    ASSERT_TRUE(ComplexFft(complex.data(), nn, -1));

    double realError = 0, complexError = 0, norm = 0;
    for (long j = 0; j < n; ++j) {
      realError = std::max(realError, std::fabs(real[j] / (0.5 * n) - input[j]));
      complexError = std::max(complexError, std::fabs(complex[j] / static_cast<double>(nn) - input[j]));
      norm = std::max(norm, static_cast<double>(std::fabs(input[j])));
    }
    EXPECT_LT(realError / norm, 2 * Tolerance(n)) << n;
    EXPECT_LT(complexError / norm, 2 * Tolerance(n)) << n;
  }
}

}  // namespace
