// The dialog-fit mode of the harness:
//
//   tovrel-harness MODULE.dll --fit-dialogs DIR [--json FILE]
//
// For each RT_DIALOG template of the module: the dialog is created from it with a procedure
// that does nothing (so the texts are the template's), and for every static, button, check
// box, radio button and group box with a text, the text is measured with DrawText
// (DT_CALCRECT) in the font the control was given, wrapping as the control's style wraps,
// against the part of the control's client rectangle in which the control draws it. The
// dialog, shown, is copied into a 32-bit DIB and saved as DIR\ID.bmp. The report lists per
// dialog its id, caption, size in pixels, picture file and each measured control.
#include "win32/harness/fit.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/core/json.h"
#include "host/core/wavfile.h"

namespace harness {
namespace {

using tovrel::host::Json;

std::string TextOf(HWND window) {
  char buffer[1024];
  const int n = GetWindowTextA(window, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? n : 0);
}

std::string ClassOf(HWND window) {
  char buffer[256];
  const int n = GetClassNameA(window, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? n : 0);
}

// Where and how a control draws its text: the rectangle available (client coordinates)
// and the DrawText flags. False for controls that draw no text of their own.
bool TextArea(HWND control, HDC dc, RECT& area, UINT& flags) {
  const std::string cls = ClassOf(control);
  const LONG style = GetWindowLongA(control, GWL_STYLE);
  GetClientRect(control, &area);
  if (lstrcmpiA(cls.c_str(), "Static") == 0) {
    const LONG type = style & SS_TYPEMASK;
    if (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT) flags = DT_WORDBREAK | DT_EXPANDTABS;
    else if (type == SS_SIMPLE || type == SS_LEFTNOWORDWRAP) flags = DT_SINGLELINE | DT_EXPANDTABS;
    else return false;
    if (style & SS_NOPREFIX) flags |= DT_NOPREFIX;
    return true;
  }
  if (lstrcmpiA(cls.c_str(), "Button") != 0 || (style & (BS_BITMAP | BS_ICON))) return false;
  const LONG type = style & BS_TYPEMASK;
  flags = style & BS_MULTILINE ? DT_WORDBREAK : DT_SINGLELINE;
  switch (type) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON:
      // Inside the button's raised edge.
      InflateRect(&area, -GetSystemMetrics(SM_CXEDGE), -GetSystemMetrics(SM_CYEDGE));
      return true;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE: {
      // Beside the box (13 pixels at 96 dpi) and a gap of half a digit's width.
      INT digit = 0;
      GetCharWidthA(dc, '0', '0', &digit);
      const int box = 12 * GetDeviceCaps(dc, LOGPIXELSX) / 96 + 1;
      if (style & BS_LEFTTEXT) area.right -= box + digit / 2;
      else area.left += box + digit / 2;
      return true;
    }
    case BS_GROUPBOX:
      // On the frame's top edge, indented from both sides.
      InflateRect(&area, -7, 0);
      flags = DT_SINGLELINE;
      return true;
    default:
      return false;
  }
}

Json MeasureControl(HWND control) {
  Json c = Json::object();
  c["id"] = GetDlgCtrlID(control);
  c["class"] = ClassOf(control);
  c["text"] = TextOf(control);
  c["visible"] = (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0;
  const LabelFit fit = MeasureLabel(control);
  if (fit.measured) {
    Json available = Json::array();
    available.push(static_cast<long>(fit.available.cx));
    available.push(static_cast<long>(fit.available.cy));
    Json needed = Json::array();
    needed.push(static_cast<long>(fit.needed.cx));
    needed.push(static_cast<long>(fit.needed.cy));
    c["available"] = available;
    c["needed"] = needed;
    c["fits"] = fit.Fits();
  }
  return c;
}

// The dialog as shown: placed at the screen's corner above other windows, painted, then
// copied from its window DC into a top-down 32-bit DIB, saved as a BMP file.
bool SavePicture(HWND dialog, const std::string& path) {
  SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  for (DWORD until = GetTickCount() + 200; static_cast<LONG>(GetTickCount() - until) < 0;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(10);
  }
  RECT frame{};
  GetWindowRect(dialog, &frame);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  if (width <= 0 || height <= 0) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC window = GetWindowDC(dialog);
  HDC dc = CreateCompatibleDC(window);
  HBITMAP bitmap = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!dc || !bitmap || !bits) {
    if (bitmap) DeleteObject(bitmap);
    if (dc) DeleteDC(dc);
    ReleaseDC(dialog, window);
    return false;
  }
  HGDIOBJ old = SelectObject(dc, bitmap);
  BitBlt(dc, 0, 0, width, height, window, 0, 0, SRCCOPY);
  ReleaseDC(dialog, window);
  GdiFlush();
  const DWORD pixelBytes = static_cast<DWORD>(width) * height * 4;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + pixelBytes;
  std::vector<uint8_t> bytes(file.bfSize);
  std::memcpy(bytes.data(), &file, sizeof file);
  std::memcpy(bytes.data() + sizeof file, &info.bmiHeader, sizeof info.bmiHeader);
  std::memcpy(bytes.data() + file.bfOffBits, bits, pixelBytes);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return tovrel::host::WriteFileBytes(path, bytes.data(), bytes.size());
}

INT_PTR CALLBACK Inert(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

BOOL CALLBACK CollectId(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
  if (IS_INTRESOURCE(name)) reinterpret_cast<std::vector<WORD>*>(param)->push_back(LOWORD(name));
  return TRUE;
}

}  // namespace

LabelFit MeasureLabel(HWND control) {
  LabelFit fit;
  const std::string text = TextOf(control);
  if (text.empty()) return fit;
  HDC dc = GetDC(control);
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  RECT area{};
  UINT flags = 0;
  RECT client{};
  GetClientRect(control, &client);
  // A hidden control of no size is no label: it holds data (the frame's state text).
  const bool holder = IsRectEmpty(&client) && !(GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE);
  if (!holder && TextArea(control, dc, area, flags)) {
    fit.measured = true;
    fit.available = {area.right - area.left, area.bottom - area.top};
    RECT need = {0, 0, fit.available.cx > 0 ? fit.available.cx : 0, 0};
    DrawTextA(dc, text.c_str(), -1, &need, flags | DT_CALCRECT);
    fit.needed = {need.right - need.left, need.bottom - need.top};
  }
  if (old) SelectObject(dc, old);
  ReleaseDC(control, dc);
  return fit;
}

bool IsFitRun(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--fit-dialogs") == 0) return true;
  return false;
}

int RunFit(int argc, char** argv) {
  std::string module, dir, json;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--fit-dialogs" || a == "--json") && i + 1 < argc) (a == "--json" ? json : dir) = argv[++i];
    else if (module.empty() && !a.empty() && a[0] != '-') module = a;
    else {
      std::fprintf(stderr, "tovrel-harness: unexpected argument %s in the fit mode\n", a.c_str());
      return 2;
    }
  }
  if (module.empty() || dir.empty()) {
    std::fprintf(stderr, "tovrel-harness: usage: tovrel-harness MODULE.dll --fit-dialogs DIR [--json FILE]\n");
    return 2;
  }
  HMODULE dll = LoadLibraryA(module.c_str());
  if (!dll) {
    std::fprintf(stderr, "tovrel-harness: cannot load %s (error %lu)\n", module.c_str(), GetLastError());
    return 2;
  }
  std::vector<WORD> ids;
  EnumResourceNamesA(dll, MAKEINTRESOURCEA(5), CollectId, reinterpret_cast<LONG_PTR>(&ids));  // RT_DIALOG
  Json report = Json::object();
  report["module"] = module;
  Json dialogs = Json::array();
  Json errors = Json::array();
  for (WORD id : ids) {
    HWND dialog = CreateDialogParamA(dll, MAKEINTRESOURCEA(id), nullptr, Inert, 0);
    if (!dialog) {
      errors.push("dialog " + std::to_string(id) + " cannot be created (error " + std::to_string(GetLastError()) + ")");
      continue;
    }
    Json d = Json::object();
    d["id"] = id;
    d["caption"] = TextOf(dialog);
    RECT r{};
    GetWindowRect(dialog, &r);
    d["width"] = r.right - r.left;
    d["height"] = r.bottom - r.top;
    Json controls = Json::array();
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      controls.push(MeasureControl(child));
    }
    d["controls"] = controls;
    const std::string picture = dir + "\\" + std::to_string(id) + ".bmp";
    if (SavePicture(dialog, picture)) d["picture"] = picture;
    else errors.push("no picture of dialog " + std::to_string(id));
    dialogs.push(d);
    DestroyWindow(dialog);
  }
  report["dialogs"] = dialogs;
  report["errors"] = errors;
  FreeLibrary(dll);
  const std::string text = report.dump() + "\n";
  if (json.empty()) {
    std::fwrite(text.data(), 1, text.size(), stdout);
  } else if (!tovrel::host::WriteFileBytes(json, text.data(), text.size())) {
    std::fprintf(stderr, "tovrel-harness: cannot write %s\n", json.c_str());
    return 2;
  }
  return 0;
}

}  // namespace harness
