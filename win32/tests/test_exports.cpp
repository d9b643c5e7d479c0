// Every win32 module DLL, read from its PE headers: a stand-alone 32-bit DLL whose export
// table holds exactly the names and ordinals of its .def and whose dialogs are its .rc's.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "win32/tests/wine_support.h"

namespace tovrel::wine {
namespace {

std::vector<std::string> ModuleNames() {
  std::vector<std::string> names;
  for (const auto& m : Modules()) names.push_back(m.name);
  return names;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

class ModuleDll : public ::testing::TestWithParam<std::string> {};

TEST_P(ModuleDll, ExportsExactlyItsDefinitionFile) {
  const ModuleInfo& m = FindModule(GetParam());
  TOVREL_REQUIRE_WIN32(m.name);
  PeImage pe = ReadPe(Win32Dll(m.name));
  ASSERT_EQ(pe.error, "");
  EXPECT_EQ(pe.machine, 0x14C) << "not an i386 image";
  EXPECT_TRUE(pe.characteristics & 0x2000) << "not a DLL";
  EXPECT_EQ(pe.dllName, m.name + ".dll");

  std::vector<PeExport> def = ReadDef(m.def);
  ASSERT_FALSE(def.empty()) << m.def;
  std::set<std::string> wanted, found;
  for (const auto& e : def) wanted.insert(e.name);
  for (const auto& e : pe.exports) {
    EXPECT_FALSE(e.name.empty()) << "export by ordinal only: " << e.ordinal;
    found.insert(e.name);
  }
  EXPECT_EQ(found, wanted);
  EXPECT_EQ(pe.exports.size(), def.size()) << "a name is exported twice";
  for (const auto& e : def) {
    if (!e.ordinal) continue;
    auto it = std::find_if(pe.exports.begin(), pe.exports.end(), [&](const PeExport& x) { return x.name == e.name; });
    ASSERT_NE(it, pe.exports.end()) << e.name;
    EXPECT_EQ(it->ordinal, e.ordinal) << e.name;
  }
}

TEST_P(ModuleDll, ExportsTheHostInterface) {
  const ModuleInfo& m = FindModule(GetParam());
  TOVREL_REQUIRE_WIN32(m.name);
  PeImage pe = ReadPe(Win32Dll(m.name));
  ASSERT_EQ(pe.error, "");
  auto ordinalOf = [&](const std::string& name) -> long {
    for (const auto& e : pe.exports) {
      if (e.name == name) return e.ordinal;
    }
    return -1;
  };
  if (ordinalOf("QueryXfm") < 0) {
    // The file filter: its own interface, its options dialog at ordinal 20.
    EXPECT_GE(ordinalOf("QueryVornFilter"), 0) << m.name << " is neither a transform module nor a file filter";
    EXPECT_GE(ordinalOf("_GetSuggestedSampleType@12"), 0);
    EXPECT_EQ(ordinalOf("DIALOGMsgProc"), 20);
    return;
  }
  std::set<std::string> names;
  for (const auto& e : pe.exports) names.insert(e.name);
  EXPECT_EQ(names, (std::set<std::string>{"QueryXfm", "XfmInit", "XfmSetup", "XfmDo", "XfmDestroy", "DIALOGMsgProc",
                                          "DIALOGMsgProc2"}));
  EXPECT_EQ(ordinalOf("DIALOGMsgProc"), 100);
  EXPECT_EQ(ordinalOf("DIALOGMsgProc2"), 101);
}

TEST_P(ModuleDll, StandsAloneAndCarriesItsDialogs) {
  const ModuleInfo& m = FindModule(GetParam());
  TOVREL_REQUIRE_WIN32(m.name);
  PeImage pe = ReadPe(Win32Dll(m.name));
  ASSERT_EQ(pe.error, "");
  static const std::set<std::string> system = {"kernel32.dll", "user32.dll", "gdi32.dll",    "winmm.dll",
                                               "comdlg32.dll", "comctl32.dll", "advapi32.dll", "msvcrt.dll",
                                               "shell32.dll"};
  for (const auto& dll : pe.imports) EXPECT_TRUE(system.count(Lower(dll))) << m.name << " needs " << dll;

  std::vector<unsigned> rc = ReadRcDialogs(m.rc), dialogs = pe.dialogs;
  std::sort(rc.begin(), rc.end());
  std::sort(dialogs.begin(), dialogs.end());
  EXPECT_EQ(dialogs, rc);
}

INSTANTIATE_TEST_SUITE_P(Win32, ModuleDll, ::testing::ValuesIn(ModuleNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
}  // namespace tovrel::wine
