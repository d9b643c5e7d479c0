#include "host/plot/canvas.h"

#include <cairo.h>

#include <cstdio>

namespace tovrel::host::plot {

namespace {

constexpr char kFont[] = "DejaVu Sans";

void SelectFont(cairo_t* cr, double size, bool bold) {
  cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
}

// Outlines as they are (no hinting), so that the same text has the same width anywhere.
void PlainFontOptions(cairo_t* cr) {
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_set_font_options(cr, options);
  cairo_font_options_destroy(options);
}

// A number for SVG: two decimals at most, without trailing zeros.
std::string Num(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  std::string s = text;
  s.erase(s.find_last_not_of('0') + 1);
  if (s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

std::string Rgb(const Colour& c) {
  char text[32];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<int>(c.r * 255 + 0.5), static_cast<int>(c.g * 255 + 0.5),
                static_cast<int>(c.b * 255 + 0.5));
  return text;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        // Control characters have no place in XML text.
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
  }
  return out;
}

std::string StrokeAttributes(const Stroke& s) {
  std::string a = " fill=\"none\" stroke=\"" + Rgb(s.colour) + "\" stroke-width=\"" + Num(s.width) + "\"";
  if (!s.dash.empty()) {
    a += " stroke-dasharray=\"";
    for (std::size_t k = 0; k < s.dash.size(); ++k) a += (k ? "," : "") + Num(s.dash[k]);
    a += "\"";
  }
  return a;
}

}  // namespace

double TextWidth(const std::string& text, double size, bool bold) {
  // One small surface per thread, only for its font metrics.
  struct Scratch {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    cairo_t* cr = cairo_create(surface);
    Scratch() { PlainFontOptions(cr); }
    ~Scratch() {
      cairo_destroy(cr);
      cairo_surface_destroy(surface);
    }
  };
  thread_local Scratch scratch;
  SelectFont(scratch.cr, size, bold);
  cairo_text_extents_t e;
  cairo_text_extents(scratch.cr, text.c_str(), &e);
  return e.x_advance;
}

SvgCanvas::SvgCanvas(double width, double height) {
  out_ = "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + Num(width) + "\" height=\"" +
         Num(height) + "\" viewBox=\"0 0 " + Num(width) + " " + Num(height) +
         "\" font-family=\"DejaVu Sans, Verdana, sans-serif\">\n<rect width=\"" + Num(width) + "\" height=\"" +
         Num(height) + "\" fill=\"#ffffff\"/>\n";
}

void SvgCanvas::Polyline(const std::vector<Point>& points, const Stroke& stroke) {
  if (points.size() < 2) return;
  out_ += "<polyline points=\"";
  for (std::size_t k = 0; k < points.size(); ++k) out_ += (k ? " " : "") + Num(points[k].x) + "," + Num(points[k].y);
  out_ += "\"" + StrokeAttributes(stroke) + " stroke-linejoin=\"round\"/>\n";
}

void SvgCanvas::FillRect(double x, double y, double w, double h, const Colour& fill) {
  out_ += "<rect x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" width=\"" + Num(w) + "\" height=\"" + Num(h) + "\" fill=\"" +
          Rgb(fill) + "\"/>\n";
}

void SvgCanvas::StrokeRect(double x, double y, double w, double h, const Stroke& stroke) {
  out_ += "<rect x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" width=\"" + Num(w) + "\" height=\"" + Num(h) + "\"" +
          StrokeAttributes(stroke) + "/>\n";
}

void SvgCanvas::Text(double x, double y, const std::string& text, double size, const Colour& colour, Anchor anchor,
                     bool bold, bool vertical) {
  out_ += "<text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" font-size=\"" + Num(size) + "\" fill=\"" + Rgb(colour) + "\"";
  if (anchor == Anchor::Middle) out_ += " text-anchor=\"middle\"";
  if (anchor == Anchor::End) out_ += " text-anchor=\"end\"";
  if (bold) out_ += " font-weight=\"bold\"";
  if (vertical) out_ += " transform=\"rotate(-90 " + Num(x) + " " + Num(y) + ")\"";
  out_ += ">" + Escaped(text) + "</text>\n";
}

void SvgCanvas::PushClip(double x, double y, double w, double h) {
  // A nested viewport with the same coordinates clips without naming a clip path.
  const std::string box = Num(x) + " " + Num(y) + " " + Num(w) + " " + Num(h);
  out_ += "<svg x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" width=\"" + Num(w) + "\" height=\"" + Num(h) +
          "\" viewBox=\"" + box + "\" overflow=\"hidden\">\n";
  ++clips_;
}

void SvgCanvas::PopClip() {
  if (clips_ == 0) return;
  out_ += "</svg>\n";
  --clips_;
}

std::string SvgCanvas::Finish() {
  while (clips_ > 0) PopClip();
  return out_ + "</svg>\n";
}

struct ImageCanvas::State {
  cairo_surface_t* surface = nullptr;
  cairo_t* cr = nullptr;
};

ImageCanvas::ImageCanvas(int width, int height) : state_(std::make_unique<State>()) {
  state_->surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  state_->cr = cairo_create(state_->surface);
  PlainFontOptions(state_->cr);
  cairo_set_source_rgb(state_->cr, 1, 1, 1);
  cairo_paint(state_->cr);
}

ImageCanvas::~ImageCanvas() {
  cairo_destroy(state_->cr);
  cairo_surface_destroy(state_->surface);
}

bool ImageCanvas::ok() const {
  return cairo_surface_status(state_->surface) == CAIRO_STATUS_SUCCESS && cairo_status(state_->cr) == CAIRO_STATUS_SUCCESS;
}

namespace {
void ApplyStroke(cairo_t* cr, const Stroke& s) {
  cairo_set_source_rgb(cr, s.colour.r, s.colour.g, s.colour.b);
  cairo_set_line_width(cr, s.width);
  cairo_set_dash(cr, s.dash.empty() ? nullptr : s.dash.data(), static_cast<int>(s.dash.size()), 0);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_stroke(cr);
}
}  // namespace

void ImageCanvas::Polyline(const std::vector<Point>& points, const Stroke& stroke) {
  if (points.size() < 2) return;
  cairo_t* cr = state_->cr;
  cairo_new_path(cr);
  for (const Point& p : points) cairo_line_to(cr, p.x, p.y);
  ApplyStroke(cr, stroke);
}

void ImageCanvas::FillRect(double x, double y, double w, double h, const Colour& fill) {
  cairo_t* cr = state_->cr;
  cairo_new_path(cr);
  cairo_rectangle(cr, x, y, w, h);
  cairo_set_source_rgb(cr, fill.r, fill.g, fill.b);
  cairo_fill(cr);
}

void ImageCanvas::StrokeRect(double x, double y, double w, double h, const Stroke& stroke) {
  cairo_t* cr = state_->cr;
  cairo_new_path(cr);
  cairo_rectangle(cr, x, y, w, h);
  ApplyStroke(cr, stroke);
}

void ImageCanvas::Text(double x, double y, const std::string& text, double size, const Colour& colour, Anchor anchor,
                       bool bold, bool vertical) {
  cairo_t* cr = state_->cr;
  SelectFont(cr, size, bold);
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  const double shift = anchor == Anchor::Start ? 0.0 : anchor == Anchor::Middle ? e.x_advance / 2 : e.x_advance;
  cairo_save(cr);
  cairo_translate(cr, x, y);
  if (vertical) cairo_rotate(cr, -1.5707963267948966);
  cairo_move_to(cr, -shift, 0);
  cairo_set_source_rgb(cr, colour.r, colour.g, colour.b);
  cairo_show_text(cr, text.c_str());
  cairo_restore(cr);
}

void ImageCanvas::PushClip(double x, double y, double w, double h) {
  cairo_t* cr = state_->cr;
  cairo_save(cr);
  cairo_new_path(cr);
  cairo_rectangle(cr, x, y, w, h);
  cairo_clip(cr);
}

void ImageCanvas::PopClip() { cairo_restore(state_->cr); }

std::vector<uint8_t> ImageCanvas::Png() {
  std::vector<uint8_t> bytes;
  cairo_surface_flush(state_->surface);
  auto write = [](void* closure, const unsigned char* data, unsigned int length) {
    auto* out = static_cast<std::vector<uint8_t>*>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
  };
  if (cairo_surface_write_to_png_stream(state_->surface, write, &bytes) != CAIRO_STATUS_SUCCESS) bytes.clear();
  return bytes;
}

}  // namespace tovrel::host::plot
