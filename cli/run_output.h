// What a run shows a person, and what modules add to the JSON report.
#pragma once

#include "host/core/json.h"
#include "host/modules.h"
#include "host/runner.h"

namespace tovrel::cli {

// The texts of the result dialogs a run showed, on stderr.
void PrintResultDialogs(const host::Module& module, const host::RunReport& report);

// The texts the run's result dialogs handed on, on stdout; false when there were none.
bool PrintResultTexts(const host::RunReport& report);

// The figures of the result dialogs, the parameter block the run left, and what a
// module's result texts hold (the acoustic report's values, say) under the module's key.
void PrintModuleResultsJson(const host::Module& module, const host::RunReport& report, host::Json& json);

}  // namespace tovrel::cli
