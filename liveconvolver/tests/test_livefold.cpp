// "Real Time Convolver" through the host, as a user drives it: responses loaded on the
// tabs from files and clipboards, routed with the switches, rendered into the document and
// compared with a direct convolution; refusals, Cancel and stored blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "host/core/wavfile.h"
#include "host/testing.h"
#include "liveconvolver/livefold/livefold_block.h"
#include "liveconvolver/tests/noise_document.h"

namespace {

using namespace tovrel::host;
using namespace tovrel::host::testing;
namespace tp = tovrel::portable;
using Kind = UserAction::Kind;

constexpr char kModule[] = "livefold";

// A response file: interleaved samples.
std::string ResponseFile(const TestHost& host, const std::string& name, int channels, std::vector<int16_t> samples,
                         long rate = 44100) {
  Document d = Document::Empty(rate, channels);
  d.samples = std::move(samples);
  const std::string path = host.store().home() + "/" + name;
  EXPECT_TRUE(WriteWavFile(path, d));
  return path;
}

std::vector<UserAction> LoadFile(const char* tab, const std::string& path) {
  return {{Kind::Tab, "", tab}, {Kind::OpenFile, "", path}, {Kind::Press, "File", ""}};
}

RunOptions Script(std::vector<std::vector<UserAction>> steps) {
  RunOptions o;
  for (auto& s : steps) o.actions.insert(o.actions.end(), s.begin(), s.end());
  return o;
}
std::vector<UserAction> Route(std::vector<int> switches) {
  std::vector<UserAction> out = {{Kind::Tab, "", "Monitor"}};
  for (int id : switches) out.push_back({Kind::Set, std::to_string(id), "on"});
  return out;
}

std::vector<double> Convolve(const std::vector<double>& x, const std::vector<double>& h) {
  std::vector<double> y(x.size() + h.size() - 1, 0.0);
  for (std::size_t i = 0; i < x.size(); ++i)
    for (std::size_t j = 0; j < h.size(); ++j) y[i + j] += x[i] * h[j];
  return y;
}
std::vector<double> Channel(const std::vector<int16_t>& s, int channels, int c) {
  std::vector<double> out;
  for (std::size_t k = static_cast<std::size_t>(c); k < s.size(); k += static_cast<std::size_t>(channels))
    out.push_back(s[k]);
  return out;
}

// Output channels to 16 bits at full scale, interleaved, as the run writes them.
std::vector<int16_t> FullScale(std::vector<std::vector<double>> channels, std::size_t frames) {
  double peak = 0;
  for (auto& c : channels) {
    c.resize(frames, 0.0);
    for (double v : c) peak = std::max(peak, std::fabs(v));
  }
  std::vector<int16_t> out;
  for (std::size_t i = 0; i < frames; ++i)
    for (const auto& c : channels) out.push_back(static_cast<int16_t>(std::lround(c[i] * 32767.0 / peak)));
  return out;
}

long MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  if (a.size() != b.size()) return 1L << 20;
  long worst = 0;
  for (std::size_t k = 0; k < a.size(); ++k) worst = std::max(worst, std::labs(long{a[k]} - long{b[k]}));
  return worst;
}

std::string Boxes(const RunReport& r) {
  std::string out;
  for (const auto* b : MessageBoxes(r)) out += b->caption + ": " + b->text + "\n";
  return out;
}

}  // namespace

TEST(Livefold, RendersTheRoutedResponsesFromEverySource) {
  TestHost host;
  const std::vector<int16_t> h1 = {12000, -6000, 3000, 0, 800}, h2 = {9000, 4000, -2000};
  const std::vector<int16_t> stereo = {10000, -5000, 2000, 7000, -1000, 500};  // L/R pairs
  const std::string ir1 = ResponseFile(host, "ir1.wav", 1, h1), ir2 = ResponseFile(host, "ir2.wav", 1, h2);
  const std::string irs = ResponseFile(host, "stereo.wav", 2, stereo);
  const Document song = NoiseDocument(2, 3000, 7);
  const auto x = Channel(song.samples, 2, 0);
  auto h = [](const std::vector<int16_t>& v, int channels, int c) { return Channel(v, channels, c); };

  struct Case {
    const char* what;
    RunOptions options;
    std::vector<std::vector<double>> expected;  // per output channel
  };
  const auto cascade = Convolve(Convolve(x, h(h1, 1, 0)), h(h2, 1, 0));
  std::vector<Case> cases;
  // Both responses on the left input's path to L, in cascade; nothing feeds R.
  cases.push_back({"cascade from files", Script({LoadFile("IR #1", ir1), LoadFile("IR #2", ir2), Route({1007, 1011})}),
                   {cascade, {}}});
  // A stereo response sends the left input to both outputs.
  cases.push_back({"left input to L and R", Script({LoadFile("IR #1", irs), Route({1007, 1008})}),
                   {Convolve(x, h(stereo, 2, 0)), Convolve(x, h(stereo, 2, 1))}});
  // The host's clipboard file for IR1 and the Windows clipboard for IR2.
  std::vector<uint8_t> clip1, clip2;
  ASSERT_TRUE(ReadFileBytes(ir1, clip1));
  ASSERT_TRUE(ReadFileBytes(ir2, clip2));
  cases.push_back({"clipboards", Script({{{Kind::Tab, "", "IR #1"}, {Kind::Press, "Vorn Clip", ""}},
                                         {{Kind::Tab, "", "IR #2"}, {Kind::Press, "Win Clip", ""}},
                                         Route({1007, 1011})}),
                   {cascade, {}}});
  for (auto& c : cases) {
    std::string error;
    ASSERT_TRUE(host.store().SaveClipboard({{CF_WAVE, clip1}}, error));
    tp::LoadClipboard({{CF_WAVE, clip2}});
    host.store().ForgetBlock(kModule);
    Document doc = song;
    const RunReport r = host.Run(kModule, doc, c.options);
    ASSERT_EQ(r.status, RunStatus::Completed) << c.what << ": " << r.message << Boxes(r);
    const std::size_t frames = c.expected[0].size();
    EXPECT_EQ(doc.frames(), static_cast<long>(frames)) << c.what;
    EXPECT_EQ(doc.selEnd, static_cast<long>(frames) - 1) << c.what;
    EXPECT_LE(MaxDifference(doc.samples, FullScale(c.expected, frames)), 1) << c.what;
  }
  Document again = song;
  const LiveParams p = BlockOf<LiveParams>(host.Run(kModule, again, {}));
  EXPECT_EQ(+p.responseSource[0], 3);  // kept from the last case, and loaded again
  EXPECT_EQ(+p.responseSource[1], 2);
}

TEST(Livefold, RefusalsLeaveTheDocumentAsItWas) {
  TestHost host;
  const std::string ir = ResponseFile(host, "ir.wav", 2, {1000, 2000, 3000, 4000});
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadFileBytes(ir, bytes));
  bytes.resize(50);  // the data chunk says more than the file holds
  const std::string cut = host.store().home() + "/cut.wav";
  ASSERT_TRUE(WriteFileBytes(cut, bytes.data(), bytes.size()));
  struct Case {
    const char* what;
    int channels;
    RunOptions options;
    RunStatus status;
    const char* message;
  };
  RunOptions no = Script({LoadFile("IR #1", ResponseFile(host, "fast.wav", 1, {1000, 500}, 48000)), Route({1007})});
  no.answer = false;
  const Case cases[] = {
      {"rates differ, answered no", 1, no, RunStatus::Failed,
       "Real Time Convolver: Sampling Rates don't match! Sampling Rate of Audio Signal is 44100Hz Sampling Rate of "
       "Impulse Response 1 is 48000Hz Continue? (answered no)"},
      {"IR2 first", 2, Script({LoadFile("IR #2", ir)}), RunStatus::Failed,
       "Impulse Response loading Error: Can't load Impulse Response 2 before loading Impulse Response 1!"},
      {"truncated file", 2, Script({LoadFile("IR #1", cut)}), RunStatus::Failed, "Loading File Error: Error loading WAV File"},
      {"unload IR1 under IR2", 2,
       Script({LoadFile("IR #1", ir), LoadFile("IR #2", ir), {{Kind::Tab, "", "IR #1"}, {Kind::Press, "Unload", ""}}}),
       RunStatus::Failed,
       "Impulse Response unloading Error: Can't unload Impulse Response 1 before unloading Impulse Response 2!"},
      // The left input to both outputs has no place in a mono document: OK stays disabled.
      {"both outputs on mono", 1, Script({LoadFile("IR #1", ir), Route({1007, 1008})}), RunStatus::Cancelled, ""},
      {"cancel", 2, Script({LoadFile("IR #1", ir), Route({1007}), {{Kind::Press, "Cancel", ""}}}), RunStatus::Cancelled,
       ""},
  };
  for (const auto& c : cases) {
    host.store().ForgetBlock(kModule);
    const long blocks = tp::Memory().liveBlocks;
    Document doc = NoiseDocument(c.channels, 500, 3);
    const Document before = doc;
    const RunReport r = host.Run(kModule, doc, c.options);
    EXPECT_EQ(r.status, c.status) << c.what << ": " << r.message;
    EXPECT_NE(ExitCode(r.status), 0) << c.what;
    if (*c.message) {
      EXPECT_EQ(r.message, std::string(c.message)) << c.what;
    }
    EXPECT_EQ(r.doResult.value_or(500), 500) << c.what;
    EXPECT_EQ(doc.samples, before.samples) << c.what;
    EXPECT_EQ(tp::Memory().liveBlocks, blocks) << c.what;  // Cancel released the samples
  }
  // The mono document's dialog: no right-input row.
  host.store().ForgetBlock(kModule);
  Document mono = NoiseDocument(1, 100, 1);
  const RunReport r = host.Run(kModule, mono, Script({LoadFile("IR #1", ir), {{Kind::Press, "Cancel", ""}}}));
  const tp::DialogState* d = FindDialog(r, 119);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Find(1198)->text, "Mono");
  for (int id : {1199, 1009, 1010}) EXPECT_FALSE(d->Find(id)->visible) << id;
  // Routing stays after Cancel; the samples do not.
  const LiveParams p = BlockOf<LiveParams>(r);
  EXPECT_EQ(+p.responseSource[0], 1);
  EXPECT_EQ(+p.responseSamples[0], 0u);
}

TEST(Livefold, AStoredBlockIsLoadedAgainFromItsSourcesAndItsHandlesAreNeverUsed) {
  TestHost host;
  const std::string ir = ResponseFile(host, "ir.wav", 1, {20000, -10000, 5000});
  Document first = NoiseDocument(1, 800, 5);
  const Document song = first;
  ASSERT_EQ(host.Run(kModule, first, Script({LoadFile("IR #1", ir), Route({1007})})).status, RunStatus::Completed);

  // The block on disk names a block of this process that is not the module's.
  auto stored = host.store().LoadBlock(kModule, kLiveTypeString, sizeof(LiveParams));
  ASSERT_TRUE(stored);
  LiveParams p;
  std::memcpy(&p, stored->data(), sizeof p);
  HGLOBAL other = GlobalAlloc(GMEM_MOVEABLE, 6);
  std::memset(GlobalLock(other), 0x7f, 6);
  GlobalUnlock(other);
  p.responseSamples[0] = static_cast<DWORD>(reinterpret_cast<uintptr_t>(other));
  std::string error;
  ASSERT_TRUE(host.store().SaveBlock(kModule, kLiveTypeString, std::vector<uint8_t>(reinterpret_cast<uint8_t*>(&p),
                                                                    reinterpret_cast<uint8_t*>(&p) + sizeof p),
                                     error));
  Document again = song;
  const RunReport r = host.Run(kModule, again, {});
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  EXPECT_EQ(again.samples, first.samples);  // the same routing and response
  EXPECT_EQ(GlobalSize(other), 6u);
  EXPECT_EQ(static_cast<const uint8_t*>(GlobalLock(other))[5], 0x7f);
  GlobalUnlock(other);
  GlobalFree(other);

  // A response whose file is gone: the dialog closes, and the next one opens without it.
  std::filesystem::remove(ir);
  Document third = song;
  const RunReport gone = host.Run(kModule, third, {});
  EXPECT_EQ(gone.status, RunStatus::Failed);
  EXPECT_EQ(third.samples, song.samples);
  EXPECT_EQ(+BlockOf<LiveParams>(gone).responseSource[0], 0);
}

TEST(Livefold, SwitchesFollowTheirInterlocksAndTheScalingFactorStopsAtItsBounds) {
  TestHost host;
  const std::string stereo = ResponseFile(host, "s.wav", 2, {100, 200, 300, 400});
  const std::string mono = ResponseFile(host, "m.wav", 1, {100, 200});
  Document doc = NoiseDocument(2, 100, 2);
  const RunReport r = host.Run(
      kModule, doc,
      Script({LoadFile("IR #1", stereo), LoadFile("IR #2", mono),
              {{Kind::Tab, "", "Monitor"},
               {Kind::Set, "1008", "on"},
               {Kind::Set, "1012", "on"},  // IR2 mono follows IR1 to R on the left input's path
               {Kind::Set, "1008", "off"},
               {Kind::Set, "Scaling Factor (dB)", "32760"},
               {Kind::Press, ">>", ""},
               {Kind::Press, "Cancel", ""}}}));
  const tp::DialogState* d = FindDialog(r, 119);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Find(1012)->check, BST_UNCHECKED);
  EXPECT_FALSE(d->Find(1012)->enabled);
  EXPECT_EQ(d->Find(1012)->text, "M");
  EXPECT_EQ(d->Find(1008)->text, "R");
  EXPECT_EQ(d->Find(1030)->text, "32760");
  const LiveParams p = BlockOf<LiveParams>(r);
  EXPECT_EQ(+p.routingMask, 0);
  EXPECT_EQ(+p.scalingDb, 32767);
}

TEST(Livefold, PreviewPlaysTheRoutingAndGivesTheControlsBack) {
  TestHost host;
  const std::string ir = ResponseFile(host, "ir.wav", 1, {20000, -10000, 5000});
  const std::string recording = host.store().home() + "/played.wav";
  tp::SetWaveDevices({"virtual:" + recording});
  tp::SetVirtualWaveSpeed(20);
  RunOptions o = Script({LoadFile("IR #1", ir), Route({1007})});
  o.previewSeconds = 0.3;
  Document doc = NoiseDocument(2, 4000, 9);
  const RunReport r = host.Run(kModule, doc, o);
  tp::SetVirtualWaveSpeed(1);
  tp::SetWaveDevices({});
  ASSERT_EQ(r.status, RunStatus::Completed) << r.message;
  const tp::DialogState* d = FindDialog(r, 119);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Find(1229)->text, "Preview");
  for (int id : {1, 2, 1007, 1230}) EXPECT_TRUE(d->Find(id)->enabled) << id;
  Document played;
  std::string error;
  ASSERT_TRUE(ReadWavFile(recording, played, error)) << error;
  EXPECT_GT(played.frames(), 0);
}
