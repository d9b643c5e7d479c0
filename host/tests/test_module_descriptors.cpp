// What every transform module tells the host about itself through QueryXfm: one row a module.
#include <gtest/gtest.h>

#include <ostream>

#include "host/testing.h"

namespace {

using tovrel::host::testing::TestHost;

struct DescriptorRow {
  const char* module;
  const char* menuPath;
  const char* title;
  int channels;
  unsigned kind;
  unsigned paramSize;
  const char* typeString;
  const char* flagString;
};

const DescriptorRow kRows[] = {
    {"seqsource", "Tovrel\\MLS Signal", "Generate MLS Signal", 12, 2, 10, "iili", "yyyy"},
    {"multiseqsource", "Tovrel\\Multi MLS Signal", "Generate MLS Signal", 12, 2, 16, "iiliib", "yyyyyy"},
    {"invseqsource", "Tovrel\\IRS Signal", "Generate IRS Signal", 4, 2, 8, "iil", "yyy"},
    {"sequnfold", "Tovrel\\Deconvolve MLS Signal", "Deconvolve MLS Signal", 12, 17, 28, "ciicifllhh",
     "yyyyyyyyyy"},
    {"invsequnfold", "Tovrel\\Deconvolve IRS Signal", "Deconvolve IRS Signal", 12, 17, 28, "ciicillfhh",
     "yyyyyyyyyy"},
    {"acoustic", "Tovrel\\Acoustical Parameters", "Calculate Acoustical Parameters", 12, 17, 29, "fficccllhh",
     "yyyyyyyyyy"},
    {"sweepsource", "Tovrel\\Sine Sweep", "Generate Sine Sweep", 12, 2, 38, "ffflifllhb", "yyyyyyyyyy"},
    {"sweepaverage", "Tovrel\\Synchronous Average", "Synchronous Averaging", 12, 17, 59, "ccfllhhllffllclff",
     "yyyyyyyyyyyyyyyyy"},
    {"invert", "Tovrel\\Inverse filter", "Design inverse filter", 12, 17, 20, "lllhh", "yyyyy"},
    {"spectrum", "Tovrel\\Invert Kirkeby", "Design spectrum flattening filter", 12, 17, 37, "lffllflhhc",
     "yyyyyyyyyy"},
    {"convolve", "Tovrel\\Convolve with Clipboard", "Convolve with Clipboard", 12, 689, 59, "cccllllllhhhllflf",
     "yyyyyyyyyyyyyyyyy"},
    {"livefold", "Tovrel\\Real Time Convolver", "Real Time Convolver", 12, 697, 1111, "lcccllllllliiiiihhhhdddissss",
     "yyyyyyyyyyyyyyyyyyyyyyyyyyyy"},
};

void PrintTo(const DescriptorRow& row, std::ostream* os) { *os << row.module; }

class ModuleDescriptor : public ::testing::TestWithParam<DescriptorRow> {};

TEST_P(ModuleDescriptor, IsWhatTheHostReadsAtLoad) {
  const DescriptorRow& row = GetParam();
  TestHost host;
  const auto& m = host.module(row.module);
  const XfmDescriptor& d = m.descriptor();
  EXPECT_EQ(m.queryResult(), 0x480);
  EXPECT_STREQ(d.menuPath, row.menuPath);
  EXPECT_STREQ(d.title, row.title);
  EXPECT_EQ(d.channels, row.channels);
  EXPECT_EQ(d.kind, row.kind);
  EXPECT_EQ(d.paramSize, row.paramSize);
  EXPECT_STREQ(d.typeString, row.typeString);
  EXPECT_STREQ(d.flagString, row.flagString);
}

INSTANTIATE_TEST_SUITE_P(EveryModule, ModuleDescriptor, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.module); });

}  // namespace
