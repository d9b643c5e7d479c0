// Progress and cancel: the host's protocol, and the callback the kernels take.
#pragma once

#include <functional>

#include "frame/xfm.h"

// What a kernel calls at its chosen steps; false means the user asked to stop.
// An empty function never cancels.
using ProgressFn = std::function<bool(long done, long total)>;

// The host's side: statusText before the work, progress then cancelFlag at each step,
// endProgress after it; each call skipped when the host gave no callback.
class HostProgress {
 public:
  explicit HostProgress(XfmContext* context) : context_(context) {}

  void Begin(const char* text) const {
    if (context_->statusText) context_->statusText(text, 0);
  }
  // Reports and reads the cancel flag; false once the user asked to stop.
  bool Report(long done, long total) const {
    if (context_->progress) context_->progress(static_cast<LONG>(done), static_cast<LONG>(total));
    return !(context_->cancelFlag && *context_->cancelFlag != 0);
  }
  void End() const {
    if (context_->endProgress) context_->endProgress();
  }
  // The same protocol as a kernel callback.
  ProgressFn Callback() const {
    return [this](long done, long total) { return Report(done, total); };
  }

 private:
  XfmContext* context_;
};
