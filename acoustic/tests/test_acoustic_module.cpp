// The acoustical-parameters module as a user meets it: through the host, its two
// dialogs and the clipboard.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "acoustic/acoustic/acoustic_block.h"
#include "acoustic/parameters.h"
#include "acoustic/report.h"
#include "acoustic/response.h"
#include "frame/format.h"
#include "frame/paramblock.h"
#include "host/session.h"
#include "host/testing.h"

namespace {

using tovrel::host::Document;
using tovrel::host::RunOptions;
using tovrel::host::RunReport;
using tovrel::host::RunStatus;
using tovrel::host::testing::Dialogs;
using tovrel::host::testing::MessageBoxes;
using tovrel::host::testing::TestHost;
namespace portable = tovrel::portable;

// A noisy exponential decay per channel (rt seconds), after `delay` quiet frames.
Document Response(long rate, int channels, double seconds, std::vector<double> rt = {0.5, 0.3}, long delay = 100) {
  Document doc = Document::Empty(rate, channels);
  const long n = static_cast<long>(rate * seconds);
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0.0, 1.0);
  doc.samples.resize(static_cast<std::size_t>(n) * channels);
  for (long k = 0; k < n; ++k) {
    for (int c = 0; c < channels; ++c) {
      double v = 0;
      if (k == delay) v = 30000;
      else if (k > delay) v = 8000 * noise(rng) * std::pow(10.0, -3.0 * (k - delay) / rate / rt[c]);
      v += 3 * noise(rng);
      doc.samples[static_cast<std::size_t>(k) * channels + c] = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
    }
  }
  doc.SelectAll();
  return doc;
}

// The parameters the kernels give for the document, as the module should show them.
AcousticResults Expected(const Document& doc, AnalysisSettings s = {}) {
  const auto first = doc.samples.begin() + static_cast<std::ptrdiff_t>(doc.selStart) * doc.channels;
  const std::vector<int16_t> selection(first, first + doc.selectionLength() * doc.channels);
  return AnalyseResponse(selection, doc.channels, static_cast<float>(doc.sampleRate), s).results;
}

AcousticParams BlockOf(const RunReport& r) {
  AcousticParams b{};
  EXPECT_EQ(r.block.size(), sizeof b);
  std::memcpy(&b, r.block.data(), sizeof b);
  return b;
}

const portable::DialogState* Find(const RunReport& r, int templateId) {
  for (const auto* d : Dialogs(r))
    if (d->final.templateId == templateId) return &d->final;
  return nullptr;
}

std::string Text(const portable::DialogState& d, int id) {
  const auto* c = d.Find(id);
  return c ? c->text : "<missing " + std::to_string(id) + ">";
}

bool Enabled(const portable::DialogState& d, int id) { return d.Find(id) && d.Find(id)->enabled; }

std::string ClipboardText(const RunReport& r) {
  for (const auto& item : r.clipboard)
    if (item.format == CF_TEXT) {
      const std::string bytes(item.bytes.begin(), item.bytes.end());
      return bytes.substr(0, bytes.find('\0'));
    }
  return "<no text>";
}

RunOptions Presses(std::vector<std::string> presses) {
  RunOptions o;
  o.presses = std::move(presses);
  return o;
}

TEST(AcousticModule, OffersItsDefaults) {
  TestHost host;
  Document doc = Response(8000, 1, 0.2);
  RunReport r = host.Run("acoustic", doc, Presses({"Cancel"}));
  EXPECT_EQ(*r.initResult, 1);
  EXPECT_EQ(*r.setupResult, 0);
  EXPECT_FALSE(r.doResult.has_value());
  const AcousticParams b = BlockOf(r);
  EXPECT_EQ(+b.rtuUpper, -5.0f);
  EXPECT_EQ(+b.rtuLower, -15.0f);
  EXPECT_EQ(+b.threshold, 10000);
  EXPECT_EQ(+b.noiseCorrection, 1);
  EXPECT_EQ(+b.window, 0u);  // Cancel stores nothing
  EXPECT_EQ(+b.instance, 0u);
  const auto* settings = Find(r, 100);
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(settings->caption, "Acoustical Parameters");
  EXPECT_EQ(Text(*settings, 1001), "-5.");
  EXPECT_EQ(Text(*settings, 1002), "-15.");
  EXPECT_EQ(Text(*settings, 1003), "10000");
  EXPECT_EQ(settings->Find(1000)->check, BST_CHECKED);
}

// Values outside their fields are refused at OK with the field and its range, not clamped
// (a threshold of 0 or an upper level of 5 dB changed the results without a word).
TEST(AcousticModule, SettingsOutsideTheirRangesAreRefusedOnOk) {
  TestHost host;
  const std::string upper = "RTU upper level must be a number from -99 to 0 dB.";
  const std::string threshold = "First Arrival Time Threshold must be a whole number from 1 to 32767 16-bit sample units.";
  struct Case {
    const char *upper, *lower, *threshold;
    std::string message;  // empty: accepted as typed
  } cases[] = {
      {"5", "-15", "12000", upper},
      {"-5", "-120", "40000", "RTU lower level must be a number from -100 to -6 dB."},
      {"-5", "-4.5", "-3", "RTU lower level must be a number from -100 to -6 dB."},
      {"  -12.5dB", "-200", "  +250xyz", upper},
      {"-100", "-100", "0", upper},
      {"abc", "", "", upper},
      {"-5", "-15", "0", threshold},
      {"-5", "-15", "abc", threshold},
      {"-5", "-15", "-1", threshold},
      {"-5", "-15", "40000", threshold},
      {"-10", "-10", "100", "RTU lower level must be a number from -100 to -11 dB."},
      {" -12.5 ", "-100", " +250 ", ""},
      {"0", "-1", "32767", ""},
  };
  for (const Case& c : cases) {
    Document doc = Response(8000, 1, 0.2);
    RunOptions o;
    o.sets = {{"1001", c.upper}, {"1002", c.lower}, {"1003", c.threshold}, {"Noise Correction", "off"}};
    RunReport r = host.Run("acoustic", doc, o);
    const AcousticParams b = BlockOf(r);
    if (!c.message.empty()) {
      EXPECT_EQ(*r.setupResult, 0) << c.upper << " " << c.lower << " " << c.threshold;
      ASSERT_FALSE(MessageBoxes(r).empty());
      EXPECT_EQ(MessageBoxes(r)[0]->text, c.message);
      EXPECT_EQ(r.status, RunStatus::Failed);
      EXPECT_EQ(+b.threshold, 10000);  // the defaults stand
      continue;
    }
    ASSERT_EQ(*r.setupResult, 1) << r.message;
    EXPECT_EQ(+b.rtuUpper, std::stof(c.upper)) << c.upper;
    EXPECT_EQ(+b.rtuLower, std::stof(c.lower)) << c.lower;
    EXPECT_EQ(+b.threshold, std::stoi(c.threshold)) << c.threshold;
    EXPECT_EQ(+b.noiseCorrection, 0);
    EXPECT_EQ(+b.window, HandleToField(portable::HostWindow()));
    EXPECT_NE(+b.instance, 0u);
  }
}

TEST(AcousticModule, MonoResultsDialogAndReport) {
  TestHost host;
  Document doc = Response(48000, 1, 0.6);
  const std::vector<int16_t> original = doc.samples;
  RunReport r = host.Run("acoustic", doc, Presses({"Copy to Clipboard"}));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(*r.doResult, 0);
  EXPECT_EQ(doc.samples, original);
  EXPECT_EQ(r.statusTexts, std::vector<std::string>{"Calculating Acoustics..."});
  EXPECT_EQ(r.progressReports, 11);

  const auto* d = Find(r, 107);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Text(*d, 1055), "OCTAVE BAND ACOUSTICAL PARAMETERS");
  EXPECT_FALSE(Enabled(*d, 1050));
  EXPECT_FALSE(Enabled(*d, 1040));
  for (int id = 1041; id <= 1045; ++id) EXPECT_TRUE(Enabled(*d, id)) << id;
  EXPECT_FALSE(d->Find(1046)->visible);
  EXPECT_EQ(Text(*d, 1053), "(-5. dB, -15. dB)");
  EXPECT_EQ(Text(*d, 1011), "Lin");
  EXPECT_EQ(Text(*d, 1016), "500");

  const AcousticResults want = Expected(doc);
  for (int col = 0; col < 6; ++col) {
    EXPECT_EQ(Text(*d, 1020 + col), want.flags[kNoiseFlagsOffset + col] == 'y' ? "yes" : "no");
    for (int j = 0; j < kParameters; ++j) {
      const int k = col * kParameters + j;
      EXPECT_EQ(Text(*d, 1060 + 11 * col + j), want.flags[k] == 'y' ? FormatGeneral(want.values[k], 4) : "- -");
    }
  }
  EXPECT_EQ(Text(*d, 1060 + kRt30), FormatGeneral(want.values[kRt30], 4));
  EXPECT_NEAR(want.values[kRt30], 0.5, 0.05);

  EXPECT_EQ(ClipboardText(r), BuildReportText(want, 1, AnalysisSettings{}));
  bool beeped = false;
  for (const auto& e : r.journal) beeped = beeped || std::holds_alternative<portable::BeepEvent>(e);
  EXPECT_TRUE(beeped);
  // The store's addresses do not outlive the run.
  EXPECT_EQ(+BlockOf(r).values, 0u);
  EXPECT_EQ(+BlockOf(r).flags, 0u);
  EXPECT_EQ(portable::Memory().lockedBlocks, 0);
}

TEST(AcousticModule, StereoChannelSwitchAndReport) {
  TestHost host;
  Document doc = Response(44100, 2, 0.8);
  RunReport r = host.Run("acoustic", doc, Presses({"Right Channel Parameters", "Copy to Clipboard"}));
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(r.statusTexts,
            (std::vector<std::string>{"Calculating Left Channel Acoustics...", "Calculating Right Channel Acoustics..."}));
  EXPECT_EQ(r.progressReports, 22);
  const auto* d = Find(r, 107);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Text(*d, 1055), "OCTAVE BAND ACOUSTICAL PARAMETERS - Right Channel");
  EXPECT_EQ(Text(*d, 1050), "Left Channel Parameters");
  const AcousticResults want = Expected(doc);
  EXPECT_EQ(Text(*d, 1060 + kRt30), FormatGeneral(want.values[kChannelValues + kRt30], 4));
  EXPECT_NEAR(want.values[kChannelValues + kRt30], 0.3, 0.03);
  const std::string report = ClipboardText(r);
  EXPECT_EQ(report, BuildReportText(want, 2, AnalysisSettings{}));
  EXPECT_NE(report.find("Left Channel\r\n"), std::string::npos);
  EXPECT_NE(report.find("Right Channel\r\n"), std::string::npos);

  // Pressed twice, the switch returns to the left channel.
  r = host.Run("acoustic", doc, Presses({"1050", "1050"}));
  d = Find(r, 107);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Text(*d, 1055), "OCTAVE BAND ACOUSTICAL PARAMETERS - Left Channel");
  EXPECT_EQ(Text(*d, 1050), "Right Channel Parameters");
  EXPECT_EQ(Text(*d, 1060 + kRt30), FormatGeneral(want.values[kRt30], 4));
}

TEST(AcousticModule, RowWindowButtonsFollowTheSampleRate) {
  TestHost host;
  struct Case {
    long rate;
    int lastEnabled;  // highest of 1041 ... 1045 that is enabled
  } cases[] = {{48000, 1045}, {44100, 1045}, {32000, 1044}, {22050, 1044}, {8000, 1042}};
  for (const Case& c : cases) {
    Document doc = Response(c.rate, 1, 0.3);
    RunReport r = host.Run("acoustic", doc);
    const auto* d = Find(r, 107);
    ASSERT_NE(d, nullptr) << c.rate << " " << r.message;
    for (int id = 1041; id <= 1045; ++id) EXPECT_EQ(Enabled(*d, id), id <= c.lastEnabled) << c.rate << " " << id;
    // Rows above the highest band read "--" in every column of the report too.
    const AcousticResults want = Expected(doc);
    for (int row = 0; row < kRows; ++row)
      EXPECT_EQ(want.flags[row * kParameters + kTs], row <= BandsAnalysed(static_cast<float>(c.rate)) ? 'y' : 'n');
  }

  // Choosing a window: its button is disabled, the previous one enabled, the grid moves.
  Document doc = Response(8000, 1, 0.3);
  RunReport r = host.Run("acoustic", doc, Presses({"1042"}));
  const auto* d = Find(r, 107);
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(Enabled(*d, 1042));
  EXPECT_TRUE(Enabled(*d, 1040));
  EXPECT_EQ(Text(*d, 1011), "63");
  EXPECT_EQ(Text(*d, 1015), "1k");
  EXPECT_EQ(Text(*d, 1016), "2k");
  const AcousticResults want = Expected(doc);
  EXPECT_EQ(Text(*d, 1060 + 11 * 5 + kTs), FormatGeneral(want.values[7 * kParameters + kTs], 4));  // 2 kHz
  EXPECT_EQ(+BlockOf(r).firstRow, 2);
}

TEST(AcousticModule, NoiseCorrectionOffShowsDashes) {
  TestHost host;
  Document doc = Response(22050, 1, 0.4);
  RunOptions o = Presses({"Copy to Clipboard"});
  o.sets = {{"Noise Correction", "off"}};
  RunReport r = host.Run("acoustic", doc, o);
  const auto* d = Find(r, 107);
  ASSERT_NE(d, nullptr) << r.message;
  for (int id = 1020; id <= 1025; ++id) EXPECT_EQ(Text(*d, id), "- -");
  EXPECT_NE(ClipboardText(r).find("Noise Correction:\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\t--\r\n"),
            std::string::npos);
}

TEST(AcousticModule, FirstArrivalAboveThePeak) {
  TestHost host;
  for (int channels : {1, 2}) {
    Document doc = Response(8000, channels, 0.3);
    RunOptions o;
    o.sets = {{"First Arrival Time Threshold", "32767"}};
    RunReport r = host.Run("acoustic", doc, o);
    EXPECT_EQ(r.status, RunStatus::Failed);
    EXPECT_EQ(*r.doResult, 1);
    EXPECT_EQ(Find(r, 107), nullptr);
    EXPECT_TRUE(r.statusTexts.empty());  // the right channel is never started
    auto boxes = MessageBoxes(r);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0]->text,
              "Can not calculate First Arrival Time.\nThreshold is too high.\n\nTry again with a lower Threshold.");
    EXPECT_EQ(boxes[0]->caption, "Acoustical Parameters");
    EXPECT_EQ(boxes[0]->type & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_EQ(boxes[0]->owner, HandleToField(portable::HostWindow()));
  }
}

TEST(AcousticModule, CancelBetweenRows) {
  TestHost host;
  Document mono = Response(8000, 1, 0.3);
  for (long k : {1L, 5L, 8L}) {  // 8 kHz: eight rows
    RunOptions o;
    o.cancelAtReport = k;
    RunReport r = host.Run("acoustic", mono, o);
    EXPECT_EQ(r.status, RunStatus::Cancelled);
    EXPECT_EQ(*r.doResult, 1);
    EXPECT_EQ(r.progressReports, k);
    EXPECT_EQ(Find(r, 107), nullptr);
  }
  // A cancelled left channel: the right one is not analysed.
  Document stereo = Response(8000, 2, 0.3);
  RunOptions o;
  o.cancelAtReport = 3;
  RunReport r = host.Run("acoustic", stereo, o);
  EXPECT_EQ(*r.doResult, 1);
  EXPECT_EQ(r.progressReports, 3);
  EXPECT_EQ(r.statusTexts, std::vector<std::string>{"Calculating Left Channel Acoustics..."});
  o.cancelAtReport = 10;  // within the right channel
  r = host.Run("acoustic", stereo, o);
  EXPECT_EQ(*r.doResult, 1);
  EXPECT_EQ(r.statusTexts.size(), 2u);
  EXPECT_EQ(Find(r, 107), nullptr);
  EXPECT_EQ(portable::Memory().lockedBlocks, 0);
}

TEST(AcousticModule, EveryAllocationAndLockFailureReportsAndLeavesNothingBehind) {
  TestHost host;
  Document doc = Response(8000, 2, 0.2);
  for (int lockFault = 0; lockFault < 2; ++lockFault) {
    for (long k = 1;; ++k) {
      const auto before = portable::Memory();
      RunOptions o;
      portable::Faults f;
      (lockFault ? f.failLock : f.failAllocation) = k;
      o.faultsDuringRun = f;
      RunReport r = host.Run("acoustic", doc, o);
      const auto after = portable::Memory();
      EXPECT_EQ(after.liveBlocks, before.liveBlocks) << k;
      EXPECT_EQ(after.lockedBlocks, 0) << k;
      if (r.status == RunStatus::Completed) {
        EXPECT_GE(k, 5) << lockFault;  // two run buffers and the two result blocks
        break;
      }
      ASSERT_LT(k, 10) << "the run never completes";
      EXPECT_EQ(*r.doResult, 1) << k;
      EXPECT_EQ(Find(r, 107), nullptr);
      auto boxes = MessageBoxes(r);
      if (lockFault && k == 1) {
        EXPECT_TRUE(boxes.empty());  // the parameter block itself: return at once
        continue;
      }
      ASSERT_EQ(boxes.size(), 1u) << lockFault << " " << k;
      EXPECT_EQ(boxes[0]->text,
                "The system cannot allocate enough memory\nto calculate acoustical parameters.\n\n"
                "Retry after closing some windows or\nwith a shorter impulse response.");
      EXPECT_EQ(boxes[0]->caption, "Calculate Acoustical Parameters");
      EXPECT_EQ(boxes[0]->type & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));
      EXPECT_EQ(boxes[0]->owner, HandleToField(portable::HostWindow()));
    }
  }
}

TEST(AcousticModule, BusyClipboardKeepsTheDialogAndFreesTheReport) {
  TestHost host;
  Document doc = Response(8000, 1, 0.3);
  RunOptions o = Presses({"Copy to Clipboard"});
  portable::Faults f;
  f.clipboardBusy = true;
  o.faultsDuringRun = f;
  const auto before = portable::Memory();
  RunReport r = host.Run("acoustic", doc, o);
  EXPECT_EQ(r.status, RunStatus::Failed);  // the user was told of the failure
  EXPECT_EQ(*r.doResult, 0);               // yet the analysis completed
  ASSERT_NE(Find(r, 107), nullptr);
  auto boxes = MessageBoxes(r);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]->text, "Can not access Clipboard Data.\nAnother application or window\nhas the Clipboard opened.");
  EXPECT_EQ(boxes[0]->caption, "Acoustical Parameters");
  EXPECT_EQ(boxes[0]->type & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));
  EXPECT_EQ(ClipboardText(r), "<no text>");
  EXPECT_EQ(portable::Memory().liveBlocks, before.liveBlocks);
}

// Presses Help in the results dialog, then closes it with the close box.
class ResultsUser : public portable::User {
 public:
  void DialogIdle(HWND dialog, int round) override {
    const portable::DialogState s = portable::Inspect(dialog);
    if (s.templateId != 107) {
      portable::Click(dialog, IDOK);
    } else if (round == 0) {
      portable::Click(dialog, 4);
    } else {
      portable::PressCloseBox(dialog);
    }
  }
  int MessageBox(const portable::MessageBoxEvent& b) override { return portable::DefaultAnswer(b.type); }
};

TEST(AcousticModule, HelpInBothDialogsAndTheCloseBoxActsAsOk) {
  TestHost host;
  Document doc = Response(8000, 1, 0.3);
  RunReport r = host.Run("acoustic", doc, Presses({"Help"}));
  EXPECT_EQ(r.status, RunStatus::Completed);
  auto helps = [](const std::vector<portable::Event>& journal) {
    int n = 0;
    for (const auto& e : journal)
      if (auto* h = std::get_if<portable::HelpEvent>(&e)) {
        ++n;
        EXPECT_EQ(h->file, "tovrel96.hlp");
        EXPECT_EQ(h->command, 257u);
        EXPECT_EQ(h->keyword, "Acoustical Parameters");
      }
    return n;
  };
  EXPECT_EQ(helps(r.journal), 1);

  // The results dialog, driven directly.
  const auto& m = host.module("acoustic");
  portable::ClearJournal();
  {
    tovrel::host::Session session(doc, m.title(), host.store().TempDirectory());
    XfmContext& ctx = session.context();
    HGLOBAL block = GlobalAlloc(GHND, 29);
    ctx.paramHandle = block;
    ASSERT_EQ(m.init(&ctx), 1);
    ResultsUser user;
    portable::SetUser(&user);
    ASSERT_EQ(m.setup(portable::HostWindow(), m.instance(), &ctx), 1);
    EXPECT_EQ(m.run(&ctx), 0);
    portable::SetUser(nullptr);
    EXPECT_EQ(m.destroy(&ctx), 1);
    EXPECT_EQ(GlobalFlags(block) & 0xff, 0u);  // no lock left behind
    GlobalFree(block);
  }
  EXPECT_EQ(helps(portable::Journal()), 1);
  bool ended = false;
  for (const auto& e : portable::Journal())
    if (auto* d = std::get_if<portable::DialogEvent>(&e))
      if (d->final.templateId == 107) ended = d->result == 1;
  EXPECT_TRUE(ended);
}

TEST(AcousticModule, BatchModeConfirmsBothDialogs) {
  TestHost host;
  Document doc = Response(8000, 1, 0.3);
  RunOptions batch;
  batch.batch = true;
  batch.sets = {{"First Arrival Time Threshold", "32767"}};
  RunReport r = host.Run("acoustic", doc, batch);
  EXPECT_EQ(r.status, RunStatus::Completed) << r.message;
  ASSERT_NE(Find(r, 107), nullptr);
  EXPECT_EQ(+BlockOf(r).threshold, 10000);  // the stored settings, not the ones offered
}

}  // namespace
