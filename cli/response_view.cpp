#include "cli/response_view.h"

#include "cli/report_acoustic.h"

namespace tovrel::cli {

std::optional<ResponseView> AnalyseResponse(App& app, const host::Document& response, int channel, std::string& error,
                                            const ResponseOptions& options) {
  host::plot::AnalysisOptions analysis;
  analysis.smoothing = options.smoothing;
  std::optional<ResponseView> view = host::plot::AnalyseSignal(response, channel, options.name, analysis, error);
  if (!view || !options.decay) return view;
  app.LoadModules();
  const std::optional<ModuleResults> module = RunAcousticModule(app, response, error);
  if (!module) return std::nullopt;
  host::plot::AddDecay(*view, response, *module);
  return view;
}

}  // namespace tovrel::cli
