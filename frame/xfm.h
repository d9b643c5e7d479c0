// The host audio editor's records and entry points, as the host lays them out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win.h"

#if defined(_WIN32)
#  define TOVREL_EXPORT extern "C"  // exported through the module's .def
#else
#  define TOVREL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Callbacks of the host. They take exactly these arguments: no context is passed.
typedef LONG(WINAPI* XfmDialogInitFn)(HWND window, LONG zero);
typedef LONG(WINAPI* XfmReadSamplesFn)(void* buffer, LONG byteOffset, LONG byteCount);
typedef SHORT(WINAPI* XfmWriteSamplesFn)(const void* buffer, LONG byteOffset, LONG byteCount);
typedef LONG(WINAPI* XfmProgressFn)(LONG done, LONG total);
typedef LONG(WINAPI* XfmStatusTextFn)(LPCSTR text, LONG zero);
typedef LONG(WINAPI* XfmEndProgressFn)(void);
typedef LONG(WINAPI* XfmTempFileNameFn)(LPCSTR prefix, LPSTR buffer);
typedef LONG(WINAPI* XfmDeleteSamplesFn)(LONG byteOffset, LONG byteCount);
typedef LONG(WINAPI* XfmInsertSamplesFn)(LONG byteOffset, LONG byteCount);

// The host's context record, at least 256 bytes. The offsets are those of the 32-bit
// host; pointer fields widen on a 64-bit build, which therefore has its own layout.
struct XfmContext {
  WORD channels;              // 0: 1 mono, 2 interleaved stereo
  WORD bitsPerSample;         // 2
  BYTE reserved4[4];          // 4
  LONG sampleRate;            // 8
  HGLOBAL paramHandle;        // 12: the module's parameter block
  LONG selStart;              // 16: first selected frame
  LONG selEnd;                // 20: last selected frame, inclusive
  BYTE reserved24[4];         // 24
  LPCSTR caption;             // 28: caption of error boxes
  XfmDialogInitFn dialogInit;        // 32
  XfmReadSamplesFn readSamples;      // 36
  XfmWriteSamplesFn writeSamples;    // 40
  LONG* cancelFlag;                  // 44
  XfmProgressFn progress;            // 48, may be null
  XfmStatusTextFn statusText;        // 52, may be null
  XfmEndProgressFn endProgress;      // 56, may be null
  BYTE reserved60[84];               // 60
  SHORT batchIndex;                  // 144: -1 when run interactively
  SHORT batchShowDialogs;            // 146
  BYTE reserved148[4];               // 148
  LONG outputLengthSet;              // 152
  LONG outputLength;                 // 156
  BYTE reserved160[20];              // 160
  XfmTempFileNameFn tempFileName;    // 180
  BYTE reserved184[56];              // 184
  HINSTANCE instanceHandle;          // 240
  BYTE reserved244[4];               // 244
  XfmDeleteSamplesFn deleteSamples;  // 248
  XfmInsertSamplesFn insertSamples;  // 252
};

#if defined(_WIN32) || UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(XfmContext, channels) == 0);
static_assert(offsetof(XfmContext, bitsPerSample) == 2);
static_assert(offsetof(XfmContext, sampleRate) == 8);
static_assert(offsetof(XfmContext, paramHandle) == 12);
static_assert(offsetof(XfmContext, selStart) == 16);
static_assert(offsetof(XfmContext, selEnd) == 20);
static_assert(offsetof(XfmContext, caption) == 28);
static_assert(offsetof(XfmContext, dialogInit) == 32);
static_assert(offsetof(XfmContext, readSamples) == 36);
static_assert(offsetof(XfmContext, writeSamples) == 40);
static_assert(offsetof(XfmContext, cancelFlag) == 44);
static_assert(offsetof(XfmContext, progress) == 48);
static_assert(offsetof(XfmContext, statusText) == 52);
static_assert(offsetof(XfmContext, endProgress) == 56);
static_assert(offsetof(XfmContext, batchIndex) == 144);
static_assert(offsetof(XfmContext, batchShowDialogs) == 146);
static_assert(offsetof(XfmContext, outputLengthSet) == 152);
static_assert(offsetof(XfmContext, outputLength) == 156);
static_assert(offsetof(XfmContext, tempFileName) == 180);
static_assert(offsetof(XfmContext, instanceHandle) == 240);
static_assert(offsetof(XfmContext, deleteSamples) == 248);
static_assert(offsetof(XfmContext, insertSamples) == 252);
static_assert(sizeof(XfmContext) == 256);
#endif

// Frames from selStart to selEnd inclusive, counted signed: a selection that ends before
// it starts has none (or fewer), never a huge count.
inline long SelectedFrames(const XfmContext* context) {
  return static_cast<long>(context->selEnd) - static_cast<long>(context->selStart) + 1;
}

// The module's self-description, filled by QueryXfm into memory of the host.
struct XfmDescriptor {
  char menuPath[40];      // 0: "Tovrel\" and the command name
  char copyright[80];     // 40
  char title[70];         // 120
  WORD channels;          // 190: 12 mono and stereo, 4 mono only
  DWORD kind;             // 192: command kind
  DWORD paramSize;        // 196: bytes of the parameter block
  char typeString[48];    // 200: one letter per field of the parameter block
  char flagString[48];    // 248: one "y" per letter
};
static_assert(offsetof(XfmDescriptor, menuPath) == 0);
static_assert(offsetof(XfmDescriptor, copyright) == 40);
static_assert(offsetof(XfmDescriptor, title) == 120);
static_assert(offsetof(XfmDescriptor, channels) == 190);
static_assert(offsetof(XfmDescriptor, kind) == 192);
static_assert(offsetof(XfmDescriptor, paramSize) == 196);
static_assert(offsetof(XfmDescriptor, typeString) == 200);
static_assert(offsetof(XfmDescriptor, flagString) == 248);
static_assert(sizeof(XfmDescriptor) == 296);

// Results and kinds of the interface.
inline constexpr WORD kXfmQueryResult = 0x480;
inline constexpr DWORD kKindGenerator = 2;
inline constexpr DWORD kKindAnalysis = 17;
inline constexpr DWORD kKindConvolver = 689;
inline constexpr DWORD kKindLiveConvolver = 697;
inline constexpr WORD kChannelsMonoStereo = 12;
inline constexpr WORD kChannelsMonoOnly = 4;

// The entry points every transform module exports (stdcall on win32).
typedef WORD(WINAPI* QueryXfmFn)(XfmDescriptor* descriptor);
typedef BOOL(WINAPI* XfmInitFn)(XfmContext* context);
typedef WORD(WINAPI* XfmSetupFn)(HWND parent, HINSTANCE instance, XfmContext* context);
typedef LONG(WINAPI* XfmDoFn)(XfmContext* context);
typedef BOOL(WINAPI* XfmDestroyFn)(XfmContext* context);

#define TOVREL_DECLARE_XFM_EXPORTS()                                                      \
  TOVREL_EXPORT WORD WINAPI QueryXfm(XfmDescriptor* descriptor);                          \
  TOVREL_EXPORT BOOL WINAPI XfmInit(XfmContext* context);                                 \
  TOVREL_EXPORT WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context); \
  TOVREL_EXPORT LONG WINAPI XfmDo(XfmContext* context);                                   \
  TOVREL_EXPORT BOOL WINAPI XfmDestroy(XfmContext* context);                              \
  TOVREL_EXPORT INT_PTR CALLBACK DIALOGMsgProc(HWND, UINT, WPARAM, LPARAM);               \
  TOVREL_EXPORT INT_PTR CALLBACK DIALOGMsgProc2(HWND, UINT, WPARAM, LPARAM)

// A procedure fetched with GetProcAddress, as the type it really has.
template <class Fn>
inline Fn ExportCast(FARPROC proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}
