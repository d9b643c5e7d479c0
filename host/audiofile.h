// Documents read from and written to audio files (WAV, AIFF, FLAC, ... through libsndfile).
#pragma once

#include <string>

#include "host/core/document.h"

namespace tovrel::host {

struct AudioReadResult {
  bool ok = false;
  Document doc;
  std::string error;   // why the file could not be read
  std::string notice;  // a conversion that lost precision, for the user
};

// Reads any format libsndfile knows; samples wider than 16 bits (or floating point)
// are rounded to 16 bits, and clipped where they exceed full scale, with a notice.
// Documents of more than two channels are refused: the modules take mono and stereo.
AudioReadResult ReadAudioFile(const std::string& path);

// Writes 16-bit PCM in the container the extension names (.wav, .aif/.aiff, .flac; WAV
// without an extension), safely (host/safefile.h).
// Whether the file name's extension is one WriteAudioFile writes; the list of them.
bool WritesAudioFormat(const std::string& path);
const char* WritableAudioFormats();

bool WriteAudioFile(const std::string& path, const Document& doc, std::string& error);

}  // namespace tovrel::host
