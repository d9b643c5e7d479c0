// Block convolution shared by the clipboard convolver and the real-time convolver:
// the FFT size rule, the overlap-save loop over RealFft into a float temporary file, and
// the conversion pass that turns that file into 16-bit samples of the document. Each
// module keeps only its routing: which channels feed the work buffers and what the block
// filter multiplies (frame/spectrum.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "frame/progress.h"
#include "frame/stages.h"
#include "frame/xfm.h"

// ---- Kernels ----------------------------------------------------------------------

// The smallest power of two not below the filter length, at least 4.
long FilterPowerOfTwo(long filterFrames);

// The cost search for filter length M and selection length L, from the size `start`
// (a power of two above M): cost(n) = 2n (log2(n/2) + 1) ceil((L + M - 1) / (n - M + 1));
// n doubles while the cost of 2n is below that of n (the latter kept as float32).
long CheapestFftSize(long filterFrames, long selectionFrames, long start);

// The clipboard convolver's optimum: the search from twice FilterPowerOfTwo(M); at least 2M.
long OptimumFftSize(long filterFrames, long selectionFrames);

// The largest magnitude of the values and `peak`.
float PeakMagnitude(std::span<const float> values, float peak);

// v times factor (float32), rounded half away from zero, into 16-bit samples. Values
// beyond +-32767 become +-32767 and are counted; NaN becomes 0. Returns the count.
long ConvertToSamples(std::span<const float> values, float factor, int16_t* out);

// ---- The float temporary file ---------------------------------------------------------

// Float32 values in a temporary file named by the host (tempFileName); moved at most
// 4096 values per read or write call. Closed and deleted on Remove or destruction.
class FloatTempFile {
 public:
  static constexpr std::size_t kValuesPerCall = 4096;

  FloatTempFile() = default;
  ~FloatTempFile() { Remove(); }
  FloatTempFile(const FloatTempFile&) = delete;
  FloatTempFile& operator=(const FloatTempFile&) = delete;

  // Asks the host for a name with the prefix and creates the file anew (read and write,
  // no sharing) as a stage of its own. False when there is no callback, no name or no file.
  bool Create(XfmContext* context, const char* prefix);
  // At the current position. Each returns false, and marks the file failed, when the
  // system call fails or moves fewer values.
  bool Write(const float* values, std::size_t count);
  bool Read(float* values, std::size_t count);
  bool SeekValue(uint64_t index);  // from the start
  void Remove();

  bool failed() const { return failed_; }

 private:
  Staging staging_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  bool failed_ = false;
};

// ---- Overlap-save -------------------------------------------------------------------

// One run of the block loop. The buffers belong to the module (its staged memory):
// `block` e N 32-bit words, `work[0]` and `work[1]` N floats each (work[1] may be null
// when no channel uses it), `overlap` e (M - 1) floats.
struct OverlapSave {
  long fftSize = 0;       // N
  long filterLength = 0;  // M
  long frames = 0;        // L, input frames from the first one
  long firstFrame = 0;    // document frame of the first input frame
  int channels = 1;       // e, of the document and of the output
  int outputChannels = 0; // of the output when it differs from e (a mono input to two outputs)
  // The document channel that feeds each work buffer, -1 for none.
  int source[2] = {0, -1};
  void* block = nullptr;
  float* work[2] = {nullptr, nullptr};
  float* overlap = nullptr;
  bool trackPeak = true;

  int outputs() const { return outputChannels > 0 ? outputChannels : channels; }
  long newFrames() const { return fftSize - filterLength + 1; }  // K
  long outputFrames() const { return frames + filterLength - 1; }
  long blocks() const;                                            // B
};

// The input of a block loop: byteCount bytes of the document's interleaved 16-bit samples
// from byteOffset (readSamples, or a copy of it in a test).
using BlockReader = std::function<void(LONG byteOffset, LONG byteCount, int16_t* samples)>;
// Where the kept output frames go, as float32 values interleaved by frame (a file, a wave
// device); false stops the loop.
using BlockSink = std::function<bool(const float* values, std::size_t count)>;

// The module's filter of one block: the time data stand in work[0] and work[1]
// (positions 0 ... N - 1); the filtered block is left there, its new frames at M - 1 ... N - 1.
using BlockFilter = std::function<void(float* left, float* right)>;

enum class BlockOutcome { Completed, Cancelled, FileFailed, Stopped };

// Runs every block: the overlap and the input into the work buffers, the filter, and the
// kept output frames to the sink interleaved by frame (work[0] left, work[1] right).
// Progress (b + 1, B) after each block. Stopped when the sink refuses a block.
BlockOutcome RunOverlapSave(const OverlapSave& run, const BlockReader& read, const BlockFilter& filter,
                            const BlockSink& sink, const ProgressFn& progress);

// The same from the document (readSamples) into the file, tracking the peak magnitude.
BlockOutcome RunOverlapSave(const OverlapSave& run, const XfmContext* context, const BlockFilter& filter,
                            FloatTempFile& file, const ProgressFn& progress, float& peak);

// ---- Conversion into the document -----------------------------------------------------

struct ConversionOutcome {
  enum Kind { Completed, Cancelled, FileFailed, WriteFailed } kind = Completed;
  long saturated = 0;  // samples limited to +-32767
};

// Reads the file from its start in chunks of `buffer.size()` values, converts them
// (ConvertToSamples, in place) and writes them into the document from frame
// `firstFrame` on; progress (values done, total) after each chunk written.
ConversionOutcome ConvertIntoDocument(FloatTempFile& file, const XfmContext* context, long firstFrame, int channels,
                                      uint64_t totalValues, float factor, std::span<float> buffer,
                                      const ProgressFn& progress);
