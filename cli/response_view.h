// The analysis of one impulse response that the plots and the report show: its waveform,
// energy-time curve and smoothed magnitude, and per octave band the decay with what the
// acoustic module reported (host/plot/analysis.h has the fields).
#pragma once

#include <optional>
#include <string>

#include "cli/app.h"
#include "host/core/document.h"
#include "host/plot/analysis.h"

namespace tovrel::cli {

using host::plot::BandDecay;
using host::plot::FittedLine;
using host::plot::ModuleResults;
using host::plot::ResponseView;

struct ResponseOptions {
  std::string name = "response";  // shown in titles and legends: the file name, or "clipboard"
  int smoothing = 3;              // magnitude smoothed over 1/smoothing octave; 0 for none
  bool decay = true;              // run the acoustic module for the decay bands and parameters
};

// One channel (0 left or mono, 1 right) of a response. Nothing, with a message, when the
// channel does not exist, the response is too short or silent, or (with decay) the acoustic
// module is missing or does not complete on it (its own message: no first arrival, say).
std::optional<ResponseView> AnalyseResponse(App& app, const host::Document& response, int channel, std::string& error,
                                            const ResponseOptions& options = {});

}  // namespace tovrel::cli
