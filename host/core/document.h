// The host's audio document: 16-bit interleaved PCM with a rate, a channel count and
// a selection, as the modules see it through the host's callbacks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tovrel::host {

struct Document {
  long sampleRate = 44100;
  int channels = 1;
  std::vector<int16_t> samples;  // interleaved by frame
  long selStart = 0;             // first selected frame
  long selEnd = -1;              // last selected frame, inclusive; selStart - 1 for an empty selection

  long frames() const { return channels > 0 ? static_cast<long>(samples.size()) / channels : 0; }
  long selectionLength() const { return selEnd - selStart + 1; }
  void SelectAll() {
    selStart = 0;
    selEnd = frames() - 1;
  }
  static Document Empty(long rate, int channels) {
    Document d;
    d.sampleRate = rate;
    d.channels = channels;
    return d;
  }
};

// Parses a selection "FROM:TO" (inclusive) in frames, or in seconds with an "s" suffix
// on each bound. On success sets the document's selection; otherwise returns the error.
bool ParseSelection(const std::string& text, Document& doc, std::string& error);

}  // namespace tovrel::host
