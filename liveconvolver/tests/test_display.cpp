// The display windows' painters: the schematic's layout for every pair of letters, the
// waveform view's columns, and the pictures against reference images.
// TOVREL_UPDATE_REFERENCES=1 writes the references instead of comparing with them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>

#include "liveconvolver/livefold/display.h"
#include "liveconvolver/routing.h"
#include "platform/portable/faces.h"

namespace tp = tovrel::portable;

namespace {

constexpr char kLetters[] = "xabcdefghilmnopq";

std::function<void(HDC, int, int)> g_paint;

LRESULT CALLBACK TestProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_PAINT) return DefWindowProcA(window, msg, wParam, lParam);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT r;
  GetClientRect(window, &r);
  g_paint(dc, r.right, r.bottom);
  EndPaint(window, &ps);
  return 0;
}

// What a painter draws into a window of the given size (in units of u).
tp::Picture Draw(int widthU, int heightU, std::function<void(HDC, int, int)> paint) {
  static bool registered = [] {
    WNDCLASSA c{};
    c.lpfnWndProc = TestProc;
    c.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    c.lpszClassName = kDisplayClass;
    return RegisterClassA(&c) != 0;
  }();
  EXPECT_TRUE(registered);
  const int u = DisplayUnit();
  HWND w = CreateWindowA(kDisplayClass, "", 0, 0, 0, widthU * u, heightU * u, nullptr, nullptr, nullptr, nullptr);
  g_paint = std::move(paint);
  const long objects = tp::LiveGdiObjects();
  auto picture = tp::PaintWindow(w);
  EXPECT_EQ(tp::LiveGdiObjects(), objects) << "the painter leaves pens, brushes or fonts behind";
  DestroyWindow(w);
  return picture.value_or(tp::Picture{});
}

// Pixels that differ clearly (a channel by more than 64) are counted; the picture matches
// when at most one in a thousand does.
void ExpectLikeReference(const tp::Picture& picture, const std::string& name) {
  const std::string file = std::string(TOVREL_DISPLAY_REFERENCES) + "/" + name + ".png";
  std::string error;
  if (std::getenv("TOVREL_UPDATE_REFERENCES")) {
    const std::vector<uint8_t> png = tp::EncodePng(picture);
    ASSERT_FALSE(png.empty());
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
    return;
  }
  auto reference = tp::ReadPng(file, &error);
  ASSERT_TRUE(reference.has_value()) << error;
  ASSERT_EQ(picture.width, reference->width) << name;
  ASSERT_EQ(picture.height, reference->height) << name;
  long differ = 0;
  for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
    const uint32_t a = picture.pixels[i], b = reference->pixels[i];
    for (int shift : {0, 8, 16}) {
      if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 64) {
        ++differ;
        break;
      }
    }
  }
  EXPECT_LE(differ, static_cast<long>(picture.pixels.size() / 1000)) << name << " differs from its reference";
}

RoutingPicture Routing(char ir1, char ir2, int channels1, int channels2, int documentChannels = 2) {
  RoutingPicture p;
  p.letter[0] = ir1;
  p.letter[1] = ir2;
  p.channels[0] = ir1 == 'x' ? 0 : channels1;
  p.channels[1] = ir2 == 'x' ? 0 : channels2;
  p.documentChannels = documentChannels;
  return p;
}

bool OnWire(const Schematic& s, SchematicPoint at) {
  for (const auto& wire : s.wires)
    for (std::size_t i = 1; i < wire.size(); ++i)
      if (wire[i - 1].y == at.y && wire[i].y == at.y && std::min(wire[i - 1].x, wire[i].x) <= at.x &&
          at.x <= std::max(wire[i - 1].x, wire[i].x))
        return true;
  return false;
}

std::vector<int16_t> Noise(long frames, int channels, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(-32768, 32767);
  std::vector<int16_t> v(static_cast<std::size_t>(frames * channels));
  for (auto& s : v) s = static_cast<int16_t>(d(rng));
  return v;
}

}  // namespace

TEST(RoutingSchematic, EveryPairOfLettersKeepsTheLayoutRules) {
  for (char a : std::string(kLetters)) {
    for (char b : std::string(kLetters)) {
      for (int channels : {1, 2}) {
        const Schematic s = BuildSchematic(Routing(a, b, 2, channels));
        const unsigned set1 = static_cast<unsigned>(PathSetOf(a)), set2 = static_cast<unsigned>(PathSetOf(b));
        const unsigned paths = set1 | set2;
        SCOPED_TRACE(std::string("IR1 ") + a + ", IR2 " + b);
        EXPECT_EQ(s.wires.size(), paths ? static_cast<std::size_t>(std::popcount(paths)) : 2u);
        // An arrow into each output that a path feeds (both when nothing is routed).
        const bool left = paths == 0 || (paths & (kPathLL | kPathRL)), right = paths == 0 || (paths & (kPathLR | kPathRR));
        EXPECT_EQ(s.arrows.size(), static_cast<std::size_t>(left + right));
        int nodes[2] = {0, 0};
        for (const auto& n : s.nodes) {
          ++nodes[n.response];
          EXPECT_EQ(n.at.x, n.response == 0 ? 17 : 33);
          EXPECT_TRUE(OnWire(s, n.at)) << "a node off its path at " << n.at.x << "," << n.at.y;
          const bool upper = n.at.y == 12 || n.at.y == 7, lower = n.at.y == 30 || n.at.y == 35;
          EXPECT_TRUE(upper || lower) << "a node off the rows at y = " << n.at.y;
          EXPECT_TRUE(n.label == (n.response == 1 && channels == 1 ? 'M' : upper ? 'L' : 'R'));
        }
        // A response has a node for each of its channels in use, at least.
        EXPECT_GE(nodes[0], std::popcount((set1 | set1 >> 2) & 3u));
        EXPECT_GE(nodes[1], std::popcount((set2 | set2 >> 2) & 3u));
        for (const auto& wire : s.wires) {
          EXPECT_TRUE(wire.front().y == 12 || wire.front().y == 30);
          EXPECT_TRUE(wire.back().y == 12 || wire.back().y == 30);
        }
      }
    }
  }
}

TEST(RoutingSchematic, NodesOfTheFirstAndSecondResponse) {
  // IR1 'c' (left input to both outputs) with IR2 'a': IR1 "L" and "R", and IR2 on the left path.
  for (int channels : {1, 2}) {
    const Schematic s = BuildSchematic(Routing('c', 'a', 2, channels));
    ASSERT_EQ(s.nodes.size(), 3u);
    EXPECT_EQ(s.nodes[0].at, (SchematicPoint{17, 12}));
    EXPECT_EQ(s.nodes[0].label, 'L');
    EXPECT_EQ(s.nodes[1].at, (SchematicPoint{33, 12}));
    EXPECT_EQ(s.nodes[1].label, channels == 1 ? 'M' : 'L');
    EXPECT_EQ(s.nodes[2].at, (SchematicPoint{17, 30}));
    EXPECT_EQ(s.nodes[2].label, 'R');
  }
  // Nothing routed on a mono document: one wire, left to left, no nodes.
  const Schematic mono = BuildSchematic(Routing('x', 'x', 0, 0, 1));
  ASSERT_EQ(mono.wires.size(), 1u);
  EXPECT_TRUE(mono.nodes.empty());
}

TEST(WaveformView, ColumnsHoldTheLargestAndSmallestSampleOfTheirPixels) {
  const long frames = 10007;
  const int width = 280, height = 180;
  const auto samples = Noise(frames, 2, 7);
  HGLOBAL view = PrepareWaveformView(samples.data(), frames, 2, width, height);
  ASSERT_NE(view, nullptr);
  const auto* h = static_cast<const WaveformViewHeader*>(GlobalLock(view));
  ASSERT_EQ(h->columns, width);
  EXPECT_EQ(h->perSample, 0);
  const auto* data = reinterpret_cast<const WaveformColumn*>(h + 1);
  for (int c = 0; c < 2; ++c) {
    for (int x = 0; x < width; ++x) {
      int largest = -40000, smallest = 40000;
      for (long i = 0; i < frames; ++i) {
        if (static_cast<int>(std::floor(i * (width - 1.0) / (frames - 1))) != x) continue;
        largest = std::max<int>(largest, samples[i * 2 + c]);
        smallest = std::min<int>(smallest, samples[i * 2 + c]);
      }
      ASSERT_NE(largest, -40000) << "column " << x << " holds no sample";
      EXPECT_EQ(data[c * width + x].largest, largest);
      EXPECT_EQ(data[c * width + x].smallest, smallest);
    }
  }
  GlobalUnlock(view);
  GlobalFree(view);
  // One pixel or more per sample: the samples themselves; a single sample is a point.
  for (long m : {1L, 50L}) {
    HGLOBAL few = PrepareWaveformView(samples.data(), m, 1, width, height);
    ASSERT_NE(few, nullptr);
    const auto* fh = static_cast<const WaveformViewHeader*>(GlobalLock(few));
    EXPECT_EQ(fh->perSample, 1);
    EXPECT_EQ(fh->columns, m);
    EXPECT_EQ(reinterpret_cast<const WaveformColumn*>(fh + 1)[m - 1].largest, samples[m - 1]);
    EXPECT_EQ(SampleColumn(m - 1, m, width), m == 1 ? 0 : width - 1);  // the last sample on the last column
    GlobalUnlock(few);
    GlobalFree(few);
  }
  EXPECT_EQ(PrepareWaveformView(samples.data(), 0, 1, width, height), nullptr);
  EXPECT_EQ(PrepareWaveformView(samples.data(), 10, 3, width, height), nullptr);
}

TEST(DisplayPictures, RoutingSchematicsMatchTheirReferences) {
  const struct {
    char ir1, ir2;
    int channels2;
    const char* name;
  } cases[] = {
      {'x', 'x', 0, "routing_x_x"},
      {'c', 'a', 1, "routing_c_a_mono"},
      {'g', 'a', 2, "routing_g_a"},
      {'l', 'q', 2, "routing_l_q"},
  };
  for (const auto& c : cases) {
    const auto picture = Draw(61, 41, [&](HDC dc, int, int) {
      PaintRouting(dc, DisplayUnit(), Routing(c.ir1, c.ir2, 2, c.channels2));
    });
    ExpectLikeReference(picture, c.name);
  }
}

TEST(DisplayPictures, WaveformViewsMatchTheirReferences) {
  const int u = DisplayUnit();
  // A decaying stereo response, more samples than pixels.
  std::vector<int16_t> decay(2 * 4000);
  std::mt19937 rng(3);
  std::normal_distribution<double> n(0, 1);
  for (int i = 0; i < 4000; ++i)
    for (int c = 0; c < 2; ++c)
      decay[2 * i + c] = static_cast<int16_t>(std::clamp(30000 * std::exp(-i / (c ? 400.0 : 900.0)) * n(rng) / 3, -32768.0, 32767.0));
  HGLOBAL stereo = PrepareResponseView(decay.data(), 4000, 2);
  // A short mono response: one point per sample.
  std::vector<int16_t> shortOne(100);
  for (int i = 0; i < 100; ++i) shortOne[i] = static_cast<int16_t>(25000 * std::sin(i / 5.0) * std::exp(-i / 40.0));
  HGLOBAL mono = PrepareResponseView(shortOne.data(), 100, 1);
  ASSERT_NE(stereo, nullptr);
  ASSERT_NE(mono, nullptr);
  ExpectLikeReference(Draw(70, 45, [&](HDC dc, int w, int h) { PaintWaveform(dc, u, w, h, 0, stereo); }), "ir_stereo");
  ExpectLikeReference(Draw(70, 45, [&](HDC dc, int w, int h) { PaintWaveform(dc, u, w, h, 1, mono); }), "ir_mono");
  const auto notLoaded = Draw(70, 45, [&](HDC dc, int w, int h) { PaintWaveform(dc, u, w, h, 1, nullptr); });
  ExpectLikeReference(notLoaded, "ir_not_loaded");
  // A block that is no view's data (a stale handle of a stored block, say) is not read.
  HGLOBAL other = GlobalAlloc(GHND, 64);
  const auto stale = Draw(70, 45, [&](HDC dc, int w, int h) { PaintWaveform(dc, u, w, h, 1, other); });
  EXPECT_EQ(stale.pixels, notLoaded.pixels);
  GlobalFree(other);
  GlobalFree(stereo);
  GlobalFree(mono);
}

TEST(DisplayPictures, CapabilitiesTableMatchesItsReference) {
  // One virtual device: every standard format.
  tp::SetWaveDevices({"virtual"});
  ASSERT_EQ(waveOutGetNumDevs(), 1u);
  const auto picture = Draw(61, 41, [&](HDC dc, int, int) { PaintCapabilities(dc, DisplayUnit(), nullptr); });
  tp::SetWaveDevices({});
  ExpectLikeReference(picture, "audio_virtual");
}
