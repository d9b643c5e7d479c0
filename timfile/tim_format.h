// MLSSA time-domain data files (TIM): the file image, its checks, the conversion
// between volts and 16-bit samples, the settings block and the text items that
// carry the trailing blocks through the host. Pure functions over spans.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

static_assert(std::endian::native == std::endian::little,
              "TIM files are little-endian and are read into memory as they lie");

// ---- File layout -------------------------------------------------------------------

inline constexpr uint32_t kTimMagic = 0xFFFFABCDu;
inline constexpr std::size_t kTimHeaderBytes = 14;    // magic, mode, interval, length
inline constexpr std::size_t kTimTitleBytes = 80;
inline constexpr std::size_t kTimCommentBytes = 60;
inline constexpr std::size_t kTimSettingsBytes = 700;
inline constexpr std::size_t kTimTrailerBytes = kTimTitleBytes + kTimCommentBytes + kTimSettingsBytes;

inline constexpr int32_t kTimMaxWrittenPoints = 65535;  // longest record the filter writes
inline constexpr int32_t kTimBufferPoints = 65536;      // points held in memory on reading
inline constexpr int32_t kTimBlockPoints = 4096;        // points per file transfer
// Longest record read: its 16-bit audio must still be counted in a signed 32-bit byte count.
inline constexpr int32_t kTimMaxReadPoints = 0x3FFFFFFF;

enum TimMode : uint16_t { kTimScope = 0, kTimCrossCorrelation = 1, kTimAsyncCorrelation = 2 };

struct TimHeader {
  uint16_t mode = 0;
  float interval = 0.0f;  // milliseconds between points
  int32_t length = 0;     // points in the record
  int32_t rate = 0;       // Hz, derived from the interval
};

enum class TimStatus {
  Ok,
  NotTim,       // shorter than a header, or without the magic
  BadLength,    // record length zero, negative or beyond what a document can hold
  Truncated,    // the file holds fewer points than the record length says
  BadInterval,  // interval zero, negative, not finite, or giving no usable rate
  BadPoints,    // a point that is not a finite number
};

// The message shown when a file is refused for the given reason (empty for Ok).
const char* TimStatusMessage(TimStatus status);

// True when the first four bytes are the magic.
bool TimHasMagic(std::span<const uint8_t> bytes);

// Reads and checks the 14-byte header against the size of the whole file: the magic,
// a record length of 1..kTimMaxReadPoints points that the file holds in full, and an
// interval that gives a rate of 1 Hz or more in a 32-bit integer.
TimStatus TimParseHeader(std::span<const uint8_t> bytes, uint64_t fileBytes, TimHeader& header);

// Rate in Hz of an interval in milliseconds: floor(1000 / interval + 0.5); 0 when the
// interval gives no rate in 1 .. 2^31 - 1.
int32_t TimRateFromInterval(float interval);

// Header fields written for a rate in Hz (rate > 0).
float TimIntervalFromRate(int32_t rate);  // 1000 / rate
float TimKiloHertz(int32_t rate);         // rate * 0.001

// ---- Points and samples ----------------------------------------------------------

// Raises peak to the largest absolute value among the points. False when a point is
// not a finite number (peak is then left as it was).
bool TimFindPeak(std::span<const float> points, float& peak);

// sample = round half away from zero of v / peak * 32767, clamped to +-32767; a peak
// of 0 (a silent record) gives silence, and a point that is not a number gives 0.
void TimPointsToSamples(std::span<const float> points, float peak, std::span<int16_t> samples);

// point = scale * sample / 32768.
void TimSamplesToPoints(std::span<const int16_t> samples, float scale, std::span<float> points);

// Record length written for S samples: S rounded up to 2048, 4096, 8192, 16384 or
// 32768, and 65535 above 32768 (the samples beyond 65535 are dropped).
int32_t TimRecordLength(int64_t samples);

// ---- Trailing blocks and text items --------------------------------------------------

// Text item types and the buffer sizes announced for them (terminator included).
enum TimItem : int {
  kTimItemComment = 21,
  kTimItemSettings2 = 24,  // settings bytes 250..499
  kTimItemWarning = 26,    // a fixed line, read only
  kTimItemSettings1 = 27,  // settings bytes 0..249
  kTimItemSettings3 = 31,  // settings bytes 500..699
  kTimItemTitle = 32,
  kTimItemScale = 33,
};
inline constexpr const char kTimWarningLine[] = "Do not modify the lines below !!!";

// Size of the buffer for an item read from a file; 0 for a type the filter does not offer.
int TimItemSize(int type);
// True for the types the filter takes back on writing.
bool TimItemWritable(int type);

// The trailing blocks as text: what a file read offers and what the host hands back.
struct TimTexts {
  char title[kTimTitleBytes] = {};
  char comment[kTimCommentBytes] = {};
  char settings1[501] = {};
  char settings2[501] = {};
  char settings3[401] = {};
};

// Turns the 840 trailing bytes of a file into texts: title and comment up to their
// terminator and never beyond 79 and 59 characters, the settings block as hex.
void TimTextsFromTrailer(std::span<const uint8_t> trailer, TimTexts& texts);

// Copies item `type` into buffer (at most buffer.size() bytes, always terminated).
// Returns false, leaving the buffer empty, for a type that is not offered.
bool TimReadItem(const TimTexts& texts, float peak, int type, std::span<char> buffer);

// What the host handed back for a file about to be written.
struct TimReturned {
  TimTexts texts;
  float scale = 1.0f;
  bool specialsUsable = true;  // cleared by an item of the wrong size or form
  bool scaleGiven = false;
};

// Takes item `type` back (text is the host's buffer of `size` bytes; nothing past it is
// read). Title and comment are cut to 79 and 59 characters. The scale and the settings
// texts must come with the size announced on reading and in uppercase hex; anything else
// clears specialsUsable. A scale that is not a finite number of 0 or more does the same.
void TimWriteItem(TimReturned& returned, int type, std::span<const char> text);

// Hex text of bytes: two uppercase digits per byte, high nibble first, then a terminator.
// text.size() must be at least 2 * bytes.size() + 1.
void TimEncodeHex(std::span<const uint8_t> bytes, std::span<char> text);
// The reverse; only "0"-"9" and "A"-"F" are accepted. False when the text does not
// begin with 2 * bytes.size() such digits (bytes is then unspecified).
bool TimDecodeHex(std::span<const char> text, std::span<uint8_t> bytes);

// Local date and time, as the settings block records the moment of writing.
struct TimDateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The settings block written when none came back from the host.
void TimDefaultSettings(std::span<uint8_t> settings, int32_t rate, int32_t length, uint16_t mode,
                        const TimDateTime& at);
inline constexpr const char kTimDefaultTitle[] = "Waveform (from Vorn Edit conversion) - Volts";
inline constexpr const char kTimDefaultComment[] = "File transferred from a 16 bit original file";

// Rebuilds the settings block from the returned hex texts and brings it up to date:
// offset 10 follows the rate only when the restored rate (offset 6) differs from the
// current one by more than 0.002 kHz; offsets 6, 40 and 44 take rate, length and mode.
// False when a text is missing or not valid hex (the block is then unspecified).
bool TimRestoreSettings(const TimTexts& texts, std::span<uint8_t> settings, int32_t rate,
                        int32_t length, uint16_t mode);

// The 840 trailing bytes: title and comment zero-padded in their fields, the settings block.
void TimBuildTrailer(const char* title, const char* comment, std::span<const uint8_t> settings,
                     std::span<uint8_t> trailer);

// The 14-byte header written for the given mode, rate and record length.
void TimBuildHeader(uint16_t mode, int32_t rate, int32_t length, std::span<uint8_t> header);
