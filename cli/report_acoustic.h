// What "Calculate Acoustical Parameters" found, for a person and as JSON. The module
// shows its results in a dialog and hands them on only through "Copy to Clipboard";
// the command recomputes them from the document's selection with the settings the run
// used (the same kernels on the same samples, so the same values and the same text).
#pragma once

#include <optional>
#include <string>

#include "cli/app.h"
#include "host/core/document.h"
#include "host/core/json.h"
#include "host/modules.h"
#include "host/runner.h"

namespace tovrel::cli {

// The report text exactly as "Copy to Clipboard" places it; nothing when the module is
// not the acoustic one or its analysis did not complete.
std::optional<std::string> AcousticReportText(const host::Module& module, const host::Document& doc,
                                              const host::RunReport& report);

// Prints the report on stdout; false when there is none.
bool PrintAcousticReport(const host::Module& module, const host::Document& doc, const host::RunReport& report);

// Adds "acoustic": settings, the report text and, per channel and row, every parameter
// with its validity and the row's noise correction. Infinite C50 or C80 (no late
// energy left after noise correction) read "inf" or "-inf" as text and as JSON value.
void AddAcousticJson(const host::Module& module, const host::Document& doc, const host::RunReport& report,
                     host::Json& json);

// The same object for a response of any document (used by the demo).
host::Json AcousticJson(const host::Document& doc);
std::optional<std::string> AcousticReportText(const host::Document& doc);

// Runs the acoustic module (with the given options) on a recovered response and on the
// true one, and prints their parameters side by side under the heading. False, with the
// reason on stderr, when the module is missing or a run did not complete.
bool PrintAcousticComparison(App& app, const host::RunOptions& options, const host::Document& recovered,
                             const host::Document& truth, const std::string& heading);

}  // namespace tovrel::cli
