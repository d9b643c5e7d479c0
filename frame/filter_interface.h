// The host audio editor's file-filter interface: the descriptor a filter fills and the
// entry points the host calls to read and write documents through it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win.h"

// Filled by QueryVornFilter into memory of the host (byte offsets of the 32-bit host,
// the same on every target: the record holds no pointers).
struct FilterDescriptor {
  char name[24];           // 0: short name
  char description[80];    // 24
  WORD sampleTypes[13];    // 104..128: one word per kind of sample data; 124 is 16-bit mono
  WORD reserved130;        // 130
  DWORD flags;             // 132
  char extension[4];       // 136: file name extension, without the dot
  DWORD bufferSize;        // 140: bytes per read or write call
};
static_assert(offsetof(FilterDescriptor, name) == 0);
static_assert(offsetof(FilterDescriptor, description) == 24);
static_assert(offsetof(FilterDescriptor, sampleTypes) == 104);
static_assert(offsetof(FilterDescriptor, flags) == 132);
static_assert(offsetof(FilterDescriptor, extension) == 136);
static_assert(offsetof(FilterDescriptor, bufferSize) == 140);
static_assert(sizeof(FilterDescriptor) == 144);

inline constexpr WORD kFilterQueryResult = 0x480;

// Entry points (stdcall on win32), by export name. Input and output handles are
// movable global memory blocks owned by the filter.
typedef WORD(WINAPI* QueryVornFilterFn)(FilterDescriptor* descriptor);
typedef BOOL(WINAPI* FilterUnderstandsFormatFn)(LPCSTR path);
typedef DWORD(WINAPI* FilterGetOptionsFn)(HWND owner, HINSTANCE instance, LONG rate, WORD channels,
                                          WORD bits, DWORD option);
typedef HANDLE(WINAPI* OpenFilterInputFn)(LPCSTR path, LONG* rate, WORD* bits, WORD* channels, HWND window,
                                          LONG* bufferSize);
typedef LONG(WINAPI* FilterGetFileSizeFn)(HANDLE input);
typedef DWORD(WINAPI* ReadFilterInputFn)(HANDLE input, BYTE* samples, LONG byteCount);
typedef DWORD(WINAPI* FilterOptionsFn)(HANDLE input);
typedef DWORD(WINAPI* FilterOptionsStringFn)(HANDLE input, LPSTR text);
typedef DWORD(WINAPI* FilterCanReadSpecialFn)(HANDLE input, LONG type);
typedef DWORD(WINAPI* FilterReadSpecialFn)(HANDLE input, LONG type, LPSTR buffer, LONG size);
typedef void(WINAPI* CloseFilterInputFn)(HANDLE input);
typedef DWORD(WINAPI* GetSuggestedSampleTypeFn)(LONG* rate, WORD* bits, WORD* channels);
typedef HANDLE(WINAPI* OpenFilterOutputFn)(LPCSTR path, LONG rate, WORD bits, WORD channels, LONG byteCount,
                                           LONG* bufferSize, DWORD option);
typedef DWORD(WINAPI* FilterCanWriteSpecialFn)(HANDLE output, LONG type);
typedef DWORD(WINAPI* FilterWriteSpecialFn)(HANDLE output, LONG type, LPCSTR text, LONG size);
typedef DWORD(WINAPI* WriteFilterOutputFn)(HANDLE output, const BYTE* samples, LONG byteCount);
// Returns 1 when the file was completed and written, 0 otherwise (a host that declares
// it void loses nothing).
typedef DWORD(WINAPI* CloseFilterOutputFn)(HANDLE output);

// The export name of GetSuggestedSampleType, as the 32-bit host knows it.
inline constexpr char kGetSuggestedSampleTypeExport[] = "_GetSuggestedSampleType@12";
