// 16-bit PCM WAV files as documents, for the hosts that read and write them without
// libsndfile (the Win32 harness, and the tests that prepare its input).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/core/document.h"

namespace tovrel::host {

// A whole file's bytes; false when it cannot be read or written in full.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& data);
bool WriteFileBytes(const std::string& path, const void* data, std::size_t size);

// A 16-bit PCM mono or stereo WAV image, its chunks in any order; the whole document
// selected. False with the reason (naming `name`) otherwise.
bool ParseWavFile(const std::vector<uint8_t>& bytes, const std::string& name, Document& doc, std::string& error);
bool ReadWavFile(const std::string& path, Document& doc, std::string& error);

// The canonical 44-byte header and the document's samples.
std::vector<uint8_t> WavFileImage(const Document& doc);
bool WriteWavFile(const std::string& path, const Document& doc);

}  // namespace tovrel::host
