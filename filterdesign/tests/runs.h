// The failure paths both filter-design modules must take cleanly: a cancel at each
// progress report, an allocation or lock failing at each stage, a busy clipboard.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/testing.h"

namespace filterdesign_testing {

// A document of 16-bit responses at 48 kHz, all selected: channel values times scale.
inline tovrel::host::Document ResponseDocument(const std::vector<std::vector<double>>& channels, double scale = 10000) {
  tovrel::host::Document doc = tovrel::host::Document::Empty(48000, static_cast<int>(channels.size()));
  for (std::size_t i = 0; i < channels[0].size(); ++i)
    for (const auto& c : channels) doc.samples.push_back(static_cast<int16_t>(std::lround(c[i] * scale)));
  doc.SelectAll();
  return doc;
}
inline std::vector<double> Samples(const tovrel::host::Document& doc, int channel) {
  std::vector<double> h;
  for (std::size_t i = static_cast<std::size_t>(channel); i < doc.samples.size(); i += static_cast<std::size_t>(doc.channels))
    h.push_back(doc.samples[i]);
  return h;
}


inline void ExpectCleanFailures(const tovrel::host::testing::TestHost& host, const std::string& module,
                                tovrel::host::Document& doc, const tovrel::host::RunOptions& settings,
                                long expectedReports) {
  using namespace tovrel::host;
  using namespace tovrel::host::testing;
  namespace portable = tovrel::portable;
  RunReport full = host.Run(module, doc, settings);
  ASSERT_EQ(full.status, RunStatus::Completed) << full.message;
  EXPECT_EQ(full.progressReports, expectedReports);
  auto expectNothingLeft = [&](const RunReport& r, const portable::MemoryStats& before, const std::string& what) {
    EXPECT_EQ(*r.doResult, 1) << what;
    EXPECT_FALSE(ClipboardResponse(r).present) << what;
    EXPECT_EQ(FindDialog(r, 107), nullptr) << what;
    EXPECT_EQ(portable::Memory().liveBlocks, before.liveBlocks) << what;
    EXPECT_EQ(portable::Memory().lockedBlocks, 0) << what;
  };
  for (long k = 1; k <= full.progressReports; ++k) {
    portable::LoadClipboard({});
    const auto before = portable::Memory();
    RunOptions o = settings;
    o.cancelAtReport = k;
    RunReport r = host.Run(module, doc, o);
    EXPECT_EQ(r.status, RunStatus::Cancelled) << k;
    EXPECT_TRUE(MessageBoxes(r).empty()) << k;
    expectNothingLeft(r, before, "cancel at report " + std::to_string(k));
  }
  for (bool lockFault : {false, true}) {
    for (long k = 1;; ++k) {
      portable::LoadClipboard({});
      const auto before = portable::Memory();
      RunOptions o = settings;
      portable::Faults f;
      (lockFault ? f.failLock : f.failAllocation) = k;
      o.faultsDuringRun = f;
      RunReport r = host.Run(module, doc, o);
      if (r.status == RunStatus::Completed) break;
      ASSERT_LT(k, 16) << "the run never completes";
      const std::string what = (lockFault ? "lock " : "allocation ") + std::to_string(k);
      // The parameter block's own lock fails without a message.
      EXPECT_EQ(MessageBoxes(r).size(), lockFault && k == 1 ? 0u : 1u) << what;
      expectNothingLeft(r, before, what);
    }
  }
  for (bool refused : {false, true}) {
    portable::LoadClipboard({});
    const auto before = portable::Memory();
    RunOptions o = settings;
    portable::Faults f;
    (refused ? f.failClipboardSet : f.clipboardBusy) = true;
    o.faultsDuringRun = f;
    RunReport r = host.Run(module, doc, o);
    ASSERT_EQ(MessageBoxes(r).size(), 1u);
    EXPECT_EQ(MessageBoxes(r)[0]->text,
              "Can not access Clipboard Data.\nAnother application or window\nhas the Clipboard opened.");
    expectNothingLeft(r, before, refused ? "clipboard refused" : "clipboard busy");
  }
}

}  // namespace filterdesign_testing
