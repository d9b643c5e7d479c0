// Threads: started, waited for with and without a limit, their exit codes, and handles
// closed while they run.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/win.h"

namespace {

struct Gate {
  std::atomic<bool> open{false};
  std::atomic<int> runs{0};
};

DWORD WINAPI WaitAtGate(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  while (!gate->open.load()) Sleep(1);
  ++gate->runs;
  return 7;
}

TEST(Threads, RunWaitAndReportTheirExitCode) {
  Gate gate;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread, 10), WAIT_TIMEOUT);
  gate.open = true;
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(gate.runs, 1);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_FALSE(CloseHandle(thread));
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
}

TEST(Threads, AClosedHandleLetsTheThreadRunToItsEnd) {
  static Gate gate;  // outlives the test: the thread is not waited for
  HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(CloseHandle(thread));
  gate.open = true;
  for (int i = 0; i < 5000 && gate.runs == 0; ++i) Sleep(1);
  EXPECT_EQ(gate.runs, 1);
}

TEST(Threads, RefuseWhatTheSubsetDoesNotOffer) {
  Gate gate;
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, &gate, 0, nullptr), nullptr);
  EXPECT_EQ(CreateThread(nullptr, 0, WaitAtGate, &gate, 4 /* suspended */, nullptr), nullptr);
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeThread(nullptr, &code));
}

}  // namespace
