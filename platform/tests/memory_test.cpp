// Global memory, fault injection and the clipboard.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/portable/faces.h"
#include "platform/win.h"

namespace tp = tovrel::portable;

namespace {

class MemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tp::ArmFaults({});
    tp::LoadClipboard({});
    while (CloseClipboard()) {
    }
  }
  void TearDown() override { SetUp(); }
};

TEST_F(MemoryTest, LockCountsZeroInitAndFlags) {
  tp::MemoryStats before = tp::Memory();
  HGLOBAL h = GlobalAlloc(GHND | GMEM_DDESHARE, 100);
  ASSERT_NE(h, nullptr);
  EXPECT_LE(reinterpret_cast<uintptr_t>(h), 0x7FFFFFFFu);
  EXPECT_EQ(GlobalSize(h), 100u);
  auto* p = static_cast<uint8_t*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0) << i;
  EXPECT_EQ(GlobalLock(h), p);  // stable address
  EXPECT_EQ(GlobalFlags(h), 2u | GMEM_DDESHARE);
  EXPECT_EQ(tp::Memory().lockedBlocks, before.lockedBlocks + 1);
  EXPECT_EQ(tp::Memory().liveBytes, before.liveBytes + 100);
  EXPECT_TRUE(GlobalUnlock(h));   // still locked once
  EXPECT_FALSE(GlobalUnlock(h));  // now unlocked
  EXPECT_FALSE(GlobalUnlock(h));  // was not locked
  EXPECT_EQ(GlobalFlags(h) & 0xFF, 0u);
  EXPECT_EQ(GlobalFree(h), nullptr);
  EXPECT_EQ(tp::Memory().liveBlocks, before.liveBlocks);
}

TEST_F(MemoryTest, FreedAndForeignHandlesFailCleanly) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(GlobalFree(h), nullptr);
  EXPECT_EQ(GlobalLock(h), nullptr);
  EXPECT_FALSE(GlobalUnlock(h));
  EXPECT_EQ(GlobalSize(h), 0u);
  EXPECT_EQ(GlobalFlags(h), 0x8000u);  // GMEM_INVALID_HANDLE
  EXPECT_EQ(GlobalReAlloc(h, 32, GMEM_MOVEABLE), nullptr);
  EXPECT_EQ(GlobalFree(h), h);  // failure returns the handle
  EXPECT_EQ(GlobalFree(nullptr), nullptr);
  EXPECT_EQ(GlobalLock(nullptr), nullptr);
  EXPECT_EQ(GlobalLock(tp::HostWindow()), nullptr);  // a window is no memory handle
  // A released handle is never handed out again.
  HGLOBAL next = GlobalAlloc(GMEM_MOVEABLE, 16);
  EXPECT_NE(next, h);
  GlobalFree(next);
}

TEST_F(MemoryTest, ReAllocKeepsContentsAndLockedAddresses) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 4);
  auto* p = static_cast<uint8_t*>(GlobalLock(h));
  std::memcpy(p, "abcd", 4);
  // Locked: may shrink in place, may not move.
  EXPECT_EQ(GlobalReAlloc(h, 4096, GMEM_MOVEABLE), nullptr);
  EXPECT_EQ(GlobalReAlloc(h, 2, GMEM_MOVEABLE), h);
  EXPECT_EQ(GlobalLock(h), p);
  GlobalUnlock(h);
  GlobalUnlock(h);
  EXPECT_EQ(GlobalReAlloc(h, 4096, GMEM_MOVEABLE | GMEM_ZEROINIT), h);
  EXPECT_EQ(GlobalSize(h), 4096u);
  p = static_cast<uint8_t*>(GlobalLock(h));
  EXPECT_EQ(std::memcmp(p, "ab", 2), 0);
  EXPECT_EQ(p[2], 0);
  EXPECT_EQ(p[4095], 0);
  GlobalUnlock(h);
  // Zero size leaves a discarded block that cannot be locked.
  EXPECT_EQ(GlobalReAlloc(h, 0, GMEM_MOVEABLE), h);
  EXPECT_EQ(GlobalLock(h), nullptr);
  EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST_F(MemoryTest, ArmedFaultsFailTheKthCallOnce) {
  tp::Faults plan;
  plan.failAllocation = 2;
  plan.failLock = 3;
  tp::ArmFaults(plan);
  HGLOBAL a = GlobalAlloc(GHND, 8);
  HGLOBAL b = GlobalAlloc(GHND, 8);
  HGLOBAL c = GlobalAlloc(GHND, 8);
  EXPECT_NE(a, nullptr);
  EXPECT_EQ(b, nullptr);
  EXPECT_NE(c, nullptr);
  EXPECT_NE(GlobalReAlloc(c, 16, GMEM_MOVEABLE), nullptr);  // counted, not failing
  EXPECT_EQ(tp::AllocationCount(), 4);
  EXPECT_NE(GlobalLock(a), nullptr);
  EXPECT_NE(GlobalLock(c), nullptr);
  EXPECT_EQ(GlobalLock(a), nullptr);  // the third lock
  EXPECT_NE(GlobalLock(a), nullptr);
  EXPECT_EQ(tp::LockCount(), 4);
  EXPECT_EQ(GlobalFlags(a) & 0xFF, 2u);  // the failed lock did not count
  while (GlobalUnlock(a)) {
  }
  GlobalUnlock(c);
  GlobalFree(a);
  GlobalFree(c);
  // Re-arming restarts the count; a ReAlloc can be the failing allocation.
  plan = {};
  plan.failAllocation = 2;
  tp::ArmFaults(plan);
  HGLOBAL d = GlobalAlloc(GHND, 8);
  EXPECT_EQ(GlobalReAlloc(d, 64, GMEM_MOVEABLE), nullptr);
  EXPECT_EQ(GlobalSize(d), 8u);
  GlobalFree(d);
  // Disarmed: nothing fails, the count goes on.
  plan.failAllocation = 1;
  tp::ArmFaults(plan);
  tp::DisarmFaults();
  HGLOBAL e = GlobalAlloc(GHND, 8);
  EXPECT_NE(e, nullptr);
  EXPECT_EQ(tp::AllocationCount(), 1);
  GlobalFree(e);
}

TEST_F(MemoryTest, ConcurrentUseFromTwoThreads) {
  HGLOBAL shared = GlobalAlloc(GHND, 1024);
  auto work = [&] {
    for (int i = 0; i < 2000; ++i) {
      HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 32);
      void* p = GlobalLock(h);
      void* q = GlobalLock(shared);
      ASSERT_NE(p, nullptr);
      ASSERT_NE(q, nullptr);
      GlobalUnlock(shared);
      GlobalUnlock(h);
      GlobalFree(h);
    }
  };
  long live = tp::Memory().liveBlocks;
  std::thread other(work);
  work();
  other.join();
  EXPECT_EQ(tp::Memory().liveBlocks, live);
  EXPECT_EQ(GlobalFlags(shared) & 0xFF, 0u);
  GlobalFree(shared);
}

// ---- Clipboard ----------------------------------------------------------------------

HGLOBAL Block(const char* text) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, std::strlen(text) + 1);
  std::memcpy(GlobalLock(h), text, std::strlen(text) + 1);
  GlobalUnlock(h);
  return h;
}

using ClipboardTest = MemoryTest;

TEST_F(ClipboardTest, OwnershipAndOpenState) {
  HWND owner = tp::HostWindow();
  HGLOBAL wave = Block("wave");
  EXPECT_EQ(SetClipboardData(CF_WAVE, wave), nullptr);  // not open
  EXPECT_FALSE(EmptyClipboard());
  EXPECT_FALSE(CloseClipboard());
  ASSERT_TRUE(OpenClipboard(owner));
  EXPECT_TRUE(tp::ClipboardIsOpen());
  EXPECT_FALSE(OpenClipboard(owner));  // already open
  ASSERT_TRUE(EmptyClipboard());
  EXPECT_EQ(SetClipboardData(CF_WAVE, wave), wave);
  EXPECT_EQ(GlobalFree(wave), wave);  // the clipboard's now
  EXPECT_EQ(tp::Memory().clipboardBlocks, 1);
  EXPECT_TRUE(CloseClipboard());
  EXPECT_FALSE(CloseClipboard());
  EXPECT_EQ(GetClipboardData(CF_WAVE), nullptr);  // closed
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_WAVE));
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_TEXT));

  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE got = GetClipboardData(CF_WAVE);
  ASSERT_EQ(got, wave);
  EXPECT_STREQ(static_cast<const char*>(GlobalLock(got)), "wave");
  GlobalUnlock(got);
  EXPECT_EQ(GetClipboardData(CF_TEXT), nullptr);
  // Replacing a format frees the earlier block; another format adds one.
  long live = tp::Memory().liveBlocks;
  EXPECT_NE(SetClipboardData(CF_WAVE, Block("wave 2")), nullptr);
  EXPECT_NE(SetClipboardData(CF_TEXT, Block("text")), nullptr);
  EXPECT_EQ(tp::Memory().liveBlocks, live + 1);
  EXPECT_EQ(GlobalLock(wave), nullptr);  // freed with the replacement
  EXPECT_TRUE(EmptyClipboard());
  EXPECT_EQ(tp::Memory().clipboardBlocks, 0);
  EXPECT_EQ(tp::Memory().liveBlocks, live - 1);
  CloseClipboard();
}

TEST_F(ClipboardTest, BusyAndFailingSet) {
  tp::Faults busy;
  busy.clipboardBusy = true;
  tp::ArmFaults(busy);
  EXPECT_FALSE(OpenClipboard(tp::HostWindow()));
  EXPECT_FALSE(tp::ClipboardIsOpen());

  tp::Faults failSet;
  failSet.failClipboardSet = true;
  tp::ArmFaults(failSet);
  ASSERT_TRUE(OpenClipboard(tp::HostWindow()));
  EmptyClipboard();
  HGLOBAL h = Block("x");
  EXPECT_EQ(SetClipboardData(CF_WAVE, h), nullptr);
  CloseClipboard();
  EXPECT_EQ(GlobalFree(h), nullptr);  // still the caller's to free
  EXPECT_EQ(tp::Memory().clipboardBlocks, 0);
}

TEST_F(ClipboardTest, ContentsRoundTripForTheHost) {
  tp::LoadClipboard({{CF_WAVE, {1, 2, 3}}, {CF_TEXT, {'h', 'i', 0}}});
  EXPECT_EQ(tp::Memory().clipboardBlocks, 2);
  EXPECT_EQ(tp::AllocationCount(), 0);  // the host's restore is not the modules' allocation
  auto items = tp::ClipboardContents();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].format, static_cast<UINT>(CF_TEXT));
  EXPECT_EQ(items[1].format, static_cast<UINT>(CF_WAVE));
  EXPECT_EQ(items[1].bytes, (std::vector<uint8_t>{1, 2, 3}));
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE wave = GetClipboardData(CF_WAVE);
  EXPECT_EQ(GlobalSize(wave), 3u);
  CloseClipboard();
  tp::LoadClipboard({});
  EXPECT_EQ(tp::Memory().clipboardBlocks, 0);
  EXPECT_EQ(GlobalSize(wave), 0u);
}

TEST(MessageBoxTest, DefaultAnswersAndJournal) {
  EXPECT_EQ(tp::DefaultAnswer(MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(tp::DefaultAnswer(MB_YESNO), IDYES);
  EXPECT_EQ(tp::DefaultAnswer(MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(tp::DefaultAnswer(MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  EXPECT_EQ(tp::DefaultAnswer(MB_OKCANCEL | MB_DEFBUTTON3), IDOK);  // no third button
  EXPECT_EQ(tp::DefaultAnswer(MB_RETRYCANCEL), IDRETRY);

  struct Answers : tp::User {
    void DialogIdle(HWND, int) override {}
    int MessageBox(const tp::MessageBoxEvent& box) override { return box.text == "Retry?" ? IDCANCEL : IDOK; }
  } user;
  tp::ClearJournal();
  EXPECT_EQ(MessageBoxA(tp::HostWindow(), "Plain", nullptr, MB_OK), IDOK);
  tp::SetUser(&user);
  EXPECT_EQ(MessageBoxA(nullptr, "Retry?", "Caption", MB_RETRYCANCEL | MB_ICONQUESTION), IDCANCEL);
  tp::SetUser(nullptr);
  MessageBeep(MB_ICONEXCLAMATION);
  WinHelpA(nullptr, "tovrel96.hlp", HELP_KEY, reinterpret_cast<ULONG_PTR>("Keyword"));
  WinHelpA(nullptr, "tovrel96.hlp", HELP_CONTEXT, 42);
  const auto& journal = tp::Journal();
  ASSERT_EQ(journal.size(), 5u);
  const auto& first = std::get<tp::MessageBoxEvent>(journal[0]);
  EXPECT_EQ(first.caption, "Error");  // Windows' caption for none
  EXPECT_EQ(first.owner, reinterpret_cast<uintptr_t>(tp::HostWindow()));
  const auto& second = std::get<tp::MessageBoxEvent>(journal[1]);
  EXPECT_EQ(second.answer, IDCANCEL);
  EXPECT_EQ(second.type, static_cast<UINT>(MB_RETRYCANCEL | MB_ICONQUESTION));
  EXPECT_EQ(std::get<tp::BeepEvent>(journal[2]).type, static_cast<UINT>(MB_ICONEXCLAMATION));
  EXPECT_EQ(std::get<tp::HelpEvent>(journal[3]).keyword, "Keyword");
  EXPECT_EQ(std::get<tp::HelpEvent>(journal[4]).data, 42u);
}

TEST(ClockTest, TickSourceReplacesTheClock) {
  DWORD a = GetTickCount();
  DWORD b = GetTickCount();
  EXPECT_LE(b - a, 1000u);
  tp::SetTickSource([] { return DWORD{1234}; });
  EXPECT_EQ(GetTickCount(), 1234u);
  tp::SetTickSource(nullptr);
  EXPECT_NE(GetTickCount(), 1234u);
}

}  // namespace
