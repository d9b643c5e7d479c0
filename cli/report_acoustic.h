// What "Calculate Acoustical Parameters" hands on through "Copy to Clipboard": its report
// text, read back into JSON, and the demo's comparison of two responses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/app.h"
#include "host/core/document.h"
#include "host/core/json.h"
#include "host/plot/analysis.h"
#include "host/runner.h"

namespace tovrel::cli {

// The settings (from the run's parameter block), the report text and, per channel and
// row, every parameter with its validity and the row's noise correction. Infinite C50 or
// C80 (no late energy left after noise correction) read "inf" or "-inf" as text and as
// JSON value. Null when the text is no report.
host::Json AcousticJson(const std::string& reportText, const std::vector<uint8_t>& block);

// Runs the acoustic module (with the given options, batch mode aside) on a recovered response and on the
// true one, and prints their parameters side by side under the heading. False, with the
// reason on stderr, when the module is missing or a run did not complete.
bool PrintAcousticComparison(App& app, const host::RunOptions& options, const host::Document& recovered,
                             const host::Document& truth, const std::string& heading);

// Runs "Calculate Acoustical Parameters" on the whole of a response with the stored settings
// (leaving them as they are) and reads its report and settings. Nothing, with the module's
// message, when it is missing or did not complete (no first arrival, say).
std::optional<host::plot::ModuleResults> RunAcousticModule(App& app, const host::Document& response,
                                                           std::string& error);

}  // namespace tovrel::cli
