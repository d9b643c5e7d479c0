// The multiple MLS generator as a user meets it: through the host, its dialog and the document.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "host/testing.h"
#include "sequence/mls.h"
#include "sequence/multiseqsource/multiseqsource_block.h"

namespace {

using tovrel::host::Document;
using tovrel::host::RunOptions;
using tovrel::host::RunReport;
using tovrel::host::RunStatus;
using tovrel::host::testing::Dialogs;
using tovrel::host::testing::MessageBoxes;
using tovrel::host::testing::TestHost;
namespace portable = tovrel::portable;

const std::vector<int16_t> kOrder3 = {-1000, -1000, 1000, -1000, 1000, 1000, -1000};  // entry "3", A = 1000

RunOptions Settings(std::string order, std::string amplitude, std::string repetitions, const char* pulses = nullptr) {
  RunOptions o;
  o.sets = {{"MLS Order", std::move(order)}, {"Amplitude", std::move(amplitude)}, {"Repetitions", std::move(repetitions)}};
  if (pulses) o.sets.push_back({"Generate control pulses on right channel", pulses});
  return o;
}

MultiSeqSourceBlock BlockOf(const RunReport& r) { return tovrel::host::testing::BlockOf<MultiSeqSourceBlock>(r); }

std::vector<int16_t> Channel(const Document& doc, int c) {
  std::vector<int16_t> out;
  for (long f = 0; f < doc.frames(); ++f) out.push_back(doc.samples[static_cast<std::size_t>(f * doc.channels + c)]);
  return out;
}

std::vector<int16_t> Repeat(const std::vector<int16_t>& part, int times) {
  std::vector<int16_t> out;
  for (int k = 0; k < times; ++k) out.insert(out.end(), part.begin(), part.end());
  return out;
}

TEST(MultiSeqSource, WritesItsDefaults) {
  TestHost host;
  for (int channels : {1, 2}) {
    Document doc = Document::Empty(44100, channels);
    RunOptions cancel;
    cancel.presses = {"Cancel"};
    cancel.keepBlock = false;
    RunReport r = host.Run("multiseqsource", doc, cancel);
    EXPECT_EQ(*r.initResult, 1);
    EXPECT_EQ(*r.setupResult, 0);
    EXPECT_FALSE(r.documentChanged);
    MultiSeqSourceBlock b = BlockOf(r);
    EXPECT_EQ(+b.order, 15);
    EXPECT_EQ(+b.entry, 18);
    EXPECT_EQ(+b.amplitude, 16384);
    EXPECT_EQ(+b.repetitions, 1);
    auto dialogs = Dialogs(r);
    ASSERT_EQ(dialogs.size(), 1u);
    const auto& dialog = dialogs[0]->final;
    EXPECT_EQ(dialog.caption, "Generate Multiple MLS Signal");
    EXPECT_EQ(dialog.Find(1034)->items.size(), 31u);
    EXPECT_EQ(dialog.Find(1034)->selection, 18);
    EXPECT_EQ(dialog.Find(1036)->text, "16384");
    EXPECT_EQ(dialog.Find(1037)->text, "1");
    const auto* box = dialog.Find(1042);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text, "Generate control pulses on right channel");
    EXPECT_EQ(box->enabled, channels == 2) << channels;
    EXPECT_EQ(box->check, 0);
  }
}

TEST(MultiSeqSource, MonoRepeatsThePeriod) {
  TestHost host;
  Document doc = Document::Empty(44100, 1);
  RunReport r = host.Run("multiseqsource", doc, Settings("3", "1000", "2"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(*r.doResult, 14);
  EXPECT_EQ(doc.samples, Repeat(kOrder3, 2));
  EXPECT_EQ(r.statusTexts, std::vector<std::string>{"Generating MLS signal"});

  // One repetition is the MLS generator's signal; the default entry, three times.
  Document one = Document::Empty(44100, 1), single = Document::Empty(44100, 1);
  r = host.Run("multiseqsource", one, Settings("15 B", "16384", "3"));
  ASSERT_EQ(*r.doResult, 3 * 32767);
  RunOptions mls;
  mls.sets = {{"MLS Order", "15 B"}, {"Amplitude", "16384"}};
  host.Run("seqsource", single, mls);
  EXPECT_EQ(one.samples, Repeat(single.samples, 3));
}

TEST(MultiSeqSource, StereoWithoutPulsesPlaysTheRepetitionsLeftThenRight) {
  TestHost host;
  Document doc = Document::Empty(44100, 2);
  RunReport r = host.Run("multiseqsource", doc, Settings("3", "1000", "2", "off"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(*r.doResult, 28);
  ASSERT_EQ(doc.frames(), 28);
  std::vector<int16_t> silence(14, 0);
  std::vector<int16_t> left = Repeat(kOrder3, 2), right = silence;
  left.insert(left.end(), silence.begin(), silence.end());
  right.insert(right.end(), left.begin(), left.begin() + 14);
  EXPECT_EQ(Channel(doc, 0), left);
  EXPECT_EQ(Channel(doc, 1), right);
  EXPECT_EQ(BlockOf(r).controlPulses, 0);
}

TEST(MultiSeqSource, ControlPulsesEndTheRightChannelAtFullScale) {
  TestHost host;
  Document doc = Document::Empty(44100, 2);
  RunReport r = host.Run("multiseqsource", doc, Settings("15 B", "16384", "4", "on"));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(*r.doResult, 131068);
  ASSERT_EQ(doc.frames(), 131068);
  EXPECT_EQ(BlockOf(r).controlPulses, 1);
  const std::vector<int16_t> left = Channel(doc, 0), right = Channel(doc, 1);
  EXPECT_EQ(std::vector<int16_t>(left.begin(), left.begin() + 32767), std::vector<int16_t>(left.begin() + 98301, left.end()));
  long wrong = 0;
  for (long f = 0; f < 131068; ++f) {
    const int16_t expected = f < 130967 ? 0 : (left[f] > 0 ? 32767 : -32767);
    wrong += right[f] != expected;
    wrong += left[f] != 16384 && left[f] != -16384;
  }
  EXPECT_EQ(wrong, 0);

  // The burst is left x 32767 / A: with a negative amplitude it takes the bit's sign.
  Document negative = Document::Empty(8000, 2);
  r = host.Run("multiseqsource", negative, Settings("6", "-1000", "2", "on"));
  ASSERT_EQ(*r.doResult, 126);
  for (long f = 0; f < 126; ++f) {
    const int16_t l = negative.samples[2 * f], rr = negative.samples[2 * f + 1];
    EXPECT_EQ(rr, f < 25 ? 0 : (l == -1000 ? 32767 : -32767)) << f;
  }
}

// Shorter than the 101 frames of the burst, or at amplitude 0: the right channel is silent.
TEST(MultiSeqSource, ControlPulsesNeedTheirFramesAndAnAmplitude) {
  TestHost host;
  struct Case {
    const char* order;
    const char* amplitude;
    const char* repetitions;
    long frames;
  } cases[] = {{"6", "1000", "1", 63}, {"2", "1000", "33", 99}, {"6", "0", "4", 252}};
  for (const auto& c : cases) {
    Document doc = Document::Empty(8000, 2);
    RunReport r = host.Run("multiseqsource", doc, Settings(c.order, c.amplitude, c.repetitions, "on"));
    ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
    ASSERT_EQ(*r.doResult, c.frames) << c.order;
    EXPECT_EQ(Channel(doc, 1), std::vector<int16_t>(static_cast<std::size_t>(c.frames), 0)) << c.order;
    const int a = std::atoi(c.amplitude);
    for (int16_t l : Channel(doc, 0)) EXPECT_EQ(std::abs(l), a);
  }
  // 34 periods of 3 give 102 frames: the last 101 carry the burst.
  Document doc = Document::Empty(8000, 2);
  host.Run("multiseqsource", doc, Settings("2", "1000", "34", "on"));
  ASSERT_EQ(doc.frames(), 102);
  EXPECT_EQ(doc.samples[1], 0);
  for (long f = 1; f < 102; ++f) EXPECT_EQ(std::abs(doc.samples[2 * f + 1]), 32767) << f;
}

TEST(MultiSeqSource, MonoDocumentsClearTheControlPulseFlag) {
  TestHost host;
  Document stereo = Document::Empty(44100, 2);
  RunReport r = host.Run("multiseqsource", stereo, Settings("3", "1000", "2", "on"));
  ASSERT_EQ(BlockOf(r).controlPulses, 1);
  // The stored flag shows in stereo, and is cleared by OK on a mono document.
  Document again = Document::Empty(44100, 2);
  RunOptions look;
  look.presses = {"Cancel"};
  r = host.Run("multiseqsource", again, look);
  EXPECT_EQ(Dialogs(r)[0]->final.Find(1042)->check, 1);
  Document mono = Document::Empty(44100, 1);
  r = host.Run("multiseqsource", mono);
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(Dialogs(r)[0]->final.Find(1042)->check, 0);
  EXPECT_EQ(BlockOf(r).controlPulses, 0);
  EXPECT_EQ(mono.samples, Repeat(kOrder3, 2));
  // A user cannot switch the disabled box on.
  r = host.Run("multiseqsource", mono, Settings("3", "1000", "2", "on"));
  EXPECT_EQ(r.status, RunStatus::UsageError);
}

// A user who types into the dialog and presses OK, round by round.
class TypingUser : public portable::User {
 public:
  std::vector<std::function<void(HWND)>> rounds;
  std::vector<portable::MessageBoxEvent> boxes;
  void DialogIdle(HWND dialog, int round) override {
    if (round < static_cast<int>(rounds.size())) rounds[static_cast<std::size_t>(round)](dialog);
    else portable::Click(dialog, IDCANCEL);
  }
  int MessageBox(const portable::MessageBoxEvent& b) override {
    boxes.push_back(b);
    return portable::DefaultAnswer(b.type);
  }
};

struct DirectRun {
  const tovrel::host::Module& m;
  HGLOBAL block = GlobalAlloc(GHND, sizeof(MultiSeqSourceBlock));
  XfmContext ctx{};
  explicit DirectRun(const tovrel::host::Module& module, WORD channels) : m(module) {
    ctx.paramHandle = block;
    ctx.batchIndex = -1;
    ctx.channels = channels;
    ctx.selStart = 0;
    ctx.selEnd = 9;
    EXPECT_EQ(m.init(&ctx), 1);
  }
  ~DirectRun() {
    portable::SetUser(nullptr);
    GlobalFree(block);
  }
  MultiSeqSourceBlock Block() {
    MultiSeqSourceBlock b;
    std::memcpy(&b, GlobalLock(block), sizeof b);
    GlobalUnlock(block);
    return b;
  }
  void Store(const MultiSeqSourceBlock& b) {
    std::memcpy(GlobalLock(block), &b, sizeof b);
    GlobalUnlock(block);
  }
  WORD Setup(portable::User* user) {
    portable::SetUser(user);
    WORD result = m.setup(portable::HostWindow(), m.instance(), &ctx);
    portable::SetUser(nullptr);
    return result;
  }
};

TEST(MultiSeqSource, RepetitionsBelowOneAreRefusedAndTheDialogStaysOpen) {
  TestHost host;
  // 70000 and 100000 do not fit the 16-bit field: refused with the field's real range.
  for (const char* typed : {"0", "-3", "abc", "70000", "100000", "2.5"}) {
    DirectRun run(host.module("multiseqsource"), 1);
    TypingUser user;
    user.rounds = {[&](HWND d) {
                     portable::TypeText(d, 1037, typed);
                     portable::Click(d, IDOK);
                   },
                   [&](HWND d) {
                     portable::TypeText(d, 1037, "2");
                     portable::Click(d, IDOK);
                   }};
    const bool refused = true;
    EXPECT_EQ(run.Setup(&user), 1) << typed;
    ASSERT_EQ(user.boxes.size(), refused ? 1u : 0u) << typed;
    if (refused) {
      EXPECT_EQ(user.boxes[0].text, "Repetitions must be a whole number from 1 to 32767 periods.");
      EXPECT_EQ(user.boxes[0].caption, "Generate Multiple MLS Signal");
      EXPECT_EQ(user.boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
      EXPECT_NE(user.boxes[0].owner, 0u);  // over the dialog
    }
    EXPECT_EQ(run.Block().repetitions, refused ? 2 : 4464) << typed;
    EXPECT_EQ(run.ctx.outputLength, (refused ? 2 : 4464) * 32767) << typed;
    EXPECT_EQ(run.Block().selectionLength, 10);
  }

  // Through the host: refused, then cancelled by the user; nothing is stored or written.
  Document doc = Document::Empty(44100, 1);
  doc.samples = std::vector<int16_t>(6, 4);
  doc.SelectAll();
  RunReport r = host.Run("multiseqsource", doc, Settings("3", "1000", "0"));
  EXPECT_EQ(*r.setupResult, 0);
  EXPECT_FALSE(r.documentChanged);
  EXPECT_EQ(BlockOf(r).repetitions, 1);
  EXPECT_EQ(BlockOf(r).order, 15);
  ASSERT_EQ(MessageBoxes(r).size(), 1u);
  EXPECT_NE(r.message.find("from 1 to 32767"), std::string::npos) << r.message;
}

// The amplitude is taken whole and must fit with its negative in 16 bits: no value
// turns into another (32768 or -32768 would give a constant signal, 40000 an inverted one).
TEST(MultiSeqSource, AmplitudesOutsideTheirRangeAreRefusedNotWrapped) {
  TestHost host;
  for (const char* typed : {"32768", "40000", "-32768", "abc", "", "0.5", "1e3"}) {
    Document doc = Document::Empty(44100, 1);
    RunReport r = host.Run("multiseqsource", doc, Settings("3", typed, "1"));
    EXPECT_EQ(*r.setupResult, 0) << typed;
    EXPECT_FALSE(r.documentChanged) << typed;
    const auto boxes = MessageBoxes(r);
    ASSERT_EQ(boxes.size(), 1u) << typed;
    EXPECT_EQ(boxes[0]->text, "Amplitude must be a whole number from -32767 to 32767.") << typed;
  }
}

TEST(MultiSeqSource, TheDialogAnnouncesTheFramesToComeAndRefusesSignalsTooLong) {
  TestHost host;
  struct Case {
    WORD channels;
    SHORT entry, repetitions;
    BOOL pulses;
    LONG expected;  // 0: refused as too long
  } cases[] = {{1, 1, 3, 0, 21},
               {2, 1, 3, 0, 42},
               {2, 1, 3, 1, 21},
               {1, 1, 3, 1, 21},  // no control pulses in mono
               // The whole signal goes to the host in one call of at most 2^31 - 1 bytes.
               {1, 30, 512, 0, 512 * 2097151},
               {1, 30, 513, 0, 0},
               {2, 30, 256, 1, 256 * 2097151},
               {2, 30, 257, 1, 0},
               {2, 30, 128, 0, 2 * 128 * 2097151},
               {2, 30, 129, 0, 0}};
  for (const auto& c : cases) {
    DirectRun run(host.module("multiseqsource"), c.channels);
    MultiSeqSourceBlock b = run.Block();
    b.entry = c.entry;
    b.order = static_cast<SHORT>(MlsEntryTable[c.entry].order);
    b.repetitions = c.repetitions;
    b.controlPulses = c.pulses;
    run.Store(b);
    TypingUser user;
    user.rounds = {[](HWND d) { portable::Click(d, IDOK); }};
    const WORD result = run.Setup(&user);
    const std::string what = std::to_string(c.channels) + "/" + std::to_string(c.entry) + "/" + std::to_string(c.repetitions);
    if (c.expected) {
      EXPECT_EQ(result, 1) << what;
      EXPECT_EQ(run.ctx.outputLengthSet, 1) << what;
      EXPECT_EQ(run.ctx.outputLength, c.expected) << what;
      EXPECT_TRUE(user.boxes.empty()) << what;
      EXPECT_EQ(run.Block().controlPulses, c.channels == 2 && c.pulses) << what;
    } else {
      EXPECT_EQ(result, 0) << what;
      EXPECT_EQ(run.ctx.outputLengthSet, 0) << what;
      ASSERT_EQ(user.boxes.size(), 1u) << what;
      EXPECT_EQ(user.boxes[0].text, "The signal would be too long.\nChoose a lower MLS order or fewer repetitions.");
    }
  }
}

// Runs that skip the dialog's checks, with a block the dialog would not confirm.
TEST(MultiSeqSource, RunRefusesStoredSettingsItCannotGenerate) {
  TestHost host;
  struct Case {
    SHORT order, entry, repetitions;
    const char* message;
    SHORT amplitude = 100;
  } cases[] = {{15, 18, 0, "Repetitions must be a whole number from 1 to 32767 periods."},
               {15, 18, 1, "Amplitude must be a whole number from -32767 to 32767.", -32768},
               {21, 30, 600, "Not enough memory,\ngeneration aborted."},
               {15, 31, 1, "The stored MLS order is not valid.\nChoose the MLS order again in the settings dialog."},
               {12, 18, 1, "The stored MLS order is not valid.\nChoose the MLS order again in the settings dialog."}};
  for (const auto& c : cases) {
    DirectRun run(host.module("multiseqsource"), 1);
    run.Store({c.order, c.entry, 7, c.amplitude, c.repetitions, 0});
    run.ctx.writeSamples = [](const void*, LONG, LONG) -> SHORT {
      ADD_FAILURE() << "written";
      return 0;
    };
    portable::ClearJournal();
    EXPECT_EQ(run.m.run(&run.ctx), 7);
    ASSERT_EQ(portable::Journal().size(), 1u);
    const auto& box = std::get<portable::MessageBoxEvent>(portable::Journal()[0]);
    EXPECT_EQ(box.text, c.message);
    EXPECT_EQ(box.caption, "Generate MLS Signal");
    EXPECT_EQ(box.owner, 0u);
  }
}

TEST(MultiSeqSource, DialogFlow) {
  TestHost host;
  Document doc = Document::Empty(44100, 1);
  RunOptions help = Settings("3", "1000", "2");
  help.presses = {"Help"};
  RunReport r = host.Run("multiseqsource", doc, help);
  EXPECT_EQ(r.status, RunStatus::Completed);
  int helped = 0;
  for (const auto& e : r.journal)
    if (auto* h = std::get_if<portable::HelpEvent>(&e)) {
      ++helped;
      EXPECT_EQ(h->file, "tovrel96.hlp");
      EXPECT_EQ(h->keyword, "Generate MLS Signal");
    }
  EXPECT_EQ(helped, 1);

  // Batch mode confirms the stored settings; what the user would set is not applied.
  Document batch = Document::Empty(44100, 1);
  RunOptions o = Settings("4", "99", "5");
  o.batch = true;
  r = host.Run("multiseqsource", batch, o);
  EXPECT_EQ(*r.setupResult, 1);
  EXPECT_EQ(batch.samples, Repeat(kOrder3, 2));

  // Replacing a selection in the middle of a stereo document.
  Document mid = Document::Empty(44100, 2);
  mid.samples = std::vector<int16_t>(40, 5);
  mid.selStart = 5;
  mid.selEnd = 14;
  r = host.Run("multiseqsource", mid, Settings("2", "1000", "1", "off"));
  ASSERT_EQ(*r.doResult, 6);
  EXPECT_EQ(BlockOf(r).selectionLength, 10);
  ASSERT_EQ(mid.frames(), 16);
  EXPECT_EQ(std::vector<int16_t>(mid.samples.begin() + 10, mid.samples.begin() + 22),
            (std::vector<int16_t>{-1000, 0, -1000, 0, 1000, 0, 0, -1000, 0, -1000, 0, 1000}));
  EXPECT_EQ(mid.samples[9], 5);
  EXPECT_EQ(mid.samples[22], 5);
}

TEST(MultiSeqSource, EveryAllocationAndLockFailureLeavesTheDocumentAndMemoryAsTheyWere) {
  TestHost host;
  for (int channels : {1, 2}) {
    for (int lockFault = 0; lockFault < 2; ++lockFault) {
      for (long k = 1;; ++k) {
        Document doc = Document::Empty(44100, channels);
        doc.samples = std::vector<int16_t>(static_cast<std::size_t>(10 * channels), 1);
        doc.selStart = 2;
        doc.selEnd = 5;
        const auto before = portable::Memory();
        RunOptions o = Settings("9", "100", "3", channels == 2 ? "on" : nullptr);
        portable::Faults f;
        (lockFault ? f.failLock : f.failAllocation) = k;
        o.faultsDuringRun = f;
        RunReport r = host.Run("multiseqsource", doc, o);
        const auto after = portable::Memory();
        EXPECT_EQ(after.liveBlocks, before.liveBlocks) << k;
        EXPECT_EQ(after.lockedBlocks, 0) << k;
        if (r.status == RunStatus::Completed) {
          EXPECT_EQ(*r.doResult, 3 * 511);
          EXPECT_GE(k, 2);
          break;
        }
        ASSERT_LT(k, 10) << "the run never completes";
        EXPECT_EQ(*r.doResult, 4) << k;
        EXPECT_FALSE(r.documentChanged) << k;
        auto boxes = MessageBoxes(r);
        if (!(lockFault && k == 1)) {  // the block's own lock returns at once
          ASSERT_EQ(boxes.size(), 1u) << k;
          EXPECT_EQ(boxes[0]->text, "Not enough memory,\ngeneration aborted.");
          EXPECT_EQ(boxes[0]->caption, "Generate MLS Signal");
          EXPECT_EQ(boxes[0]->type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
          EXPECT_EQ(boxes[0]->owner, 0u);
        }
      }
    }
  }
}

TEST(MultiSeqSource, CancelAtEveryProgressReportLeavesTheDocumentUnchanged) {
  TestHost host;
  for (const char* pulses : {"on", "off"}) {
    for (long k = 1; k <= 4; ++k) {  // order 15: four blocks of 8192 positions
      Document doc = Document::Empty(44100, 2);
      doc.samples = std::vector<int16_t>(2 * 500, 3);
      doc.selStart = 100;
      doc.selEnd = 199;
      RunOptions o = Settings("15 B", "1000", "2", pulses);
      o.cancelAtReport = k;
      RunReport r = host.Run("multiseqsource", doc, o);
      EXPECT_EQ(r.status, RunStatus::Cancelled);
      EXPECT_EQ(r.progressReports, k);
      EXPECT_EQ(*r.doResult, 100);  // frames
      EXPECT_FALSE(r.documentChanged);
    }
  }
}

}  // namespace
