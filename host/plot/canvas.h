// The few drawing operations a plot needs, on two surfaces: a Cairo image (PNG) and SVG
// text. The SVG is written directly (real <text> elements, no ids), so that its labels can
// be read and searched and several plots can sit inline in one HTML page. Both surfaces
// measure text with the same font (DejaVu Sans through Cairo), so they lay out alike.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tovrel::host::plot {

struct Colour {
  double r = 0, g = 0, b = 0;
};

struct Point {
  double x = 0, y = 0;
};

enum class Anchor { Start, Middle, End };

struct Stroke {
  Colour colour;
  double width = 1.0;
  std::vector<double> dash;  // on, off, ... lengths; empty: solid
};

class Canvas {
 public:
  virtual ~Canvas() = default;
  // Straight segments through the points.
  virtual void Polyline(const std::vector<Point>& points, const Stroke& stroke) = 0;
  virtual void FillRect(double x, double y, double w, double h, const Colour& fill) = 0;
  virtual void StrokeRect(double x, double y, double w, double h, const Stroke& stroke) = 0;
  // Text whose baseline starts, centres or ends at (x, y); rotated by -90 degrees (reading
  // upwards) when `vertical`.
  virtual void Text(double x, double y, const std::string& text, double size, const Colour& colour,
                    Anchor anchor = Anchor::Start, bool bold = false, bool vertical = false) = 0;
  // Drawing after PushClip stays inside the rectangle until PopClip.
  virtual void PushClip(double x, double y, double w, double h) = 0;
  virtual void PopClip() = 0;
};

// Width of a text line in the plots' font.
double TextWidth(const std::string& text, double size, bool bold = false);

// An SVG document of width x height points; Finish() returns its text.
class SvgCanvas : public Canvas {
 public:
  SvgCanvas(double width, double height);
  void Polyline(const std::vector<Point>& points, const Stroke& stroke) override;
  void FillRect(double x, double y, double w, double h, const Colour& fill) override;
  void StrokeRect(double x, double y, double w, double h, const Stroke& stroke) override;
  void Text(double x, double y, const std::string& text, double size, const Colour& colour, Anchor anchor, bool bold,
            bool vertical) override;
  void PushClip(double x, double y, double w, double h) override;
  void PopClip() override;
  std::string Finish();

 private:
  std::string out_;
  int clips_ = 0;
};

// A Cairo image of width x height pixels (one pixel per point), white; Png() encodes it.
class ImageCanvas : public Canvas {
 public:
  ImageCanvas(int width, int height);
  ~ImageCanvas() override;
  ImageCanvas(const ImageCanvas&) = delete;
  ImageCanvas& operator=(const ImageCanvas&) = delete;
  bool ok() const;
  void Polyline(const std::vector<Point>& points, const Stroke& stroke) override;
  void FillRect(double x, double y, double w, double h, const Colour& fill) override;
  void StrokeRect(double x, double y, double w, double h, const Stroke& stroke) override;
  void Text(double x, double y, const std::string& text, double size, const Colour& colour, Anchor anchor, bool bold,
            bool vertical) override;
  void PushClip(double x, double y, double w, double h) override;
  void PopClip() override;
  // The picture as PNG bytes (empty when it could not be encoded).
  std::vector<uint8_t> Png();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tovrel::host::plot
