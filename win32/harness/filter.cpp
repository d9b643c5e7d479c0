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

#include "host/core/filter.h"
#include "host/core/wavfile.h"
#include "win32/harness/watch.h"

namespace harness {

namespace {

using tovrel::host::Document;
using tovrel::host::FilterEntries;
using tovrel::host::FilterRead;
using tovrel::host::FilterWrite;
using tovrel::host::Json;

struct FilterOptions {
  std::string module;
  std::string readPath, writePath;
  std::string wavIn, fromPath, wavOut, json;
  long option = -1;
  size_t samplesLimit = 65536;
};

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

Json ReportRead(const FilterRead& r, BOOL understands, size_t limit) {
  Json j = Json::object();
  j["understands"] = understands;
  j["opened"] = r.opened;
  j["ok"] = r.ok;
  j["bufferSize"] = static_cast<long>(r.bufferSize);
  j["fileSize"] = static_cast<long>(r.fileSize);
  j["chunks"] = r.chunks;
  j["rate"] = static_cast<long>(r.rate);
  j["bits"] = r.bits;
  j["channels"] = r.channels;
  j["frames"] = r.channels ? static_cast<long long>(r.samples.size() / r.channels) : 0;
  j["checksum"] = static_cast<long long>(Checksum(r.samples));
  if (r.samples.size() <= limit) {
    Json samples = Json::array();
    for (int16_t v : r.samples) samples.push(static_cast<int>(v));
    j["samples"] = samples;
  }
  j["option"] = static_cast<long long>(r.option);
  j["optionText"] = r.optionText;
  Json items = Json::array();
  for (const auto& item : r.items) {
    Json ij = Json::object();
    ij["type"] = static_cast<long>(item.type);
    ij["size"] = static_cast<long>(item.size);
    ij["hex"] = tovrel::host::HexText(item.text.data(), item.text.size());
    items.push(ij);
  }
  j["items"] = items;
  return j;
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
      script().steps.push_back({std::atoi(v.c_str()), 0});
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

int RunFilter(int argc, char** argv, HWND frame, void (*reportWatch)(Json&)) {
  FilterOptions opt;
  std::string error;
  if (!Parse(argc, argv, opt, error)) return Fail(error);
  if (!frame) return Fail("cannot create the main window");
  HMODULE module = LoadLibraryA(opt.module.c_str());
  if (!module) return Fail("cannot load " + opt.module + " (error " + std::to_string(GetLastError()) + ")");
  FilterEntries e;
  if (!e.Load([module](const char* name) { return GetProcAddress(module, name); }).empty())
    return Fail(opt.module + " is no file filter");
  StartWatching(module);

  Json j = Json::object();
  j["module"] = opt.module;
  // The descriptor, in memory larger than the record so that an overrun shows.
  BYTE descriptor[sizeof(FilterDescriptor) + 64] = {};
  const WORD queryResult = e.query(reinterpret_cast<FilterDescriptor*>(descriptor));
  bool overrun = false;
  for (size_t i = sizeof(FilterDescriptor); i < sizeof descriptor; ++i) overrun |= descriptor[i] != 0;
  Json query = Json::object();
  query["result"] = queryResult;
  query["descriptor"] = tovrel::host::HexText(descriptor, sizeof(FilterDescriptor));
  query["overrun"] = overrun;
  j["query"] = query;

  std::vector<std::string> errors;
  auto readThrough = [&](const std::string& path) {
    const BOOL understands = e.understands(path.c_str());
    FilterRead r = tovrel::host::ReadThroughFilter(e, path, frame);
    j["read"] = ReportRead(r, understands, opt.samplesLimit);
    return r;
  };
  if (!opt.readPath.empty()) {
    const FilterRead r = readThrough(opt.readPath);
    if (!opt.wavOut.empty() && r.opened) {
      Document doc = Document::Empty(r.rate, r.channels);
      doc.samples = r.samples;
      if (!tovrel::host::WriteWavFile(opt.wavOut, doc)) errors.push_back("cannot write " + opt.wavOut);
    }
  } else {
    FilterRead doc;
    bool withItems = false;
    if (!opt.fromPath.empty()) {
      doc = readThrough(opt.fromPath);
      withItems = doc.opened && doc.ok;
    } else {
      Document wav;
      if (!tovrel::host::ReadWavFile(opt.wavIn, wav, error)) return Fail(error);
      doc.rate = static_cast<LONG>(wav.sampleRate);
      doc.channels = static_cast<WORD>(wav.channels);
      doc.bits = 16;
      doc.samples = std::move(wav.samples);
      doc.ok = true;
    }
    if (doc.ok) {
      const DWORD start = opt.option >= 0 ? static_cast<DWORD>(opt.option) : withItems ? doc.option : 0;
      Json wj = Json::object();
      const DWORD option = e.getOptions(frame, module, doc.rate, doc.channels, 16, start);
      wj["option"] = static_cast<long long>(option);
      FilterWrite w;
      if (option != 0)
        w = tovrel::host::WriteThroughFilter(e, opt.writePath, doc.rate, doc.channels, doc.samples, option,
                                             withItems ? &doc.items : nullptr);
      wj["opened"] = w.opened;
      wj["bufferSize"] = static_cast<long>(w.bufferSize);
      Json specials = Json::array();
      for (const auto& [type, result] : w.specials) {
        Json sj = Json::object();
        sj["type"] = static_cast<long>(type);
        sj["result"] = static_cast<long long>(result);
        specials.push(sj);
      }
      wj["specials"] = specials;
      wj["chunks"] = w.chunks;
      wj["largestChunk"] = static_cast<long>(w.largestChunk);
      wj["ok"] = w.ok;
      wj["closed"] = static_cast<long long>(w.closed);
      j["write"] = wj;
    }
  }
  reportWatch(j);
  Json errorList = Json::array();
  for (const auto& s : errors) errorList.push(s);
  j["errors"] = errorList;
  StopWatching();
  FreeLibrary(module);

  std::string text = j.dump() + "\n";
  if (opt.json.empty()) {
    std::fwrite(text.data(), 1, text.size(), stdout);
  } else if (!tovrel::host::WriteFileBytes(opt.json, text.data(), text.size())) {
    return Fail("cannot write " + opt.json);
  }
  return 0;
}

}  // namespace harness
