// tovrel-harness: a small Win32 host for one transform module DLL.
//
// Loads the module with LoadLibrary, fills an XfmContext as the host audio editor lays it
// out, holds a 16-bit document and runs QueryXfm, XfmInit, XfmSetup, XfmDo, XfmDestroy,
// in batch mode or through the module's real dialogs, whose controls it sets as a user
// would. It reports as JSON what happened: results, parameter block, document, the
// Windows clipboard, dialogs, message boxes, help calls and beeps.
//
//   tovrel-harness MODULE.dll [options]
//     --new RATE:CHANNELS[:FRAMES]   new document (of FRAMES silent frames)
//     --in FILE.wav                  document from a 16-bit PCM WAV file
//     --select FIRST:LAST            selection in frames, LAST inclusive (default: all)
//     --batch                        batch mode: every dialog confirms itself
//     --dialog N                     the following --set/--press/--finish apply to the
//                                    N-th dialog the module opens (default 0)
//     --set CONTROL=VALUE            control by label or id; combo items by text or #index
//     --press ID                     press a button before the dialog is finished
//     --finish ok|cancel|close|none  how the dialog ends (default ok; none in batch mode)
//     --answer ID                    message box answers in order (default: its default button)
//     --params-in FILE               parameter block bytes to use after XfmInit
//     --params-out FILE              parameter block bytes after the run
//     --clipboard-in FILE.wav        put the file on the clipboard as CF_WAVE before the run
//     --clipboard-text TEXT          put TEXT on the clipboard as CF_TEXT before the run
//     --keep-clipboard               leave the clipboard as it is (default: emptied)
//     --busy-clipboard               another window holds the clipboard open during the run
//     --clipboard-out FILE.wav       save CF_WAVE data found after the run
//     --cancel-after N               set the cancel flag at the N-th progress call
//     --no-setup                     skip XfmSetup (XfmDo runs with the stored block)
//     --no-run                       stop after XfmInit
//     --out FILE.wav                 save the document after the run
//     --json FILE                    write the report to FILE (default: standard output)
//     --samples-limit N              inline at most N samples in the report (default 65536)
//   tovrel-harness FILTER.dll --filter-read FILE | --filter-write FILE ...
//                                  a file filter instead: see win32/harness/filter.cpp
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame/xfm.h"
#include "win32/harness/filter.h"
#include "win32/harness/report.h"
#include "win32/harness/watch.h"

namespace {

using harness::JsonWriter;

struct Options {
  std::string module;
  long rate = 44100;
  int channels = 1;
  long newFrames = 0;
  std::string input;
  std::string selection;
  bool batch = false;
  std::string paramsIn, paramsOut;
  std::string clipboardIn, clipboardText, clipboardOut;
  bool keepClipboard = false;
  bool busyClipboard = false;
  long cancelAfter = 0;
  bool setup = true;
  bool run = true;
  std::string out, json;
  size_t samplesLimit = 65536;
};

// The document and what the callbacks saw.
struct Host {
  std::vector<BYTE> bytes;  // 16-bit interleaved PCM
  long sampleRate = 44100;
  WORD channels = 1;
  LONG cancel = 0;
  long cancelAfter = 0;
  long progressCalls = 0;
  LONG lastDone = 0, lastTotal = 0;
  long endProgressCalls = 0;
  long dialogInitCalls = 0;
  long badCalls = 0;  // reads or writes outside the document
  std::vector<std::string> status;
  std::vector<std::string> tempFiles;
  std::vector<std::string> errors;
};

Host g_host;

LONG Frames() { return static_cast<LONG>(g_host.bytes.size() / (2u * g_host.channels)); }

LONG WINAPI DialogInit(HWND, LONG) {
  ++g_host.dialogInitCalls;
  return 0;
}

LONG WINAPI ReadSamples(void* buffer, LONG offset, LONG count) {
  if (!buffer || offset < 0 || count < 0) {
    ++g_host.badCalls;
    return 0;
  }
  LONG size = static_cast<LONG>(g_host.bytes.size());
  LONG n = offset >= size ? 0 : (count < size - offset ? count : size - offset);
  if (n < count) ++g_host.badCalls;
  if (n > 0) std::memcpy(buffer, g_host.bytes.data() + offset, n);
  if (n < count) std::memset(static_cast<BYTE*>(buffer) + n, 0, count - n);
  return n;
}

SHORT WINAPI WriteSamples(const void* buffer, LONG offset, LONG count) {
  if (!buffer || offset < 0 || count < 0) {
    ++g_host.badCalls;
    return 1;
  }
  size_t end = static_cast<size_t>(offset) + static_cast<size_t>(count);
  if (end > g_host.bytes.size()) g_host.bytes.resize(end, 0);  // a write past the end lengthens the document
  std::memcpy(g_host.bytes.data() + offset, buffer, count);
  return 0;
}

LONG WINAPI Progress(LONG done, LONG total) {
  ++g_host.progressCalls;
  g_host.lastDone = done;
  g_host.lastTotal = total;
  if (g_host.cancelAfter > 0 && g_host.progressCalls >= g_host.cancelAfter) g_host.cancel = 1;
  return 0;
}

LONG WINAPI StatusText(LPCSTR text, LONG) {
  g_host.status.push_back(text ? text : "");
  return 0;
}

LONG WINAPI EndProgress() {
  ++g_host.endProgressCalls;
  return 0;
}

LONG WINAPI TempFileName(LPCSTR prefix, LPSTR buffer) {
  char dir[MAX_PATH];
  if (!buffer || !GetTempPathA(MAX_PATH, dir) || !GetTempFileNameA(dir, prefix ? prefix : "tov", 0, buffer)) return 0;
  g_host.tempFiles.push_back(buffer);
  return 1;
}

LONG WINAPI DeleteSamples(LONG offset, LONG count) {
  LONG size = static_cast<LONG>(g_host.bytes.size());
  if (offset < 0 || count < 0 || offset > size || count > size - offset) {
    ++g_host.badCalls;
    return 1;
  }
  g_host.bytes.erase(g_host.bytes.begin() + offset, g_host.bytes.begin() + offset + count);
  return 0;
}

LONG WINAPI InsertSamples(LONG offset, LONG count) {
  LONG size = static_cast<LONG>(g_host.bytes.size());
  if (offset < 0 || count < 0 || offset > size) {
    ++g_host.badCalls;
    return 1;
  }
  g_host.bytes.insert(g_host.bytes.begin() + offset, static_cast<size_t>(count), 0);
  return 0;
}

bool ReadWhole(const std::string& path, std::vector<BYTE>& data) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  data.clear();
  BYTE chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool WriteWhole(const std::string& path, const void* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

DWORD Le32(const BYTE* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<DWORD>(p[3]) << 24; }
WORD Le16(const BYTE* p) { return static_cast<WORD>(p[0] | p[1] << 8); }
void Put32(BYTE* p, DWORD v) { p[0] = v & 255, p[1] = v >> 8 & 255, p[2] = v >> 16 & 255, p[3] = v >> 24; }
void Put16(BYTE* p, WORD v) { p[0] = v & 255, p[1] = v >> 8; }

// Reads a 16-bit PCM WAV file, chunks in any order.
bool LoadWav(const std::string& path, std::string& error) {
  std::vector<BYTE> f;
  if (!ReadWhole(path, f)) return error = "cannot read " + path, false;
  if (f.size() < 12 || std::memcmp(f.data(), "RIFF", 4) || std::memcmp(f.data() + 8, "WAVE", 4)) {
    return error = path + " is not a WAV file", false;
  }
  bool fmt = false;
  for (size_t pos = 12; pos + 8 <= f.size();) {
    DWORD size = Le32(&f[pos + 4]);
    size_t body = pos + 8;
    if (size > f.size() - body) size = static_cast<DWORD>(f.size() - body);
    if (!std::memcmp(&f[pos], "fmt ", 4) && size >= 16) {
      if (Le16(&f[body]) != 1 || Le16(&f[body + 14]) != 16) return error = path + " is not 16-bit PCM", false;
      g_host.channels = Le16(&f[body + 2]);
      g_host.sampleRate = static_cast<long>(Le32(&f[body + 4]));
      if (g_host.channels != 1 && g_host.channels != 2) return error = path + " is neither mono nor stereo", false;
      fmt = true;
    } else if (!std::memcmp(&f[pos], "data", 4)) {
      if (!fmt) return error = path + " has no format before its data", false;
      g_host.bytes.assign(f.begin() + body, f.begin() + body + (size & ~1u));
      return true;
    }
    pos = body + size + (size & 1);
  }
  return error = path + " has no data", false;
}

std::vector<BYTE> WavImage(const BYTE* data, size_t size, WORD channels, DWORD rate) {
  std::vector<BYTE> w(44 + size);
  std::memcpy(&w[0], "RIFF", 4);
  Put32(&w[4], static_cast<DWORD>(size + 36));
  std::memcpy(&w[8], "WAVEfmt ", 8);
  Put32(&w[16], 16);
  Put16(&w[20], 1);
  Put16(&w[22], channels);
  Put32(&w[24], rate);
  Put32(&w[28], rate * channels * 2);
  Put16(&w[32], static_cast<WORD>(channels * 2));
  Put16(&w[34], 16);
  std::memcpy(&w[36], "data", 4);
  Put32(&w[40], static_cast<DWORD>(size));
  if (size) std::memcpy(&w[44], data, size);
  return w;
}

bool PutOnClipboard(HWND owner, UINT format, const void* data, size_t size) {
  if (!OpenClipboard(owner)) return false;
  bool ok = false;
  if (EmptyClipboard()) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size);
    void* p = h ? GlobalLock(h) : nullptr;
    if (p) {
      std::memcpy(p, data, size);
      GlobalUnlock(h);
      ok = SetClipboardData(format, h) != nullptr;
    }
    if (!ok && h) GlobalFree(h);
  }
  return CloseClipboard() && ok;
}

// Holds the clipboard open from a window of another thread, as another program would.
struct ClipboardHolder {
  HANDLE thread = nullptr;
  HANDLE opened = nullptr;
  HANDLE release = nullptr;
  bool held = false;

  static DWORD WINAPI Run(void* param) {
    auto* self = static_cast<ClipboardHolder*>(param);
    HWND window = CreateWindowA("STATIC", "clipboard holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    self->held = window && OpenClipboard(window);
    SetEvent(self->opened);
    WaitForSingleObject(self->release, INFINITE);
    if (self->held) CloseClipboard();
    if (window) DestroyWindow(window);
    return 0;
  }
  // Waits while serving this thread's messages: the clipboard's owner window lives here,
  // and Wine's X11 clipboard asks it for the data while the other thread opens it.
  static void Await(HANDLE object) {
    DWORD until = GetTickCount() + 10000;
    while (MsgWaitForMultipleObjects(1, &object, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      if (static_cast<LONG>(GetTickCount() - until) > 0) break;
    }
  }
  bool Start() {
    opened = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    if (!thread) return false;
    Await(opened);
    return held;
  }
  void Stop() {
    if (!thread) return;
    SetEvent(release);
    Await(thread);
    CloseHandle(thread);
    CloseHandle(opened);
    CloseHandle(release);
    thread = nullptr;
  }
};

void ReportClipboard(JsonWriter& j, HWND owner, const Options& opt) {
  j.Key("clipboard");
  j.BeginObject();
  if (!OpenClipboard(owner)) {
    j.Key("error");
    j.String("cannot open the clipboard");
    j.EndObject();
    return;
  }
  j.Key("formats");
  j.BeginArray();
  for (UINT f = EnumClipboardFormats(0); f; f = EnumClipboardFormats(f)) j.Int(f);
  j.EndArray();
  if (HANDLE h = GetClipboardData(CF_WAVE)) {
    SIZE_T size = GlobalSize(h);
    const BYTE* p = static_cast<const BYTE*>(GlobalLock(h));
    j.Key("wave");
    j.BeginObject();
    j.Key("bytes");
    j.Int(static_cast<long long>(size));
    if (p) {
      if (size <= 262144) {
        j.Key("hex");
        j.Hex(p, size);
      }
      if (!opt.clipboardOut.empty() && !WriteWhole(opt.clipboardOut, p, size)) {
        g_host.errors.push_back("cannot write " + opt.clipboardOut);
      }
      GlobalUnlock(h);
    }
    j.EndObject();
  }
  if (HANDLE h = GetClipboardData(CF_TEXT)) {
    if (const char* text = static_cast<const char*>(GlobalLock(h))) {
      j.Key("text");
      j.String(std::string(text, strnlen(text, GlobalSize(h))));
      GlobalUnlock(h);
    }
  }
  CloseClipboard();
  j.EndObject();
}

void ReportWatch(JsonWriter& j) {
  const harness::Watch& w = harness::TheWatch();
  j.Key("dialogs");
  j.BeginArray();
  for (const auto& d : w.dialogs) {
    j.BeginObject();
    j.Key("caption");
    j.String(d.caption);
    j.Key("controls");
    j.BeginArray();
    for (const auto& c : d.controls) {
      j.BeginObject();
      j.Key("id");
      j.Int(c.id);
      j.Key("class");
      j.String(c.cls);
      j.Key("text");
      j.String(c.text);
      j.Key("visible");
      j.Bool(c.visible);
      j.Key("enabled");
      j.Bool(c.enabled);
      if (c.checked >= 0) {
        j.Key("checked");
        j.Int(c.checked);
      }
      if (!c.items.empty() || c.selected >= 0) {
        j.Key("selected");
        j.Int(c.selected);
        j.Key("items");
        j.BeginArray();
        for (const auto& item : c.items) j.String(item);
        j.EndArray();
      }
      j.EndObject();
    }
    j.EndArray();
    j.Key("errors");
    j.BeginArray();
    for (const auto& e : d.errors) j.String(e);
    j.EndArray();
    j.Key("timedOut");
    j.Bool(d.timedOut);
    j.EndObject();
  }
  j.EndArray();
  j.Key("systemDialogs");
  j.BeginArray();
  for (const auto& s : w.systemDialogs) j.String(s);
  j.EndArray();
  j.Key("messageBoxes");
  j.BeginArray();
  for (const auto& b : w.boxes) {
    j.BeginObject();
    j.Key("caption");
    j.String(b.caption);
    j.Key("text");
    j.String(b.text);
    j.Key("type");
    j.Int(b.type);
    j.Key("owned");
    j.Bool(b.owned);
    j.Key("shown");
    j.Bool(b.shown);
    j.Key("answer");
    j.Int(b.answer);
    j.EndObject();
  }
  j.EndArray();
  j.Key("help");
  j.BeginArray();
  for (const auto& h : w.help) {
    j.BeginObject();
    j.Key("file");
    j.String(h.file);
    j.Key("command");
    j.Int(h.command);
    if (h.command == HELP_KEY) {
      j.Key("key");
      j.String(h.key);
    } else {
      j.Key("data");
      j.Int(static_cast<long long>(h.data));
    }
    j.EndObject();
  }
  j.EndArray();
  j.Key("beeps");
  j.BeginArray();
  for (UINT b : w.beeps) j.Int(b);
  j.EndArray();
}

bool ParseOptions(int argc, char** argv, Options& opt, std::string& error) {
  harness::Watch& w = harness::TheWatch();
  size_t dialog = 0;
  auto script = [&]() -> harness::DialogScript& {
    if (w.scripts.size() <= dialog) w.scripts.resize(dialog + 1);
    return w.scripts[dialog];
  };
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::string("option " + a + " needs a value");
      return argv[++i];
    };
    try {
      if (a == "--new") {
        std::string v = value();
        if (std::sscanf(v.c_str(), "%ld:%d:%ld", &opt.rate, &opt.channels, &opt.newFrames) < 2 || opt.rate <= 0 ||
            (opt.channels != 1 && opt.channels != 2) || opt.newFrames < 0) {
          return error = "bad --new " + v, false;
        }
      } else if (a == "--in") {
        opt.input = value();
      } else if (a == "--select") {
        opt.selection = value();
      } else if (a == "--batch") {
        opt.batch = true;
      } else if (a == "--dialog") {
        dialog = static_cast<size_t>(std::atoi(value().c_str()));
      } else if (a == "--set") {
        std::string v = value();
        size_t eq = v.find('=');
        if (eq == std::string::npos) return error = "bad --set " + v, false;
        script().sets.emplace_back(v.substr(0, eq), v.substr(eq + 1));
      } else if (a == "--press") {
        script().presses.push_back(std::atoi(value().c_str()));
      } else if (a == "--finish") {
        std::string v = value();
        harness::Finish f = v == "ok" ? harness::Finish::Ok
                            : v == "cancel" ? harness::Finish::Cancel
                            : v == "close"  ? harness::Finish::Close
                            : v == "none"   ? harness::Finish::None
                                            : harness::Finish::Default;
        if (f == harness::Finish::Default) return error = "bad --finish " + v, false;
        script().finish = f;
      } else if (a == "--answer") {
        w.answers.push_back(std::atoi(value().c_str()));
      } else if (a == "--params-in") {
        opt.paramsIn = value();
      } else if (a == "--params-out") {
        opt.paramsOut = value();
      } else if (a == "--clipboard-in") {
        opt.clipboardIn = value();
      } else if (a == "--clipboard-text") {
        opt.clipboardText = value();
      } else if (a == "--keep-clipboard") {
        opt.keepClipboard = true;
      } else if (a == "--busy-clipboard") {
        opt.busyClipboard = true;
      } else if (a == "--clipboard-out") {
        opt.clipboardOut = value();
      } else if (a == "--cancel-after") {
        opt.cancelAfter = std::atol(value().c_str());
      } else if (a == "--no-setup") {
        opt.setup = false;
      } else if (a == "--no-run") {
        opt.run = false;
      } else if (a == "--out") {
        opt.out = value();
      } else if (a == "--json") {
        opt.json = value();
      } else if (a == "--samples-limit") {
        opt.samplesLimit = static_cast<size_t>(std::atol(value().c_str()));
      } else if (!a.empty() && a[0] == '-') {
        return error = "unknown option " + a, false;
      } else if (opt.module.empty()) {
        opt.module = a;
      } else {
        return error = "unexpected argument " + a, false;
      }
    } catch (const std::string& e) {
      return error = e, false;
    }
  }
  if (opt.module.empty()) return error = "usage: tovrel-harness MODULE.dll [options]", false;
  return true;
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

// The host's main window: the parent of the settings dialogs. It stays hidden: under
// Wine, destroying a mapped X window waits for the window manager.
HWND CreateFrame(HINSTANCE instance) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = FrameProc;
  wc.hInstance = instance;
  wc.lpszClassName = "TovrelHarnessFrame";
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  RegisterClassA(&wc);
  return CreateWindowA("TovrelHarnessFrame", "tovrel harness", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                       nullptr, nullptr, instance, nullptr);
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "tovrel-harness: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // A file-filter DLL is driven by the filter mode (filter.cpp).
  if (harness::IsFilterRun(argc, argv)) {
    return harness::RunFilter(argc, argv, CreateFrame(GetModuleHandleA(nullptr)), ReportWatch);
  }
  Options opt;
  std::string error;
  if (!ParseOptions(argc, argv, opt, error)) return Fail(error);
  harness::Watch& watch = harness::TheWatch();
  watch.batch = opt.batch;
  g_host.cancelAfter = opt.cancelAfter;

  // The document.
  if (!opt.input.empty()) {
    if (!LoadWav(opt.input, error)) return Fail(error);
  } else {
    g_host.sampleRate = opt.rate;
    g_host.channels = static_cast<WORD>(opt.channels);
    g_host.bytes.assign(static_cast<size_t>(opt.newFrames) * 2 * opt.channels, 0);
  }
  LONG selStart = 0, selEnd = Frames() - 1;
  if (!opt.selection.empty()) {
    if (std::sscanf(opt.selection.c_str(), "%ld:%ld", &selStart, &selEnd) != 2 || selStart < 0 ||
        selEnd < selStart - 1 || selEnd >= Frames()) {
      return Fail("bad selection " + opt.selection);
    }
  }

  HINSTANCE self = GetModuleHandleA(nullptr);
  HWND frame = CreateFrame(self);
  if (!frame) return Fail("cannot create the main window");

  HMODULE module = LoadLibraryA(opt.module.c_str());
  if (!module) return Fail("cannot load " + opt.module + " (error " + std::to_string(GetLastError()) + ")");
  auto queryXfm = reinterpret_cast<QueryXfmFn>(reinterpret_cast<void*>(GetProcAddress(module, "QueryXfm")));
  auto xfmInit = reinterpret_cast<XfmInitFn>(reinterpret_cast<void*>(GetProcAddress(module, "XfmInit")));
  auto xfmSetup = reinterpret_cast<XfmSetupFn>(reinterpret_cast<void*>(GetProcAddress(module, "XfmSetup")));
  auto xfmDo = reinterpret_cast<XfmDoFn>(reinterpret_cast<void*>(GetProcAddress(module, "XfmDo")));
  auto xfmDestroy = reinterpret_cast<XfmDestroyFn>(reinterpret_cast<void*>(GetProcAddress(module, "XfmDestroy")));
  if (!queryXfm || !xfmInit || !xfmSetup || !xfmDo || !xfmDestroy) return Fail(opt.module + " is no transform module");
  harness::StartWatching(module);

  JsonWriter j;
  j.BeginObject();
  j.Key("module");
  j.String(opt.module);

  // The dialog procedures, as the host and the frame fetch them: by ordinal and by name.
  j.Key("exports");
  j.BeginObject();
  for (const char* name : {"DIALOGMsgProc", "DIALOGMsgProc2"}) {
    WORD ordinal = name[13] == '2' ? 101 : 100;
    FARPROC byName = GetProcAddress(module, name);
    FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    j.Key(name);
    j.Bool(byName && byName == byOrdinal);
  }
  j.EndObject();

  // The descriptor, in memory larger than the record so that an overrun shows.
  BYTE descriptor[sizeof(XfmDescriptor) + 64] = {};
  WORD queryResult = queryXfm(reinterpret_cast<XfmDescriptor*>(descriptor));
  bool overrun = false;
  for (size_t i = sizeof(XfmDescriptor); i < sizeof descriptor; ++i) overrun |= descriptor[i] != 0;
  XfmDescriptor desc;
  std::memcpy(&desc, descriptor, sizeof desc);
  desc.title[sizeof desc.title - 1] = '\0';
  j.Key("query");
  j.BeginObject();
  j.Key("result");
  j.Int(queryResult);
  j.Key("descriptor");
  j.Hex(descriptor, sizeof(XfmDescriptor));
  j.Key("overrun");
  j.Bool(overrun);
  j.EndObject();

  // The context, as the host lays it out.
  static BYTE contextMemory[512];
  auto* ctx = reinterpret_cast<XfmContext*>(contextMemory);
  std::string caption = desc.title;
  ctx->channels = g_host.channels;
  ctx->bitsPerSample = 16;
  ctx->sampleRate = g_host.sampleRate;
  DWORD paramSize = desc.paramSize;
  ctx->paramHandle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, paramSize ? paramSize : 1);
  ctx->selStart = selStart;
  ctx->selEnd = selEnd;
  ctx->caption = caption.c_str();
  ctx->dialogInit = DialogInit;
  ctx->readSamples = ReadSamples;
  ctx->writeSamples = WriteSamples;
  ctx->cancelFlag = &g_host.cancel;
  ctx->progress = Progress;
  ctx->statusText = StatusText;
  ctx->endProgress = EndProgress;
  ctx->batchIndex = static_cast<SHORT>(opt.batch ? 0 : -1);
  ctx->batchShowDialogs = 0;
  ctx->tempFileName = TempFileName;
  ctx->instanceHandle = self;
  ctx->deleteSamples = DeleteSamples;
  ctx->insertSamples = InsertSamples;

  auto blockBytes = [&](const char* key) {
    j.Key(key);
    const void* p = GlobalLock(ctx->paramHandle);
    if (p) {
      j.Hex(p, paramSize);
      GlobalUnlock(ctx->paramHandle);
    } else {
      j.Null();
    }
  };

  BOOL initResult = xfmInit(ctx);
  j.Key("init");
  j.BeginObject();
  j.Key("result");
  j.Int(initResult);
  blockBytes("params");
  j.EndObject();

  if (!opt.paramsIn.empty()) {
    std::vector<BYTE> block;
    if (!ReadWhole(opt.paramsIn, block) || block.size() != paramSize) {
      return Fail("parameter block " + opt.paramsIn + " must hold " + std::to_string(paramSize) + " bytes");
    }
    void* p = GlobalLock(ctx->paramHandle);
    std::memcpy(p, block.data(), paramSize);
    GlobalUnlock(ctx->paramHandle);
  }

  // The clipboard the module meets.
  if (!opt.keepClipboard) {
    if (OpenClipboard(frame)) {
      EmptyClipboard();
      CloseClipboard();
    }
  }
  if (!opt.clipboardIn.empty()) {
    std::vector<BYTE> wav;
    if (!ReadWhole(opt.clipboardIn, wav) || !PutOnClipboard(frame, CF_WAVE, wav.data(), wav.size())) {
      return Fail("cannot put " + opt.clipboardIn + " on the clipboard");
    }
  }
  if (!opt.clipboardText.empty() &&
      !PutOnClipboard(frame, CF_TEXT, opt.clipboardText.c_str(), opt.clipboardText.size() + 1)) {
    return Fail("cannot put the text on the clipboard");
  }
  ClipboardHolder holder;
  if (opt.busyClipboard && !holder.Start()) g_host.errors.push_back("cannot hold the clipboard open");

  std::vector<BYTE> before = g_host.bytes;
  WORD setupResult = 0;
  bool runDo = opt.run && initResult;
  j.Key("setup");
  if (opt.run && opt.setup) {
    setupResult = xfmSetup(frame, module, ctx);
    runDo = runDo && setupResult != 0;
    j.BeginObject();
    j.Key("result");
    j.Int(setupResult);
    j.EndObject();
  } else {
    j.Null();
  }

  // A generator's selection is replaced by the length it announced; should the run fail,
  // the document is restored.
  bool generator = desc.kind == kKindGenerator;
  LONG announced = ctx->outputLengthSet ? ctx->outputLength : -1;
  if (runDo && generator && announced >= 0) {
    size_t frameBytes = 2u * g_host.channels;
    size_t first = static_cast<size_t>(ctx->selStart) * frameBytes;
    size_t old = static_cast<size_t>(ctx->selEnd - ctx->selStart + 1) * frameBytes;
    g_host.bytes.erase(g_host.bytes.begin() + first, g_host.bytes.begin() + first + old);
    g_host.bytes.insert(g_host.bytes.begin() + first, static_cast<size_t>(announced) * frameBytes, 0);
    ctx->selEnd = ctx->selStart + announced - 1;
  }
  j.Key("do");
  if (runDo) {
    LONG doResult = xfmDo(ctx);
    if (generator && announced >= 0 && doResult != announced) {
      g_host.bytes = before;
      ctx->selStart = selStart;
      ctx->selEnd = selEnd;
    } else if (generator || desc.kind == kKindConvolver || desc.kind == kKindLiveConvolver) {
      ctx->selEnd = ctx->selStart + doResult - 1;
    }
    j.BeginObject();
    j.Key("result");
    j.Int(doResult);
    j.EndObject();
  } else {
    j.Null();
  }
  holder.Stop();

  BOOL destroyResult = xfmDestroy(ctx);
  j.Key("destroy");
  j.BeginObject();
  j.Key("result");
  j.Int(destroyResult);
  j.EndObject();
  blockBytes("params");
  if (!opt.paramsOut.empty()) {
    const void* p = GlobalLock(ctx->paramHandle);
    if (!p || !WriteWhole(opt.paramsOut, p, paramSize)) g_host.errors.push_back("cannot write " + opt.paramsOut);
    if (p) GlobalUnlock(ctx->paramHandle);
  }

  j.Key("context");
  j.BeginObject();
  j.Key("selStart");
  j.Int(ctx->selStart);
  j.Key("selEnd");
  j.Int(ctx->selEnd);
  j.Key("outputLengthSet");
  j.Int(ctx->outputLengthSet);
  j.Key("outputLength");
  j.Int(ctx->outputLength);
  j.EndObject();

  j.Key("document");
  j.BeginObject();
  j.Key("sampleRate");
  j.Int(g_host.sampleRate);
  j.Key("channels");
  j.Int(g_host.channels);
  j.Key("frames");
  j.Int(Frames());
  size_t sampleCount = g_host.bytes.size() / 2;
  if (sampleCount <= opt.samplesLimit) {
    std::vector<int16_t> samples(sampleCount);
    if (sampleCount) std::memcpy(samples.data(), g_host.bytes.data(), sampleCount * 2);
    j.Key("samples");
    j.Samples(samples.data(), sampleCount);
  }
  j.EndObject();
  if (!opt.out.empty()) {
    std::vector<BYTE> wav = WavImage(g_host.bytes.data(), g_host.bytes.size(), g_host.channels,
                                     static_cast<DWORD>(g_host.sampleRate));
    if (!WriteWhole(opt.out, wav.data(), wav.size())) g_host.errors.push_back("cannot write " + opt.out);
  }

  ReportClipboard(j, frame, opt);
  ReportWatch(j);

  j.Key("status");
  j.BeginArray();
  for (const auto& s : g_host.status) j.String(s);
  j.EndArray();
  j.Key("progress");
  j.BeginObject();
  j.Key("calls");
  j.Int(g_host.progressCalls);
  j.Key("done");
  j.Int(g_host.lastDone);
  j.Key("total");
  j.Int(g_host.lastTotal);
  j.EndObject();
  j.Key("endProgress");
  j.Int(g_host.endProgressCalls);
  j.Key("dialogInit");
  j.Int(g_host.dialogInitCalls);
  j.Key("badCalls");
  j.Int(g_host.badCalls);
  j.Key("tempFiles");
  j.BeginArray();
  for (const auto& t : g_host.tempFiles) j.String(t);
  j.EndArray();
  j.Key("errors");
  j.BeginArray();
  for (const auto& e : g_host.errors) j.String(e);
  for (const auto& e : watch.errors) j.String(e);
  j.EndArray();
  j.EndObject();

  harness::StopWatching();
  GlobalFree(ctx->paramHandle);
  FreeLibrary(module);
  DestroyWindow(frame);

  std::string text = j.text() + "\n";
  if (opt.json.empty()) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  } else if (!WriteWhole(opt.json, text.data(), text.size())) {
    return Fail("cannot write " + opt.json);
  }
  return g_host.errors.empty() && watch.errors.empty() ? 0 : 3;
}
