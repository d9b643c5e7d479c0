// Modules: loading, exports by name and by ordinal, file names.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "test_module.h"

namespace {

using platform_test::TestModule;

TEST(ModulesTest, ExportsByNameAndOrdinal) {
  HMODULE module = TestModule();
  ASSERT_NE(module, nullptr);
  EXPECT_LE(reinterpret_cast<uintptr_t>(module), 0x7FFFFFFFu);
  FARPROC byName = GetProcAddress(module, "DIALOGMsgProc");
  ASSERT_NE(byName, nullptr);
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCE(100)), byName);
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCE(101)), GetProcAddress(module, "DIALOGMsgProc2"));
  auto query = reinterpret_cast<int (*)(void*)>(reinterpret_cast<void (*)()>(GetProcAddress(module, MAKEINTRESOURCE(1))));
  ASSERT_NE(query, nullptr);
  EXPECT_EQ(query(nullptr), 0x480);
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCE(55)), nullptr);
  EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
  EXPECT_EQ(GetProcAddress(nullptr, "DIALOGMsgProc"), nullptr);
  // A window is no module.
  EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(tovrel::portable::HostWindow()), "DIALOGMsgProc"), nullptr);
}

TEST(ModulesTest, ReferencesAndFileNames) {
  HMODULE again = LoadLibraryA(TOVREL_TEST_MODULE);
  EXPECT_EQ(again, TestModule());  // the same library is the same module
  EXPECT_TRUE(FreeLibrary(again));
  EXPECT_NE(GetProcAddress(TestModule(), "QueryXfm"), nullptr);  // still loaded once

  char resolved[PATH_MAX];
  ASSERT_NE(realpath(TOVREL_TEST_MODULE, resolved), nullptr);
  char name[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(TestModule(), name, sizeof name);
  EXPECT_EQ(std::string(name), resolved);
  EXPECT_EQ(n, std::string(resolved).size());
  char small[5];
  EXPECT_EQ(GetModuleFileNameA(TestModule(), small, sizeof small), 5u);
  EXPECT_EQ(std::string(small), std::string(resolved).substr(0, 4));
  EXPECT_GT(GetModuleFileNameA(nullptr, name, sizeof name), 0u);  // the program itself

  EXPECT_EQ(LoadLibraryA("/nonexistent/module.so"), nullptr);
  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
  EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(ModulesTest, FreedModuleIsGone) {
  // Loaded only here, or also kept by the other tests of this process.
  bool shared = platform_test::TestModuleSlot() != nullptr;
  HMODULE module = LoadLibraryA(TOVREL_TEST_MODULE);
  ASSERT_NE(module, nullptr);
  EXPECT_TRUE(FreeLibrary(module));
  if (!shared) {
    EXPECT_EQ(GetProcAddress(module, "QueryXfm"), nullptr);
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(DialogBoxParamA(module, MAKEINTRESOURCE(100), nullptr, nullptr, 0), -1);
  }
}

}  // namespace
