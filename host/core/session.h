// One run of a module against a document, the same for the tovrel host and the Win32
// harness: the context record the module sees, the host callbacks behind it, and the
// rule for what XfmDo's result does to the document and the selection.
//
// The callbacks take no context argument, so they find the running session through a
// process-wide pointer. What differs between the two hosts (naming temporary files,
// drawing progress, an interrupt from the terminal) is asked of a Front.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "frame/xfm.h"
#include "host/core/document.h"

namespace tovrel::host::core {

class Front {
 public:
  virtual ~Front() = default;
  // Creates a fresh, empty file whose name starts with the prefix in the host's
  // temporary folder and returns its path (shorter than MAX_PATH); empty on failure.
  virtual std::string CreateTempFile(const std::string& prefix) = 0;
  // A progress report and the end of the progress display, for the user to see.
  virtual void ShowProgress(long /*done*/, long /*total*/, const std::string& /*status*/) {}
  virtual void EndProgress() {}
  // Whether the user interrupted the run since the last call (Ctrl-C on a terminal).
  virtual bool TakeInterrupt() { return false; }
};

// What XfmDo's result does, by the kind of module:
// - a generator replaces the selection with the `result` frames it wrote from selStart,
//   provided it wrote, the result is not negative and equals the length announced in
//   the settings dialog (outputLength, when set); otherwise the document and the
//   selection are restored as they were before XfmDo;
// - an analyser (deconvolver, parameter table, filter design) leaves document and
//   selection as they are;
// - a convolver has grown the document through insertSamples; its result is the new
//   selection length, which sets selEnd (a result that would reach past the document's
//   end is refused and leaves the selection).
// `before` is the document as XfmDo found it. False when the result was refused.
bool ApplyResult(DWORD kind, const Document& before, Document& doc, LONG result, bool wrote,
                 LONG announced /* -1: none */);

class Session {
 public:
  Session(Document& doc, std::string caption, Front& front);
  ~Session();  // removes every temporary file the run named
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  XfmContext& context() { return context_; }
  Document& document() { return doc_; }

  // Sets the cancel flag from the k-th progress report on (1-based; 0 never): a user
  // who presses Cancel at that moment.
  void CancelAtReport(long k) { cancelAtReport_ = k; }

  // Runs XfmDo with the context's selection as the document's, then applies the result
  // (ApplyResult) and brings the context's selection to the document's. `accepted` says
  // whether the result was taken.
  LONG Do(XfmDoFn run, DWORD kind, bool* accepted = nullptr);

  // What the callbacks saw.
  long progressReports() const { return progressReports_; }
  LONG lastDone() const { return lastDone_; }
  LONG lastTotal() const { return lastTotal_; }
  long endProgressCalls() const { return endProgressCalls_; }
  long dialogInitCalls() const { return dialogInitCalls_; }
  long badCalls() const { return badCalls_; }  // reads, writes, inserts, deletes out of bounds
  const std::vector<std::string>& statusTexts() const { return statusTexts_; }
  const std::vector<std::string>& tempFiles() const { return tempFiles_; }
  bool wroteSamples() const { return wrote_; }
  bool cancelled() const { return cancel_ != 0; }
  bool interrupted() const { return interrupted_; }

  // The callbacks, on the session that is running.
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
  LONG Resize(LONG byteOffset, LONG byteCount, bool insert);

  Document& doc_;
  std::string caption_;
  Front& front_;
  XfmContext context_{};
  LONG cancel_ = 0;
  long cancelAtReport_ = 0;
  long progressReports_ = 0;
  LONG lastDone_ = 0, lastTotal_ = 0;
  long endProgressCalls_ = 0;
  long dialogInitCalls_ = 0;
  long badCalls_ = 0;
  bool wrote_ = false;
  bool interrupted_ = false;
  std::string status_;
  std::vector<std::string> statusTexts_;
  std::vector<std::string> tempFiles_;
  std::mutex documentMutex_;  // the preview thread reads while the dialog thread may not write
  Session* previous_ = nullptr;
};

}  // namespace tovrel::host::core
