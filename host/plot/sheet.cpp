#include "host/plot/sheet.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>

#include "host/safefile.h"

namespace tovrel::host::plot {

namespace {

const Colour kBlack{0, 0, 0};
const Colour kGrey{0.35, 0.35, 0.35};
const Colour kGrid{0.87, 0.87, 0.87};
const Colour kFrame{0.55, 0.55, 0.55};
// One colour per response when several are drawn over each other.
const Colour kSeries[] = {{0.12, 0.35, 0.70}, {0.85, 0.33, 0.10}, {0.20, 0.60, 0.25},
                          {0.55, 0.25, 0.65}, {0.75, 0.60, 0.05}, {0.10, 0.60, 0.65}};
// The fitted lines of one response: EDT, RT20, RT30, RTU.
const Colour kFitColours[4] = {{0.90, 0.55, 0.00}, {0.15, 0.60, 0.20}, {0.85, 0.10, 0.10}, {0.55, 0.20, 0.70}};
const std::vector<double> kFitDashes[4] = {{2, 2}, {6, 3}, {10, 3}, {6, 2, 2, 2}};

constexpr double kTitleSize = 15, kPanelTitleSize = 12, kTickSize = 10, kLabelSize = 11;

Colour SeriesColour(std::size_t k) { return kSeries[k % (sizeof kSeries / sizeof kSeries[0])]; }

std::string Format(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

// A decay time or figure as the module's report shows it: four significant digits.
std::string Seconds(double s) { return Format("%.4g", s); }

struct Axis {
  double lo = 0, hi = 1;
  bool log = false;
  std::string label;
};

struct Panel {
  double x = 0, y = 0, w = 0, h = 0;  // the plotting area inside the axes
  Axis xa, ya;
  double X(double v) const {
    const double t = xa.log ? std::log(v / xa.lo) / std::log(xa.hi / xa.lo) : (v - xa.lo) / (xa.hi - xa.lo);
    return x + t * w;
  }
  double Y(double v) const { return y + h - (v - ya.lo) / (ya.hi - ya.lo) * h; }
};

// Room around the plotting area for tick labels, axis labels and the title.
constexpr double kLeft = 58, kRight = 14, kTop = 24, kBottom = 40;

Panel Inside(double x, double y, double w, double h) {
  Panel p;
  p.x = x + kLeft;
  p.y = y + kTop;
  p.w = std::max(10.0, w - kLeft - kRight);
  p.h = std::max(10.0, h - kTop - kBottom);
  return p;
}

// Round steps (1, 2 or 5 times a power of ten) giving about `count` intervals.
double NiceStep(double span, double count) {
  const double raw = span / count;
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * p >= raw) return m * p;
  return 10 * p;
}

std::vector<double> LinearTicks(double lo, double hi, double count) {
  std::vector<double> t;
  const double step = NiceStep(hi - lo, count);
  for (double v = std::ceil(lo / step - 1e-9) * step; v <= hi + step * 1e-9; v += step)
    t.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
  return t;
}

std::string TickText(double v, double step) {
  const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

std::string FrequencyText(double f) {
  if (f >= 1000) return Format("%g", f / 1000) + "k";
  return Format("%g", f);
}

// Frame, grid, ticks with their values, axis labels and the title of a panel.
void DrawAxes(Canvas& c, const Panel& p, const std::string& title) {
  const Stroke grid{kGrid, 1, {}};
  auto vertical = [&](double v, const std::string& text, bool major) {
    const double x = p.X(v);
    c.Polyline({{x, p.y}, {x, p.y + p.h}}, major ? grid : Stroke{kGrid, 0.6, {1, 2}});
    if (!text.empty()) c.Text(x, p.y + p.h + 14, text, kTickSize, kGrey, Anchor::Middle);
  };
  if (p.xa.log) {
    for (double decade = std::pow(10.0, std::floor(std::log10(p.xa.lo))); decade <= p.xa.hi; decade *= 10) {
      for (int m = 1; m <= 9; ++m) {
        const double v = decade * m;
        if (v < p.xa.lo * (1 - 1e-9) || v > p.xa.hi * (1 + 1e-9)) continue;
        const bool labelled = m == 1 || m == 2 || m == 5;
        vertical(v, labelled ? FrequencyText(v) : std::string(), m == 1);
      }
    }
  } else {
    const std::vector<double> ticks = LinearTicks(p.xa.lo, p.xa.hi, std::max(2.0, p.w / 55));
    const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1;
    for (double v : ticks) vertical(v, TickText(v, step), true);
  }
  const std::vector<double> ticks = LinearTicks(p.ya.lo, p.ya.hi, std::max(2.0, p.h / 32));
  const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1;
  for (double v : ticks) {
    const double y = p.Y(v);
    c.Polyline({{p.x, y}, {p.x + p.w, y}}, grid);
    c.Text(p.x - 5, y + 3.5, TickText(v, step), kTickSize, kGrey, Anchor::End);
  }
  c.StrokeRect(p.x, p.y, p.w, p.h, Stroke{kFrame, 1, {}});
  c.Text(p.x + p.w / 2, p.y + p.h + 31, p.xa.label, kLabelSize, kBlack, Anchor::Middle);
  c.Text(p.x - 44, p.y + p.h / 2, p.ya.label, kLabelSize, kBlack, Anchor::Middle, false, true);
  c.Text(p.x, p.y - 7, title, kPanelTitleSize, kBlack, Anchor::Start, true);
}

// A series of n points (x(k), y[k]), clipped to the panel. Where it has many more points
// than the panel has pixel columns, each column is drawn as the span of its values.
void DrawSeries(Canvas& c, const Panel& p, long n, const std::function<double(long)>& xOf,
                const std::function<double(long)>& yOf, const Stroke& stroke) {
  std::vector<Point> points;
  auto flush = [&] {
    c.Polyline(points, stroke);
    points.clear();
  };
  c.PushClip(p.x, p.y, p.w, p.h);
  const bool dense = n > 3 * static_cast<long>(p.w);
  long column = -1;
  double lo = 0, hi = 0, colX = 0;
  for (long k = 0; k < n; ++k) {
    const double xv = xOf(k), yv = yOf(k);
    if (!std::isfinite(xv) || !std::isfinite(yv)) {
      if (column >= 0) points.push_back({colX, lo}), points.push_back({colX, hi});
      column = -1;
      flush();
      continue;
    }
    const double px = p.X(xv), py = std::clamp(p.Y(yv), p.y - 50, p.y + p.h + 50);
    if (!dense) {
      points.push_back({px, py});
      continue;
    }
    const long col = static_cast<long>(std::floor(px));
    if (col != column) {
      if (column >= 0) points.push_back({colX, lo}), points.push_back({colX, hi});
      column = col;
      colX = col + 0.5;
      lo = hi = py;
    } else {
      lo = std::min(lo, py);
      hi = std::max(hi, py);
    }
  }
  if (dense && column >= 0) points.push_back({colX, lo}), points.push_back({colX, hi});
  flush();
  c.PopClip();
}

// Legend entries in a row from (x, y): a short line and its text.
struct LegendEntry {
  std::string text;
  Stroke stroke;
};
void DrawLegendRow(Canvas& c, double x, double y, const std::vector<LegendEntry>& entries) {
  for (const auto& e : entries) {
    c.Polyline({{x, y - 4}, {x + 22, y - 4}}, e.stroke);
    c.Text(x + 27, y, e.text, kTickSize, kBlack);
    x += 27 + TextWidth(e.text, kTickSize) + 18;
  }
}

// The legend of several responses, in the top right corner of a panel.
void DrawResponsesLegend(Canvas& c, const Panel& p, const std::vector<ResponseView>& rs) {
  if (rs.size() < 2) return;
  double width = 0;
  for (const auto& r : rs) width = std::max(width, TextWidth(r.name, kTickSize));
  const double w = width + 40, h = 14.0 * rs.size() + 6;
  const double x = p.x + p.w - w - 6, y = p.y + 6;
  c.FillRect(x, y, w, h, Colour{1, 1, 1});
  c.StrokeRect(x, y, w, h, Stroke{kFrame, 0.8, {}});
  for (std::size_t k = 0; k < rs.size(); ++k) {
    const double ly = y + 15 + 14.0 * k;
    c.Polyline({{x + 6, ly - 4}, {x + 28, ly - 4}}, Stroke{SeriesColour(k), 2, {}});
    c.Text(x + 33, ly, rs[k].name, kTickSize, kBlack);
  }
}

double Duration(const std::vector<ResponseView>& rs) {
  double d = 0;
  for (const auto& r : rs) d = std::max(d, static_cast<double>(r.frames) / r.rate);
  return d;
}

// Time axes read in milliseconds below a second.
Axis TimeAxis(double seconds, double& scale) {
  Axis a;
  scale = seconds < 1.0 ? 1000.0 : 1.0;
  a.hi = seconds * scale;
  a.label = scale == 1000.0 ? "Time (ms)" : "Time (s)";
  return a;
}

// A curve per response over time from the response's start: the waveform or the
// energy-time curve.
void DrawOverTime(Canvas& c, const std::vector<ResponseView>& rs, Panel p, const std::string& title,
                  std::vector<double> ResponseView::*series) {
  double scale = 1;
  p.xa = TimeAxis(Duration(rs), scale);
  DrawAxes(c, p, title);
  for (std::size_t k = 0; k < rs.size(); ++k) {
    const ResponseView& r = rs[k];
    const std::vector<double>& y = r.*series;
    DrawSeries(
        c, p, static_cast<long>(y.size()), [&](long i) { return i * scale / r.rate; }, [&](long i) { return y[i]; },
        Stroke{SeriesColour(k), 1, {}});
  }
  DrawResponsesLegend(c, p, rs);
}

void DrawWaveform(Canvas& c, const std::vector<ResponseView>& rs, double x, double y, double w, double h) {
  Panel p = Inside(x, y, w, h);
  double peak = 0;
  for (const auto& r : rs) peak = std::max(peak, r.peak);
  p.ya = {-peak * 1.1, peak * 1.1, false, "Amplitude (full scale)"};
  DrawOverTime(c, rs, p, "Impulse response", &ResponseView::ir);
}

void DrawEtc(Canvas& c, const std::vector<ResponseView>& rs, double x, double y, double w, double h) {
  Panel p = Inside(x, y, w, h);
  double lowest = 0;
  for (const auto& r : rs)
    for (double v : r.etcDb) lowest = std::min(lowest, v);
  p.ya = {std::clamp(10 * std::floor(lowest / 10), -120.0, -40.0), 5, false, "Level (dB)"};
  DrawOverTime(c, rs, p, "Energy-time curve", &ResponseView::etcDb);
}

void DrawMagnitude(Canvas& c, const std::vector<ResponseView>& rs, double x, double y, double w, double h) {
  Panel p = Inside(x, y, w, h);
  double lo = 1e9, hi = 0, top = -1e9, low = 1e9;
  for (const auto& r : rs) {
    if (r.frequencyHz.empty()) continue;
    lo = std::min(lo, r.frequencyHz.front());
    hi = std::max(hi, r.frequencyHz.back());
    for (double v : r.magnitudeDb) {
      top = std::max(top, v);
      low = std::min(low, v);
    }
  }
  if (hi <= lo) lo = 20, hi = 20000, top = 0, low = -60;
  p.xa = {lo, hi, true, "Frequency (Hz)"};
  const double ceiling = 10 * std::ceil((top + 1) / 10);
  p.ya = {std::max(ceiling - 70, 10 * std::floor(low / 10)), ceiling, false, "Magnitude (dB)"};
  if (p.ya.hi - p.ya.lo < 20) p.ya.lo = p.ya.hi - 20;
  const int n = rs.empty() ? 0 : rs.front().smoothing;
  DrawAxes(c, p, n > 0 ? "Magnitude response, 1/" + std::to_string(n) + " octave smoothing" : "Magnitude response");
  for (std::size_t k = 0; k < rs.size(); ++k) {
    const ResponseView& r = rs[k];
    DrawSeries(
        c, p, static_cast<long>(r.frequencyHz.size()), [&](long i) { return r.frequencyHz[i]; },
        [&](long i) { return r.magnitudeDb[i]; }, Stroke{SeriesColour(k), 1.2, {}});
  }
  DrawResponsesLegend(c, p, rs);
}

std::string BandTitle(const BandDecay& b) {
  std::string t = b.centreHz == 0 ? "Wide band (Lin)"
                  : b.centreHz >= 1000 ? Format("%g kHz", b.centreHz / 1000)
                                       : Format("%g Hz", b.centreHz);
  if (b.noiseCorrected) t += ", noise corrected";
  return t;
}

std::string FitText(const FittedLine& f) {
  if (!f.valid) return f.name + " --";
  return f.name + " " + Seconds(f.seconds) + " s";
}

// The decay of one band of every response, with the fitted lines.
void DrawBand(Canvas& c, const std::vector<ResponseView>& rs, std::size_t band, double x, double y, double w,
              double h, double duration) {
  Panel p = Inside(x, y, w, h);
  double scale = 1;
  p.xa = TimeAxis(duration, scale);
  p.ya = {-80, 5, false, "Level (dB)"};
  const BandDecay* first = nullptr;
  for (const auto& r : rs)
    if (band < r.bands.size()) {
      first = &r.bands[band];
      break;
    }
  if (!first) return;
  DrawAxes(c, p, BandTitle(*first));
  const bool several = rs.size() > 1;
  double textY = p.y + 14;
  for (std::size_t k = 0; k < rs.size(); ++k) {
    const ResponseView& r = rs[k];
    if (band >= r.bands.size()) continue;
    const BandDecay& b = r.bands[band];
    DrawSeries(
        c, p, static_cast<long>(b.levelDb.size()), [&](long i) { return i * scale / r.rate; },
        [&](long i) { return static_cast<double>(b.levelDb[i]); },
        Stroke{several ? SeriesColour(k) : Colour{0.12, 0.30, 0.65}, 1, {}});
    c.PushClip(p.x, p.y, p.w, p.h);
    std::string values;
    for (int f = 0; f < 4; ++f) {
      const FittedLine& line = b.fits[f];
      if (line.valid) {
        const Stroke stroke = several ? Stroke{SeriesColour(k), 1.6, kFitDashes[f]} : Stroke{kFitColours[f], 1.8, {}};
        const double x0 = p.X(line.startSeconds * scale), x1 = p.X(line.endSeconds * scale);
        const double y0 = p.Y(line.startDb), y1 = p.Y(line.endDb);
        c.Polyline({{x0, y0}, {x1, y1}}, stroke);
        // The ends of the fitted range.
        const Stroke mark{stroke.colour, 1, {}};
        c.Polyline({{x0, y0 - 4}, {x0, y0 + 4}}, mark);
        c.Polyline({{x1, y1 - 4}, {x1, y1 + 4}}, mark);
      }
      if (!several) {
        c.Text(p.x + p.w - 6, textY, FitText(line), kTickSize, kFitColours[f], Anchor::End);
        textY += 13;
      } else {
        values += (f ? "  " : "") + FitText(line);
      }
    }
    if (several) {
      c.Text(p.x + p.w - 6, textY, values, kTickSize, SeriesColour(k), Anchor::End);
      textY += 13;
    }
    c.PopClip();
  }
}

void DrawDecay(Canvas& c, const std::vector<ResponseView>& rs, double x, double y, double w, double h) {
  std::size_t bands = 0;
  for (const auto& r : rs) bands = std::max(bands, r.bands.size());
  if (bands == 0) {
    Panel p = Inside(x, y, w, h);
    c.StrokeRect(p.x, p.y, p.w, p.h, Stroke{kFrame, 1, {}});
    c.Text(p.x + p.w / 2, p.y + p.h / 2, "No decay curves: the acoustical parameters were not computed", kLabelSize,
           kGrey, Anchor::Middle);
    return;
  }
  // The legend of the fitted lines, then one panel per band.
  std::vector<LegendEntry> legend;
  const bool several = rs.size() > 1;
  const ResponseView& r0 = rs.front();
  legend.push_back({"Backward-integrated decay", Stroke{several ? kGrey : Colour{0.12, 0.30, 0.65}, 1, {}}});
  const char* names[4] = {"EDT", "RT20", "RT30", "RTU"};
  for (int f = 0; f < 4; ++f) {
    std::string text = names[f];
    for (const auto& band : r0.bands) {
      text += " (" + Format("%g", band.fits[f].rangeTopDb) + " to " + Format("%g", band.fits[f].rangeBottomDb) + " dB)";
      break;
    }
    legend.push_back({text, several ? Stroke{kGrey, 1.6, kFitDashes[f]} : Stroke{kFitColours[f], 1.8, {}}});
  }
  DrawLegendRow(c, x + kLeft, y + 14, legend);
  if (several) {
    std::vector<LegendEntry> names;
    for (std::size_t k = 0; k < rs.size(); ++k) names.push_back({rs[k].name, Stroke{SeriesColour(k), 2, {}}});
    DrawLegendRow(c, x + kLeft, y + 30, names);
  }
  const double top = y + (several ? 36 : 20);
  const int columns = w >= 1000 ? 4 : w >= 600 ? 3 : 2;
  const int rows = static_cast<int>((bands + columns - 1) / columns);
  const double cw = w / columns, ch = (y + h - top) / rows;
  const double duration = Duration(rs);
  for (std::size_t b = 0; b < bands; ++b)
    DrawBand(c, rs, b, x + cw * (b % columns), top + ch * (b / columns), cw, ch, duration);
}

std::string SheetTitle(const std::vector<ResponseView>& rs) {
  if (rs.size() != 1) {
    std::string t;
    for (const auto& r : rs) t += (t.empty() ? "" : ", ") + r.name;
    return t;
  }
  const ResponseView& r = rs.front();
  std::string t = r.name;
  if (r.channels == 2) t += r.channel == 0 ? " (left channel)" : " (right channel)";
  else if (r.channels > 2) t += " (channel " + std::to_string(r.channel + 1) + ")";
  t += ", " + std::to_string(r.rate) + " Hz, " + std::to_string(r.frames) + " frames (" +
       Format("%.3g", static_cast<double>(r.frames) / r.rate) + " s)";
  return t;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char ch) { return std::tolower(ch); });
  return s;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool ParseView(const std::string& text, PlotView& view) {
  const std::string t = Lower(text);
  for (PlotView v : {PlotView::All, PlotView::Ir, PlotView::Etc, PlotView::Magnitude, PlotView::Decay})
    if (t == ViewName(v)) {
      view = v;
      return true;
    }
  return false;
}

const char* ViewName(PlotView view) {
  switch (view) {
    case PlotView::Ir: return "ir";
    case PlotView::Etc: return "etc";
    case PlotView::Magnitude: return "magnitude";
    case PlotView::Decay: return "decay";
    case PlotView::All: break;
  }
  return "all";
}

const char* ViewNames() { return "ir, etc, magnitude, decay"; }

SheetSize DefaultSize(PlotView view) {
  switch (view) {
    case PlotView::All: return {1200, 1500};
    case PlotView::Decay: return {1200, 800};
    default: return {900, 450};
  }
}

void DrawSheet(Canvas& c, const std::vector<ResponseView>& rs, PlotView view, double width, double height) {
  if (rs.empty()) return;
  c.Text(width / 2, 24, SheetTitle(rs), kTitleSize, kBlack, Anchor::Middle, true);
  const double top = 34, h = height - top;
  switch (view) {
    case PlotView::Ir: DrawWaveform(c, rs, 0, top, width, h); break;
    case PlotView::Etc: DrawEtc(c, rs, 0, top, width, h); break;
    case PlotView::Magnitude: DrawMagnitude(c, rs, 0, top, width, h); break;
    case PlotView::Decay: DrawDecay(c, rs, 0, top, width, h); break;
    case PlotView::All: {
      const double row1 = h * 0.23, row2 = h * 0.24;
      DrawWaveform(c, rs, 0, top, width / 2, row1);
      DrawEtc(c, rs, width / 2, top, width / 2, row1);
      DrawMagnitude(c, rs, 0, top + row1, width, row2);
      DrawDecay(c, rs, 0, top + row1 + row2 + 6, width, h - row1 - row2 - 6);
      break;
    }
  }
}

std::string PlotSvg(const std::vector<ResponseView>& responses, PlotView view, double widthPt, double heightPt) {
  SvgCanvas canvas(widthPt, heightPt);
  DrawSheet(canvas, responses, view, widthPt, heightPt);
  return canvas.Finish();
}

std::vector<uint8_t> PlotPng(const std::vector<ResponseView>& responses, PlotView view, int width, int height) {
  ImageCanvas canvas(width, height);
  if (!canvas.ok()) return {};
  DrawSheet(canvas, responses, view, width, height);
  return canvas.Png();
}

bool IsPlotFileName(const std::string& file) {
  const std::string f = Lower(file);
  return EndsWith(f, ".png") || EndsWith(f, ".svg");
}

bool WritePlot(const std::vector<ResponseView>& responses, PlotView view, const std::string& file,
               std::string& error) {
  const SheetSize size = DefaultSize(view);
  if (EndsWith(Lower(file), ".svg")) {
    const std::string svg = PlotSvg(responses, view, size.width, size.height);
    return WriteFileSafely(file, std::vector<uint8_t>(svg.begin(), svg.end()), error);
  }
  if (!EndsWith(Lower(file), ".png")) {
    error = "\"" + file + "\": a plot is written as .png or .svg";
    return false;
  }
  const std::vector<uint8_t> png =
      PlotPng(responses, view, static_cast<int>(size.width), static_cast<int>(size.height));
  if (png.empty()) {
    error = "the picture could not be made";
    return false;
  }
  return WriteFileSafely(file, png, error);
}

}  // namespace tovrel::host::plot
