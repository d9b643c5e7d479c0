// Pictures of a dialog's display windows, saved as PNG (tovrel run --snapshot VIEW=FILE).
#pragma once

#include <string>
#include <vector>

#include "platform/portable/faces.h"

namespace tovrel::host {

struct Snapshot {
  std::string view;  // a view name: "monitor", "ir1", "ir2", "audio"
  std::string file;
};

// "VIEW=FILE": false with a message for another shape or an unknown view.
bool ParseSnapshot(const std::string& text, Snapshot& snapshot, std::string& error);

// Paints the view's window of an open dialog and writes its picture (safely, as every
// file of the host); false with a message when the dialog has no such view or the file
// cannot be written.
bool TakeSnapshot(HWND dialog, const Snapshot& snapshot, std::string& error);

}  // namespace tovrel::host
