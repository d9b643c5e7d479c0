#include "frame/progress.h"

#include "frame/xfm.h"

void HostProgress::Begin(const char* text) const {
  if (context_->statusText) context_->statusText(text, 0);
}

bool HostProgress::Report(long done, long total) const {
  if (context_->progress) context_->progress(static_cast<LONG>(done), static_cast<LONG>(total));
  return !(context_->cancelFlag && *context_->cancelFlag != 0);
}

void HostProgress::End() const {
  if (context_->endProgress) context_->endProgress();
}
