// The harness's file-filter mode: a TIM file read through the filter DLL, a document
// written through it, in the host's call sequence, reported as JSON.
#pragma once

#include <windows.h>

#include "host/core/json.h"

namespace harness {

// True when the options ask for the filter mode (--filter-read or --filter-write).
bool IsFilterRun(int argc, char** argv);

// Runs the filter mode; `frame` owns the options dialog, `reportWatch` adds what the
// watch saw (dialogs, message boxes, help, beeps) to the report. The process exit code.
int RunFilter(int argc, char** argv, HWND frame, void (*reportWatch)(tovrel::host::Json&));

}  // namespace harness
