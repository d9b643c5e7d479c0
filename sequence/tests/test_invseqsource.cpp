// The IRS generator as a user meets it: through the host, its dialog and the document.
#include <gtest/gtest.h>

#include <cstring>

#include "host/testing.h"
#include "sequence/invseqsource/invseqsource_block.h"
#include "sequence/irs.h"
#include "sequence/mls.h"

namespace {

using tovrel::host::Document;
using tovrel::host::RunOptions;
using tovrel::host::RunReport;
using tovrel::host::RunStatus;
using tovrel::host::testing::Dialogs;
using tovrel::host::testing::MessageBoxes;
using tovrel::host::testing::TestHost;
namespace portable = tovrel::portable;

RunOptions Order(std::string order) {
  RunOptions o;
  o.sets = {{"IRS Order", std::move(order)}};
  return o;
}

InvSeqSourceBlock BlockOf(const RunReport& r) { return tovrel::host::testing::BlockOf<InvSeqSourceBlock>(r); }

std::vector<uint8_t> Bytes(const InvSeqSourceBlock& b) {
  std::vector<uint8_t> out(sizeof b);
  std::memcpy(out.data(), &b, sizeof b);
  return out;
}

TEST(InvSeqSource, OffersOrdersUpToNineteen) {
  TestHost host;
  Document doc = Document::Empty(44100, 1);
  RunOptions cancel;
  cancel.presses = {"Cancel"};
  RunReport r = host.Run("invseqsource", doc, cancel);
  EXPECT_EQ(*r.initResult, 1);
  EXPECT_EQ(*r.setupResult, 0);
  EXPECT_FALSE(r.documentChanged);
  EXPECT_EQ(BlockOf(r).order, 15);
  EXPECT_EQ(BlockOf(r).entry, 18);
  auto dialogs = Dialogs(r);
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0]->final.caption, "Generate IRS Signal");
  const auto* combo = dialogs[0]->final.Find(1034);
  ASSERT_NE(combo, nullptr);
  ASSERT_EQ(combo->items.size(), 29u);
  EXPECT_EQ(combo->items.front(), "2");
  EXPECT_EQ(combo->items.back(), "19");
  EXPECT_EQ(combo->selection, 18);

  r = host.Run("invseqsource", doc, Order("20"));
  EXPECT_EQ(r.status, RunStatus::UsageError);
  EXPECT_FALSE(r.documentChanged);
}

TEST(InvSeqSource, WritesTheSmallOrdersExactly) {
  TestHost host;
  Document doc = Document::Empty(44100, 1);
  RunReport r = host.Run("invseqsource", doc, Order("2"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(*r.doResult, 6);
  EXPECT_EQ(doc.samples, (std::vector<int16_t>{-16384, 16384, 16384, 16384, -16384, -16384}));
  EXPECT_EQ(r.statusTexts, std::vector<std::string>{"Generating IRS signal"});
  EXPECT_EQ(BlockOf(r).order, 2);
  EXPECT_EQ(BlockOf(r).entry, 0);

  // Entry "5" starts with bit 0: s[L] = s[0] = +A.
  Document five = Document::Empty(44100, 1);
  r = host.Run("invseqsource", five, Order("5"));
  ASSERT_EQ(*r.doResult, 62);
  EXPECT_EQ(five.samples[0], 16384);
  EXPECT_EQ(five.samples[31], 16384);
}

TEST(InvSeqSource, DefaultEntryWritesTwoMlsLengthsOfInvertedHalves) {
  TestHost host;
  Document doc = Document::Empty(44100, 1);
  RunReport r = host.Run("invseqsource", doc);
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(*r.doResult, 65534);
  ASSERT_EQ(doc.frames(), 65534);
  const long L = 32767;
  long plus = 0, broken = 0;
  for (long k = 0; k < 2 * L; ++k) {
    plus += doc.samples[k] == 16384;
    broken += doc.samples[k] != 16384 && doc.samples[k] != -16384;
    if (k > 0 && k < L) broken += doc.samples[k + L] != -doc.samples[k];
  }
  EXPECT_EQ(broken, 0);
  EXPECT_EQ(doc.samples[0], 16384);  // x[1] = 0 for entry 18
  EXPECT_EQ(doc.samples[L], 16384);
  EXPECT_EQ(plus, L + 1);  // the halves cancel but for s[0] and s[L]
}

TEST(InvSeqSource, ReplacesTheSelectionOfALongerDocument) {
  TestHost host;
  Document doc = Document::Empty(44100, 1);
  doc.samples = std::vector<int16_t>(20, 5);
  doc.selStart = 3;
  doc.selEnd = 12;  // ten frames give way to six
  RunReport r = host.Run("invseqsource", doc, Order("2"));
  ASSERT_EQ(r.status, RunStatus::Completed);
  EXPECT_EQ(BlockOf(r).selectionLength, 10);
  EXPECT_EQ(doc.samples, (std::vector<int16_t>{5, 5, 5, -16384, 16384, 16384, 16384, -16384, -16384, 5, 5, 5, 5, 5,
                                               5, 5}));
  EXPECT_EQ(doc.selStart, 3);
  EXPECT_EQ(doc.selEnd, 8);
}

// Stereo: no dialog, nothing written. Mono: the dialog announces 2L frames.
TEST(InvSeqSource, RunsOnMonoDocumentsOnly) {
  TestHost host;
  Document stereo = Document::Empty(44100, 2);
  stereo.samples = std::vector<int16_t>(8, 9);
  stereo.SelectAll();
  RunReport r = host.Run("invseqsource", stereo);
  EXPECT_EQ(*r.setupResult, 0);
  EXPECT_FALSE(r.doResult.has_value());
  EXPECT_TRUE(Dialogs(r).empty());
  EXPECT_FALSE(r.documentChanged);
  EXPECT_EQ(r.status, RunStatus::Failed);

  const auto& m = host.module("invseqsource");
  HGLOBAL block = GlobalAlloc(GHND, sizeof(InvSeqSourceBlock));
  XfmContext ctx{};
  ctx.paramHandle = block;
  ctx.batchIndex = -1;
  ctx.channels = 2;
  ctx.selEnd = -1;
  ASSERT_EQ(m.init(&ctx), 1);
  portable::ClearJournal();
  EXPECT_EQ(m.setup(portable::HostWindow(), m.instance(), &ctx), 0);
  EXPECT_TRUE(portable::Journal().empty());
  EXPECT_EQ(ctx.outputLengthSet, 0);
  ctx.channels = 1;
  EXPECT_EQ(m.setup(portable::HostWindow(), m.instance(), &ctx), 1);  // the default user presses OK
  EXPECT_EQ(ctx.outputLengthSet, 1);
  EXPECT_EQ(ctx.outputLength, 65534);
  portable::ClearJournal();
  // Runs the host should not make: on a stereo document, and with a stored entry the
  // dialog does not offer. The selection is reported and nothing is written.
  ctx.writeSamples = [](const void*, LONG, LONG) -> SHORT {
    ADD_FAILURE() << "written";
    return 0;
  };
  ctx.channels = 2;
  EXPECT_EQ(m.run(&ctx), 0);
  EXPECT_TRUE(portable::Journal().empty());
  ctx.channels = 1;
  InvSeqSourceBlock* stored = static_cast<InvSeqSourceBlock*>(GlobalLock(block));
  *stored = {20, 29, 7};
  GlobalUnlock(block);
  EXPECT_EQ(m.run(&ctx), 7);
  ASSERT_EQ(portable::Journal().size(), 1u);
  const auto& box = std::get<portable::MessageBoxEvent>(portable::Journal()[0]);
  EXPECT_EQ(box.caption, "Generate IRS Signal");
  EXPECT_EQ(box.type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(m.destroy(&ctx), 1);
  GlobalFree(block);
}

TEST(InvSeqSource, DialogFlow) {
  TestHost host;
  Document doc = Document::Empty(44100, 1);
  RunOptions help = Order("3");
  help.presses = {"Help"};
  RunReport r = host.Run("invseqsource", doc, help);
  EXPECT_EQ(r.status, RunStatus::Completed);
  EXPECT_EQ(doc.frames(), 14);
  int helped = 0;
  for (const auto& e : r.journal)
    if (auto* h = std::get_if<portable::HelpEvent>(&e)) {
      ++helped;
      EXPECT_EQ(h->file, "tovrel96.hlp");
      EXPECT_EQ(h->command, static_cast<UINT>(HELP_KEY));
      EXPECT_EQ(h->keyword, "Generate IRS Signal");
    }
  EXPECT_EQ(helped, 1);

  // Batch mode confirms the stored entry at once.
  Document batch = Document::Empty(44100, 1);
  RunOptions o = Order("4");
  o.batch = true;
  r = host.Run("invseqsource", batch, o);
  EXPECT_EQ(*r.setupResult, 1);
  EXPECT_EQ(batch.frames(), 14);

  // A stored entry the dialog does not offer: the dialog proposes the default entry,
  // and OK in batch mode confirms what the dialog shows.
  std::string error;
  ASSERT_TRUE(host.store().SaveBlock("invseqsource", host.module("invseqsource").descriptor().typeString,
                                     Bytes({20, 29, 0}), error)) << error;
  Document stored = Document::Empty(44100, 1);
  RunOptions look;
  look.presses = {"Cancel"};
  r = host.Run("invseqsource", stored, look);
  ASSERT_EQ(Dialogs(r).size(), 1u);
  EXPECT_EQ(Dialogs(r)[0]->final.Find(1034)->selection, 18);
  RunOptions inBatch;
  inBatch.batch = true;
  r = host.Run("invseqsource", stored, inBatch);
  EXPECT_EQ(r.status, RunStatus::Completed);
  EXPECT_EQ(stored.frames(), 65534);
  EXPECT_EQ(BlockOf(r).entry, 18);
}

TEST(InvSeqSource, EveryAllocationAndLockFailureLeavesTheDocumentAndMemoryAsTheyWere) {
  TestHost host;
  for (int lockFault = 0; lockFault < 2; ++lockFault) {
    for (long k = 1;; ++k) {
      Document doc = Document::Empty(44100, 1);
      doc.samples = std::vector<int16_t>(10, 1);
      doc.selStart = 2;
      doc.selEnd = 5;
      const auto before = portable::Memory();
      RunOptions o = Order("9");
      portable::Faults f;
      (lockFault ? f.failLock : f.failAllocation) = k;
      o.faultsDuringRun = f;
      RunReport r = host.Run("invseqsource", doc, o);
      const auto after = portable::Memory();
      EXPECT_EQ(after.liveBlocks, before.liveBlocks) << k;
      EXPECT_EQ(after.lockedBlocks, 0) << k;
      if (r.status == RunStatus::Completed) {
        EXPECT_EQ(doc.frames(), 6 + 1022);
        EXPECT_GE(k, 2);
        break;
      }
      ASSERT_LT(k, 10) << "the run never completes";
      EXPECT_EQ(*r.doResult, 4) << k;
      EXPECT_EQ(doc.samples, std::vector<int16_t>(10, 1)) << k;
      auto boxes = MessageBoxes(r);
      if (!(lockFault && k == 1)) {  // the block's own lock returns at once
        ASSERT_EQ(boxes.size(), 1u) << k;
        EXPECT_EQ(boxes[0]->text, "Not enough memory,\ngeneration aborted.");
        EXPECT_EQ(boxes[0]->caption, "Generate IRS Signal");
        EXPECT_EQ(boxes[0]->type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(boxes[0]->owner, 0u);
      }
    }
  }
}

TEST(InvSeqSource, CancelAtEveryProgressReportLeavesTheDocumentUnchanged) {
  TestHost host;
  for (long k = 1; k <= 4; ++k) {  // order 15: four blocks of 8192 positions
    Document doc = Document::Empty(44100, 1);
    doc.samples = std::vector<int16_t>(500, 3);
    doc.selStart = 100;
    doc.selEnd = 199;
    RunOptions o = Order("15 B");
    o.cancelAtReport = k;
    RunReport r = host.Run("invseqsource", doc, o);
    EXPECT_EQ(r.status, RunStatus::Cancelled);
    EXPECT_EQ(r.progressReports, k);
    EXPECT_EQ(*r.doResult, 100);
    EXPECT_FALSE(r.documentChanged);
  }
}

}  // namespace
