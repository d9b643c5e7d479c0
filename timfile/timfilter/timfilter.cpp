// "MLSSA Time Domain Data File": the host's file filter for MLSSA TIM files. A record
// of float32 volts opens as 16-bit mono audio scaled to full range; its title, comment,
// settings block and scale travel with the audio as text items and come back on saving.
#include <algorithm>
#include <cstring>

#include "frame/dialogs.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "frame/stages.h"
#include "frame/xfm.h"
#include "frame/filter_interface.h"
#include "timfile/tim_format.h"

TOVREL_EXPORT WORD WINAPI QueryVornFilter(FilterDescriptor* descriptor);
TOVREL_EXPORT BOOL WINAPI FilterUnderstandsFormat(LPCSTR path);
TOVREL_EXPORT DWORD WINAPI FilterGetOptions(HWND owner, HINSTANCE instance, LONG rate, WORD channels, WORD bits,
                                            DWORD option);
TOVREL_EXPORT HANDLE WINAPI OpenFilterInput(LPCSTR path, LONG* rate, WORD* bits, WORD* channels, HWND window,
                                            LONG* bufferSize);
TOVREL_EXPORT LONG WINAPI FilterGetFileSize(HANDLE input);
TOVREL_EXPORT DWORD WINAPI ReadFilterInput(HANDLE input, BYTE* samples, LONG byteCount);
TOVREL_EXPORT DWORD WINAPI FilterOptions(HANDLE input);
TOVREL_EXPORT DWORD WINAPI FilterOptionsString(HANDLE input, LPSTR text);
TOVREL_EXPORT DWORD WINAPI FilterCanReadSpecial(HANDLE input, LONG type);
TOVREL_EXPORT DWORD WINAPI FilterReadSpecial(HANDLE input, LONG type, LPSTR buffer, LONG size);
TOVREL_EXPORT void WINAPI CloseFilterInput(HANDLE input);
// Exported as "_GetSuggestedSampleType@12" (see the .def).
TOVREL_EXPORT DWORD WINAPI GetSuggestedSampleType(LONG* rate, WORD* bits, WORD* channels);
TOVREL_EXPORT HANDLE WINAPI OpenFilterOutput(LPCSTR path, LONG rate, WORD bits, WORD channels, LONG byteCount,
                                             LONG* bufferSize, DWORD option);
TOVREL_EXPORT DWORD WINAPI FilterCanWriteSpecial(HANDLE output, LONG type);
TOVREL_EXPORT DWORD WINAPI FilterWriteSpecial(HANDLE output, LONG type, LPCSTR text, LONG size);
TOVREL_EXPORT DWORD WINAPI WriteFilterOutput(HANDLE output, const BYTE* samples, LONG byteCount);
TOVREL_EXPORT DWORD WINAPI CloseFilterOutput(HANDLE output);
TOVREL_EXPORT INT_PTR CALLBACK DIALOGMsgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

namespace {

constexpr char kCaption[] = "MLSSA";
constexpr char kHelpKeyword[] = "TIM Filter";
constexpr int kOptionsTemplate = 101;
constexpr int kOptionsProcOrdinal = 20;
constexpr int kScopeButton = 1000;
constexpr int kCrossButton = 1001;
constexpr int kAsyncButton = 1003;
constexpr LONG kChunkBytes = 8192;

// An open file for reading.
struct InputState {
  HANDLE file;
  LONG points;       // N: points delivered as samples
  float peak;        // P
  LONG position;     // next point to deliver
  BOOL complete;     // every point and all trailing blocks were read
  WORD mode;
  LONG rate;
  HGLOBAL buffer;    // kTimBufferPoints points, or null: points are read from the file as needed
  TimTexts texts;
  float block[kTimBlockPoints];
};

// An open file for writing.
struct OutputState {
  HANDLE file;
  WORD mode;
  LONG samples;   // S: samples the host announced
  LONG length;    // record length
  LONG written;   // points written, zero points included
  LONG rate;
  BOOL done;
  TimReturned returned;
  float conversion[kTimBlockPoints];
};

// True when exactly `bytes` bytes were read; `got` receives the bytes read.
bool ReadExactly(HANDLE file, void* into, DWORD bytes, DWORD* got = nullptr) {
  DWORD n = 0;
  const BOOL ok = ReadFile(file, into, bytes, &n, nullptr);
  if (got) *got = ok ? n : 0;
  return ok && n == bytes;
}

bool WriteAll(HANDLE file, const void* from, DWORD bytes) {
  DWORD n = 0;
  return WriteFile(file, from, bytes, &n, nullptr) && n == bytes;
}

bool SeekTo(HANDLE file, LONG offset) {
  return SetFilePointer(file, offset, nullptr, FILE_BEGIN) == static_cast<DWORD>(offset);
}

// Size of the file in bytes; 0 when it cannot be told.
uint64_t SizeOf(HANDLE file) {
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && high == 0xFFFFFFFFu) return 0;
  return static_cast<uint64_t>(high) << 32 | low;
}

// Reads up to `count` points into `into`; the number of points read in full.
LONG ReadPoints(HANDLE file, float* into, LONG count) {
  DWORD got = 0;
  ReadExactly(file, into, static_cast<DWORD>(count) * 4, &got);
  return static_cast<LONG>(got / 4);
}

// Reads the points of the record in blocks, finding the peak, and keeps them when a
// buffer is given. A short read leaves `points` at the points present. False for a
// point that is not a finite number.
bool ScanRecord(InputState& in, float* buffer) {
  const LONG wanted = in.points;
  LONG have = 0;
  float peak = 0.0f;
  while (have < wanted) {
    const LONG n = std::min<LONG>(kTimBlockPoints, wanted - have);
    float* into = buffer ? buffer + have : in.block;
    const LONG got = ReadPoints(in.file, into, n);
    if (!TimFindPeak(std::span<const float>(into, static_cast<std::size_t>(got)), peak)) return false;
    have += got;
    if (got < n) break;
  }
  in.points = have;
  in.peak = peak;
  return true;
}

// Opens the file and reads it into the state; the status of the file.
TimStatus LoadRecord(InputState& in, LPCSTR path) {
  in.file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in.file == INVALID_HANDLE_VALUE) {
    in.file = nullptr;
    return TimStatus::NotTim;
  }
  uint8_t header[kTimHeaderBytes];
  TimHeader h;
  DWORD got = 0;
  ReadExactly(in.file, header, sizeof header, &got);
  const TimStatus status = TimParseHeader(std::span<const uint8_t>(header, got), SizeOf(in.file), h);
  if (status != TimStatus::Ok) return status;
  in.mode = h.mode;
  in.rate = h.rate;
  in.points = h.length;

  // Records that fit the buffer are kept in memory; longer ones, and all of them when the
  // buffer cannot be had, are read from the file again as the host asks for them.
  if (h.length <= kTimBufferPoints) in.buffer = GlobalAlloc(GMEM_MOVEABLE, kTimBufferPoints * sizeof(float));
  bool finite = true;
  bool scanned = false;
  if (in.buffer) {
    BlockLock points(in.buffer);
    if (points) {
      finite = ScanRecord(in, points.as<float>());
      scanned = true;
    }
  }
  if (!scanned) {
    if (in.buffer) in.buffer = GlobalFree(in.buffer);
    finite = ScanRecord(in, nullptr);
  }
  if (!finite) return TimStatus::BadPoints;
  if (in.points == 0) return TimStatus::Truncated;

  if (in.points == h.length) {
    uint8_t trailer[kTimTrailerBytes];
    if (ReadExactly(in.file, trailer, sizeof trailer)) {
      TimTextsFromTrailer(trailer, in.texts);
      in.complete = TRUE;
    }
  }
  if (!in.buffer && !SeekTo(in.file, kTimHeaderBytes)) return TimStatus::Truncated;
  return TimStatus::Ok;
}

void ReleaseInput(HGLOBAL handle) {
  {
    BlockLock lock(handle);
    if (auto* in = lock.as<InputState>()) {
      if (in->file) CloseHandle(in->file);
      if (in->buffer) GlobalFree(in->buffer);
    }
  }
  GlobalFree(handle);
}

// Option 1 scope, 2 cross-correlation, 3 asynchronous-correlation; others count as 2.
DWORD NormalOption(DWORD option) { return option >= 1 && option <= 3 ? option : 2; }

const char* OptionText(DWORD option) {
  switch (option) {
    case 1: return "Scope mode acquired MLSSA";
    case 3: return "Asynchronous-correlation mode acquired MLSSA";
    default: return "Cross-correlation mode acquired MLSSA";
  }
}

}  // namespace

WORD WINAPI QueryVornFilter(FilterDescriptor* d) {
  std::memset(d->name, 0, sizeof d->name);
  std::memset(d->description, 0, sizeof d->description);
  std::strcpy(d->name, "MLSSA");
  std::strcpy(d->description, "MLSSA Time Domain Data File");
  for (int at : {104, 106, 108, 110, 114, 116, 118, 120, 126, 128}) d->sampleTypes[(at - 104) / 2] = 0;
  d->sampleTypes[(124 - 104) / 2] = 255;
  d->flags = 359;
  std::memcpy(d->extension, "TIM", 4);
  d->bufferSize = kChunkBytes;
  return kFilterQueryResult;
}

BOOL WINAPI FilterUnderstandsFormat(LPCSTR path) {
  Staging staging;
  HANDLE file = staging.OpenFile(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
  if (file == INVALID_HANDLE_VALUE) return 0;
  uint8_t magic[4];
  return ReadExactly(file, magic, sizeof magic) && TimHasMagic(magic) ? 1 : 0;
}

DWORD WINAPI FilterGetOptions(HWND owner, HINSTANCE instance, LONG, WORD, WORD, DWORD option) {
  const auto proc = ExportCast<DLGPROC>(GetProcAddress(instance, MAKEINTRESOURCEA(kOptionsProcOrdinal)));
  if (proc == nullptr) return 0;
  const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(kOptionsTemplate), owner, proc,
                                         static_cast<LPARAM>(NormalOption(option)));
  return result >= 1 && result <= 3 ? static_cast<DWORD>(result) : 0;
}

INT_PTR CALLBACK DIALOGMsgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const DWORD option = NormalOption(static_cast<DWORD>(lParam));
      CheckRadioButton(dialog, kScopeButton, kAsyncButton,
                       option == 1 ? kScopeButton : option == 3 ? kAsyncButton : kCrossButton);
      return TRUE;
    }
    case WM_CLOSE:
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          EndDialog(dialog, IsDlgButtonChecked(dialog, kScopeButton) == BST_CHECKED   ? 1
                            : IsDlgButtonChecked(dialog, kAsyncButton) == BST_CHECKED ? 3
                                                                                      : 2);
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, 0);
          return TRUE;
        case kHelpButton:
          ShowHelp(dialog, kHelpKeyword);
          return TRUE;
        default:
          return TRUE;
      }
    default:
      return FALSE;
  }
}

HANDLE WINAPI OpenFilterInput(LPCSTR path, LONG* rate, WORD* bits, WORD* channels, HWND, LONG* bufferSize) {
  HGLOBAL handle = GlobalAlloc(GHND, sizeof(InputState));
  if (handle == nullptr) return nullptr;
  TimStatus status = TimStatus::NotTim;
  LONG fileRate = 0;
  {
    BlockLock lock(handle);
    if (auto* in = lock.as<InputState>()) {
      status = LoadRecord(*in, path);
      fileRate = in->rate;
    }
  }
  if (status != TimStatus::Ok) {
    ReleaseInput(handle);
    // A file that is not a TIM file at all is simply not taken; a broken one is explained.
    if (status != TimStatus::NotTim) ShowError(nullptr, TimStatusMessage(status), kCaption);
    return nullptr;
  }
  if (rate) *rate = fileRate;
  if (bits) *bits = 16;
  if (channels) *channels = 1;
  if (bufferSize) *bufferSize = kChunkBytes;
  return handle;
}

LONG WINAPI FilterGetFileSize(HANDLE input) {
  BlockLock lock(input);
  const auto* in = lock.as<InputState>();
  return in ? in->points * 2 : 0;
}

DWORD WINAPI ReadFilterInput(HANDLE input, BYTE* samples, LONG byteCount) {
  BlockLock lock(input);
  auto* in = lock.as<InputState>();
  if (in == nullptr || samples == nullptr || byteCount < 0) return 0;
  auto* out = reinterpret_cast<int16_t*>(samples);
  const LONG wanted = byteCount / 2;
  const LONG n = std::clamp<LONG>(in->points - in->position, 0, wanted);
  bool ok = true;
  if (in->buffer) {
    BlockLock points(in->buffer);
    if (!points) return 0;
    TimPointsToSamples(std::span<const float>(points.as<float>() + in->position, static_cast<std::size_t>(n)),
                       in->peak, std::span<int16_t>(out, static_cast<std::size_t>(n)));
  } else {
    for (LONG done = 0; done < n && ok;) {
      const LONG block = std::min<LONG>(kTimBlockPoints, n - done);
      const LONG got = ReadPoints(in->file, in->block, block);
      TimPointsToSamples(std::span<const float>(in->block, static_cast<std::size_t>(got)), in->peak,
                         std::span<int16_t>(out + done, static_cast<std::size_t>(got)));
      std::fill(out + done + got, out + done + block, int16_t{0});
      ok = got == block;
      done += block;
    }
  }
  // Past the end of the record there is silence.
  std::fill(out + n, out + wanted, int16_t{0});
  in->position += n;
  return ok ? static_cast<DWORD>(byteCount) : 0;
}

DWORD WINAPI FilterOptions(HANDLE input) {
  BlockLock lock(input);
  const auto* in = lock.as<InputState>();
  return in ? NormalOption(static_cast<DWORD>(in->mode) + 1) : 2;
}

DWORD WINAPI FilterOptionsString(HANDLE input, LPSTR text) {
  const DWORD option = FilterOptions(input);
  if (text) std::strcpy(text, OptionText(option));
  return option;
}

DWORD WINAPI FilterCanReadSpecial(HANDLE input, LONG type) {
  BlockLock lock(input);
  const auto* in = lock.as<InputState>();
  return in && in->complete ? static_cast<DWORD>(TimItemSize(type)) : 0;
}

DWORD WINAPI FilterReadSpecial(HANDLE input, LONG type, LPSTR buffer, LONG size) {
  BlockLock lock(input);
  const auto* in = lock.as<InputState>();
  if (in == nullptr || !in->complete || buffer == nullptr || size <= 0) return 0;
  return TimReadItem(in->texts, in->peak, type, std::span<char>(buffer, static_cast<std::size_t>(size)))
             ? static_cast<DWORD>(size)
             : 0;
}

void WINAPI CloseFilterInput(HANDLE input) {
  if (input) ReleaseInput(input);
}

DWORD WINAPI GetSuggestedSampleType(LONG* rate, WORD* bits, WORD* channels) {
  if (rate) *rate = 0;
  if (bits) *bits = 16;
  if (channels) *channels = 1;
  return 0;
}

HANDLE WINAPI OpenFilterOutput(LPCSTR path, LONG rate, WORD bits, WORD channels, LONG byteCount, LONG* bufferSize,
                               DWORD option) {
  // Only 16-bit mono audio is taken, and nothing is created for anything else.
  if (channels != 1 || bits != 16 || rate <= 0 || byteCount < 0 || path == nullptr) return nullptr;
  // The state and the file are staged: whatever fails on the way gives both back.
  Staging staging;
  HGLOBAL handle = staging.Alloc(sizeof(OutputState), GHND);
  auto* out = handle ? static_cast<OutputState*>(staging.Lock(handle)) : nullptr;
  if (!out) return nullptr;
  out->mode = static_cast<WORD>(NormalOption(option) - 1);
  out->samples = byteCount / 2;
  out->length = TimRecordLength(out->samples);
  out->rate = rate;
  out->returned = TimReturned{};
  out->file = staging.OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS);
  if (out->file == INVALID_HANDLE_VALUE) return nullptr;
  uint8_t header[kTimHeaderBytes];
  TimBuildHeader(out->mode, rate, out->length, header);
  if (!WriteAll(out->file, header, sizeof header)) return nullptr;
  // Both belong to the host's output handle from here on.
  staging.Release(out->file);
  staging.Release(handle);
  if (bufferSize) *bufferSize = kChunkBytes;
  return handle;
}

DWORD WINAPI FilterCanWriteSpecial(HANDLE, LONG type) { return TimItemWritable(type) ? 1 : 0; }

DWORD WINAPI FilterWriteSpecial(HANDLE output, LONG type, LPCSTR text, LONG size) {
  BlockLock lock(output);
  auto* out = lock.as<OutputState>();
  if (out == nullptr) return 0;
  const std::size_t bytes = text != nullptr && size > 0 ? static_cast<std::size_t>(size) : 0;
  TimWriteItem(out->returned, type, std::span<const char>(text, bytes));
  return static_cast<DWORD>(size);
}

DWORD WINAPI WriteFilterOutput(HANDLE output, const BYTE* samples, LONG byteCount) {
  BlockLock lock(output);
  auto* out = lock.as<OutputState>();
  if (out == nullptr || byteCount < 0 || (samples == nullptr && byteCount > 0)) return 0;
  if (out->done) return static_cast<DWORD>(byteCount);
  LONG n = byteCount / 2;
  LONG zeros = 0;
  if (out->samples > kTimMaxWrittenPoints) {
    if (n > kTimMaxWrittenPoints - out->written) {
      n = kTimMaxWrittenPoints - out->written;
      out->done = TRUE;
    }
  } else if (n >= out->samples - out->written) {
    // The last chunk (a host that sends more than it announced is held to its count).
    n = out->samples - out->written;
    zeros = out->length - out->samples;
    out->done = TRUE;
  }
  const TimReturned& r = out->returned;
  const float scale = r.specialsUsable && r.scaleGiven ? r.scale : 1.0f;
  const auto* in = reinterpret_cast<const int16_t*>(samples);
  for (LONG done = 0; done < n;) {
    const LONG block = std::min<LONG>(kTimBlockPoints, n - done);
    TimSamplesToPoints(std::span<const int16_t>(in + done, static_cast<std::size_t>(block)), scale,
                       std::span<float>(out->conversion, static_cast<std::size_t>(block)));
    if (!WriteAll(out->file, out->conversion, static_cast<DWORD>(block) * 4)) return 0;
    done += block;
    out->written += block;
  }
  if (zeros > 0) std::fill(std::begin(out->conversion), std::end(out->conversion), 0.0f);
  for (LONG done = 0; done < zeros;) {
    const LONG block = std::min<LONG>(kTimBlockPoints, zeros - done);
    if (!WriteAll(out->file, out->conversion, static_cast<DWORD>(block) * 4)) return 0;
    done += block;
    out->written += block;
  }
  return static_cast<DWORD>(byteCount);
}

DWORD WINAPI CloseFilterOutput(HANDLE output) {
  bool written = false;
  {
    BlockLock lock(output);
    auto* out = lock.as<OutputState>();
    if (out == nullptr) return 0;
    if (out->written == out->length) {
      const TimReturned& r = out->returned;
      uint8_t settings[kTimSettingsBytes];
      const char* title = r.texts.title;
      const char* comment = r.texts.comment;
      const bool restored = r.specialsUsable && r.scaleGiven && r.texts.settings1[0] && r.texts.settings2[0] &&
                            r.texts.settings3[0] &&
                            TimRestoreSettings(r.texts, settings, out->rate, out->length, out->mode);
      if (!restored) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        TimDefaultSettings(settings, out->rate, out->length, out->mode,
                           TimDateTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond});
        title = kTimDefaultTitle;
        comment = kTimDefaultComment;
      }
      uint8_t trailer[kTimTrailerBytes];
      TimBuildTrailer(title, comment, settings, trailer);
      written = WriteAll(out->file, trailer, sizeof trailer);
    }
    if (!CloseHandle(out->file)) written = false;
  }
  GlobalFree(output);
  return written ? 1 : 0;
}
