#include "host/core/document.h"

#include <cmath>
#include <cstdlib>

namespace tovrel::host {

namespace {

bool ParseBound(const std::string& text, long rate, long& frame) {
  if (text.empty()) return false;
  char* end = nullptr;
  if (text.back() == 's') {
    std::string number = text.substr(0, text.size() - 1);
    double seconds = std::strtod(number.c_str(), &end);
    if (number.empty() || *end != '\0' || !std::isfinite(seconds) || seconds < 0) return false;
    double f = std::floor(seconds * static_cast<double>(rate) + 0.5);
    if (f > 2147483647.0) return false;
    frame = static_cast<long>(f);
    return true;
  }
  long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || value < 0) return false;
  frame = value;
  return true;
}

}  // namespace

bool ParseSelection(const std::string& text, Document& doc, std::string& error) {
  auto colon = text.find(':');
  long from = 0, to = 0;
  if (colon == std::string::npos || !ParseBound(text.substr(0, colon), doc.sampleRate, from) ||
      !ParseBound(text.substr(colon + 1), doc.sampleRate, to)) {
    error = "the selection \"" + text + "\" is not FROM:TO in frames (or seconds with an s suffix)";
    return false;
  }
  if (to < from) {
    error = "the selection \"" + text + "\" ends before it starts";
    return false;
  }
  if (to >= doc.frames()) {
    error = "the selection \"" + text + "\" reaches past the document's last frame (" +
            std::to_string(doc.frames() - 1) + ")";
    return false;
  }
  doc.selStart = from;
  doc.selEnd = to;
  return true;
}

}  // namespace tovrel::host
