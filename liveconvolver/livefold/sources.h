// The impulse responses of "Real Time Convolver": loading them from a WAV file, the
// Windows clipboard (CF_WAVE) or the host's clipboard file, unloading them, and the
// sample blocks they keep in the parameter block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "liveconvolver/livefold/livefold_block.h"

// The dialog's status line, which a load writes while it computes the energy.
inline constexpr int kStatusLine = 1250;

// Messages of loading and unloading.
inline constexpr char kLoadSecondFirstMessage[] = "Can't load Impulse Response 2 before loading Impulse Response 1!";
inline constexpr char kLoadRuleCaption[] = "Impulse Response loading Error";
inline constexpr char kUnloadFirstMessage[] = "Can't unload Impulse Response 1 before unloading Impulse Response 2!";
inline constexpr char kUnloadRuleCaption[] = "Impulse Response unloading Error";
inline constexpr char kInUseMessage[] = "\nis alredy in use by another process.\n\nConvolver will exit.";
inline constexpr char kInUseCaption[] = "File Access Error";
inline constexpr char kFormatMessage[] = "Impulse Response must be a Mono/Stereo 16-Bit WAV File";
inline constexpr char kNoDataMessage[] = "Error loading WAV File";
inline constexpr char kBitsMessage[] = "Impulse Response must be a 16-bit WAV file";
inline constexpr char kLoadCaption[] = "Loading File Error";

// What is wrong with wave data, in the order the checks run.
enum class WaveProblem { None, Format, NoData, Bits };

// Where the samples of a wave lie: from the 44-byte header (channels at 22, rate at 24,
// bits at 34) and the data chunk found.
struct WaveLayout {
  WaveProblem problem = WaveProblem::Format;
  int channels = 0;
  long rate = 0;
  int bits = 0;
  uint64_t dataOffset = 0;
  uint32_t dataBytes = 0;  // whole frames only
};

// The header checks of the first 44 bytes: "RIFF" at 0, "WAVE" at 8, "fmt " at 12, 1 or 2
// channels at 22; Format when one fails (also for fewer than 44 bytes).
WaveLayout ReadWaveHeader(const uint8_t* header, std::size_t size);

// A clipboard block: the header, "data" at 36, 16 bits, and data that lies within the
// block and holds at least one frame (NoData otherwise).
WaveLayout ParseClipboardWave(const uint8_t* image, std::size_t size);

// Reads a file's chunk headers: `read(offset, buffer, bytes)` gives the bytes read there.
using ChunkReader = bool (*)(void* file, uint64_t offset, uint8_t* buffer, std::size_t bytes);

// A file: the header, then the chunks after "WAVE" until "data" (each skipped by its
// length and its pad byte when odd), 16 bits, and data that lies within the file's
// `size` bytes and holds at least one frame (NoData otherwise).
WaveLayout ParseWaveFile(void* file, ChunkReader read, uint64_t size);

// The file the host's clipboard lives in: the Windows folder's "Vorn.ini", its
// "Clipboard=" entry up to the first '.', and ".wav"; empty when it cannot be found.
std::string HostClipboardFile();

// The directory part of a path (up to its file name), with every backslash doubled.
std::string DoubledDirectory(const std::string& path);

// Operations of the settings dialog on response `which` (0 IR1, 1 IR2). Messages go to
// `dialog`, which may be null. A failure leaves the previous response as it was.
//
// load: source 1 file (the file dialog unless `reload`, then the stored path), 2 the
// Windows clipboard, 3 the host's clipboard file. A load clears the response's routing
// switches; a reload keeps them.
bool LoadResponse(HWND dialog, LiveParams& p, int which, int source, bool reload);
bool UnloadResponse(HWND dialog, LiveParams& p, int which);

// Every response whose source is not 0, loaded again from that source (IR1 first). A
// response that cannot be loaded is left unloaded (and IR2 with IR1). False when one failed.
bool ReloadResponses(HWND dialog, LiveParams& p);

// The sample and display blocks of this module. A handle in a parameter block counts only
// while it names a block this module made and has not released, so a block kept from an
// earlier run (or released at Cancel) is never used.
bool LiveSampleBlock(const LiveParams& p, int which);
// Releases the response's blocks that are live and zeroes their handles; the rest of the
// response's fields stay.
void ReleaseBlocks(LiveParams& p, int which);
