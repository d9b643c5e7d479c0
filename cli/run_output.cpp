#include "cli/run_output.h"

#include <cstdio>

namespace tovrel::cli {

void PrintResultDialogs(const host::Module&, const host::RunReport& report) {
  bool first = true;
  for (const auto& e : report.journal) {
    auto* d = std::get_if<portable::DialogEvent>(&e);
    if (!d) continue;
    // The first dialog is the settings dialog; the ones after it show results.
    if (first) {
      first = false;
      continue;
    }
    std::fprintf(stderr, "%s\n", d->final.caption.c_str());
    for (const auto& c : d->final.controls) {
      if (c.kind != portable::ControlKind::Static || !c.visible || c.text.empty()) continue;
      std::fprintf(stderr, "  %s\n", c.text.c_str());
    }
  }
}

void PrintModuleResultsJson(const host::Module&, const host::RunReport&, host::Json&) {}

}  // namespace tovrel::cli
