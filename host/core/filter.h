// A file-filter module driven as the host audio editor drives one, the same for both
// hosts: its entry table, reading a file in the host's call sequence (open, chunks of
// at most 8192 bytes, the option, the text items, close) and writing one (open, the
// items, chunks, close). What a host adds (how the module is loaded, the options dialog,
// where the file is written, the messages for the user) stays in the host.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "frame/filter_interface.h"
#include "frame/xfm.h"

namespace tovrel::host {

struct FilterEntries {
  QueryVornFilterFn query = nullptr;
  FilterUnderstandsFormatFn understands = nullptr;
  FilterGetOptionsFn getOptions = nullptr;
  OpenFilterInputFn openInput = nullptr;
  FilterGetFileSizeFn fileSize = nullptr;
  ReadFilterInputFn read = nullptr;
  FilterOptionsFn options = nullptr;
  FilterOptionsStringFn optionsString = nullptr;
  FilterCanReadSpecialFn canReadSpecial = nullptr;
  FilterReadSpecialFn readSpecial = nullptr;
  CloseFilterInputFn closeInput = nullptr;
  OpenFilterOutputFn openOutput = nullptr;
  FilterCanWriteSpecialFn canWriteSpecial = nullptr;
  FilterWriteSpecialFn writeSpecial = nullptr;
  WriteFilterOutputFn write = nullptr;
  CloseFilterOutputFn closeOutput = nullptr;

  // Fetches every entry by its export name through `lookup` (name -> FARPROC). The name
  // of the first missing one, or empty when all are there.
  template <class Lookup>
  std::string Load(Lookup lookup);
};

// One text item ("special data") of a file, as its filter offered it.
struct FilterItem {
  LONG type = 0;
  LONG size = 0;     // the buffer size the filter announced, terminator included
  std::string text;  // at most size - 1 characters
};

// The chunk size used with a filter's announced buffer size: at most 8192 bytes and a
// whole number of frames.
LONG FilterChunkBytes(LONG announced, int channels);

// A file read through a filter.
struct FilterRead {
  bool opened = false;
  bool formatOk = false;  // 16-bit mono or stereo at a positive rate, whole frames announced
  bool ok = false;        // opened, format fine, every chunk read in full
  LONG rate = 0, bufferSize = 0, fileSize = 0;
  WORD bits = 0, channels = 0;
  long chunks = 0;
  std::vector<int16_t> samples;
  DWORD option = 0;
  std::string optionText;
  std::vector<FilterItem> items;
};
FilterRead ReadThroughFilter(const FilterEntries& filter, const std::string& path, HWND window);

// A document written through a filter with the option chosen.
struct FilterWrite {
  bool opened = false;
  LONG bufferSize = 0;
  std::vector<std::pair<LONG, DWORD>> specials;  // item type, FilterWriteSpecial's result
  long chunks = 0;
  LONG largestChunk = 0;
  bool ok = false;  // every chunk taken in full
  DWORD closed = 0;
};
FilterWrite WriteThroughFilter(const FilterEntries& filter, const std::string& path, LONG rate, int channels,
                               const std::vector<int16_t>& samples, DWORD option,
                               const std::vector<FilterItem>* items);

template <class Lookup>
std::string FilterEntries::Load(Lookup lookup) {
  std::string missing;
  const auto get = [&](auto& entry, const char* name) {
    entry = ExportCast<std::remove_reference_t<decltype(entry)>>(lookup(name));
    if (!entry && missing.empty()) missing = name;
  };
  get(query, "QueryVornFilter");
  get(understands, "FilterUnderstandsFormat");
  get(getOptions, "FilterGetOptions");
  get(openInput, "OpenFilterInput");
  get(fileSize, "FilterGetFileSize");
  get(read, "ReadFilterInput");
  get(options, "FilterOptions");
  get(optionsString, "FilterOptionsString");
  get(canReadSpecial, "FilterCanReadSpecial");
  get(readSpecial, "FilterReadSpecial");
  get(closeInput, "CloseFilterInput");
  get(openOutput, "OpenFilterOutput");
  get(canWriteSpecial, "FilterCanWriteSpecial");
  get(writeSpecial, "FilterWriteSpecial");
  get(write, "WriteFilterOutput");
  get(closeOutput, "CloseFilterOutput");
  return missing;
}

}  // namespace tovrel::host
