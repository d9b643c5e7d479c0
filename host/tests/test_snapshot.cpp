// --snapshot: view names, and the picture of a display window written as PNG.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "host/snapshot.h"

namespace tp = tovrel::portable;
using tovrel::host::ParseSnapshot;
using tovrel::host::Snapshot;
using tovrel::host::TakeSnapshot;

namespace {

LRESULT CALLBACK BluePainter(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_PAINT) return DefWindowProcA(window, msg, wParam, lParam);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
  RECT r = {1, 1, 3, 2};
  FillRect(dc, &r, blue);
  DeleteObject(blue);
  EndPaint(window, &ps);
  return 0;
}

}  // namespace

TEST(Snapshot, NamesAViewAndAFile) {
  Snapshot s;
  std::string error;
  EXPECT_TRUE(ParseSnapshot("Monitor=routing.png", s, error));
  EXPECT_EQ(s.view, "monitor");
  EXPECT_EQ(s.file, "routing.png");
  EXPECT_FALSE(ParseSnapshot("routing.png", s, error));
  EXPECT_FALSE(ParseSnapshot("ir1=", s, error));
  EXPECT_FALSE(ParseSnapshot("ir3=x.png", s, error));
  EXPECT_NE(error.find("monitor, ir1, ir2, audio"), std::string::npos) << error;
}

TEST(Snapshot, WritesThePictureOfTheViewsWindow) {
  WNDCLASSA c{};
  c.lpfnWndProc = BluePainter;
  c.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  c.lpszClassName = "SnapshotTest";
  ASSERT_NE(RegisterClassA(&c), 0);
  // Top-level windows stand for the display windows of a dialog (parent null).
  HWND w = CreateWindowA("SnapshotTest", "Display IR1", 0, 0, 0, 4, 3, nullptr, nullptr, nullptr, nullptr);
  auto dir = std::filesystem::temp_directory_path() / ("tovrel-snapshot-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string error;
  ASSERT_TRUE(TakeSnapshot(nullptr, {"ir1", (dir / "ir1.png").string()}, error)) << error;
  auto picture = tp::ReadPng((dir / "ir1.png").string(), &error);
  ASSERT_TRUE(picture.has_value()) << error;
  EXPECT_EQ(picture->width, 4);
  EXPECT_EQ(picture->At(0, 0), 0x000000u);
  EXPECT_EQ(picture->At(2, 1), 0x0000FFu);
  EXPECT_FALSE(TakeSnapshot(nullptr, {"monitor", (dir / "m.png").string()}, error));
  EXPECT_NE(error.find("(it has: ir1)"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(dir / "m.png"));
  EXPECT_FALSE(TakeSnapshot(nullptr, {"ir1", (dir / "missing" / "ir1.png").string()}, error));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
  DestroyWindow(w);
  UnregisterClassA("SnapshotTest", nullptr);
  std::filesystem::remove_all(dir);
}
