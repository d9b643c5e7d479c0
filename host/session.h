// The tovrel host's front on the shared session (host/core/session.h): temporary files
// in the host's temporary folder, a progress bar on the terminal, Ctrl-C as Cancel.
#pragma once

#include <string>

#include "host/core/session.h"

namespace tovrel::host {

// TMPDIR when set, else /tmp.
std::string TemporaryFolder();

class TerminalFront : public core::Front {
 public:
  explicit TerminalFront(std::string tempDir) : tempDir_(std::move(tempDir)) {}
  ~TerminalFront() override;

  std::string CreateTempFile(const std::string& prefix) override;
  void ShowProgress(long done, long total, const std::string& status) override;
  void EndProgress() override { ClearBar(); }
  bool TakeInterrupt() override;

  // The progress bar on stderr, drawn only when enabled.
  void EnableProgressBar(bool enabled) { showProgress_ = enabled; }
  // Ctrl-C (or SIGTERM) sets the cancel flag at the next progress report while installed
  // (host/interrupt.h).
  void InstallInterruptHandler();
  void RemoveInterruptHandler();

 private:
  void ClearBar();

  std::string tempDir_;
  bool showProgress_ = false;
  bool barShown_ = false;
  int lastPercent_ = -1;
  std::string lastStatus_;
  bool watching_ = false;
};

// A session of the tovrel host: the shared session with the terminal front.
class Session : private TerminalFront, public core::Session {
 public:
  Session(Document& doc, std::string caption, std::string tempDir = TemporaryFolder())
      : TerminalFront(std::move(tempDir)), core::Session(doc, std::move(caption), static_cast<TerminalFront&>(*this)) {}

  TerminalFront& front() { return *this; }
  void ShowProgress(bool enabled) { EnableProgressBar(enabled); }
  using TerminalFront::InstallInterruptHandler;
  using TerminalFront::RemoveInterruptHandler;
};

}  // namespace tovrel::host
