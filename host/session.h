// One run of a module against a document: the context record the module sees, and
// the host callbacks behind it. The callbacks take no context argument, so they
// find the running session through a process-wide pointer.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "frame/xfm.h"
#include "host/document.h"

namespace tovrel::host {

class Session {
 public:
  Session(Document& doc, std::string caption, std::string tempDir);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  XfmContext& context() { return context_; }
  Document& document() { return doc_; }

  // The progress bar on a terminal (stderr), drawn only when enabled.
  void ShowProgress(bool enabled) { showProgress_ = enabled; }
  // Sets the cancel flag at the k-th progress report (1-based; 0 never): a user who
  // presses Cancel at that moment.
  void CancelAtReport(long k) { cancelAtReport_ = k; }
  long progressReports() const { return progressReports_; }
  const std::vector<std::string>& statusTexts() const { return statusTexts_; }
  bool wroteSamples() const { return wrote_; }
  bool cancelled() const { return cancel_ != 0; }
  bool interrupted() const { return interrupted_; }

  // Ctrl-C sets the cancel flag at the next progress report while installed.
  void InstallInterruptHandler();
  void RemoveInterruptHandler();

  // Callbacks, on the session that is running.
  static LONG WINAPI DialogInit(HWND window, LONG zero);
  static LONG WINAPI ReadSamples(void* buffer, LONG byteOffset, LONG byteCount);
  static SHORT WINAPI WriteSamples(const void* buffer, LONG byteOffset, LONG byteCount);
  static LONG WINAPI Progress(LONG done, LONG total);
  static LONG WINAPI StatusText(LPCSTR text, LONG zero);
  static LONG WINAPI EndProgress();
  static LONG WINAPI TempFileName(LPCSTR prefix, LPSTR buffer);
  static LONG WINAPI DeleteSamples(LONG byteOffset, LONG byteCount);
  static LONG WINAPI InsertSamples(LONG byteOffset, LONG byteCount);

 private:
  void DrawBar(long done, long total);
  void ClearBar();

  Document& doc_;
  std::string caption_;
  std::string tempDir_;
  XfmContext context_{};
  LONG cancel_ = 0;
  bool showProgress_ = false;
  bool barShown_ = false;
  int lastPercent_ = -1;
  long cancelAtReport_ = 0;
  long progressReports_ = 0;
  bool wrote_ = false;
  bool interrupted_ = false;
  std::string status_;
  std::vector<std::string> statusTexts_;
  std::vector<std::string> tempFiles_;
  std::mutex documentMutex_;  // the preview thread reads while the dialog thread may not write
  Session* previous_ = nullptr;
  void* oldHandler_ = nullptr;
};

}  // namespace tovrel::host
