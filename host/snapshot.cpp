#include "host/snapshot.h"

#include <algorithm>
#include <cctype>

#include "host/safefile.h"

namespace tovrel::host {

namespace {

// The display windows a user can ask for, by the names of the views they show.
struct View {
  const char* name;
  const char* windowText;
};
constexpr View kViews[] = {
    {"monitor", "Convolver Signal Display"},
    {"ir1", "Display IR1"},
    {"ir2", "Display IR2"},
    {"audio", "Display Audio Caps"},
};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

const View* FindView(const std::string& name) {
  for (const auto& v : kViews)
    if (Lower(name) == v.name) return &v;
  return nullptr;
}

std::string ViewNames() {
  std::string names;
  for (const auto& v : kViews) names += std::string(names.empty() ? "" : ", ") + v.name;
  return names;
}

}  // namespace

bool ParseSnapshot(const std::string& text, Snapshot& snapshot, std::string& error) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq + 1 == text.size()) {
    error = "--snapshot takes VIEW=FILE.png, not \"" + text + "\"";
    return false;
  }
  snapshot.view = Lower(text.substr(0, eq));
  snapshot.file = text.substr(eq + 1);
  if (!FindView(snapshot.view)) {
    error = "--snapshot: no view \"" + text.substr(0, eq) + "\" (views: " + ViewNames() + ")";
    return false;
  }
  return true;
}

bool TakeSnapshot(HWND dialog, const Snapshot& snapshot, std::string& error) {
  const View* view = FindView(snapshot.view);
  std::string shown;
  for (const auto& w : portable::ClassWindows(dialog)) {
    for (const auto& v : kViews)
      if (w.text == v.windowText) shown += std::string(shown.empty() ? "" : ", ") + v.name;
    if (view == nullptr || w.text != view->windowText) continue;
    auto picture = portable::PaintWindow(w.window);
    if (!picture) break;
    const std::vector<uint8_t> png = portable::EncodePng(*picture);
    if (png.empty()) {
      error = "--snapshot " + snapshot.view + ": the picture could not be made";
      return false;
    }
    return WriteFileSafely(snapshot.file, png, error);
  }
  error = "--snapshot " + snapshot.view + ": the dialog shows no such view" +
          (shown.empty() ? std::string(" (it has no display windows)") : " (it has: " + shown + ")");
  return false;
}

}  // namespace tovrel::host
