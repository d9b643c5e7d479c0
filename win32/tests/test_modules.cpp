// Every transform module under Wine: the descriptor and default parameter block are the
// native module's bytes, the block size is the sum of its type letters, and a batch run
// on a small document ends every dialog by itself, without a crash.
#include <gtest/gtest.h>

#include <string>

#include "win32/tests/wine_support.h"

namespace tovrel::wine {
namespace {

std::vector<std::string> TransformModules() {
  std::vector<std::string> names;
  for (const auto& m : Modules()) {
    for (const auto& e : ReadDef(m.def)) {
      if (e.name == "QueryXfm") names.push_back(m.name);
    }
  }
  return names;
}

size_t LetterSize(char c) {
  switch (c) {
    case 'c': return 1;
    case 'i': return 2;
    case 'l': case 'f': case 'b': case 'h': return 4;
    case 'd': return 8;
    case 's': return 256;
    default: return 0;
  }
}

class TransformModule : public ::testing::TestWithParam<std::string> {};

TEST_P(TransformModule, DescriptorAndDefaultsAreTheNativeBytes) {
  const std::string& name = GetParam();
  TOVREL_REQUIRE_WINE(name);
  HarnessRun run = RunHarness(name, {"--new", "44100:1", "--no-run"});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& r = run.report;
  EXPECT_EQ(r["query"]["result"].integer(), 0x480);
  EXPECT_FALSE(r["query"]["overrun"].boolean) << "QueryXfm wrote past the descriptor";
  EXPECT_TRUE(r["exports"]["DIALOGMsgProc"].boolean) << "ordinal 100 is not DIALOGMsgProc";
  EXPECT_TRUE(r["exports"]["DIALOGMsgProc2"].boolean) << "ordinal 101 is not DIALOGMsgProc2";

  std::vector<uint8_t> descriptor = FromHex(r["query"]["descriptor"].text);
  ASSERT_EQ(descriptor.size(), 296u);
  EXPECT_EQ(descriptor, NativeDescriptor(name));
  std::string types(reinterpret_cast<const char*>(&descriptor[200]));
  std::string flags(reinterpret_cast<const char*>(&descriptor[248]));
  size_t size = 0;
  for (char c : types) size += LetterSize(c);
  uint32_t paramSize = descriptor[196] | descriptor[197] << 8 | descriptor[198] << 16 | descriptor[199] << 24;
  EXPECT_EQ(paramSize, size) << "type string " << types;
  EXPECT_EQ(flags, std::string(types.size(), 'y'));

  EXPECT_EQ(FromHex(r["init"]["params"].text), NativeDefaults(name));
}

TEST_P(TransformModule, BatchRunEndsEveryDialogByItself) {
  const std::string& name = GetParam();
  TOVREL_REQUIRE_WINE(name);
  HarnessRun run = RunHarness(name, {"--new", "44100:1:4096", "--batch"});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Json& r = run.report;
  for (size_t i = 0; i < r["dialogs"].size(); ++i) {
    EXPECT_FALSE(r["dialogs"][i]["timedOut"].boolean) << r["dialogs"][i]["caption"].text;
  }
  for (size_t i = 0; i < r["messageBoxes"].size(); ++i) {
    EXPECT_TRUE(r["messageBoxes"][i]["shown"].boolean) << r["messageBoxes"][i]["text"].text;
  }
  EXPECT_EQ(r["badCalls"].integer(), 0) << "reads or writes outside the document";
  EXPECT_EQ(r["destroy"]["result"].integer(), 1);
}

INSTANTIATE_TEST_SUITE_P(Wine, TransformModule, ::testing::ValuesIn(TransformModules()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
}  // namespace tovrel::wine
