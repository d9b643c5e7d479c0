// Plots of impulse responses: the waveform, the energy-time curve, the magnitude response
// and the octave-band decays, one view or all of them on one sheet, as SVG or PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/plot/analysis.h"
#include "host/plot/canvas.h"

namespace tovrel::host::plot {

enum class PlotView { All, Ir, Etc, Magnitude, Decay };

// "all", "ir", "etc", "magnitude", "decay"; false for anything else.
bool ParseView(const std::string& text, PlotView& view);
const char* ViewName(PlotView view);
// The names a user may give, for messages: "ir, etc, magnitude, decay".
const char* ViewNames();

// The size a view is drawn at when none is asked for, in points (pixels for PNG).
struct SheetSize {
  double width, height;
};
SheetSize DefaultSize(PlotView view);

// Draws the view of the responses (over each other, with a legend, when there are
// several) on a canvas of width x height. The decay view needs the module's results: a
// response without them shows why in its place.
void DrawSheet(Canvas& canvas, const std::vector<ResponseView>& responses, PlotView view, double width,
               double height);

// The view as SVG text (for a page to embed inline) or PNG bytes.
std::string PlotSvg(const std::vector<ResponseView>& responses, PlotView view, double widthPt, double heightPt);
std::vector<uint8_t> PlotPng(const std::vector<ResponseView>& responses, PlotView view, int width, int height);

// Whether a file name ends in .png or .svg (case-insensitive).
bool IsPlotFileName(const std::string& file);

// Writes the view at its default size to FILE.png or FILE.svg, safely (nothing is left half
// written); false with the reason.
bool WritePlot(const std::vector<ResponseView>& responses, PlotView view, const std::string& file,
               std::string& error);

}  // namespace tovrel::host::plot
