// What a run shows a person, and what modules add to the JSON report.
#pragma once

#include "host/core/json.h"
#include "host/modules.h"
#include "host/runner.h"

namespace tovrel::cli {

// The texts of the result dialogs a run showed, on stderr.
void PrintResultDialogs(const host::Module& module, const host::RunReport& report);

// Results particular to a module (the acoustic report, say), added to the JSON object.
void PrintModuleResultsJson(const host::Module& module, const host::RunReport& report, host::Json& json);

}  // namespace tovrel::cli
