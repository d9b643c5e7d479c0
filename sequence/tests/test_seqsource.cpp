// The MLS generator as a user meets it: through the host, its dialog and the document.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "host/testing.h"
#include "sequence/mls.h"
#include "sequence/seqsource/seqsource_block.h"

namespace {

using tovrel::host::Document;
using tovrel::host::RunOptions;
using tovrel::host::RunReport;
using tovrel::host::RunStatus;
using tovrel::host::testing::Dialogs;
using tovrel::host::testing::MessageBoxes;
using tovrel::host::testing::TestHost;
namespace portable = tovrel::portable;

RunOptions Settings(std::string order, std::string amplitude) {
  RunOptions o;
  o.sets = {{"MLS Order", std::move(order)}, {"Amplitude", std::move(amplitude)}};
  return o;
}

SeqSourceBlock BlockOf(const RunReport& r) { return tovrel::host::testing::BlockOf<SeqSourceBlock>(r); }

TEST(SeqSource, WritesItsDefaults) {
  TestHost host;
  // The first use runs XfmInit; Cancel keeps the defaults.
  Document doc = Document::Empty(44100, 1);
  RunOptions cancel;
  cancel.presses = {"Cancel"};
  RunReport r = host.Run("seqsource", doc, cancel);
  ASSERT_TRUE(r.initResult.has_value());
  EXPECT_EQ(*r.initResult, 1);
  EXPECT_EQ(*r.setupResult, 0);
  EXPECT_EQ(r.status, RunStatus::Cancelled);
  EXPECT_FALSE(r.doResult.has_value());
  EXPECT_FALSE(r.documentChanged);
  SeqSourceBlock b = BlockOf(r);
  EXPECT_EQ(+b.order, 15);
  EXPECT_EQ(+b.entry, 18);
  EXPECT_EQ(+b.amplitude, 16384);
  auto dialogs = Dialogs(r);
  ASSERT_EQ(dialogs.size(), 1u);
  const auto* combo = dialogs[0]->final.Find(1034);
  ASSERT_NE(combo, nullptr);
  EXPECT_EQ(combo->items.size(), 31u);
  EXPECT_EQ(combo->selection, 18);
  EXPECT_EQ(dialogs[0]->final.Find(1036)->text, "16384");
}

TEST(SeqSource, WritesTheSmallOrdersExactly) {
  TestHost host;
  Document doc = Document::Empty(44100, 1);
  RunReport r = host.Run("seqsource", doc, Settings("3", "1000"));
  EXPECT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(*r.doResult, 7);
  EXPECT_EQ(doc.samples, (std::vector<int16_t>{-1000, -1000, 1000, -1000, 1000, 1000, -1000}));
  EXPECT_EQ(doc.selStart, 0);
  EXPECT_EQ(doc.selEnd, 6);
  EXPECT_EQ(+BlockOf(r).selectionLength, 0);

  Document two = Document::Empty(44100, 1);
  r = host.Run("seqsource", two, Settings("2", "1000"));
  EXPECT_EQ(*r.doResult, 3);
  EXPECT_EQ(two.samples, (std::vector<int16_t>{-1000, -1000, 1000}));
}

TEST(SeqSource, StereoFramesCarryTheSameBitInBothChannels) {
  TestHost host;
  Document doc = Document::Empty(48000, 2);
  RunReport r = host.Run("seqsource", doc, Settings("10", "-2000"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(*r.doResult, 1023);
  ASSERT_EQ(doc.frames(), 1023);
  long minus = 0;
  for (long k = 0; k < 1023; ++k) {
    EXPECT_EQ(doc.samples[2 * k], doc.samples[2 * k + 1]);
    EXPECT_EQ(std::abs(doc.samples[2 * k]), 2000);
    if (doc.samples[2 * k] == 2000) ++minus;  // bit 1 gives -A, here +2000
  }
  EXPECT_EQ(minus, 512);
}

TEST(SeqSource, DefaultEntryStartsWithItsKnownBitsAndLaterRunsKeepTheSettings) {
  TestHost host;
  Document doc = Document::Empty(44100, 1);
  RunReport r = host.Run("seqsource", doc);
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  ASSERT_EQ(doc.frames(), 32767);
  const int bits[16] = {0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0};
  for (int k = 0; k < 16; ++k) EXPECT_EQ(doc.samples[k], bits[k] ? -16384 : 16384) << k;

  Document first = Document::Empty(44100, 1);
  host.Run("seqsource", first, Settings("5", "300"));
  Document second = Document::Empty(48000, 1);
  r = host.Run("seqsource", second);
  EXPECT_FALSE(r.initResult.has_value());  // the stored block, not the defaults
  EXPECT_EQ(second.samples, first.samples);
  EXPECT_EQ(second.frames(), 31);
}

TEST(SeqSource, ReplacesTheSelectionOfALongerDocument) {
  TestHost host;
  Document doc = Document::Empty(44100, 1);
  doc.samples = std::vector<int16_t>(20, 5);
  doc.selStart = 4;
  doc.selEnd = 13;  // ten frames give way to seven
  RunReport r = host.Run("seqsource", doc, Settings("3", "1000"));
  ASSERT_EQ(r.status, RunStatus::Completed);
  EXPECT_EQ(+BlockOf(r).selectionLength, 10);
  ASSERT_EQ(doc.frames(), 17);
  EXPECT_EQ(std::vector<int16_t>(doc.samples.begin(), doc.samples.begin() + 4), std::vector<int16_t>(4, 5));
  EXPECT_EQ(std::vector<int16_t>(doc.samples.begin() + 4, doc.samples.begin() + 11),
            (std::vector<int16_t>{-1000, -1000, 1000, -1000, 1000, 1000, -1000}));
  EXPECT_EQ(std::vector<int16_t>(doc.samples.begin() + 11, doc.samples.end()), std::vector<int16_t>(6, 5));
  EXPECT_EQ(doc.selStart, 4);
  EXPECT_EQ(doc.selEnd, 10);
}

// The amplitude is taken whole, and with its negative must fit 16 bits: no value wraps
// (32768 would give a constant -32768, 40000 an inverted sequence) or turns into another.
TEST(SeqSource, AmplitudeIsTakenWholeWithinSixteenBitsOrRefused) {
  TestHost host;
  for (const char* typed : {"0", "-32767", " 32767 "}) {
    Document doc = Document::Empty(8000, 1);
    RunReport r = host.Run("seqsource", doc, Settings("2", typed));
    EXPECT_EQ(r.status, RunStatus::Completed) << typed;
    EXPECT_EQ(+BlockOf(r).amplitude, std::atoi(typed)) << typed;
    EXPECT_EQ(doc.samples[2], std::atoi(typed)) << typed;  // bit 0 gives +A
  }
  for (const char* typed : {"1000xyz", "70000", "1234567891", "32768", "40000", "-32768", "abc", "", "0.5", "1e3"}) {
    Document doc = Document::Empty(8000, 1);
    RunReport r = host.Run("seqsource", doc, Settings("2", typed));
    EXPECT_EQ(r.status, RunStatus::Failed) << typed;  // refused at OK, then cancelled
    EXPECT_FALSE(r.documentChanged) << typed;
    const auto boxes = MessageBoxes(r);
    ASSERT_EQ(boxes.size(), 1u) << typed;
    EXPECT_EQ(boxes[0]->text, "Amplitude must be a whole number from -32767 to 32767.") << typed;
    EXPECT_EQ(+BlockOf(r).amplitude, 32767) << typed;  // as the last accepted run left it
  }
}

TEST(SeqSource, DialogFlow) {
  TestHost host;
  // Help opens the help file at the keyword and leaves the dialog open; OK then runs.
  Document doc = Document::Empty(44100, 1);
  RunOptions help = Settings("2", "10");
  help.presses = {"Help"};
  RunReport r = host.Run("seqsource", doc, help);
  EXPECT_EQ(r.status, RunStatus::Completed);
  bool helped = false;
  for (const auto& e : r.journal)
    if (auto* h = std::get_if<portable::HelpEvent>(&e)) {
      helped = true;
      EXPECT_EQ(h->file, "tovrel96.hlp");
      EXPECT_EQ(h->command, static_cast<UINT>(HELP_KEY));
      EXPECT_EQ(h->keyword, "Generate MLS Signal");
    }
  EXPECT_TRUE(helped);

  // Batch mode confirms the stored settings at once: what the user would set is not applied.
  Document batch = Document::Empty(44100, 1);
  RunOptions o = Settings("4", "99");
  o.batch = true;
  r = host.Run("seqsource", batch, o);
  EXPECT_EQ(*r.setupResult, 1);
  EXPECT_EQ(batch.frames(), 3);
  EXPECT_EQ(batch.samples[2], 10);
}

// The close box acts as Cancel, the dialog locks the block only while it is open.
class CloseBoxUser : public portable::User {
 public:
  void DialogIdle(HWND dialog, int) override { portable::PressCloseBox(dialog); }
  int MessageBox(const portable::MessageBoxEvent& b) override { return portable::DefaultAnswer(b.type); }
};

TEST(SeqSource, CloseBoxCancelsAndLeavesNothingLocked) {
  TestHost host;
  const auto& m = host.module("seqsource");
  HGLOBAL block = GlobalAlloc(GHND, 10);
  XfmContext ctx{};
  ctx.paramHandle = block;
  ctx.batchIndex = -1;
  ctx.channels = 1;
  ASSERT_EQ(m.init(&ctx), 1);
  CloseBoxUser user;
  portable::SetUser(&user);
  EXPECT_EQ(m.setup(portable::HostWindow(), m.instance(), &ctx), 0);
  portable::SetUser(nullptr);
  EXPECT_EQ(GlobalFlags(block) & 0xff, 0u);
  EXPECT_EQ(ctx.outputLengthSet, 0);
  EXPECT_EQ(m.destroy(&ctx), 1);
  GlobalFree(block);
  // A block that cannot be locked: every entry point says so.
  XfmContext none{};
  none.paramHandle = nullptr;
  EXPECT_EQ(m.init(&none), 0);
  EXPECT_EQ(m.destroy(&none), 0);
}

TEST(SeqSource, EveryAllocationAndLockFailureLeavesTheDocumentAndMemoryAsTheyWere) {
  TestHost host;
  for (int lockFault = 0; lockFault < 2; ++lockFault) {
    for (long k = 1;; ++k) {
      Document doc = Document::Empty(44100, 1);
      doc.samples = std::vector<int16_t>(10, 1);
      doc.selStart = 2;
      doc.selEnd = 5;
      const auto before = portable::Memory();
      RunOptions o = Settings("9", "100");
      portable::Faults f;
      (lockFault ? f.failLock : f.failAllocation) = k;
      o.faultsDuringRun = f;
      RunReport r = host.Run("seqsource", doc, o);
      const auto after = portable::Memory();
      EXPECT_EQ(after.liveBlocks, before.liveBlocks) << k;
      EXPECT_EQ(after.lockedBlocks, 0) << k;
      if (r.status == RunStatus::Completed) {
        EXPECT_GE(k, 2);  // at least the buffer's stages were reached
        break;
      }
      ASSERT_LT(k, 10) << "the run never completes";
      EXPECT_EQ(*r.doResult, 4) << k;  // the selection length recorded by the dialog
      EXPECT_EQ(doc.samples, std::vector<int16_t>(10, 1)) << k;
      EXPECT_EQ(doc.selEnd, 5);
      auto boxes = MessageBoxes(r);
      // The block lock itself failing returns at once; the buffer's stages show the message.
      if (!(lockFault && k == 1)) {
        ASSERT_EQ(boxes.size(), 1u) << k;
        EXPECT_EQ(boxes[0]->text, "Not enough memory,\ngeneration aborted.");
        EXPECT_EQ(boxes[0]->caption, "Generate MLS Signal");
        EXPECT_EQ(boxes[0]->type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(boxes[0]->owner, 0u);
        EXPECT_EQ(r.message, "Generate MLS Signal: Not enough memory, generation aborted.");
      }
    }
  }
}

TEST(SeqSource, CancelAtEveryProgressReportLeavesTheDocumentUnchanged) {
  TestHost host;
  for (long k = 1; k <= 4; ++k) {  // order 15: four blocks of 8192 positions
    Document doc = Document::Empty(44100, 2);
    doc.samples = std::vector<int16_t>(2 * 40000, 3);
    doc.selStart = 100;
    doc.selEnd = 199;
    RunOptions o = Settings("15 B", "1000");
    o.cancelAtReport = k;
    RunReport r = host.Run("seqsource", doc, o);
    EXPECT_EQ(r.status, RunStatus::Cancelled);
    EXPECT_EQ(r.progressReports, k);
    EXPECT_EQ(*r.doResult, 100);  // frames, also in stereo
    EXPECT_FALSE(r.documentChanged);
    EXPECT_EQ(r.statusTexts, std::vector<std::string>{"Generating MLS signal"});
  }
}

}  // namespace
