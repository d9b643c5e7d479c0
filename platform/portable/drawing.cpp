// Drawing: the GDI subset of the display windows, on Cairo. Each window of a registered
// class has one picture (an RGB image of its client size) that its device contexts draw
// into, in pixel units. Lines and shapes are aliased and sit on pixel centres, as GDI
// draws them; text is grey-antialiased without hinting, so a picture is the same on
// every machine with the same fonts. Faces map to DejaVu (fonts-dejavu-core).
//
// Lock order: the window state's mutex before this file's; nothing here calls into the
// windows while holding its own.

#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/portable/internal.h"

namespace tovrel::portable {
namespace {

enum class Kind { Pen, Brush, Font };

struct GdiObject {
  Kind kind = Kind::Pen;
  bool stock = false;
  bool none = false;  // the null pen or brush: draws nothing
  COLORREF color = 0;
  int width = 1;      // pens
  int height = 0;     // fonts: GDI height (negative: the em size, positive: ascent + descent)
  bool bold = false;
  bool italic = false;
  std::string family;
};

struct Dc {
  uint32_t window = 0;
  cairo_t* cr = nullptr;
  bool paint = false;  // from BeginPaint, else from GetDC
  uint32_t pen = 0, brush = 0, font = 0;
  COLORREF text = RGB(0, 0, 0);
  COLORREF background = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  UINT align = TA_LEFT | TA_TOP;
  int x = 0, y = 0;  // current position
};

struct Surface {
  cairo_surface_t* surface = nullptr;
  int width = 0, height = 0;
};

struct DrawState {
  std::mutex mutex;
  std::unordered_map<uint32_t, GdiObject> objects;
  std::unordered_map<uint32_t, Dc> dcs;
  std::unordered_map<uint32_t, Surface> surfaces;
  uint32_t stock[SYSTEM_FONT + 1] = {};
};

DrawState& State() {
  static DrawState* state = new DrawState;  // never destroyed: used until process exit
  return *state;
}

using Guard = std::lock_guard<std::mutex>;

uint32_t Value(const void* handle) { return detail::HandleValue(handle); }

// The stock objects, made on first use.
uint32_t StockLocked(DrawState& s, int index) {
  if (index < 0 || index > SYSTEM_FONT || (index > NULL_PEN && index != SYSTEM_FONT)) return 0;
  if (s.stock[index] != 0) return s.stock[index];
  GdiObject o;
  o.stock = true;
  static const COLORREF kBrushes[] = {RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128), RGB(64, 64, 64),
                                      RGB(0, 0, 0)};
  if (index <= BLACK_BRUSH) {
    o.kind = Kind::Brush;
    o.color = kBrushes[index];
  } else if (index == NULL_BRUSH) {
    o.kind = Kind::Brush;
    o.none = true;
  } else if (index <= NULL_PEN) {
    o.kind = Kind::Pen;
    o.color = index == WHITE_PEN ? RGB(255, 255, 255) : RGB(0, 0, 0);
    o.none = index == NULL_PEN;
  } else {
    o.kind = Kind::Font;
    o.height = 16;
    o.bold = true;
    o.family = "DejaVu Sans";
  }
  uint32_t handle = detail::NextHandle();
  s.objects.emplace(handle, o);
  s.stock[index] = handle;
  return handle;
}

uint32_t NewObject(GdiObject o) {
  auto& s = State();
  Guard guard(s.mutex);
  uint32_t handle = detail::NextHandle();
  s.objects.emplace(handle, std::move(o));
  return handle;
}

std::string Lower(const char* text) {
  std::string out = text != nullptr ? text : "";
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Helvetica, Arial, MS Sans Serif and the rest: DejaVu Sans; fixed pitch and serif faces
// their DejaVu kin.
std::string FamilyFor(const char* face) {
  std::string f = Lower(face);
  if (f.find("courier") != std::string::npos || f.find("mono") != std::string::npos ||
      f.find("fixed") != std::string::npos)
    return "DejaVu Sans Mono";
  if (f.find("times") != std::string::npos || f.find("roman") != std::string::npos) return "DejaVu Serif";
  return "DejaVu Sans";
}

Surface& SurfaceLocked(DrawState& s, uint32_t window, int width, int height) {
  Surface& surface = s.surfaces[window];
  if (surface.surface == nullptr || surface.width != width || surface.height != height) {
    if (surface.surface != nullptr) cairo_surface_destroy(surface.surface);
    surface.surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(width, 1), std::max(height, 1));
    surface.width = width;
    surface.height = height;
  }
  return surface;
}

HDC OpenDc(HWND window, bool paint, const detail::WindowPaint& info) {
  auto& s = State();
  Guard guard(s.mutex);
  Surface& surface = SurfaceLocked(s, Value(window), info.width, info.height);
  Dc dc;
  dc.window = Value(window);
  dc.cr = cairo_create(surface.surface);
  dc.paint = paint;
  dc.pen = StockLocked(s, BLACK_PEN);
  dc.brush = StockLocked(s, WHITE_BRUSH);
  dc.font = StockLocked(s, SYSTEM_FONT);
  cairo_set_antialias(dc.cr, CAIRO_ANTIALIAS_NONE);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_set_font_options(dc.cr, options);
  cairo_font_options_destroy(options);
  uint32_t handle = detail::NextHandle();
  s.dcs.emplace(handle, dc);
  return detail::MakeHandle<HDC>(handle);
}

bool CloseDc(HWND window, HDC hdc, bool paint) {
  auto& s = State();
  Guard guard(s.mutex);
  auto it = s.dcs.find(Value(hdc));
  if (it == s.dcs.end() || it->second.window != Value(window) || it->second.paint != paint) return false;
  cairo_surface_flush(cairo_get_target(it->second.cr));
  cairo_destroy(it->second.cr);
  s.dcs.erase(it);
  return true;
}

// Runs fn(dc, state) on a live device context under the lock; false when there is none.
template <class Fn>
bool WithDc(HDC hdc, Fn&& fn) {
  auto& s = State();
  Guard guard(s.mutex);
  auto it = s.dcs.find(Value(hdc));
  if (it == s.dcs.end()) return false;
  fn(it->second, s);
  return true;
}

// Sets a field of a device context: its previous value, or `fail` for no context.
template <class T>
T Exchange(HDC hdc, T Dc::*field, T value, T fail) {
  T previous = fail;
  WithDc(hdc, [&](Dc& d, DrawState&) { previous = std::exchange(d.*field, value); });
  return previous;
}

void SetColor(cairo_t* cr, COLORREF c) {
  cairo_set_source_rgb(cr, GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
}

const GdiObject& Selected(DrawState& s, uint32_t handle) { return s.objects.at(handle); }

// Strokes the current path with the selected pen, if it draws.
void StrokeWithPen(Dc& dc, DrawState& s) {
  const GdiObject& pen = Selected(s, dc.pen);
  if (pen.none) {
    cairo_new_path(dc.cr);
    return;
  }
  SetColor(dc.cr, pen.color);
  cairo_set_line_width(dc.cr, std::max(pen.width, 1));
  cairo_set_line_cap(dc.cr, CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(dc.cr, CAIRO_LINE_JOIN_MITER);
  cairo_stroke(dc.cr);
}

// Fills the current path with the selected brush (keeping the path), if it paints.
void FillWithBrush(Dc& dc, DrawState& s) {
  const GdiObject& brush = Selected(s, dc.brush);
  if (brush.none) return;
  SetColor(dc.cr, brush.color);
  cairo_fill_preserve(dc.cr);
}

// A pixel's centre: where GDI's one-pixel lines run.
double Centre(int v) { return v + 0.5; }

void PathOf(cairo_t* cr, const POINT* points, int count) {
  cairo_new_path(cr);
  for (int i = 0; i < count; ++i) cairo_line_to(cr, Centre(points[i].x), Centre(points[i].y));
}

// The font's em size in pixels for a GDI height.
double EmSize(cairo_t* cr, const GdiObject& font) {
  if (font.height < 0) return -font.height;
  int cell = font.height == 0 ? 16 : font.height;
  cairo_set_font_size(cr, 1.0);
  cairo_font_extents_t unit;
  cairo_font_extents(cr, &unit);
  double perEm = unit.ascent + unit.descent;
  return perEm > 0 ? cell / perEm : cell;
}

}  // namespace

namespace detail {

void DropSurface(uint32_t window) {
  auto& s = State();
  Guard guard(s.mutex);
  auto it = s.surfaces.find(window);
  if (it == s.surfaces.end()) return;
  cairo_surface_destroy(it->second.surface);
  s.surfaces.erase(it);
}

}  // namespace detail

// ---- Faces ------------------------------------------------------------------------------

std::optional<Picture> PaintWindow(HWND window) {
  detail::WindowPaint info;
  if (!detail::ClassWindowPaint(window, false, &info)) return std::nullopt;
  InvalidateRect(window, nullptr, TRUE);
  SendMessageA(window, WM_PAINT, 0, 0);
  if (!detail::ClassWindowPaint(window, false, &info)) return std::nullopt;  // it went away meanwhile
  auto& s = State();
  Guard guard(s.mutex);
  Surface& surface = SurfaceLocked(s, Value(window), info.width, info.height);
  cairo_surface_flush(surface.surface);
  Picture picture;
  picture.width = info.width;
  picture.height = info.height;
  picture.pixels.resize(static_cast<std::size_t>(info.width) * info.height);
  const unsigned char* data = cairo_image_surface_get_data(surface.surface);
  const int stride = cairo_image_surface_get_stride(surface.surface);
  for (int y = 0; y < info.height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < info.width; ++x) picture.pixels[static_cast<std::size_t>(y) * info.width + x] = row[x] & 0xFFFFFFu;
  }
  return picture;
}

std::vector<uint8_t> EncodePng(const Picture& picture) {
  std::vector<uint8_t> png;
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.pixels.size() != static_cast<std::size_t>(picture.width) * picture.height)
    return png;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, picture.width, picture.height);
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < picture.height; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
      for (int x = 0; x < picture.width; ++x) row[x] = picture.At(x, y) | 0xFF000000u;
    }
    cairo_surface_mark_dirty(surface);
    auto append = [](void* out, const unsigned char* bytes, unsigned int length) {
      static_cast<std::vector<uint8_t>*>(out)->insert(static_cast<std::vector<uint8_t>*>(out)->end(), bytes,
                                                      bytes + length);
      return CAIRO_STATUS_SUCCESS;
    };
    if (cairo_surface_write_to_png_stream(surface, append, &png) != CAIRO_STATUS_SUCCESS) png.clear();
  }
  cairo_surface_destroy(surface);
  return png;
}

std::optional<Picture> ReadPng(const std::string& path, std::string* error) {
  cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    if (error != nullptr) *error = "cannot read " + path + ": " + cairo_status_to_string(cairo_surface_status(surface));
    cairo_surface_destroy(surface);
    return std::nullopt;
  }
  // Whatever the file's format, as opaque RGB (over black where it is transparent).
  cairo_surface_t* rgb = surface;
  if (cairo_image_surface_get_format(surface) != CAIRO_FORMAT_RGB24) {
    rgb = cairo_image_surface_create(CAIRO_FORMAT_RGB24, cairo_image_surface_get_width(surface),
                                     cairo_image_surface_get_height(surface));
    cairo_t* cr = cairo_create(rgb);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  cairo_surface_flush(rgb);
  Picture picture;
  picture.width = cairo_image_surface_get_width(rgb);
  picture.height = cairo_image_surface_get_height(rgb);
  picture.pixels.resize(static_cast<std::size_t>(picture.width) * picture.height);
  const unsigned char* data = cairo_image_surface_get_data(rgb);
  const int stride = cairo_image_surface_get_stride(rgb);
  for (int y = 0; y < picture.height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < picture.width; ++x)
      picture.pixels[static_cast<std::size_t>(y) * picture.width + x] = row[x] & 0xFFFFFFu;
  }
  cairo_surface_destroy(rgb);
  return picture;
}

long LiveGdiObjects() {
  auto& s = State();
  Guard guard(s.mutex);
  long live = static_cast<long>(s.dcs.size());
  for (const auto& [handle, o] : s.objects) live += o.stock ? 0 : 1;
  return live;
}

}  // namespace tovrel::portable

namespace tp = tovrel::portable;

extern "C" {

HDC WINAPI BeginPaint(HWND window, PAINTSTRUCT* paint) {
  tp::detail::WindowPaint info;
  if (paint == nullptr || !tp::detail::ClassWindowPaint(window, true, &info)) return nullptr;
  HDC dc = tp::OpenDc(window, true, info);
  *paint = PAINTSTRUCT{};
  paint->hdc = dc;
  paint->rcPaint = {0, 0, info.width, info.height};
  // The background first, by the window's procedure (DefWindowProcA: the class's brush).
  paint->fErase = info.erase ? (SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) == 0) : FALSE;
  return dc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint) {
  return paint != nullptr && tp::CloseDc(window, paint->hdc, true) ? TRUE : FALSE;
}

HDC WINAPI GetDC(HWND window) {
  tp::detail::WindowPaint info;
  if (!tp::detail::ClassWindowPaint(window, false, &info)) return nullptr;
  return tp::OpenDc(window, false, info);
}

int WINAPI ReleaseDC(HWND window, HDC dc) { return tp::CloseDc(window, dc, false) ? 1 : 0; }

HPEN WINAPI CreatePen(int style, int width, COLORREF color) {
  if (style != PS_SOLID && style != PS_NULL) return nullptr;
  tp::GdiObject o;
  o.kind = tp::Kind::Pen;
  o.none = style == PS_NULL;
  o.width = std::max(width, 1);
  o.color = color & 0xFFFFFFu;
  return tp::detail::MakeHandle<HPEN>(tp::NewObject(o));
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
  tp::GdiObject o;
  o.kind = tp::Kind::Brush;
  o.color = color & 0xFFFFFFu;
  return tp::detail::MakeHandle<HBRUSH>(tp::NewObject(o));
}

HFONT WINAPI CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                         DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                         DWORD quality, DWORD pitchAndFamily, LPCSTR faceName) {
  tp::GdiObject o;
  o.kind = tp::Kind::Font;
  o.height = height;
  o.bold = weight >= 600;
  o.italic = italic != 0;
  o.family = tp::FamilyFor(faceName);
  return tp::detail::MakeHandle<HFONT>(tp::NewObject(o));
}

HGDIOBJ WINAPI GetStockObject(int object) {
  auto& s = tp::State();
  tp::Guard guard(s.mutex);
  uint32_t handle = tp::StockLocked(s, object);
  return handle != 0 ? tp::detail::MakeHandle<HGDIOBJ>(handle) : nullptr;
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
  uint32_t previous = 0;
  tp::WithDc(dc, [&](tp::Dc& d, tp::DrawState& s) {
    auto it = s.objects.find(tp::Value(object));
    if (it == s.objects.end()) return;
    uint32_t& slot = it->second.kind == tp::Kind::Pen ? d.pen : it->second.kind == tp::Kind::Brush ? d.brush : d.font;
    previous = slot;
    slot = it->first;
  });
  return previous != 0 ? tp::detail::MakeHandle<HGDIOBJ>(previous) : nullptr;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
  auto& s = tp::State();
  tp::Guard guard(s.mutex);
  auto it = s.objects.find(tp::Value(object));
  if (it == s.objects.end()) return FALSE;
  if (it->second.stock) return TRUE;
  for (const auto& [handle, dc] : s.dcs) {
    if (dc.pen == it->first || dc.brush == it->first || dc.font == it->first) return FALSE;
  }
  s.objects.erase(it);
  return TRUE;
}

BOOL WINAPI MoveToEx(HDC dc, int x, int y, POINT* previous) {
  return tp::WithDc(dc, [&](tp::Dc& d, tp::DrawState&) {
    if (previous != nullptr) *previous = {d.x, d.y};
    d.x = x;
    d.y = y;
  });
}

BOOL WINAPI LineTo(HDC dc, int x, int y) {
  return tp::WithDc(dc, [&](tp::Dc& d, tp::DrawState& s) {
    cairo_new_path(d.cr);
    cairo_move_to(d.cr, tp::Centre(d.x), tp::Centre(d.y));
    cairo_line_to(d.cr, tp::Centre(x), tp::Centre(y));
    tp::StrokeWithPen(d, s);
    d.x = x;
    d.y = y;
  });
}

BOOL WINAPI Polyline(HDC dc, const POINT* points, int count) {
  if (points == nullptr || count < 2) return FALSE;
  return tp::WithDc(dc, [&](tp::Dc& d, tp::DrawState& s) {
    tp::PathOf(d.cr, points, count);
    tp::StrokeWithPen(d, s);
  });
}

BOOL WINAPI Polygon(HDC dc, const POINT* points, int count) {
  if (points == nullptr || count < 2) return FALSE;
  return tp::WithDc(dc, [&](tp::Dc& d, tp::DrawState& s) {
    tp::PathOf(d.cr, points, count);
    cairo_close_path(d.cr);
    tp::FillWithBrush(d, s);
    tp::StrokeWithPen(d, s);
  });
}

BOOL WINAPI Ellipse(HDC dc, int left, int top, int right, int bottom) {
  return tp::WithDc(dc, [&](tp::Dc& d, tp::DrawState& s) {
    // Inscribed in the rectangle without its right and bottom edges.
    double rx = (right - left - 1) / 2.0, ry = (bottom - top - 1) / 2.0;
    cairo_new_path(d.cr);
    if (rx > 0 && ry > 0) {
      cairo_save(d.cr);
      cairo_translate(d.cr, left + 0.5 + rx, top + 0.5 + ry);
      cairo_scale(d.cr, rx, ry);
      cairo_arc(d.cr, 0, 0, 1, 0, 2 * M_PI);
      cairo_restore(d.cr);
    }
    tp::FillWithBrush(d, s);
    tp::StrokeWithPen(d, s);
  });
}

BOOL WINAPI Rectangle(HDC dc, int left, int top, int right, int bottom) {
  return tp::WithDc(dc, [&](tp::Dc& d, tp::DrawState& s) {
    cairo_new_path(d.cr);
    cairo_rectangle(d.cr, left, top, right - left, bottom - top);
    tp::FillWithBrush(d, s);
    cairo_new_path(d.cr);
    cairo_rectangle(d.cr, left + 0.5, top + 0.5, right - left - 1, bottom - top - 1);
    tp::StrokeWithPen(d, s);
  });
}

int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  if (rect == nullptr) return 0;
  bool filled = false;
  tp::WithDc(dc, [&](tp::Dc& d, tp::DrawState& s) {
    auto it = s.objects.find(tp::Value(brush));
    if (it == s.objects.end() || it->second.kind != tp::Kind::Brush) return;
    filled = true;
    if (it->second.none) return;
    tp::SetColor(d.cr, it->second.color);
    cairo_new_path(d.cr);
    cairo_rectangle(d.cr, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
    cairo_fill(d.cr);
  });
  return filled ? 1 : 0;
}

BOOL WINAPI TextOutA(HDC dc, int x, int y, LPCSTR text, int length) {
  if (text == nullptr || length < 0) return FALSE;
  std::string s(text, static_cast<std::size_t>(length));
  return tp::WithDc(dc, [&](tp::Dc& d, tp::DrawState& state) {
    const tp::GdiObject& font = tp::Selected(state, d.font);
    cairo_select_font_face(d.cr, font.family.c_str(), font.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                           font.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(d.cr, tp::EmSize(d.cr, font));
    cairo_font_extents_t fe;
    cairo_font_extents(d.cr, &fe);
    cairo_text_extents_t te;
    cairo_text_extents(d.cr, s.c_str(), &te);
    double left = x;
    if ((d.align & TA_CENTER) == TA_CENTER) left = x - te.x_advance / 2;
    else if (d.align & TA_RIGHT) left = x - te.x_advance;
    double baseline = y + fe.ascent;
    if ((d.align & TA_BASELINE) == TA_BASELINE) baseline = y;
    else if (d.align & TA_BOTTOM) baseline = y - fe.descent;
    if (d.bkMode == OPAQUE) {
      tp::SetColor(d.cr, d.background);
      cairo_new_path(d.cr);
      cairo_rectangle(d.cr, std::floor(left), std::floor(baseline - fe.ascent), std::ceil(te.x_advance),
                      std::ceil(fe.ascent + fe.descent));
      cairo_fill(d.cr);
    }
    tp::SetColor(d.cr, d.text);
    cairo_move_to(d.cr, left, baseline);
    cairo_show_text(d.cr, s.c_str());
    cairo_new_path(d.cr);
  });
}

COLORREF WINAPI SetTextColor(HDC dc, COLORREF color) {
  return tp::Exchange(dc, &tp::Dc::text, color & 0xFFFFFFu, static_cast<COLORREF>(CLR_INVALID));
}

COLORREF WINAPI SetBkColor(HDC dc, COLORREF color) {
  return tp::Exchange(dc, &tp::Dc::background, color & 0xFFFFFFu, static_cast<COLORREF>(CLR_INVALID));
}

int WINAPI SetBkMode(HDC dc, int mode) {
  return mode == OPAQUE || mode == TRANSPARENT ? tp::Exchange(dc, &tp::Dc::bkMode, mode, 0) : 0;
}

UINT WINAPI SetTextAlign(HDC dc, UINT align) {
  return tp::Exchange(dc, &tp::Dc::align, align, static_cast<UINT>(GDI_ERROR));
}

}  // extern "C"
