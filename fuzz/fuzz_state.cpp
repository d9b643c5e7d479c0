// Fuzz target for the state the host keeps between runs: stored parameter-block files
// and the clipboard's wave data (and WAV files read by the Win32 harness).
//
// The input is read as a stored block under several type strings: a block that is taken
// must have exactly the size asked for and store back to the same bytes. The same bytes
// are read as clipboard wave data: data judged whole must lie within the bytes, and a
// WAV file parsed from them must hold no more samples than the bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "frame/clipwave.h"
#include "frame/paramblock.h"
#include "host/core/document.h"
#include "host/core/stored.h"
#include "host/core/wavfile.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void ReadAsBlockFile(const std::vector<uint8_t>& bytes) {
  static const char* const kTypes[] = {"ccl", "cccllllllhhhllflf", "lfds", "s", ""};
  for (const char* type : kTypes) {
    const std::size_t size = TypeStringSize(type);
    std::string problem;
    auto block = tovrel::host::ReadBlockFile(bytes, type, size, problem);
    if (!block) {
      Check(!problem.empty());
      continue;
    }
    Check(block->size() == size);
    Check(tovrel::host::BlockFileImage(type, *block) == bytes);
  }
}

void ReadAsClipboardWave(const std::vector<uint8_t>& bytes) {
  if (tovrel::host::WaveDamage(bytes).empty()) {
    const WavImage w = ReadWavImage(bytes.data(), bytes.size());
    Check(w.dataFits && kWavHeaderBytes + w.dataBytes <= bytes.size());
    Check(w.channels >= 1 && w.sampleRate >= 1 && w.bitsPerSample % 8 == 0);
  }
  tovrel::host::Document doc;
  std::string error;
  if (tovrel::host::ParseWavFile(bytes, "fuzz", doc, error)) Check(doc.samples.size() * 2 <= bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  ReadAsBlockFile(bytes);
  ReadAsClipboardWave(bytes);
  return 0;
}
