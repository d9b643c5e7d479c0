// Ctrl-C (SIGINT) and SIGTERM as Cancel: while work that can be cancelled is under way
// (a run, a file being written), the first one sets a flag that the work checks (a run
// cancels at its next progress report, a file being written is abandoned). Any other
// one removes the temporary files registered here and ends the process as the signal
// would.
#pragma once

namespace tovrel::host {

// Installs the handlers (once; later calls do nothing).
void InstallInterruptHandling();
bool Interrupted();
void ClearInterrupt();

// Marks work that checks the flag, for the span of a scope (nestable).
class CancellableWork {
 public:
  CancellableWork();
  ~CancellableWork();
  CancellableWork(const CancellableWork&) = delete;
  CancellableWork& operator=(const CancellableWork&) = delete;
};

// A file to remove if the process is ended by a signal while it exists. The slot is
// given back with UnregisterTemporary; -1 when every slot is taken (the file is then
// removed only by the normal paths).
int RegisterTemporary(const char* path);
void UnregisterTemporary(int slot);

}  // namespace tovrel::host
