// Plots of analysed responses as SVG (for a page to embed) or PNG/SVG files
// (host/plot/sheet.h draws them).
#pragma once

#include "cli/response_view.h"
#include "host/plot/sheet.h"

namespace tovrel::cli {

using host::plot::DefaultSize;
using host::plot::ParseView;
using host::plot::PlotPng;
using host::plot::PlotSvg;
using host::plot::PlotView;
using host::plot::ViewName;
using host::plot::WritePlot;

}  // namespace tovrel::cli
