// Support of the Wine tests: the win32 build under test, the harness host run under Wine,
// its JSON report, the PE images of the DLLs, and the native modules for comparison.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tovrel::wine {

// A parsed JSON value; a missing member or element reads as null.
struct Json {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> elements;
  std::vector<std::pair<std::string, Json>> members;

  const Json& operator[](const std::string& key) const;
  const Json& operator[](std::size_t index) const;
  bool has(const std::string& key) const;
  std::size_t size() const { return kind == Array ? elements.size() : members.size(); }
  long long integer() const { return static_cast<long long>(number); }
  std::vector<long long> integers() const;
};

// Throws std::runtime_error on malformed text.
Json ParseJson(const std::string& text);

struct ModuleInfo {
  std::string name;
  std::string def;     // the module's .def
  std::string rc;      // the module's .rc
  std::string native;  // the native module built beside this test
};
const std::vector<ModuleInfo>& Modules();
const ModuleInfo& FindModule(const std::string& name);

std::string Win32BuildDir();
std::string Win32Dll(const std::string& module);
std::string HarnessExe();
std::string NativeCli();  // empty when the native command is not built
// Where the tests leave what a person looks at afterwards (the dialogs' pictures),
// under the build tree's Testing folder; created when missing.
std::string ArtifactDir();
// The ALSA configuration of the tests (ALSA_CONFIG_PATH): a "default" device that takes
// every sample and plays nothing, on any machine.
std::string AlsaTestConfig();

// Why the module's DLL (and the harness) is not there to test (empty when it is).
std::string Win32Unavailable(const std::string& module);
// Why the module cannot be run under Wine here (empty when it can).
std::string WineUnavailable(const std::string& module);
// Whether a missing win32 build or Wine fails the tests instead of skipping them.
bool WineRequired();

// A fresh directory for one test's files.
std::string ScratchDir();
// Z:\ form of an absolute path, as a Wine program reads it.
std::string WinePath(const std::string& path);

struct HarnessRun {
  int exitCode = -1;
  std::string errors;  // the harness's standard error
  Json report;
};
// Runs the harness on a win32 module DLL under Wine, with `env` (NAME=VALUE) added to its
// environment; the report goes through a file. A label that does not fit its control in a
// dialog the run showed (texts as the module filled them) is a failure of the calling test.
HarnessRun RunHarness(const std::string& module, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {});

// Runs a native program with its output in files; returns its exit code.
int RunNative(const std::vector<std::string>& argv, const std::vector<std::string>& env, std::string* out,
              std::string* err);

struct Wav {
  int channels = 0;
  long sampleRate = 0;
  int bits = 0;
  std::vector<int16_t> samples;
};
bool ReadWav(const std::string& path, Wav& wav, std::string& error);
bool WriteWav(const std::string& path, const Wav& wav);
// 16-bit noise at 44100 Hz, uniform within +-amplitude, the same for the same seed.
Wav Noise(int channels, long frames, int amplitude, unsigned seed);
// Writes the WAV file under the test's scratch directory; its path.
std::string SaveScratchWav(const std::string& name, const Wav& wav);

// A run of the native `tovrel` command with a clipboard of its own.
struct NativeRun {
  std::string error;               // why there is no result (empty when the run happened)
  Json report;                     // its --json report
  Wav document;                    // the document after the run
  std::vector<uint8_t> clipboard;  // the clipboard's wave image or text after the run
};
// `tovrel run COMMAND args... -o FILE --json`, after `tovrel clip load` of clipboardIn if given.
NativeRun RunNativeCommand(const std::string& command, const std::vector<std::string>& args,
                           const std::string& clipboardIn = "");

// The document samples of a harness report, and of a native run, as one type.
std::vector<long long> ReportSamples(const Json& report);
std::vector<long long> Samples(const Wav& wav);

// Empty when both hold the same samples; otherwise where and how they first differ.
std::string SampleDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b);

// Samples of a 44-byte-header WAV image (the clipboard's): the data byte count at offset 40.
std::vector<int16_t> WaveImageSamples(const std::vector<uint8_t>& image);

// What the native module writes through QueryXfm and XfmInit, byte for byte.
std::vector<uint8_t> NativeDescriptor(const std::string& module);
std::vector<uint8_t> NativeDefaults(const std::string& module);

std::vector<uint8_t> FromHex(const std::string& hex);

// The parts of a PE image the host relies on.
struct PeExport {
  std::string name;
  unsigned ordinal = 0;
};
struct PeImage {
  std::string error;  // empty when the image could be read
  uint16_t machine = 0;
  uint16_t characteristics = 0;
  std::string dllName;
  std::vector<PeExport> exports;
  std::vector<std::string> imports;     // DLL names
  std::vector<unsigned> dialogs;        // ids of RT_DIALOG resources
};
PeImage ReadPe(const std::string& path);

// Exports of a .def: name and ordinal (0 when the .def gives none).
std::vector<PeExport> ReadDef(const std::string& path);
// Ids of the DIALOG templates of an .rc.
std::vector<unsigned> ReadRcDialogs(const std::string& path);

}  // namespace tovrel::wine

// Skips (or, when the Wine tests are required, fails) a test that cannot run here.
#define TOVREL_REQUIRE_(why)                              \
  do {                                                    \
    std::string why_ = (why);                             \
    if (!why_.empty()) {                                  \
      if (::tovrel::wine::WineRequired()) FAIL() << why_; \
      GTEST_SKIP() << why_;                               \
    }                                                     \
  } while (0)
#define TOVREL_REQUIRE_WIN32(module) TOVREL_REQUIRE_(::tovrel::wine::Win32Unavailable(module))
#define TOVREL_REQUIRE_WINE(module) TOVREL_REQUIRE_(::tovrel::wine::WineUnavailable(module))
