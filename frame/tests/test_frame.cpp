// The shared frame: parameter-block layouts, the dialog state text, staging and
// the clipboard WAV image.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "frame/clipwave.h"
#include "frame/descriptor.h"
#include "frame/dialogs.h"
#include "frame/paramblock.h"
#include "frame/stages.h"
#include "platform/portable/faces.h"

namespace portable = tovrel::portable;

namespace {

TEST(ParameterBlocks, EveryModuleTypeStringHasItsDocumentedSize) {
  struct Row {
    const char* module;
    const char* type;
    std::size_t size;
  } rows[] = {
      {"livefold", "lcccllllllliiiiihhhhdddissss", 1111}, {"convolve", "cccllllllhhhllflf", 59},
      {"sweepsource", "ffflifllhb", 38},                   {"multiunfold", "ciicifllhhiiillc", 43},
      {"acoustic", "fficccllhh", 29},                      {"sequnfold", "ciicifllhh", 28},
      {"invsequnfold", "ciicillfhh", 28},                  {"spectrum", "lffllflhhc", 37},
      {"seqsource", "iili", 10},                           {"sweepaverage", "ccfllhhllffllclff", 59},
      {"invseqsource", "iil", 8},                          {"invert", "lllhh", 20},
      {"multiseqsource", "iiliib", 16},
  };
  for (const auto& r : rows) EXPECT_EQ(TypeStringSize(r.type), r.size) << r.module;
  EXPECT_EQ(TypeStringSize("x"), 0u);
  EXPECT_EQ(TypeStringSize(""), 0u);
}

TEST(Descriptor, CarriesTheTextsNumbersAndOneFlagPerField) {
  XfmDescriptor d;
  std::memset(&d, 0x5a, sizeof d);
  ModuleInfo info{"Tovrel\\Acoustical Parameters", "Calculate Acoustical Parameters", 12, 17, "fficccllhh"};
  EXPECT_EQ(FillDescriptor(&d, info), 0x480);
  EXPECT_STREQ(d.menuPath, "Tovrel\\Acoustical Parameters");
  EXPECT_STREQ(d.title, "Calculate Acoustical Parameters");
  EXPECT_LT(std::strlen(d.copyright), 80u);
  EXPECT_EQ(d.paramSize, 29u);
  EXPECT_STREQ(d.typeString, "fficccllhh");
  EXPECT_STREQ(d.flagString, "yyyyyyyyyy");
  EXPECT_EQ(d.kind, 17u);
}

TEST(DialogState, RoundTripsAddressesHandlesAndTheEmptyText) {
  XfmContext context{};
  int block = 0;
  HGLOBAL handle = reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(42));
  std::string text = FormatDialogState(&block, handle, &context);
  DialogStateText s = ParseDialogState(text.c_str());
  EXPECT_EQ(s.block, reinterpret_cast<uintptr_t>(&block));
  EXPECT_EQ(s.handle, 42u);
  EXPECT_EQ(s.context, reinterpret_cast<uintptr_t>(&context));

  DialogStateText empty = ParseDialogState("");
  EXPECT_EQ(empty.block, 0u);
  EXPECT_EQ(empty.handle, 0u);
  EXPECT_EQ(empty.context, 0u);
  // An address printed negative by "%ld" on the 32-bit target reads back as the address.
  DialogStateText negative = ParseDialogState("-2,7,-16");
  EXPECT_EQ(negative.block, static_cast<uintptr_t>(static_cast<unsigned long>(-2L)));
  EXPECT_EQ(negative.handle, 7u);
  DialogStateText partial = ParseDialogState("12,3");
  EXPECT_EQ(partial.block, 12u);
  EXPECT_EQ(partial.context, 0u);
}

TEST(StagedMemory, ReleasesEveryStageInReverseAndHandsBlocksOver) {
  const long base = portable::Memory().liveBlocks;
  HGLOBAL kept = nullptr;
  {
    StagedMemory memory;
    HGLOBAL a = nullptr;
    ASSERT_NE(memory.AllocLocked<int16_t>(100, GMEM_MOVEABLE, &a), nullptr);
    ASSERT_NE(memory.AllocLocked<float>(10, GMEM_MOVEABLE, &kept), nullptr);
    EXPECT_EQ(memory.Stages(), 4u);
    EXPECT_EQ(portable::Memory().lockedBlocks, 2);
    memory.Release(kept);  // given away: unlocked now, not freed later
    EXPECT_EQ(memory.Stages(), 2u);
    EXPECT_EQ(GlobalFlags(kept) & 0xff, 0u);
  }
  EXPECT_EQ(portable::Memory().liveBlocks, base + 1);
  EXPECT_EQ(portable::Memory().lockedBlocks, 0);
  GlobalFree(kept);
  EXPECT_EQ(portable::Memory().liveBlocks, base);

  // A failing stage adds nothing, and the earlier stages still go back.
  {
    StagedMemory memory;
    ASSERT_NE(memory.AllocLocked<char>(8), nullptr);
    portable::Faults f;
    f.failAllocation = 1;
    portable::ArmFaults(f);
    EXPECT_EQ(memory.AllocLocked<char>(8), nullptr);
    portable::DisarmFaults();
    EXPECT_EQ(memory.Stages(), 2u);
  }
  EXPECT_EQ(portable::Memory().liveBlocks, base);
}

struct Worker {
  std::atomic<bool> stop{false};
  std::atomic<bool> ended{false};
  std::vector<int>* order = nullptr;
};

DWORD WINAPI RunUntilStopped(LPVOID parameter) {
  auto* w = static_cast<Worker*>(parameter);
  while (!w->stop.load()) Sleep(1);
  w->order->push_back(2);
  w->ended = true;
  return 0;
}

TEST(Staging, ClosesFilesDeletesTemporaryFilesAndStopsThreadsInReverse) {
  const std::string folder = std::filesystem::temp_directory_path() / ("tovrel-staging-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::string kept = folder + "/kept.bin", temporary = folder + "/work.tmp";
  std::vector<int> order;
  Worker worker;
  worker.order = &order;
  HANDLE file = nullptr;
  {
    Staging staging;
    file = staging.OpenFile(kept.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_NE(staging.CreateTempFile(temporary.c_str()), INVALID_HANDLE_VALUE);
    // The thread started last is stopped first, while the files are still open.
    ASSERT_NE(staging.StartThread(RunUntilStopped, &worker, [&] { order.push_back(1); worker.stop = true; }), nullptr);
    EXPECT_EQ(staging.Stages(), 3u);
    EXPECT_EQ(staging.OpenFile((folder + "/missing/x").c_str(), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(staging.Stages(), 3u);
    EXPECT_TRUE(std::filesystem::exists(temporary));
  }
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(worker.ended);
  EXPECT_FALSE(CloseHandle(file));  // closed already
  EXPECT_TRUE(std::filesystem::exists(kept));
  EXPECT_FALSE(std::filesystem::exists(temporary));

  // A file given away stays open; one closed early is closed once.
  HANDLE given = nullptr;
  {
    Staging staging;
    given = staging.Release(staging.OpenFile(kept.c_str(), GENERIC_READ, OPEN_EXISTING));
    HANDLE early = staging.CreateTempFile(temporary.c_str());
    staging.CloseFile(early);
    EXPECT_FALSE(std::filesystem::exists(temporary));
    EXPECT_EQ(staging.Stages(), 0u);
  }
  EXPECT_TRUE(CloseHandle(given));
  std::filesystem::remove_all(folder);
}

TEST(ClipboardWave, HeaderBytesAreCanonical) {
  uint8_t h[44];
  WriteWavHeader(h, 2, 44100, 1000);
  const uint8_t expected[44] = {'R', 'I', 'F', 'F', 0x0c, 0x04, 0, 0,  'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                16,  0,   0,   0,   1,    0,    2, 0,  0x44, 0xac, 0, 0, 0x10, 0xb1, 0x02, 0,
                                4,   0,   16,  0,   'd',  'a',  't', 'a', 0xe8, 0x03, 0, 0};
  EXPECT_EQ(std::memcmp(h, expected, 44), 0);
  WavImage w = ReadWavImage(h, 44);
  EXPECT_TRUE(w.riff && w.waveFmt && w.wave && w.fmt && w.dataTag);
  EXPECT_EQ(w.channels, 2);
  EXPECT_EQ(w.sampleRate, 44100u);
  EXPECT_FALSE(w.dataFits);  // the header promises more than the image holds
  // A "data" chunk elsewhere (an extra chunk after "fmt ") is not at offset 36.
  std::memcpy(h + 36, "LIST", 4);
  EXPECT_FALSE(ReadWavImage(h, 44).dataTag);
  EXPECT_FALSE(ReadWavImage(h, 43).riff);
}

TEST(ClipboardWave, PlacingGivesTheBlockToTheClipboardOrFreesItWhenBusy) {
  portable::LoadClipboard({});
  portable::ClearJournal();
  const long base = portable::Memory().liveBlocks;
  HGLOBAL block = AllocClipboardWave(4);
  ASSERT_NE(block, nullptr);
  auto* p = static_cast<uint8_t*>(GlobalLock(block));
  WriteWavHeader(p, 1, 8000, 4);
  p[44] = 1;
  GlobalUnlock(block);
  ASSERT_TRUE(PlaceOnClipboard(nullptr, block, CF_WAVE, "Deconvolve MLS Signal"));
  auto items = portable::ClipboardContents();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].format, static_cast<UINT>(CF_WAVE));
  EXPECT_EQ(items[0].bytes.size(), 48u);
  EXPECT_EQ(portable::Memory().clipboardBlocks, 1);

  portable::LoadClipboard({});
  HGLOBAL second = AllocClipboardWave(4);
  portable::Faults busy;
  busy.clipboardBusy = true;
  portable::ArmFaults(busy);
  EXPECT_FALSE(PlaceOnClipboard(nullptr, second, CF_WAVE, "Deconvolve MLS Signal"));
  portable::DisarmFaults();
  EXPECT_TRUE(portable::ClipboardContents().empty());
  EXPECT_EQ(portable::Memory().liveBlocks, base);
  const auto& journal = portable::Journal();
  ASSERT_FALSE(journal.empty());
  auto* box = std::get_if<portable::MessageBoxEvent>(&journal.back());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text, "Can not access Clipboard Data.\nAnother application or window\nhas the Clipboard opened.");
  EXPECT_EQ(box->caption, "Deconvolve MLS Signal");
  EXPECT_EQ(box->type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
}

}  // namespace
