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
//     --set CONTROL=VALUE            control by label or id; combo items and tabs by text or #index
//     --press ID                     press a button before the dialog is finished
//     --wait MS                      let the dialog run MS milliseconds, then record its
//                                    controls ("afterWaits"); later presses follow it
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
//   tovrel-harness MODULE.dll --fit-dialogs DIR [--json FILE]
//                                  the labels of every dialog template measured, and
//                                  pictures of the dialogs: see win32/harness/fit.cpp
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame/xfm.h"
#include "host/core/json.h"
#include "host/core/session.h"
#include "host/core/wavfile.h"
#include "win32/harness/filter.h"
#include "win32/harness/fit.h"
#include "win32/harness/watch.h"

namespace {

using tovrel::host::Document;
using tovrel::host::Json;

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

// The harness's front on the shared session: temporary files in Windows' temporary folder.
class Win32Front : public tovrel::host::core::Front {
 public:
  std::string CreateTempFile(const std::string& prefix) override {
    char dir[MAX_PATH], name[MAX_PATH];
    if (!GetTempPathA(MAX_PATH, dir) || !GetTempFileNameA(dir, prefix.empty() ? "tov" : prefix.c_str(), 0, name))
      return {};
    return name;
  }
};

// Problems of the harness itself (files it could not write, a clipboard it could not hold).
std::vector<std::string> g_errors;

Json Integers(const std::vector<int16_t>& samples) {
  Json a = Json::array();
  for (int16_t v : samples) a.push(static_cast<int>(v));
  return a;
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

Json ReportClipboard(HWND owner, const Options& opt) {
  Json j = Json::object();
  if (!OpenClipboard(owner)) {
    j["error"] = "cannot open the clipboard";
    return j;
  }
  Json formats = Json::array();
  for (UINT f = EnumClipboardFormats(0); f; f = EnumClipboardFormats(f)) formats.push(f);
  j["formats"] = formats;
  if (HANDLE h = GetClipboardData(CF_WAVE)) {
    SIZE_T size = GlobalSize(h);
    const BYTE* p = static_cast<const BYTE*>(GlobalLock(h));
    Json wave = Json::object();
    wave["bytes"] = static_cast<long long>(size);
    if (p) {
      if (size <= 262144) wave["hex"] = tovrel::host::HexText(p, size);
      if (!opt.clipboardOut.empty() && !tovrel::host::WriteFileBytes(opt.clipboardOut, p, size)) {
        g_errors.push_back("cannot write " + opt.clipboardOut);
      }
      GlobalUnlock(h);
    }
    j["wave"] = wave;
  }
  if (HANDLE h = GetClipboardData(CF_TEXT)) {
    if (const char* text = static_cast<const char*>(GlobalLock(h))) {
      j["text"] = std::string(text, strnlen(text, GlobalSize(h)));
      GlobalUnlock(h);
    }
  }
  CloseClipboard();
  return j;
}

Json ControlsJson(const std::vector<harness::ControlState>& states) {
  Json controls = Json::array();
  for (const auto& c : states) {
    Json cj = Json::object();
    cj["id"] = c.id;
    cj["class"] = c.cls;
    cj["text"] = c.text;
    cj["visible"] = c.visible;
    cj["enabled"] = c.enabled;
    if (c.checked >= 0) cj["checked"] = c.checked;
    if (!c.items.empty() || c.selected >= 0) {
      cj["selected"] = c.selected;
      Json items = Json::array();
      for (const auto& item : c.items) items.push(item);
      cj["items"] = items;
    }
    controls.push(cj);
  }
  return controls;
}

void ReportWatch(Json& j) {
  const harness::Watch& w = harness::TheWatch();
  Json dialogs = Json::array();
  for (const auto& d : w.dialogs) {
    Json dj = Json::object();
    dj["caption"] = d.caption;
    dj["controls"] = ControlsJson(d.controls);
    Json afterWaits = Json::array();
    for (const auto& controls : d.afterWaits) afterWaits.push(ControlsJson(controls));
    dj["afterWaits"] = afterWaits;
    Json errors = Json::array();
    for (const auto& e : d.errors) errors.push(e);
    dj["errors"] = errors;
    Json clipped = Json::array();
    for (const auto& c : d.clipped) clipped.push(c);
    dj["clipped"] = clipped;
    dj["timedOut"] = d.timedOut;
    dialogs.push(dj);
  }
  j["dialogs"] = dialogs;
  Json system = Json::array();
  for (const auto& s : w.systemDialogs) system.push(s);
  j["systemDialogs"] = system;
  Json boxes = Json::array();
  for (const auto& b : w.boxes) {
    Json bj = Json::object();
    bj["caption"] = b.caption;
    bj["text"] = b.text;
    bj["type"] = b.type;
    bj["owned"] = b.owned;
    bj["shown"] = b.shown;
    bj["answer"] = b.answer;
    boxes.push(bj);
  }
  j["messageBoxes"] = boxes;
  Json help = Json::array();
  for (const auto& h : w.help) {
    Json hj = Json::object();
    hj["file"] = h.file;
    hj["command"] = h.command;
    if (h.command == HELP_KEY) hj["key"] = h.key;
    else hj["data"] = static_cast<long long>(h.data);
    help.push(hj);
  }
  j["help"] = help;
  Json beeps = Json::array();
  for (UINT b : w.beeps) beeps.push(b);
  j["beeps"] = beeps;
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
        script().steps.push_back({std::atoi(value().c_str()), 0});
      } else if (a == "--wait") {
        const long ms = std::atol(value().c_str());
        if (ms <= 0) return error = "--wait takes milliseconds", false;
        script().steps.push_back({0, static_cast<UINT>(ms)});
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
  // Measuring the labels of a module's dialog templates (fit.cpp).
  if (harness::IsFitRun(argc, argv)) return harness::RunFit(argc, argv);
  // A file-filter DLL is driven by the filter mode (filter.cpp).
  if (harness::IsFilterRun(argc, argv)) {
    return harness::RunFilter(argc, argv, CreateFrame(GetModuleHandleA(nullptr)), ReportWatch);
  }
  Options opt;
  std::string error;
  if (!ParseOptions(argc, argv, opt, error)) return Fail(error);
  harness::Watch& watch = harness::TheWatch();
  watch.batch = opt.batch;

  // The document.
  Document doc;
  if (!opt.input.empty()) {
    if (!tovrel::host::ReadWavFile(opt.input, doc, error)) return Fail(error);
  } else {
    doc = Document::Empty(opt.rate, opt.channels);
    doc.samples.assign(static_cast<size_t>(opt.newFrames) * opt.channels, 0);
    doc.SelectAll();
  }
  if (!opt.selection.empty()) {
    long first = 0, last = 0;
    if (std::sscanf(opt.selection.c_str(), "%ld:%ld", &first, &last) != 2 || first < 0 || last < first - 1 ||
        last >= doc.frames()) {
      return Fail("bad selection " + opt.selection);
    }
    doc.selStart = first;
    doc.selEnd = last;
  }

  HINSTANCE self = GetModuleHandleA(nullptr);
  HWND frame = CreateFrame(self);
  if (!frame) return Fail("cannot create the main window");

  HMODULE module = LoadLibraryA(opt.module.c_str());
  if (!module) return Fail("cannot load " + opt.module + " (error " + std::to_string(GetLastError()) + ")");
  auto queryXfm = ExportCast<QueryXfmFn>(GetProcAddress(module, "QueryXfm"));
  auto xfmInit = ExportCast<XfmInitFn>(GetProcAddress(module, "XfmInit"));
  auto xfmSetup = ExportCast<XfmSetupFn>(GetProcAddress(module, "XfmSetup"));
  auto xfmDo = ExportCast<XfmDoFn>(GetProcAddress(module, "XfmDo"));
  auto xfmDestroy = ExportCast<XfmDestroyFn>(GetProcAddress(module, "XfmDestroy"));
  if (!queryXfm || !xfmInit || !xfmSetup || !xfmDo || !xfmDestroy) return Fail(opt.module + " is no transform module");
  harness::StartWatching(module);

  Json j = Json::object();
  j["module"] = opt.module;

  // The dialog procedures, as the host and the frame fetch them: by ordinal and by name.
  Json exports = Json::object();
  for (const char* name : {"DIALOGMsgProc", "DIALOGMsgProc2"}) {
    WORD ordinal = name[13] == '2' ? 101 : 100;
    FARPROC byName = GetProcAddress(module, name);
    FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    exports[name] = byName && byName == byOrdinal;
  }
  j["exports"] = exports;

  // The descriptor, in memory larger than the record so that an overrun shows.
  BYTE descriptor[sizeof(XfmDescriptor) + 64] = {};
  WORD queryResult = queryXfm(reinterpret_cast<XfmDescriptor*>(descriptor));
  bool overrun = false;
  for (size_t i = sizeof(XfmDescriptor); i < sizeof descriptor; ++i) overrun |= descriptor[i] != 0;
  XfmDescriptor desc;
  std::memcpy(&desc, descriptor, sizeof desc);
  desc.title[sizeof desc.title - 1] = '\0';
  Json query = Json::object();
  query["result"] = queryResult;
  query["descriptor"] = tovrel::host::HexText(descriptor, sizeof(XfmDescriptor));
  query["overrun"] = overrun;
  j["query"] = query;

  // The context, as the host lays it out, and the callbacks behind it.
  Win32Front front;
  tovrel::host::core::Session session(doc, desc.title, front);
  session.CancelAtReport(opt.cancelAfter);
  XfmContext* ctx = &session.context();
  DWORD paramSize = desc.paramSize;
  ctx->paramHandle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, paramSize ? paramSize : 1);
  ctx->batchIndex = static_cast<SHORT>(opt.batch ? 0 : -1);
  ctx->instanceHandle = self;

  auto blockBytes = [&]() -> Json {
    const void* p = GlobalLock(ctx->paramHandle);
    if (!p) return Json();
    Json hex = tovrel::host::HexText(p, paramSize);
    GlobalUnlock(ctx->paramHandle);
    return hex;
  };

  BOOL initResult = xfmInit(ctx);
  Json init = Json::object();
  init["result"] = initResult;
  init["params"] = blockBytes();
  j["init"] = init;

  if (!opt.paramsIn.empty()) {
    std::vector<uint8_t> block;
    if (!tovrel::host::ReadFileBytes(opt.paramsIn, block) || block.size() != paramSize) {
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
    std::vector<uint8_t> wav;
    if (!tovrel::host::ReadFileBytes(opt.clipboardIn, wav) || !PutOnClipboard(frame, CF_WAVE, wav.data(), wav.size())) {
      return Fail("cannot put " + opt.clipboardIn + " on the clipboard");
    }
  }
  if (!opt.clipboardText.empty() &&
      !PutOnClipboard(frame, CF_TEXT, opt.clipboardText.c_str(), opt.clipboardText.size() + 1)) {
    return Fail("cannot put the text on the clipboard");
  }
  ClipboardHolder holder;
  if (opt.busyClipboard && !holder.Start()) g_errors.push_back("cannot hold the clipboard open");

  bool runDo = opt.run && initResult;
  if (opt.run && opt.setup) {
    WORD setupResult = xfmSetup(frame, module, ctx);
    runDo = runDo && setupResult != 0;
    Json setup = Json::object();
    setup["result"] = setupResult;
    j["setup"] = setup;
  } else {
    j["setup"] = nullptr;
  }

  // What the result does to the document and the selection is the shared rule.
  if (runDo) {
    Json done = Json::object();
    done["result"] = static_cast<long>(session.Do(xfmDo, desc.kind));
    j["do"] = done;
  } else {
    j["do"] = nullptr;
  }
  holder.Stop();

  BOOL destroyResult = xfmDestroy(ctx);
  Json destroy = Json::object();
  destroy["result"] = destroyResult;
  j["destroy"] = destroy;
  j["params"] = blockBytes();
  if (!opt.paramsOut.empty()) {
    const void* p = GlobalLock(ctx->paramHandle);
    if (!p || !tovrel::host::WriteFileBytes(opt.paramsOut, p, paramSize)) g_errors.push_back("cannot write " + opt.paramsOut);
    if (p) GlobalUnlock(ctx->paramHandle);
  }

  Json context = Json::object();
  context["selStart"] = static_cast<long>(ctx->selStart);
  context["selEnd"] = static_cast<long>(ctx->selEnd);
  context["outputLengthSet"] = static_cast<long>(ctx->outputLengthSet);
  context["outputLength"] = static_cast<long>(ctx->outputLength);
  j["context"] = context;

  Json document = Json::object();
  document["sampleRate"] = doc.sampleRate;
  document["channels"] = doc.channels;
  document["frames"] = doc.frames();
  if (doc.samples.size() <= opt.samplesLimit) document["samples"] = Integers(doc.samples);
  j["document"] = document;
  if (!opt.out.empty() && !tovrel::host::WriteWavFile(opt.out, doc)) g_errors.push_back("cannot write " + opt.out);

  j["clipboard"] = ReportClipboard(frame, opt);
  ReportWatch(j);

  Json status = Json::array();
  for (const auto& s : session.statusTexts()) status.push(s);
  j["status"] = status;
  Json progress = Json::object();
  progress["calls"] = session.progressReports();
  progress["done"] = static_cast<long>(session.lastDone());
  progress["total"] = static_cast<long>(session.lastTotal());
  j["progress"] = progress;
  j["endProgress"] = session.endProgressCalls();
  j["dialogInit"] = session.dialogInitCalls();
  j["badCalls"] = session.badCalls();
  Json temps = Json::array();
  for (const auto& t : session.tempFiles()) temps.push(t);
  j["tempFiles"] = temps;
  Json errors = Json::array();
  for (const auto& e : g_errors) errors.push(e);
  for (const auto& e : watch.errors) errors.push(e);
  j["errors"] = errors;

  harness::StopWatching();
  GlobalFree(ctx->paramHandle);
  FreeLibrary(module);
  DestroyWindow(frame);

  std::string text = j.dump() + "\n";
  if (opt.json.empty()) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  } else if (!tovrel::host::WriteFileBytes(opt.json, text.data(), text.size())) {
    return Fail("cannot write " + opt.json);
  }
  return g_errors.empty() && watch.errors.empty() ? 0 : 3;
}
