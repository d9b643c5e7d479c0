// Windows of registered classes, their painting from the dialog loop, and the GDI subset
// drawn into their pictures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "test_module.h"

namespace tp = tovrel::portable;
using platform_test::ScriptedUser;
using platform_test::TestModule;

namespace {

std::vector<UINT> g_messages;

LRESULT CALLBACK LoggingProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  g_messages.push_back(msg);
  return DefWindowProcA(window, msg, wParam, lParam);
}

// Paints a red cross, a white rectangle with a green border and a label.
LRESULT CALLBACK CrossProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_PAINT) return DefWindowProcA(window, msg, wParam, lParam);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
  HGDIOBJ old = SelectObject(dc, red);
  MoveToEx(dc, 0, 10, nullptr);
  LineTo(dc, 40, 10);
  POINT down[] = {{20, 0}, {20, 30}};
  Polyline(dc, down, 2);
  HPEN green = CreatePen(PS_SOLID, 1, RGB(0, 255, 0));
  SelectObject(dc, green);
  HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
  HGDIOBJ oldBrush = SelectObject(dc, white);
  Rectangle(dc, 25, 15, 35, 25);
  SelectObject(dc, oldBrush);
  SelectObject(dc, old);
  DeleteObject(red);
  DeleteObject(green);
  DeleteObject(white);
  HFONT font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Helvetica");
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 0));
  TextOutA(dc, 2, 30, "L", 1);
  SelectObject(dc, oldFont);
  DeleteObject(font);
  EndPaint(window, &ps);
  return 0;
}

WNDCLASSA ClassOf(const char* name, WNDPROC proc) {
  WNDCLASSA c{};
  c.style = CS_HREDRAW | CS_VREDRAW;
  c.lpfnWndProc = proc;
  c.hInstance = TestModule();
  c.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  c.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  c.lpszClassName = name;
  return c;
}

int Count(UINT msg) {
  int n = 0;
  for (UINT m : g_messages) n += m == msg;
  return n;
}

}  // namespace

TEST(WindowClasses, RegisterCreateDestroyUnregister) {
  WNDCLASSA c = ClassOf("Logging", LoggingProc);
  ASSERT_NE(RegisterClassA(&c), 0);
  EXPECT_EQ(RegisterClassA(&c), 0);  // once per instance
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "x", WS_CHILD, 0, 0, 10, 10, nullptr, nullptr, TestModule(), nullptr),
            nullptr);
  HWND w = CreateWindowA("logging", "Display", 0, 0, 0, 30, 20, nullptr, nullptr, TestModule(), nullptr);
  ASSERT_NE(w, nullptr);
  char text[32];
  EXPECT_EQ(GetWindowTextA(w, text, sizeof text), 7);  // through DefWindowProcA
  EXPECT_STREQ(text, "Display");
  RECT r;
  ASSERT_TRUE(GetClientRect(w, &r));
  EXPECT_EQ(r.right, 30);
  EXPECT_EQ(r.bottom, 20);
  EXPECT_FALSE(UnregisterClassA("Logging", TestModule()));  // a window of it exists
  g_messages.clear();
  EXPECT_TRUE(DestroyWindow(w));
  EXPECT_EQ(Count(WM_DESTROY), 1);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_TRUE(UnregisterClassA("Logging", TestModule()));
  EXPECT_FALSE(UnregisterClassA("Logging", TestModule()));
}

TEST(WindowClasses, ShownWindowsArePaintedByTheDialogLoopAndGoWithTheDialog) {
  WNDCLASSA c = ClassOf("PaintLog", LoggingProc);
  ASSERT_NE(RegisterClassA(&c), 0);
  static HWND shown, hidden;
  ScriptedUser user;
  int paintsAtIdle = -1;
  user.idle = [&](HWND dialog, int round) {
    paintsAtIdle = Count(WM_PAINT);
    auto windows = tp::ClassWindows(dialog);
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].text, "Shown");
    EXPECT_TRUE(windows[0].visible);
    EXPECT_FALSE(windows[1].visible);
    EndDialog(dialog, 1);
  };
  g_messages.clear();
  auto proc = [](HWND dialog, UINT msg, WPARAM, LPARAM) -> INT_PTR {
    if (msg != WM_INITDIALOG) return FALSE;
    shown = CreateWindowA("PaintLog", "Shown", WS_CHILD, 4, 4, 20, 10, dialog, nullptr, TestModule(), nullptr);
    hidden = CreateWindowA("PaintLog", "Hidden", WS_CHILD, 4, 4, 20, 10, dialog, nullptr, TestModule(), nullptr);
    ShowWindow(shown, SW_SHOW);
    return TRUE;
  };
  EXPECT_EQ(DialogBoxParamA(TestModule(), MAKEINTRESOURCE(107), tp::HostWindow(), proc, 0), 1);
  EXPECT_EQ(paintsAtIdle, 1);               // once, the hidden one not at all
  EXPECT_EQ(Count(WM_ERASEBKGND), 1);        // BeginPaint of DefWindowProcA erased first
  EXPECT_FALSE(IsWindow(shown));             // gone with their dialog
  EXPECT_FALSE(IsWindow(hidden));
  EXPECT_TRUE(UnregisterClassA("PaintLog", TestModule()));
}

TEST(Drawing, PrimitivesLandOnTheirPixels) {
  WNDCLASSA c = ClassOf("Cross", CrossProc);
  ASSERT_NE(RegisterClassA(&c), 0);
  const long objectsBefore = tp::LiveGdiObjects();
  HWND w = CreateWindowA("Cross", "", 0, 0, 0, 40, 50, nullptr, nullptr, TestModule(), nullptr);
  auto picture = tp::PaintWindow(w);
  ASSERT_TRUE(picture.has_value());
  ASSERT_EQ(picture->width, 40);
  ASSERT_EQ(picture->height, 50);
  EXPECT_EQ(picture->At(39, 49), 0x000000u);  // the class's black background
  EXPECT_EQ(picture->At(5, 10), 0xFF0000u);   // the horizontal line
  EXPECT_EQ(picture->At(20, 25), 0xFF0000u);  // the polyline
  EXPECT_EQ(picture->At(5, 11), 0x000000u);   // one pixel wide
  EXPECT_EQ(picture->At(25, 20), 0x00FF00u);  // rectangle border ...
  EXPECT_EQ(picture->At(34, 20), 0x00FF00u);
  EXPECT_EQ(picture->At(35, 20), 0x000000u);  // ... without the right edge
  EXPECT_EQ(picture->At(30, 20), 0xFFFFFFu);  // ... and its brush inside
  int yellowish = 0;
  for (int y = 30; y < 45; ++y)
    for (int x = 2; x < 12; ++x) yellowish += (picture->At(x, y) & 0xFFFF00u) != 0 && (picture->At(x, y) & 0xFF) == 0;
  EXPECT_GT(yellowish, 5);  // the label, below its top
  EXPECT_EQ(tp::LiveGdiObjects(), objectsBefore);
  DestroyWindow(w);
  UnregisterClassA("Cross", TestModule());
}

TEST(Drawing, ObjectsInUseAreNotDeletedAndDeviceContextsAreAccounted) {
  WNDCLASSA c = ClassOf("Plain", DefWindowProcA);
  ASSERT_NE(RegisterClassA(&c), 0);
  HWND w = CreateWindowA("Plain", "", 0, 0, 0, 8, 8, nullptr, nullptr, TestModule(), nullptr);
  const long before = tp::LiveGdiObjects();
  HDC dc = GetDC(w);
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
  HGDIOBJ old = SelectObject(dc, blue);
  EXPECT_EQ(tp::LiveGdiObjects(), before + 2);
  EXPECT_FALSE(DeleteObject(blue));  // still selected
  SelectObject(dc, GetStockObject(NULL_PEN));
  Ellipse(dc, 0, 0, 8, 8);
  SelectObject(dc, old);
  EXPECT_TRUE(DeleteObject(blue));
  EXPECT_FALSE(DeleteObject(blue));
  EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH)));  // stock objects stay
  EXPECT_EQ(ReleaseDC(w, dc), 1);
  EXPECT_EQ(ReleaseDC(w, dc), 0);
  EXPECT_EQ(tp::LiveGdiObjects(), before);
  DestroyWindow(w);
  UnregisterClassA("Plain", TestModule());
}

TEST(Drawing, PicturesRoundTripThroughPng) {
  tp::Picture p;
  p.width = 3;
  p.height = 2;
  p.pixels = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0x123456, 0xFFFFFF};
  auto dir = std::filesystem::temp_directory_path() / ("tovrel-png-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "p.png").string();
  const std::vector<uint8_t> png = tp::EncodePng(p);
  ASSERT_FALSE(png.empty());
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
  std::string error;
  auto back = tp::ReadPng(file, &error);
  ASSERT_TRUE(back.has_value()) << error;
  EXPECT_EQ(back->width, 3);
  EXPECT_EQ(back->pixels, p.pixels);
  p.pixels.pop_back();  // not the size it says
  EXPECT_TRUE(tp::EncodePng(p).empty());
  EXPECT_FALSE(tp::ReadPng((dir / "none.png").string(), &error).has_value());
  std::filesystem::remove_all(dir);
}
