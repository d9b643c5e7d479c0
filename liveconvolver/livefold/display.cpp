#include "liveconvolver/livefold/display.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "frame/dialogs.h"
#include "frame/paramblock.h"
#include "liveconvolver/livefold/livefold_block.h"
#include "liveconvolver/routing.h"

namespace {

// ---- Drawing helpers ----------------------------------------------------------------

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kYellow = RGB(255, 255, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 224, 0);
constexpr COLORREF kDarkBlue = RGB(0, 0, 128);
constexpr COLORREF kNodeBlue = RGB(0, 64, 192);

// A pen, brush or font selected for a scope, then put back and (unless a stock object)
// deleted.
class Selected {
 public:
  Selected(HDC dc, HGDIOBJ object, bool own = true)
      : dc_(dc), object_(own ? object : nullptr), old_(object ? SelectObject(dc, object) : nullptr) {}
  ~Selected() {
    if (old_) SelectObject(dc_, old_);
    if (object_) DeleteObject(object_);
  }
  Selected(const Selected&) = delete;
  Selected& operator=(const Selected&) = delete;

 private:
  HDC dc_;
  HGDIOBJ object_;
  HGDIOBJ old_;
};

HFONT Helvetica(int pixels) {
  return CreateFontA(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, "Helvetica");
}

void Text(HDC dc, int x, int y, UINT align, const char* text) {
  SetTextAlign(dc, align);
  TextOutA(dc, x, y, text, static_cast<int>(std::strlen(text)));
}

void Line(HDC dc, int x0, int y0, int x1, int y1) {
  MoveToEx(dc, x0, y0, nullptr);
  LineTo(dc, x1, y1);
}

void Black(HDC dc, int width, int height) {
  RECT all = {0, 0, width, height};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

// ---- Routing schematic --------------------------------------------------------------

// Rows of the left and right input and output, and a second lane beside each row for a
// path whose responses differ from those of the row's other path.
constexpr int kRowY[2] = {12, 30};
constexpr int kLaneY[2] = {7, 35};
constexpr int kNodeX[2] = {17, 33};
// Along a path: the input, where inputs split, where paths have turned into their lane,
// where a second lane turns back, where lanes merge, the arrow's tip at the output.
constexpr int kInputX = 2, kSplitX = 8, kTurnX = 12, kBackX = 45, kMergeX = 49, kArrowX = 57;

// A path of the routing: from an input (0 left, 1 right) to an output, through the
// responses of `chain` (bit 0 IR1, bit 1 IR2).
struct Path {
  int input;
  int output;
  unsigned chain;
  int lane = 0;
};

char NodeLabel(const RoutingPicture& picture, int response, int output) {
  if (picture.channels[response] == 1) return 'M';
  return output == 0 ? 'L' : 'R';
}

}  // namespace

int DisplayUnit() { return LOWORD(GetDialogBaseUnits()) / 2; }

Schematic BuildSchematic(const RoutingPicture& picture) {
  unsigned sets[2] = {0, 0};
  for (int k = 0; k < 2; ++k) {
    const int set = PathSetOf(picture.letter[k]);
    if (set > 0 && picture.channels[k] > 0) sets[k] = static_cast<unsigned>(set);
  }
  // Path bits LL, LR, RL, RR: input bit / 2, output bit % 2. Nothing routed: the inputs
  // pass to their outputs unfiltered (one wire for a mono document).
  const bool routed = (sets[0] | sets[1]) != 0;
  std::vector<Path> paths;
  for (int bit = 0; bit < 4; ++bit) {
    const unsigned chain = ((sets[0] >> bit) & 1u) | (((sets[1] >> bit) & 1u) << 1);
    const bool straight = bit == 0 || (bit == 3 && picture.documentChannels > 1);
    if (routed ? chain != 0 : straight) paths.push_back({bit / 2, bit % 2, chain});
  }

  Schematic s;
  auto addJunction = [&](SchematicPoint p) {
    if (std::find(s.junctions.begin(), s.junctions.end(), p) == s.junctions.end()) s.junctions.push_back(p);
  };
  for (int input = 0; input < 2; ++input) {
    const auto n = std::count_if(paths.begin(), paths.end(), [&](const Path& p) { return p.input == input; });
    if (n == 2) addJunction({kSplitX, kRowY[input]});
  }
  for (int output = 0; output < 2; ++output) {
    std::vector<Path*> into;
    for (auto& p : paths)
      if (p.output == output) into.push_back(&p);
    if (into.empty()) continue;
    s.arrows.push_back({kArrowX, kRowY[output]});
    if (into.size() < 2) continue;
    if (into[0]->chain == into[1]->chain) {
      addJunction({kTurnX, kRowY[output]});  // the same filters: merged before them
    } else {
      // Different filters: the path that crosses over takes the second lane, and they
      // merge after their filters.
      (into[0]->input == output ? into[1] : into[0])->lane = 1;
      addJunction({kMergeX, kRowY[output]});
    }
  }
  for (const Path& p : paths) {
    const int yIn = kRowY[p.input], yRow = kRowY[p.output];
    const int yLane = p.lane ? kLaneY[p.output] : yRow;
    s.wires.push_back({{kInputX, yIn}, {kSplitX, yIn}, {kTurnX, yLane}, {kBackX, yLane}, {kMergeX, yRow},
                       {kArrowX - 2, yRow}});
    for (int r = 0; r < 2; ++r) {
      if (!((p.chain >> r) & 1u)) continue;
      SchematicNode node{{kNodeX[r], yLane}, r, NodeLabel(picture, r, p.output)};
      bool known = false;
      for (const auto& other : s.nodes) known = known || other.at == node.at;
      if (!known) s.nodes.push_back(node);
    }
  }
  return s;
}

void PaintRouting(HDC dc, int u, const RoutingPicture& picture) {
  const Schematic s = BuildSchematic(picture);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kWhite);
  {
    Selected font(dc, Helvetica(3 * u));
    Text(dc, u, u, TA_LEFT | TA_TOP, "Input");
    if (PathSetOf(picture.letter[0]) > 0 && picture.channels[0] > 0) Text(dc, 17 * u, u, TA_LEFT | TA_TOP, "IR1");
    if (PathSetOf(picture.letter[1]) > 0 && picture.channels[1] > 0) Text(dc, 33 * u, u, TA_LEFT | TA_TOP, "IR2");
    Text(dc, 49 * u, u, TA_LEFT | TA_TOP, "Output");
  }
  Selected pen(dc, CreatePen(PS_SOLID, 1, kGreen));
  Selected brush(dc, CreateSolidBrush(kGreen));
  for (const auto& wire : s.wires) {
    std::vector<POINT> points;
    for (const auto& p : wire) points.push_back({p.x * u, p.y * u});
    Polyline(dc, points.data(), static_cast<int>(points.size()));
  }
  const int dot = std::max(1, u / 2);
  for (const auto& j : s.junctions) Ellipse(dc, j.x * u - dot, j.y * u - dot, j.x * u + dot + 1, j.y * u + dot + 1);
  for (const auto& a : s.arrows) {
    const POINT head[] = {{a.x * u, a.y * u}, {(a.x - 2) * u, a.y * u - u}, {(a.x - 2) * u, a.y * u + u}};
    Polygon(dc, head, 3);
  }
  Selected nodePen(dc, CreatePen(PS_SOLID, 1, kWhite));
  Selected nodeBrush(dc, CreateSolidBrush(kNodeBlue));
  Selected font(dc, Helvetica(3 * u));
  for (const auto& n : s.nodes) {
    const int x = n.at.x * u, y = n.at.y * u;
    Ellipse(dc, x - 2 * u, y - 2 * u, x + 2 * u + 1, y + 2 * u + 1);
    const char label[2] = {n.label, 0};
    Text(dc, x, y + u, TA_CENTER | TA_BASELINE, label);
  }
}

// ---- Waveform views -----------------------------------------------------------------

int SampleColumn(long i, long frames, int width) {
  if (frames <= 1 || width <= 1) return 0;
  return static_cast<int>(static_cast<int64_t>(i) * (width - 1) / (frames - 1));
}

HGLOBAL PrepareWaveformView(const int16_t* samples, long frames, int channels, int width, int height) {
  if (samples == nullptr || frames <= 0 || (channels != 1 && channels != 2) || width <= 0 || height <= 0)
    return nullptr;
  // At least one pixel per sample: each sample is a point; fewer: one column per pixel.
  const bool perSample = frames <= 1 || width - 1 >= frames - 1;
  const long columns = perSample ? frames : width;
  const SIZE_T bytes = sizeof(WaveformViewHeader) + sizeof(WaveformColumn) * static_cast<SIZE_T>(columns) * channels;
  HGLOBAL view = GlobalAlloc(GHND, bytes);
  if (view == nullptr) return nullptr;
  auto* header = static_cast<WaveformViewHeader*>(GlobalLock(view));
  if (header == nullptr) {
    GlobalFree(view);
    return nullptr;
  }
  *header = {kWaveformViewTag, width, height, channels, static_cast<int32_t>(frames), static_cast<int32_t>(columns),
             perSample ? 1 : 0};
  auto* data = reinterpret_cast<WaveformColumn*>(header + 1);
  for (int c = 0; c < channels; ++c) {
    WaveformColumn* out = data + static_cast<std::ptrdiff_t>(c) * columns;
    if (perSample) {
      for (long i = 0; i < frames; ++i) out[i].largest = out[i].smallest = samples[i * channels + c];
      continue;
    }
    std::vector<bool> seen(static_cast<std::size_t>(columns), false);
    for (long i = 0; i < frames; ++i) {
      const int x = SampleColumn(i, frames, width);
      const int16_t v = samples[i * channels + c];
      if (!seen[x]) {
        out[x].largest = out[x].smallest = v;
        seen[x] = true;
      } else {
        out[x].largest = std::max(out[x].largest, v);
        out[x].smallest = std::min(out[x].smallest, v);
      }
    }
  }
  GlobalUnlock(view);
  return view;
}

HGLOBAL PrepareResponseView(const int16_t* samples, long frames, int channels) {
  const int u = DisplayUnit();
  return PrepareWaveformView(samples, frames, channels, 70 * u, 45 * u);
}

namespace {

// The view's data when the block is one: its tag, a known shape, and every column there.
const WaveformViewHeader* ViewData(HGLOBAL view, const BlockLock& lock) {
  if (!lock || GlobalSize(view) < sizeof(WaveformViewHeader)) return nullptr;
  const auto* h = lock.as<WaveformViewHeader>();
  if (h->tag != kWaveformViewTag || (h->channels != 1 && h->channels != 2) || h->frames <= 0 || h->width <= 0 ||
      h->columns <= 0 || h->columns != (h->perSample ? h->frames : h->width))
    return nullptr;
  const uint64_t need =
      sizeof(WaveformViewHeader) + sizeof(WaveformColumn) * static_cast<uint64_t>(h->columns) * h->channels;
  return GlobalSize(view) >= need ? h : nullptr;
}

// y of a sample in a trace centred at `centre` with `half` its half-height, kept in the view.
int TraceY(int sample, int centre, int half, int height) {
  const int y = centre - static_cast<int>((static_cast<int64_t>(sample) * half) / 32768);
  return std::clamp(y, 0, std::max(height - 1, 0));
}

}  // namespace

void PaintWaveform(HDC dc, int u, int width, int height, int response, HGLOBAL view) {
  Black(dc, width, height);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kWhite);
  BlockLock lock(view);
  const WaveformViewHeader* h = view != nullptr ? ViewData(view, lock) : nullptr;
  if (h == nullptr) {
    Selected font(dc, Helvetica(3 * u));
    Text(dc, width / 2, height / 2, TA_CENTER | TA_BASELINE,
         response == 0 ? "Impulse Response 1 Not Loaded!" : "Impulse Response 2 Not Loaded!");
    return;
  }
  const auto* data = reinterpret_cast<const WaveformColumn*>(h + 1);
  const int half = h->channels == 1 ? height / 2 : height / 4;
  {
    Selected frame(dc, CreatePen(PS_SOLID, 1, kDarkBlue));
    Selected hollow(dc, GetStockObject(NULL_BRUSH), false);
    Rectangle(dc, 0, 0, width, height);
    if (h->channels == 2) Line(dc, 0, height / 2, width, height / 2);
  }
  for (int c = 0; c < h->channels; ++c) {
    const int centre = h->channels == 1 ? height / 2 : (c == 0 ? height / 4 : 3 * height / 4);
    const WaveformColumn* trace = data + static_cast<std::ptrdiff_t>(c) * h->columns;
    {
      Selected zero(dc, CreatePen(PS_SOLID, 1, kRed));
      Line(dc, 0, centre, width, centre);
    }
    {
      Selected pen(dc, CreatePen(PS_SOLID, 1, kYellow));
      if (h->perSample) {
        std::vector<POINT> points(static_cast<std::size_t>(h->columns));
        for (int i = 0; i < h->columns; ++i)
          points[i] = {SampleColumn(i, h->frames, h->width), TraceY(trace[i].largest, centre, half, height)};
        if (points.size() == 1) points.push_back({points[0].x + 1, points[0].y});
        Polyline(dc, points.data(), static_cast<int>(points.size()));
      } else {
        for (int x = 0; x < h->columns; ++x) {
          const int top = TraceY(trace[x].largest, centre, half, height);
          const int bottom = TraceY(trace[x].smallest, centre, half, height);
          Line(dc, x, top, x, bottom + 1);
        }
      }
    }
    // The scale over the trace, its labels on black to be read.
    Selected pen(dc, CreatePen(PS_SOLID, 1, kWhite));
    Selected font(dc, Helvetica(2 * u));
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, RGB(0, 0, 0));
    static const int kLabels[] = {30000, 20000, 10000, 0, -10000, -20000, -30000};
    for (int v : kLabels) {
      const int y = TraceY(v, centre, half, height);
      Line(dc, 0, y, u, y);
      char label[8];
      std::snprintf(label, sizeof label, "%d", v);
      Text(dc, u + u / 2, y + (2 * u) / 3, TA_LEFT | TA_BASELINE, label);
    }
  }
}

// ---- The window procedure -----------------------------------------------------------

LRESULT CALLBACK DisplayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcA(window, message, wParam, lParam);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  if (dc == nullptr) return 0;
  RECT client;
  GetClientRect(window, &client);
  const int u = DisplayUnit();
  char text[64] = {0};
  GetWindowTextA(window, text, sizeof text);
  HWND dialog = GetParent(window);
  // The block the dialog holds locked; none once it has closed.
  const auto* p = reinterpret_cast<const LiveParams*>(ReadDialogState(dialog, kLiveStateControl).block);
  Black(dc, client.right, client.bottom);
  if (p != nullptr) {
    if (std::strcmp(text, kDisplayWindowText[kViewMonitor]) == 0) {
      RoutingPicture picture;
      for (int k = 0; k < 2; ++k) {
        picture.letter[k] = p->responseLetter[k];
        picture.channels[k] = p->responseSource[k] != kSourceNone ? p->responseChannels[k] : 0;
      }
      picture.documentChannels = p->documentChannels;
      PaintRouting(dc, u, picture);
    }
    if (std::strcmp(text, kDisplayWindowText[kViewAudio]) == 0) PaintCapabilities(dc, u, dialog);
    for (int k = 0; k < 2; ++k) {
      if (std::strcmp(text, kDisplayWindowText[kViewIr1 + k]) != 0) continue;
      const bool loaded = p->responseSource[k] != kSourceNone && p->responseChannels[k] != 0;
      PaintWaveform(dc, u, client.right, client.bottom, k,
                    loaded ? FieldToHandle<HGLOBAL>(p->responseDisplay[k]) : nullptr);
    }
  }
  EndPaint(window, &ps);
  return 0;
}

// ---- Capabilities -------------------------------------------------------------------

void PaintCapabilities(HDC dc, int u, HWND dialog) {
  // The device list, rebuilt: one entry per device, its name or what went wrong.
  const int previous = static_cast<int>(SendDlgItemMessageA(dialog, kDeviceList, CB_GETCURSEL, 0, 0));
  SendDlgItemMessageA(dialog, kDeviceList, CB_RESETCONTENT, 0, 0);
  const UINT devices = waveOutGetNumDevs();
  for (UINT d = 0; d < devices; ++d) {
    WAVEOUTCAPSA caps{};
    char name[MAXERRORLENGTH + MAXPNAMELEN] = {0};
    const MMRESULT error = waveOutGetDevCapsA(d, &caps, sizeof caps);
    if (error == MMSYSERR_NOERROR) std::snprintf(name, sizeof name, "%.*s", MAXPNAMELEN, caps.szPname);
    else waveOutGetErrorTextA(error, name, sizeof name);
    SendDlgItemMessageA(dialog, kDeviceList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  }
  const int selected = previous >= 0 && previous < 16 && previous < static_cast<int>(devices) ? previous : 0;
  if (devices > 0) SendDlgItemMessageA(dialog, kDeviceList, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);

  WAVEOUTCAPSA caps{};
  const DWORD formats =
      devices > 0 && waveOutGetDevCapsA(static_cast<UINT>(selected), &caps, sizeof caps) == MMSYSERR_NOERROR
          ? caps.dwFormats
          : 0;
  // Rows by rate, columns 8-bit mono, stereo, 16-bit mono, stereo: the standard format flags.
  static const DWORD kFlags[3][4] = {
      {WAVE_FORMAT_1M08, WAVE_FORMAT_1S08, WAVE_FORMAT_1M16, WAVE_FORMAT_1S16},
      {WAVE_FORMAT_2M08, WAVE_FORMAT_2S08, WAVE_FORMAT_2M16, WAVE_FORMAT_2S16},
      {WAVE_FORMAT_4M08, WAVE_FORMAT_4S08, WAVE_FORMAT_4M16, WAVE_FORMAT_4S16},
  };
  static const char* const kRates[3] = {"11k", "22k", "44k"};
  SetBkMode(dc, TRANSPARENT);
  Selected font(dc, Helvetica(3 * u));
  Selected pen(dc, CreatePen(PS_SOLID, 1, kDarkBlue));
  const int column0 = 11 * u, column = 12 * u;
  auto centre = [&](int c) { return column0 + c * column + column / 2; };
  Line(dc, column0, 0, column0, 40 * u);
  Line(dc, column0 + 2 * column, 0, column0 + 2 * column, 40 * u);
  Line(dc, 0, 13 * u, 60 * u, 13 * u);
  SetTextColor(dc, kWhite);
  Text(dc, column0 + column, 2 * u, TA_CENTER | TA_TOP, "8 bit");
  Text(dc, column0 + 3 * column, 2 * u, TA_CENTER | TA_TOP, "16 bit");
  for (int c = 0; c < 4; ++c) Text(dc, centre(c), 8 * u, TA_CENTER | TA_TOP, c % 2 ? "Stereo" : "Mono");
  for (int r = 0; r < 3; ++r) {
    const int y = (16 + 8 * r) * u;
    SetTextColor(dc, kWhite);
    Text(dc, 2 * u, y, TA_LEFT | TA_TOP, kRates[r]);
    for (int c = 0; c < 4; ++c) {
      const bool yes = (formats & kFlags[r][c]) != 0;
      SetTextColor(dc, yes ? kGreen : kRed);
      Text(dc, centre(c), y, TA_CENTER | TA_TOP, yes ? "Yes" : "No");
    }
  }
}
