// The platform tests' module and a user scripted by each test.
#pragma once

#include <functional>

#include "platform/portable/faces.h"
#include "platform/win.h"

namespace platform_test {

// Loaded once per process on first use, and kept.
inline HMODULE& TestModuleSlot() {
  static HMODULE module = nullptr;
  return module;
}
inline HMODULE TestModule() {
  if (TestModuleSlot() == nullptr) TestModuleSlot() = LoadLibraryA(TOVREL_TEST_MODULE);
  return TestModuleSlot();
}

inline DLGPROC ModuleProc(const char* nameOrOrdinal) {
  // Through void (*)(), which converts to any function pointer without a warning.
  return reinterpret_cast<DLGPROC>(reinterpret_cast<void (*)()>(GetProcAddress(TestModule(), nameOrOrdinal)));
}

struct ScriptedUser : tovrel::portable::User {
  std::function<void(HWND, int)> idle;
  std::function<int(const tovrel::portable::MessageBoxEvent&)> answer;
  int rounds = 0;

  ScriptedUser() { tovrel::portable::SetUser(this); }
  ~ScriptedUser() override { tovrel::portable::SetUser(nullptr); }
  void DialogIdle(HWND dialog, int round) override {
    ++rounds;
    if (idle) idle(dialog, round);
  }
  int MessageBox(const tovrel::portable::MessageBoxEvent& box) override {
    return answer ? answer(box) : tovrel::portable::DefaultAnswer(box.type);
  }
};

}  // namespace platform_test
