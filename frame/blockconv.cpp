#include "frame/blockconv.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

// ---- Kernels ----------------------------------------------------------------------

long FilterPowerOfTwo(long filterFrames) {
  long p = 4;
  while (p < filterFrames && p < (1L << 30)) p *= 2;
  return p;
}

namespace {

long double Cost(long double n, long double filter, long double selection) {
  const long double half = std::floor(n / 2);
  const long double blocks = std::ceil((selection + filter - 1) / (n - filter + 1));
  return 2 * n * (std::log(half) / std::log(2.0L) + 1) * blocks;
}

}  // namespace

long CheapestFftSize(long filterFrames, long selectionFrames, long start) {
  const long double m = static_cast<long double>(filterFrames);
  const long double l = static_cast<long double>(selectionFrames < 0 ? 0 : selectionFrames);
  long n = start;
  float c = static_cast<float>(Cost(n, m, l));
  // 2^30 floats is as far as a 32-bit process could ever go.
  while (n < (1L << 30)) {
    const long double next = Cost(2.0L * n, m, l);
    if (!(next < c)) break;
    c = static_cast<float>(next);
    n *= 2;
  }
  return n;
}

long OptimumFftSize(long filterFrames, long selectionFrames) {
  return CheapestFftSize(filterFrames, selectionFrames, 2 * FilterPowerOfTwo(filterFrames));
}

float PeakMagnitude(std::span<const float> values, float peak) {
  // Eight running maxima side by side, so that they need not wait on one another.
  float m[8] = {peak, peak, peak, peak, peak, peak, peak, peak};
  std::size_t k = 0;
  for (; k + 8 <= values.size(); k += 8)
    for (int j = 0; j < 8; ++j) {
      const float a = std::fabs(values[k + j]);
      m[j] = a > m[j] ? a : m[j];
    }
  for (; k < values.size(); ++k) m[0] = std::max(m[0], std::fabs(values[k]));
  return *std::max_element(m, m + 8);
}

long ConvertToSamples(std::span<const float> values, float factor, int16_t* out) {
  long saturated = 0;
  if (!std::isfinite(factor)) {
    // No scale at all: zero stays zero (not NaN), everything else is limited.
    for (std::size_t k = 0; k < values.size(); ++k) {
      const float r = values[k] * (std::isnan(factor) ? 0.0f : 1.0f);
      out[k] = static_cast<int16_t>(r > 0 ? 32767 : r < 0 ? -32767 : 0);
      saturated += r > 0 || r < 0;
    }
    return saturated;
  }
  for (std::size_t k = 0; k < values.size(); ++k) {
    const float r = values[k] * factor;
    int s;
    if (r >= 32767.5f) {
      s = 32767;
      ++saturated;
    } else if (r <= -32767.5f) {
      s = -32767;
      ++saturated;
    } else if (r == r) {
      // Half away from zero, exactly: the fraction of a float below 2^15 is exact.
      const int t = static_cast<int>(r);
      const float f = r - static_cast<float>(t);
      s = t + (f >= 0.5f) - (f <= -0.5f);
    } else {
      s = 0;  // NaN
    }
    out[k] = static_cast<int16_t>(s);
  }
  return saturated;
}

// ---- The float temporary file ---------------------------------------------------------

bool FloatTempFile::Create(XfmContext* context, const char* prefix) {
  Remove();
  failed_ = false;
  if (!context->tempFileName) return false;
  char name[MAX_PATH + 1] = {};
  context->tempFileName(prefix, name);
  name[MAX_PATH] = '\0';
  if (name[0] == '\0') return false;
  file_ = staging_.CreateTempFile(name);
  // A name the host made for us may already stand as an empty file.
  if (file_ == INVALID_HANDLE_VALUE) DeleteFileA(name);
  return file_ != INVALID_HANDLE_VALUE;
}

namespace {

// Moves count values in calls of at most kValuesPerCall; false when a call fails or moves fewer.
template <class Value, class Call>
bool InCalls(Value* values, std::size_t count, Call call) {
  while (count > 0) {
    const std::size_t n = std::min(count, FloatTempFile::kValuesPerCall);
    DWORD done = 0;
    const DWORD bytes = static_cast<DWORD>(n * sizeof(float));
    if (!call(values, bytes, &done) || done != bytes) return false;
    values += n;
    count -= n;
  }
  return true;
}

}  // namespace

bool FloatTempFile::Write(const float* values, std::size_t count) {
  if (!failed_ && !InCalls(values, count, [this](const float* v, DWORD bytes, DWORD* done) {
        return WriteFile(file_, v, bytes, done, nullptr);
      }))
    failed_ = true;
  return !failed_;
}

bool FloatTempFile::Read(float* values, std::size_t count) {
  if (!failed_ && !InCalls(values, count, [this](float* v, DWORD bytes, DWORD* done) {
        return ReadFile(file_, v, bytes, done, nullptr);
      }))
    failed_ = true;
  return !failed_;
}

bool FloatTempFile::SeekValue(uint64_t index) {
  if (failed_) return false;
  const uint64_t bytes = index * sizeof(float);
  LONG high = static_cast<LONG>(bytes >> 32);
  const DWORD low = SetFilePointer(file_, static_cast<LONG>(bytes & 0xFFFFFFFFu), &high, FILE_BEGIN);
  // The position reached must be the one asked for (a failure returns another).
  if (low != static_cast<DWORD>(bytes & 0xFFFFFFFFu) || static_cast<uint64_t>(static_cast<DWORD>(high)) != bytes >> 32)
    failed_ = true;
  return !failed_;
}

void FloatTempFile::Remove() {
  staging_.ReleaseAll();
  file_ = INVALID_HANDLE_VALUE;
}

// ---- Overlap-save -------------------------------------------------------------------

long OverlapSave::blocks() const {
  const long k = newFrames();
  return k > 0 ? static_cast<long>((static_cast<long long>(outputFrames()) + k - 1) / k) : 0;
}

BlockOutcome RunOverlapSave(const OverlapSave& run, const BlockReader& read, const BlockFilter& filter,
                            const BlockSink& sink, const ProgressFn& progress) {
  const long m = run.filterLength, k = run.newFrames();
  const int e = run.channels, outputs = run.outputs();
  const long total = run.blocks();
  const long full = k > 0 ? run.frames / k : 0;  // F, blocks whose input is all from the document
  const std::size_t tail = static_cast<std::size_t>(m - 1);
  auto* samples = static_cast<int16_t*>(run.block);
  auto* interleaved = static_cast<float*>(run.block);
  for (long b = 0; b < total; ++b) {
    // The last M - 1 input frames of the previous block, then the new ones.
    for (int w = 0; w < 2; ++w)
      if (run.source[w] >= 0) std::memcpy(run.work[w], run.overlap + w * tail, tail * sizeof(float));
    const long available = b < full ? k : b == full ? run.frames - full * k : 0;
    if (available > 0) {
      const long long offset = (static_cast<long long>(run.firstFrame) + static_cast<long long>(b) * k) * e * 2;
      read(static_cast<LONG>(offset), static_cast<LONG>(available * e * 2), samples);
    }
    for (int w = 0; w < 2; ++w) {
      if (run.source[w] < 0) continue;
      float* to = run.work[w] + tail;
      const int16_t* from = samples + run.source[w];
      for (long j = 0; j < available; ++j) to[j] = static_cast<float>(from[j * e]);
      std::fill(to + available, to + k, 0.0f);
    }
    if (b + 1 < total)
      for (int w = 0; w < 2; ++w)
        if (run.source[w] >= 0)
          std::memcpy(run.overlap + w * tail, run.work[w] + k, tail * sizeof(float));

    filter(run.work[0], run.work[1]);

    const long kept = b + 1 < total ? k : run.outputFrames() - (total - 1) * k;
    const float* out = run.work[0] + tail;
    if (outputs == 2) {
      const float* right = run.work[1] + tail;
      for (long j = 0; j < kept; ++j) {
        interleaved[2 * j] = out[j];
        interleaved[2 * j + 1] = right[j];
      }
      out = interleaved;
    }
    if (!sink(out, static_cast<std::size_t>(kept) * static_cast<std::size_t>(outputs))) return BlockOutcome::Stopped;
    if (progress && !progress(b + 1, total)) return BlockOutcome::Cancelled;
  }
  return BlockOutcome::Completed;
}

BlockOutcome RunOverlapSave(const OverlapSave& run, const XfmContext* context, const BlockFilter& filter,
                            FloatTempFile& file, const ProgressFn& progress, float& peak) {
  const BlockReader read = [context](LONG offset, LONG bytes, int16_t* samples) {
    context->readSamples(samples, offset, bytes);
  };
  const BlockSink sink = [&](const float* values, std::size_t count) {
    if (run.trackPeak) peak = PeakMagnitude(std::span<const float>(values, count), peak);
    return file.Write(values, count);
  };
  const BlockOutcome outcome = RunOverlapSave(run, read, filter, sink, progress);
  return outcome == BlockOutcome::Stopped ? BlockOutcome::FileFailed : outcome;
}

// ---- Conversion into the document -----------------------------------------------------

ConversionOutcome ConvertIntoDocument(FloatTempFile& file, const XfmContext* context, long firstFrame, int channels,
                                      uint64_t totalValues, float factor, std::span<float> buffer,
                                      const ProgressFn& progress) {
  ConversionOutcome outcome;
  if (!file.SeekValue(0)) {
    outcome.kind = ConversionOutcome::FileFailed;
    return outcome;
  }
  // Whole frames per chunk.
  const std::size_t chunk = buffer.size() / static_cast<std::size_t>(channels) * static_cast<std::size_t>(channels);
  const void* samples = buffer.data();
  uint64_t done = 0;
  while (done < totalValues) {
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(chunk, totalValues - done));
    if (!file.Read(buffer.data(), n)) {
      outcome.kind = ConversionOutcome::FileFailed;
      return outcome;
    }
    // In place: the samples of each piece land in front of the floats still to be read.
    int16_t piece[1024];
    for (std::size_t at = 0; at < n; at += std::size(piece)) {
      const std::size_t count = std::min(std::size(piece), n - at);
      outcome.saturated += ConvertToSamples(std::span<const float>(buffer.data() + at, count), factor, piece);
      std::memcpy(reinterpret_cast<char*>(buffer.data()) + 2 * at, piece, 2 * count);
    }
    const long long offset = static_cast<long long>(firstFrame) * channels * 2 + static_cast<long long>(done) * 2;
    if (context->writeSamples(samples, static_cast<LONG>(offset), static_cast<LONG>(n * 2)) != 0) {
      outcome.kind = ConversionOutcome::WriteFailed;
      return outcome;
    }
    done += n;
    if (progress && !progress(static_cast<long>(done), static_cast<long>(totalValues))) {
      outcome.kind = ConversionOutcome::Cancelled;
      return outcome;
    }
  }
  return outcome;
}
