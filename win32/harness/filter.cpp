// The file-filter mode of the harness. It drives a filter DLL as the host audio editor
// does: FilterUnderstandsFormat, OpenFilterInput, ReadFilterInput in chunks, the option
// and the special items, CloseFilterInput; on saving FilterGetOptions (the real options
// dialog, scripted like a transform's), OpenFilterOutput, FilterWriteSpecial with the
// items read, WriteFilterOutput in chunks of at most 8192 bytes, CloseFilterOutput.
//
//   tovrel-harness FILTER.dll --filter-read FILE [--wav-out FILE.wav]
//   tovrel-harness FILTER.dll --filter-write FILE (--in FILE.wav | --from FILE) [--option N]
//     --set CONTROL=VALUE, --press ID, --finish ok|cancel|close|none, --answer ID
//                                    as for transforms, on the options dialog
//     --option N                     the option the dialog starts from (default: the
//                                    option of the --from file, else 0)
//     --json FILE, --samples-limit N as for transforms
#include "win32/harness/filter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "timfile/filter_interface.h"
#include "win32/harness/watch.h"

namespace harness {

namespace {

constexpr LONG kMaxChunkBytes = 8192;
constexpr LONG kLastItemType = 255;
constexpr DWORD kMaxItemBytes = 1 << 16;

struct FilterOptions {
  std::string module;
  std::string readPath, writePath;
  std::string wavIn, fromPath, wavOut, json;
  long option = -1;
  size_t samplesLimit = 65536;
};

struct Entries {
  QueryVornFilterFn query = nullptr;
  FilterUnderstandsFormatFn understands = nullptr;
  FilterGetOptionsFn getOptions = nullptr;
  OpenFilterInputFn openInput = nullptr;
  FilterGetFileSizeFn fileSize = nullptr;
  ReadFilterInputFn read = nullptr;
  FilterOptionsStringFn optionsString = nullptr;
  FilterCanReadSpecialFn canReadSpecial = nullptr;
  FilterReadSpecialFn readSpecial = nullptr;
  CloseFilterInputFn closeInput = nullptr;
  OpenFilterOutputFn openOutput = nullptr;
  FilterCanWriteSpecialFn canWriteSpecial = nullptr;
  FilterWriteSpecialFn writeSpecial = nullptr;
  WriteFilterOutputFn write = nullptr;
  CloseFilterOutputFn closeOutput = nullptr;
};

struct Item {
  LONG type = 0;
  LONG size = 0;  // announced, terminator included
  std::string text;
};

// A document read through the filter.
struct Read {
  bool opened = false;
  bool ok = false;  // every chunk read in full
  BOOL understands = 0;
  LONG rate = 0, bufferSize = 0, fileSize = 0;
  WORD bits = 0, channels = 0;
  long chunks = 0;
  std::vector<int16_t> samples;
  DWORD option = 0;
  std::string optionText;
  std::vector<Item> items;
};

template <typename Fn>
Fn Entry(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

LONG ChunkBytes(LONG announced, int channels) {
  const LONG frame = 2 * std::max(channels, 1);
  LONG chunk = announced > 0 ? std::min(announced, kMaxChunkBytes) : kMaxChunkBytes;
  chunk -= chunk % frame;
  return std::max(chunk, frame);
}

// FNV-1a over the sample bytes, little-endian.
unsigned long Checksum(const std::vector<int16_t>& samples) {
  unsigned long h = 2166136261ul;
  for (int16_t s : samples) {
    for (int shift : {0, 8}) {
      h ^= (static_cast<uint16_t>(s) >> shift) & 0xFFu;
      h = (h * 16777619ul) & 0xFFFFFFFFul;
    }
  }
  return h;
}

Read ReadThrough(const Entries& e, HWND frame, const std::string& path) {
  Read r;
  r.understands = e.understands(path.c_str());
  HANDLE in = e.openInput(path.c_str(), &r.rate, &r.bits, &r.channels, frame, &r.bufferSize);
  if (!in) return r;
  r.opened = true;
  r.fileSize = e.fileSize(in);
  r.ok = r.fileSize >= 0 && r.bits == 16 && r.channels >= 1 && r.fileSize % (2 * r.channels) == 0;
  if (r.ok) {
    r.samples.resize(static_cast<size_t>(r.fileSize / 2));
    auto* bytes = reinterpret_cast<BYTE*>(r.samples.data());
    const LONG chunk = ChunkBytes(r.bufferSize, r.channels);
    for (LONG at = 0; at < r.fileSize && r.ok; at += chunk) {
      const LONG n = std::min(chunk, r.fileSize - at);
      ++r.chunks;
      r.ok = e.read(in, bytes + at, n) == static_cast<DWORD>(n);
    }
  }
  char optionText[256] = {};
  r.option = e.optionsString(in, optionText);
  optionText[sizeof optionText - 1] = '\0';
  r.optionText = optionText;
  for (LONG type = 1; type <= kLastItemType; ++type) {
    const DWORD size = e.canReadSpecial(in, type);
    if (size == 0 || size > kMaxItemBytes) continue;
    std::vector<char> buffer(size + 1, '\0');
    if (e.readSpecial(in, type, buffer.data(), static_cast<LONG>(size)) == 0) continue;
    r.items.push_back({type, static_cast<LONG>(size), std::string(buffer.data(), strnlen(buffer.data(), size))});
  }
  e.closeInput(in);
  return r;
}

bool ReadWhole(const std::string& path, std::vector<BYTE>& data) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  BYTE buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  std::fclose(f);
  return true;
}

bool WriteWhole(const std::string& path, const void* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

DWORD Le32(const BYTE* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<DWORD>(p[3]) << 24; }
WORD Le16(const BYTE* p) { return static_cast<WORD>(p[0] | p[1] << 8); }
void Put32(BYTE* p, DWORD v) { p[0] = v & 255, p[1] = v >> 8 & 255, p[2] = v >> 16 & 255, p[3] = v >> 24; }
void Put16(BYTE* p, WORD v) { p[0] = v & 255, p[1] = v >> 8; }

// A 16-bit PCM WAV file, chunks in any order.
bool LoadWav(const std::string& path, Read& doc, std::string& error) {
  std::vector<BYTE> f;
  if (!ReadWhole(path, f)) return error = "cannot read " + path, false;
  if (f.size() < 12 || std::memcmp(f.data(), "RIFF", 4) || std::memcmp(f.data() + 8, "WAVE", 4))
    return error = path + " is not a WAV file", false;
  bool fmt = false;
  for (size_t pos = 12; pos + 8 <= f.size();) {
    DWORD size = Le32(&f[pos + 4]);
    const size_t body = pos + 8;
    if (size > f.size() - body) size = static_cast<DWORD>(f.size() - body);
    if (!std::memcmp(&f[pos], "fmt ", 4) && size >= 16) {
      if (Le16(&f[body]) != 1 || Le16(&f[body + 14]) != 16) return error = path + " is not 16-bit PCM", false;
      doc.channels = Le16(&f[body + 2]);
      doc.rate = static_cast<LONG>(Le32(&f[body + 4]));
      fmt = true;
    } else if (!std::memcmp(&f[pos], "data", 4)) {
      if (!fmt) return error = path + " has no format before its data", false;
      doc.samples.resize(size / 2);
      std::memcpy(doc.samples.data(), &f[body], doc.samples.size() * 2);
      doc.bits = 16;
      doc.ok = true;
      return true;
    }
    pos = body + size + (size & 1);
  }
  return error = path + " has no data", false;
}

bool SaveWav(const std::string& path, const Read& doc) {
  const DWORD bytes = static_cast<DWORD>(doc.samples.size() * 2);
  std::vector<BYTE> w(44 + bytes);
  std::memcpy(&w[0], "RIFF", 4);
  Put32(&w[4], 36 + bytes);
  std::memcpy(&w[8], "WAVEfmt ", 8);
  Put32(&w[16], 16);
  Put16(&w[20], 1);
  Put16(&w[22], doc.channels);
  Put32(&w[24], static_cast<DWORD>(doc.rate));
  Put32(&w[28], static_cast<DWORD>(doc.rate) * 2u * doc.channels);
  Put16(&w[32], static_cast<WORD>(2 * doc.channels));
  Put16(&w[34], 16);
  std::memcpy(&w[36], "data", 4);
  Put32(&w[40], bytes);
  if (bytes) std::memcpy(&w[44], doc.samples.data(), bytes);
  return WriteWhole(path, w.data(), w.size());
}

void ReportDocument(JsonWriter& j, const Read& r, size_t limit) {
  j.Key("rate");
  j.Int(r.rate);
  j.Key("bits");
  j.Int(r.bits);
  j.Key("channels");
  j.Int(r.channels);
  j.Key("frames");
  j.Int(r.channels ? static_cast<long long>(r.samples.size() / r.channels) : 0);
  j.Key("checksum");
  j.Int(static_cast<long long>(Checksum(r.samples)));
  if (r.samples.size() <= limit) {
    j.Key("samples");
    j.Samples(r.samples.data(), r.samples.size());
  }
}

void ReportRead(JsonWriter& j, const Read& r, size_t limit) {
  j.BeginObject();
  j.Key("understands");
  j.Int(r.understands);
  j.Key("opened");
  j.Bool(r.opened);
  j.Key("ok");
  j.Bool(r.ok);
  j.Key("bufferSize");
  j.Int(r.bufferSize);
  j.Key("fileSize");
  j.Int(r.fileSize);
  j.Key("chunks");
  j.Int(r.chunks);
  ReportDocument(j, r, limit);
  j.Key("option");
  j.Int(r.option);
  j.Key("optionText");
  j.String(r.optionText);
  j.Key("items");
  j.BeginArray();
  for (const Item& item : r.items) {
    j.BeginObject();
    j.Key("type");
    j.Int(item.type);
    j.Key("size");
    j.Int(item.size);
    j.Key("hex");
    j.Hex(item.text.data(), item.text.size());
    j.EndObject();
  }
  j.EndArray();
  j.EndObject();
}

struct WriteResult {
  DWORD option = 0;
  bool opened = false;
  LONG bufferSize = 0;
  std::vector<std::pair<LONG, DWORD>> specials;  // item type, FilterWriteSpecial's result
  long chunks = 0;
  LONG largestChunk = 0;
  bool ok = false;  // every chunk taken in full
  DWORD closed = 0;
};

WriteResult WriteThrough(const Entries& e, HWND frame, HMODULE module, const std::string& path, const Read& doc,
                         bool withItems, DWORD startOption) {
  WriteResult w;
  w.option = e.getOptions(frame, module, doc.rate, doc.channels, 16, startOption);
  if (w.option == 0) return w;
  const LONG total = static_cast<LONG>(doc.samples.size() * 2);
  HANDLE out = e.openOutput(path.c_str(), doc.rate, 16, doc.channels, total, &w.bufferSize, w.option);
  if (!out) return w;
  w.opened = true;
  if (withItems) {
    for (const Item& item : doc.items) {
      if (!e.canWriteSpecial(out, item.type)) continue;
      std::vector<char> buffer(static_cast<size_t>(std::max<LONG>(item.size, 1)), '\0');
      std::memcpy(buffer.data(), item.text.data(), std::min(item.text.size(), buffer.size() - 1));
      w.specials.emplace_back(item.type, e.writeSpecial(out, item.type, buffer.data(), item.size));
    }
  }
  const auto* bytes = reinterpret_cast<const BYTE*>(doc.samples.data());
  const LONG chunk = ChunkBytes(w.bufferSize, doc.channels);
  w.ok = true;
  if (total == 0) w.ok = e.write(out, bytes, 0) == 0;
  for (LONG at = 0; at < total && w.ok; at += chunk) {
    const LONG n = std::min(chunk, total - at);
    ++w.chunks;
    w.largestChunk = std::max(w.largestChunk, n);
    w.ok = e.write(out, bytes + at, n) == static_cast<DWORD>(n);
  }
  w.closed = e.closeOutput(out);
  return w;
}

bool Parse(int argc, char** argv, FilterOptions& opt, std::string& error) {
  if (argc < 2) return error = "no filter DLL given", false;
  opt.module = argv[1];
  Watch& w = TheWatch();
  auto script = [&w]() -> DialogScript& {
    if (w.scripts.empty()) w.scripts.resize(1);
    return w.scripts[0];
  };
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return error = "missing value after " + a, false;
    const std::string v = argv[++i];
    if (a == "--filter-read") {
      opt.readPath = v;
    } else if (a == "--filter-write") {
      opt.writePath = v;
    } else if (a == "--in") {
      opt.wavIn = v;
    } else if (a == "--from") {
      opt.fromPath = v;
    } else if (a == "--wav-out") {
      opt.wavOut = v;
    } else if (a == "--json") {
      opt.json = v;
    } else if (a == "--samples-limit") {
      opt.samplesLimit = std::strtoul(v.c_str(), nullptr, 10);
    } else if (a == "--option") {
      opt.option = std::strtol(v.c_str(), nullptr, 10);
    } else if (a == "--set") {
      const size_t eq = v.find('=');
      if (eq == std::string::npos) return error = "--set takes CONTROL=VALUE", false;
      script().sets.emplace_back(v.substr(0, eq), v.substr(eq + 1));
    } else if (a == "--press") {
      script().presses.push_back(std::atoi(v.c_str()));
    } else if (a == "--finish") {
      const Finish f = v == "ok" ? Finish::Ok : v == "cancel" ? Finish::Cancel : v == "close" ? Finish::Close
                                                                : v == "none"  ? Finish::None
                                                                               : Finish::Default;
      if (f == Finish::Default) return error = "bad --finish " + v, false;
      script().finish = f;
    } else if (a == "--answer") {
      w.answers.push_back(std::atoi(v.c_str()));
    } else {
      return error = "unknown option " + a + " in the filter mode", false;
    }
  }
  if (opt.readPath.empty() == opt.writePath.empty())
    return error = "give one of --filter-read and --filter-write", false;
  if (!opt.writePath.empty() && opt.wavIn.empty() == opt.fromPath.empty())
    return error = "--filter-write takes one of --in and --from", false;
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "tovrel-harness: %s\n", message.c_str());
  return 2;
}

}  // namespace

bool IsFilterRun(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--filter-read") || !std::strcmp(argv[i], "--filter-write")) return true;
  return false;
}

int RunFilter(int argc, char** argv, HWND frame, void (*reportWatch)(JsonWriter&)) {
  FilterOptions opt;
  std::string error;
  if (!Parse(argc, argv, opt, error)) return Fail(error);
  if (!frame) return Fail("cannot create the main window");
  HMODULE module = LoadLibraryA(opt.module.c_str());
  if (!module) return Fail("cannot load " + opt.module + " (error " + std::to_string(GetLastError()) + ")");
  Entries e;
  e.query = Entry<QueryVornFilterFn>(module, "QueryVornFilter");
  e.understands = Entry<FilterUnderstandsFormatFn>(module, "FilterUnderstandsFormat");
  e.getOptions = Entry<FilterGetOptionsFn>(module, "FilterGetOptions");
  e.openInput = Entry<OpenFilterInputFn>(module, "OpenFilterInput");
  e.fileSize = Entry<FilterGetFileSizeFn>(module, "FilterGetFileSize");
  e.read = Entry<ReadFilterInputFn>(module, "ReadFilterInput");
  e.optionsString = Entry<FilterOptionsStringFn>(module, "FilterOptionsString");
  e.canReadSpecial = Entry<FilterCanReadSpecialFn>(module, "FilterCanReadSpecial");
  e.readSpecial = Entry<FilterReadSpecialFn>(module, "FilterReadSpecial");
  e.closeInput = Entry<CloseFilterInputFn>(module, "CloseFilterInput");
  e.openOutput = Entry<OpenFilterOutputFn>(module, "OpenFilterOutput");
  e.canWriteSpecial = Entry<FilterCanWriteSpecialFn>(module, "FilterCanWriteSpecial");
  e.writeSpecial = Entry<FilterWriteSpecialFn>(module, "FilterWriteSpecial");
  e.write = Entry<WriteFilterOutputFn>(module, "WriteFilterOutput");
  e.closeOutput = Entry<CloseFilterOutputFn>(module, "CloseFilterOutput");
  if (!e.query || !e.understands || !e.getOptions || !e.openInput || !e.fileSize || !e.read || !e.optionsString ||
      !e.canReadSpecial || !e.readSpecial || !e.closeInput || !e.openOutput || !e.canWriteSpecial ||
      !e.writeSpecial || !e.write || !e.closeOutput) {
    return Fail(opt.module + " is no file filter");
  }
  StartWatching(module);

  JsonWriter j;
  j.BeginObject();
  j.Key("module");
  j.String(opt.module);
  // The descriptor, in memory larger than the record so that an overrun shows.
  BYTE descriptor[sizeof(FilterDescriptor) + 64] = {};
  const WORD queryResult = e.query(reinterpret_cast<FilterDescriptor*>(descriptor));
  bool overrun = false;
  for (size_t i = sizeof(FilterDescriptor); i < sizeof descriptor; ++i) overrun |= descriptor[i] != 0;
  j.Key("query");
  j.BeginObject();
  j.Key("result");
  j.Int(queryResult);
  j.Key("descriptor");
  j.Hex(descriptor, sizeof(FilterDescriptor));
  j.Key("overrun");
  j.Bool(overrun);
  j.EndObject();

  std::vector<std::string> errors;
  if (!opt.readPath.empty()) {
    const Read r = ReadThrough(e, frame, opt.readPath);
    j.Key("read");
    ReportRead(j, r, opt.samplesLimit);
    if (!opt.wavOut.empty() && r.opened && !SaveWav(opt.wavOut, r)) errors.push_back("cannot write " + opt.wavOut);
  } else {
    Read doc;
    bool withItems = false;
    if (!opt.fromPath.empty()) {
      doc = ReadThrough(e, frame, opt.fromPath);
      j.Key("read");
      ReportRead(j, doc, opt.samplesLimit);
      withItems = doc.opened && doc.ok;
    } else if (!LoadWav(opt.wavIn, doc, error)) {
      return Fail(error);
    }
    if (doc.ok) {
      const DWORD start = opt.option >= 0 ? static_cast<DWORD>(opt.option) : withItems ? doc.option : 0;
      const WriteResult w = WriteThrough(e, frame, module, opt.writePath, doc, withItems, start);
      j.Key("write");
      j.BeginObject();
      j.Key("option");
      j.Int(w.option);
      j.Key("opened");
      j.Bool(w.opened);
      j.Key("bufferSize");
      j.Int(w.bufferSize);
      j.Key("specials");
      j.BeginArray();
      for (const auto& [type, result] : w.specials) {
        j.BeginObject();
        j.Key("type");
        j.Int(type);
        j.Key("result");
        j.Int(result);
        j.EndObject();
      }
      j.EndArray();
      j.Key("chunks");
      j.Int(w.chunks);
      j.Key("largestChunk");
      j.Int(w.largestChunk);
      j.Key("ok");
      j.Bool(w.ok);
      j.Key("closed");
      j.Int(w.closed);
      j.EndObject();
    }
  }
  reportWatch(j);
  j.Key("errors");
  j.BeginArray();
  for (const auto& s : errors) j.String(s);
  j.EndArray();
  j.EndObject();
  StopWatching();
  FreeLibrary(module);

  std::string text = j.text() + "\n";
  if (opt.json.empty()) {
    std::fwrite(text.data(), 1, text.size(), stdout);
  } else if (!WriteWhole(opt.json, text.data(), text.size())) {
    return Fail("cannot write " + opt.json);
  }
  return 0;
}

}  // namespace harness
