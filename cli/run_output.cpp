#include "cli/run_output.h"

#include <cstdio>

#include "host/user.h"

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
    for (const auto& line : host::DialogTextLines(d->final)) std::fprintf(stderr, "  %s\n", line.c_str());
  }
}

void PrintModuleResultsJson(const host::Module&, const host::RunReport&, host::Json&) {}

}  // namespace tovrel::cli
