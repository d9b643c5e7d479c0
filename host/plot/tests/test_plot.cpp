// The analysis behind the plots against known truths, and the SVG they are written as.
#include <expat.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "host/plot/analysis.h"
#include "host/plot/sheet.h"

namespace tovrel::host::plot {
namespace {

Document Mono(long rate, const std::vector<double>& x) {
  Document d = Document::Empty(rate, 1);
  for (double v : x) d.samples.push_back(static_cast<int16_t>(std::lround(v)));
  d.SelectAll();
  return d;
}

TEST(PlotAnalysis, APureDelayHasAFlatMagnitude) {
  std::vector<double> x(3000, 0.0);
  x[123] = 16384;  // half of full scale: -6.02 dB
  const Document doc = Mono(48000, x);
  for (int smoothing : {0, 3, 12}) {
    std::string error;
    auto view = AnalyseSignal(doc, 0, "delay.wav", {smoothing}, error);
    ASSERT_TRUE(view) << error;
    ASSERT_FALSE(view->frequencyHz.empty());
    EXPECT_NEAR(view->frequencyHz.front(), 20.0, 12.0);
    EXPECT_NEAR(view->frequencyHz.back(), 24000.0, 1e-6);
    for (double db : view->magnitudeDb) ASSERT_NEAR(db, 20 * std::log10(0.5), 0.01) << "smoothing 1/" << smoothing;
    EXPECT_EQ(view->peakIndex, 123);
  }
}

TEST(PlotAnalysis, SmoothingAveragesPowerOverTheFractionOfAnOctave) {
  // Bins of 1 Hz alternating between powers 1 and 3, then 0 from 4000 Hz on.
  std::vector<double> power(8001);
  for (std::size_t k = 0; k < power.size(); ++k) power[k] = k >= 4000 ? 0.0 : k % 2 ? 3.0 : 1.0;
  const std::vector<double> f = {100, 1000, 3000, 4000, 6000, 0.4};
  const auto third = SmoothPower(power, 1.0, 3, f);
  ASSERT_EQ(third.size(), f.size());
  EXPECT_NEAR(third[0], 2.0, 0.05);  // 23 bins
  EXPECT_NEAR(third[1], 2.0, 0.01);
  EXPECT_NEAR(third[2], 2.0, 0.01);
  // 4000 Hz: the window runs from 3564 to 4489 Hz, and only the bins below 4000 have power.
  EXPECT_NEAR(third[3], 2.0 * (4000 - 3564) / (4489 - 3564 + 1), 0.02);
  EXPECT_EQ(third[4], 0.0);
  EXPECT_EQ(third[5], 1.0);  // no bin within the window: the nearest, bin 0
  // A wider window takes more bins: at 100 Hz a whole octave averages 71 to 141 Hz.
  EXPECT_NEAR(SmoothPower(power, 1.0, 1, {100})[0], 2.0, 0.02);
  EXPECT_TRUE(SmoothPower(power, 1.0, 0, f).empty());

  const auto grid = LogFrequencies(20, 20000, 3);
  EXPECT_EQ(grid.front(), 20);
  EXPECT_NEAR(grid[3], 40, 1e-9);
  EXPECT_EQ(grid.back(), 20000);
}

TEST(PlotAnalysis, TheEnergyTimeCurveFollowsTheEnvelope) {
  // A tone decaying by 60 dB per 0.5 s: its envelope falls 120 dB per second.
  const long rate = 16000;
  std::vector<double> x(8000);
  for (std::size_t k = 0; k < x.size(); ++k) {
    const double t = static_cast<double>(k) / rate;
    x[k] = 30000 * std::pow(10.0, -6.0 * t) * std::sin(2 * std::numbers::pi * 1000 * t);
  }
  const auto etc = EnergyTimeCurve(x);
  ASSERT_EQ(etc.size(), x.size());
  // The squared envelope, not the wave: smooth between the tone's zeros (the onset's
  // ringing aside, which lifts the maximum a little).
  for (long k : {1601L, 3203L, 4005L})
    EXPECT_NEAR(etc[k] - etc[800], -120.0 * (k - 800) / rate, 0.05) << "at sample " << k;
}

TEST(PlotAnalysis, RefusesWhatCannotBePlotted) {
  std::string error;
  EXPECT_FALSE(AnalyseSignal(Mono(8000, std::vector<double>(1000, 0.0)), 0, "quiet.wav", {}, error));
  EXPECT_NE(error.find("quiet.wav is silent"), std::string::npos) << error;
  EXPECT_FALSE(AnalyseSignal(Mono(8000, std::vector<double>(kMinimumFrames - 1, 100.0)), 0, "tiny.wav", {}, error));
  EXPECT_NE(error.find("too short"), std::string::npos) << error;
  EXPECT_FALSE(AnalyseSignal(Mono(8000, std::vector<double>(1000, 100.0)), 1, "mono.wav", {}, error));
  EXPECT_NE(error.find("no channel 2"), std::string::npos) << error;
}

// Well-formed XML, and the text of its <text> elements.
bool ParseSvg(const std::string& svg, std::vector<std::string>& texts) {
  struct State {
    std::vector<std::string>* texts;
    bool inText = false;
  } state{&texts};
  XML_Parser p = XML_ParserCreate("UTF-8");
  XML_SetUserData(p, &state);
  XML_SetElementHandler(
      p,
      [](void* d, const XML_Char* name, const XML_Char**) {
        auto* s = static_cast<State*>(d);
        s->inText = std::string(name) == "text";
        if (s->inText) s->texts->emplace_back();
      },
      [](void* d, const XML_Char*) { static_cast<State*>(d)->inText = false; });
  XML_SetCharacterDataHandler(p, [](void* d, const XML_Char* text, int length) {
    auto* s = static_cast<State*>(d);
    if (s->inText) s->texts->back().append(text, static_cast<std::size_t>(length));
  });
  const bool ok = XML_Parse(p, svg.data(), static_cast<int>(svg.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(p);
  return ok;
}

TEST(PlotSheet, SvgIsWellFormedAndCarriesItsLabels) {
  std::vector<double> x(4000, 0.0);
  for (std::size_t k = 100; k < x.size(); ++k) x[k] = 20000 * std::exp(-(k - 100.0) / 400) * ((k * 7) % 5 - 2.0) / 2;
  std::string error;
  auto view = AnalyseSignal(Mono(16000, x), 0, "a<b>&\"c\".wav", {}, error);
  ASSERT_TRUE(view) << error;
  std::vector<ResponseView> both = {*view, *view};
  both[1].name = "second";
  for (PlotView v : {PlotView::All, PlotView::Ir, PlotView::Etc, PlotView::Magnitude, PlotView::Decay}) {
    for (std::size_t n : {1, 2}) {
      const std::vector<ResponseView> shown(both.begin(), both.begin() + static_cast<long>(n));
      std::vector<std::string> texts;
      ASSERT_TRUE(ParseSvg(PlotSvg(shown, v, 800, 600), texts)) << ViewName(v);
      auto has = [&](const std::string& label) {
        for (const auto& t : texts)
          if (t.find(label) != std::string::npos) return true;
        return false;
      };
      EXPECT_TRUE(has(n == 1 ? "a<b>&\"c\".wav, 16000 Hz" : "a<b>&\"c\".wav, second")) << ViewName(v);
      const bool all = v == PlotView::All;
      EXPECT_EQ(has("Amplitude (full scale)") && has("Time (ms)"), all || v == PlotView::Ir);
      EXPECT_EQ(has("Energy-time curve") && has("Level (dB)"), all || v == PlotView::Etc);
      EXPECT_EQ(has("Frequency (Hz)") && has("Magnitude (dB)") && has("1/3 octave") && has("1k"),
                all || v == PlotView::Magnitude);
      // Without the module's results the decay view says why instead of drawing nothing.
      EXPECT_EQ(has("No decay curves"), all || v == PlotView::Decay);
      EXPECT_EQ(has("second"), n == 2);
    }
  }
}

}  // namespace
}  // namespace tovrel::host::plot
