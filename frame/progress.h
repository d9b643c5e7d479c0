// Progress and cancel: the callback the kernels take, and the host's protocol behind it.
// Kernels include this without the platform: the host record is only named here.
#pragma once

#include <functional>

struct XfmContext;

// What a kernel calls at its chosen steps; false means the user asked to stop.
// An empty function never cancels.
using ProgressFn = std::function<bool(long done, long total)>;

// The host's side: statusText before the work, progress then cancelFlag at each step,
// endProgress after it; each call skipped when the host gave no callback.
class HostProgress {
 public:
  explicit HostProgress(XfmContext* context) : context_(context) {}

  void Begin(const char* text) const;
  // Reports and reads the cancel flag; false once the user asked to stop.
  bool Report(long done, long total) const;
  void End() const;
  // The same protocol as a kernel callback.
  ProgressFn Callback() const {
    return [this](long done, long total) { return Report(done, total); };
  }

 private:
  XfmContext* context_;
};
