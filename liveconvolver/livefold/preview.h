// Preview playback of the real-time convolver's settings dialog: a worker thread convolves
// the selection block by block with the settings as they stood at the start and plays it
// on a wave output device, looping, until the dialog stops it.
//
// The worker never waits for the dialog's thread: it posts its status texts, its
// questions and its end to the dialog, which hands every message to PreviewMessage first.
// Stopping sets a flag the worker checks between blocks and while it waits for the
// device, then waits for the worker, which gives back the device and every buffer itself.
#pragma once

#include "frame/xfm.h"
#include "liveconvolver/livefold/livefold_block.h"
#include "platform/win.h"

// Button 1229 and the status line 1250 of the dialog.
inline constexpr int kPreviewButton = 1229;
inline constexpr int kPreviewStatusLine = 1250;

// The messages the worker posts to the dialog (wParam: the preview's number).
inline constexpr UINT kPreviewStatusMessage = WM_USER + 0x4C0;  // the status text changed
inline constexpr UINT kPreviewQuestionMessage = WM_USER + 0x4C1;  // a question waits for its answer
inline constexpr UINT kPreviewEndedMessage = WM_USER + 0x4C2;     // the worker ended the preview

// Whether a preview runs (was started and not yet stopped by the dialog).
bool PreviewRunning();

// Starts a preview of the context's selection with these settings (button "Preview"):
// the playback gain from them, the worker one step below normal priority. False when no
// worker could be started; nothing is held then.
bool StartPreview(HWND dialog, XfmContext* context, const LiveParams& params);

// Stops the preview, if one runs, and returns once its worker has ended and let go of
// the device and its buffers. The status line is cleared.
void StopPreview(HWND dialog);

// The dialog's share of the worker's messages: shows a status text, asks a question and
// hands the answer back, and for the worker's end presses button 1229 (which stops the
// preview). True when the message was one of the preview's.
bool PreviewMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The output device of the next preview (the selection of the device list); kept while
// the module stays loaded.
void SetPreviewDevice(UINT index);
UINT PreviewDevice();

// What the last preview did, for the dialog's interlocks and for tests.
struct PreviewReport {
  long blocks = 0;        // queued to the device
  long passes = 0;        // over the selection, the last one possibly cut short
  long saturated = 0;     // samples limited to the 16-bit range after the gain
  bool warnedTooSlow = false;
  long firstBlockMicroseconds = -1;  // from the start to the first block queued
};
PreviewReport LastPreviewReport();
