// "Convolve with Clipboard": the selection convolved with the impulse response on the
// clipboard (full linear convolution, L + M - 1 frames), routed by one mode letter,
// computed block by block in the frequency domain into a float temporary file, then
// rescaled to 16 bits into the document, which grows by M - 1 frames.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <memory>
#include <span>
#include <string>

#include "convolution/convolve/convolve_block.h"
#include "convolution/dcremove.h"
#include "frame/blockconv.h"
#include "frame/clipwave.h"
#include "frame/descriptor.h"
#include "frame/dialogs.h"
#include "frame/edits.h"
#include "frame/fft.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "frame/progress.h"
#include "frame/spectrum.h"
#include "frame/stages.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

constexpr char kTitle[] = "Convolve with Clipboard";
constexpr int kSettingsTemplateId = 105;
constexpr int kResultTemplateId = 106;
constexpr int kStateControlId = 1025;

// Controls of the settings dialog (and the result fields that share their ids).
constexpr int kResponseLeft = 1000, kResponseRight = 1001, kResponseBoth = 1002;
constexpr int kRemoveDcBox = 1003, kCrosstalkBox = 1004, kTwoByTwoBox = 1005;
constexpr int kDataLeft = 1006, kDataRight = 1007, kDataBoth = 1008;
constexpr int kResponseInfo = 1026, kFftInfo = 1027, kDocumentInfo = 1028, kElapsedField = 1029;
constexpr int kAutoRangeBox = 1030, kGainEdit = 1031, kGainLabel = 1032;
constexpr int kGainField = 1030, kSaturatedField = 1031;

constexpr char kClipboardMessage[] =
    "Convolution effect can not\naccess Clipboard Data.\nAnother application or window\nhas the Clipboard opened.";
constexpr char kFormatMessage[] = "The Convolution Effect does not recognize\nthe format of Clipboard Data.";
constexpr char kResponseBitsMessage[] = "Clipboard Data must be 16-bit.";
constexpr char kNoCopyMessage[] = "Error!\n\nXfmDo function can not access data\nstored by XfmSetup function.";
constexpr const char* kMemoryMessage = kConvolutionMemoryMessage;
constexpr const char* kFileMessage = kTempFileMessage;
constexpr const char* kFileCaption = kFileErrorCaption;

const ModuleInfo kInfo = {"Tovrel\\Convolve with Clipboard", kTitle, kChannelsMonoStereo, kKindConvolver,
                          kConvolveTypeString};

ConvolveBlock ReadBlock(const void* data) {
  ConvolveBlock b;
  std::memcpy(&b, data, sizeof b);
  return b;
}

std::string Printf(const char* format, long a, long b = 0, long c = 0) {
  char text[256];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// A float in the shortest form with `digits` significant digits, cut to `width` characters.
std::string ShortFloat(double v, int digits, std::size_t width) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", digits, v);
  std::string s = text;
  return s.substr(0, width);
}

// ---- Modes ----------------------------------------------------------------------------

bool StereoResponseMode(char mode) { return mode == 'C' || mode == 'D' || mode == 'E' || mode == 'Q' || mode == 'Z'; }

// The letters a run accepts for the response's and the document's channel counts.
bool ModeFits(char mode, int responseChannels, int documentChannels) {
  if (responseChannels == 1) return mode == (documentChannels == 1 ? 'A' : 'B');
  if (documentChannels == 1) return mode == 'H' || mode == 'I';
  return std::strchr("CDEFGQZ", mode) != nullptr && mode != '\0';
}

// ---- Settings dialog --------------------------------------------------------------------

void SetEnabled(HWND dialog, int id, bool enabled) { EnableWindow(GetDlgItem(dialog, id), enabled ? TRUE : FALSE); }
bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void ShowInfo(HWND dialog, const ConvolveBlock& b, const XfmContext* context) {
  const bool stereoResponse = b.mode == 'C' || b.mode == 'D';
  const bool stereoData = b.mode == 'B' || b.mode == 'C';
  SetDlgItemTextA(dialog, kDocumentInfo,
                  (Printf("%li Hz/", static_cast<long>(b.documentRate)) + (stereoData ? "Stereo/" : "Mono/") +
                   Printf("%li Samples", static_cast<long>(b.selectionFrames)))
                      .c_str());
  SetDlgItemTextA(dialog, kResponseInfo,
                  (Printf("%li Hz/", static_cast<long>(b.responseRate)) + (stereoResponse ? "Stereo/" : "Mono/") +
                   Printf("%li Samples", static_cast<long>(b.responseFrames)))
                      .c_str());
  SetDlgItemTextA(dialog, kFftInfo, Printf("%li Samples", static_cast<long>(b.fftSize)).c_str());
}

void ShowGainState(HWND dialog) {
  const bool manual = !Checked(dialog, kAutoRangeBox);
  SetEnabled(dialog, kGainEdit, manual);
  SetEnabled(dialog, kGainLabel, manual);
}

void FillSettings(HWND dialog, void* data, XfmContext* context) {
  const ConvolveBlock b = ReadBlock(data);
  ShowInfo(dialog, b, context);
  const int allRadios[] = {kResponseLeft, kResponseRight, kResponseBoth, kDataLeft, kDataRight, kDataBoth};
  switch (b.mode) {
    case 'A':
    case 'B':
      CheckRadioButton(dialog, kResponseLeft, kResponseBoth, kResponseLeft);
      CheckRadioButton(dialog, kDataLeft, kDataBoth, b.mode == 'A' ? kDataLeft : kDataBoth);
      for (int id : allRadios) SetEnabled(dialog, id, false);
      break;
    case 'D':
      CheckRadioButton(dialog, kDataLeft, kDataBoth, kDataLeft);
      for (int id : {kDataLeft, kDataRight, kDataBoth}) SetEnabled(dialog, id, false);
      CheckRadioButton(dialog, kResponseLeft, kResponseBoth, b.monoChoice == 'I' ? kResponseRight : kResponseLeft);
      SetEnabled(dialog, kResponseBoth, false);
      break;
    default:  // C: the last choice for stereo data
      switch (b.stereoChoice) {
        case 'D':
          CheckRadioButton(dialog, kDataLeft, kDataBoth, kDataRight);
          CheckRadioButton(dialog, kResponseLeft, kResponseBoth, kResponseBoth);
          break;
        case 'E':
          CheckRadioButton(dialog, kDataLeft, kDataBoth, kDataBoth);
          CheckRadioButton(dialog, kResponseLeft, kResponseBoth, kResponseBoth);
          SetEnabled(dialog, kCrosstalkBox, true);
          if (b.crosstalk == 1) {
            CheckDlgButton(dialog, kCrosstalkBox, BST_CHECKED);
            SetEnabled(dialog, kTwoByTwoBox, true);
            if (b.twoByTwo == 1) CheckDlgButton(dialog, kTwoByTwoBox, BST_CHECKED);
          }
          break;
        case 'F':
        case 'G':
          CheckRadioButton(dialog, kDataLeft, kDataBoth, kDataBoth);
          CheckRadioButton(dialog, kResponseLeft, kResponseBoth, b.stereoChoice == 'F' ? kResponseLeft : kResponseRight);
          break;
        default:  // 'C'
          CheckRadioButton(dialog, kDataLeft, kDataBoth, kDataLeft);
          CheckRadioButton(dialog, kResponseLeft, kResponseBoth, kResponseBoth);
          break;
      }
      break;
  }
  CheckDlgButton(dialog, kRemoveDcBox, (b.removeDc & 0xff) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, kAutoRangeBox, b.autoRange ? BST_CHECKED : BST_UNCHECKED);
  SetDlgItemTextA(dialog, kGainEdit, ShortFloat(b.gainDb, 11, 10).c_str());
  ShowGainState(dialog);
}

BOOL SettingsCommand(HWND dialog, int id, int code, void* data, XfmContext*) {
  const char setupMode = ReadBlock(data).mode;
  // A radio that reports itself chosen is the one of its group (whoever checked it).
  if (id >= kResponseLeft && id <= kResponseBoth && Checked(dialog, id))
    CheckRadioButton(dialog, kResponseLeft, kResponseBoth, id);
  if (id >= kDataLeft && id <= kDataBoth && Checked(dialog, id)) CheckRadioButton(dialog, kDataLeft, kDataBoth, id);
  switch (id) {
    case kResponseLeft:
    case kResponseRight:
    case kDataLeft:
    case kDataRight:
      if (id == kDataLeft || id == kDataRight) CheckRadioButton(dialog, kResponseLeft, kResponseBoth, kResponseBoth);
      else if (setupMode == 'C') CheckRadioButton(dialog, kDataLeft, kDataBoth, kDataBoth);
      CheckDlgButton(dialog, kCrosstalkBox, BST_UNCHECKED);
      SetEnabled(dialog, kCrosstalkBox, false);
      return TRUE;
    case kResponseBoth:
    case kDataBoth:
      SetEnabled(dialog, kCrosstalkBox, true);
      return TRUE;
    case kCrosstalkBox:
      if (Checked(dialog, kCrosstalkBox)) {
        CheckRadioButton(dialog, kResponseLeft, kResponseBoth, kResponseBoth);
        CheckRadioButton(dialog, kDataLeft, kDataBoth, kDataBoth);
        SetEnabled(dialog, kTwoByTwoBox, true);
      } else {
        CheckDlgButton(dialog, kTwoByTwoBox, BST_UNCHECKED);
        SetEnabled(dialog, kTwoByTwoBox, false);
      }
      return TRUE;
    case kAutoRangeBox:
      ShowGainState(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

const EditField kFields[] = {{kGainEdit, "Gain", -200, 200, false, "dB", "used when AutoRange result is off"}};

INT_PTR ConfirmSettings(HWND dialog, void* data, XfmContext*) {
  ConvolveBlock b = ReadBlock(data);
  if (b.mode == 'C') {
    char run = 'E';
    if (Checked(dialog, kResponseLeft)) run = 'F';
    else if (Checked(dialog, kResponseRight)) run = 'G';
    else if (Checked(dialog, kDataLeft)) run = 'C';
    else if (Checked(dialog, kDataRight)) run = 'D';
    b.stereoChoice = run;
    b.twoByTwo = 0;
    // The 2x2 response needs the crosstalk box first, and then takes precedence.
    if (run == 'E' && Checked(dialog, kCrosstalkBox)) {
      run = 'Z';
      if (Checked(dialog, kTwoByTwoBox)) {
        run = 'Q';
        b.twoByTwo = 1;
      }
    }
    b.mode = run;
  } else if (b.mode == 'D') {
    b.mode = Checked(dialog, kResponseLeft) ? 'H' : 'I';
    b.monoChoice = b.mode;
  }
  b.removeDc = 0;  // the check box is hidden: every OK stores the flag as off
  b.autoRange = Checked(dialog, kAutoRangeBox) ? 1 : 0;
  // The gain counts without AutoRange only: then a gain that is no number, or none a
  // 16-bit result can use, is refused. With AutoRange the edit is disabled and the
  // stored gain stays unless it holds a number.
  const EditField& gainField = kFields[0];
  std::optional<double> gain;
  if (b.autoRange) {
    char text[64] = {0};
    GetDlgItemTextA(dialog, kGainEdit, text, sizeof text);
    gain = ParseFieldIn(text, gainField.lo, gainField.hi, false);
  } else {
    gain = ReadField(dialog, gainField, kTitle);
    if (!gain) return -1;
  }
  if (gain) b.gainDb = static_cast<float>(*gain);
  std::memcpy(data, &b, sizeof b);
  return 1;
}

// ---- Result dialog ----------------------------------------------------------------------

// Saturated samples of the run whose result dialog is showing (the block has no field for them).
long g_saturated = 0;

void FillResults(HWND dialog, void* data, XfmContext*) {
  const ConvolveBlock b = ReadBlock(data);
  const char m = b.mode;
  std::string response = Printf("%li Hz/", static_cast<long>(b.responseRate));
  if (m == 'F' || m == 'H') response += "Left of ";
  if (m == 'G' || m == 'I') response += "Right of ";
  response += (m == 'A' || m == 'B') ? "Mono/" : "Stereo/";
  response += Printf("%li Samples", static_cast<long>(b.responseFrames));
  std::string document = Printf("%li Hz/", static_cast<long>(b.documentRate));
  if (m == 'C') document += "Left of ";
  if (m == 'D') document += "Right of ";
  document += (m == 'A' || m == 'H' || m == 'I') ? "Mono/" : "Stereo/";
  document += Printf("%li Samples", static_cast<long>(b.selectionFrames));
  const long ms = b.removeDc;
  SetDlgItemTextA(dialog, kResponseInfo, response.c_str());
  SetDlgItemTextA(dialog, kDocumentInfo, document.c_str());
  SetDlgItemTextA(dialog, kFftInfo, Printf("%li Samples", static_cast<long>(b.fftSize)).c_str());
  SetDlgItemTextA(dialog, kElapsedField, Printf("%li.%.3li s", ms / 1000, ms % 1000).c_str());
  SetDlgItemTextA(dialog, kGainField, (ShortFloat(b.gainDb, 9, 8) + " dB").c_str());
  SetDlgItemTextA(dialog, kSaturatedField, Printf("%li", g_saturated).c_str());
}

const SettingsDialog kSettings = {kTitle, kHelpButton, FillSettings, ConfirmSettings, SettingsCommand,
                                  kStateControlId, kFields};
const ResultDialog kResult = {FillResults, nullptr};

// ---- The private copy of the clipboard data ---------------------------------------------

// The clipboard's wave block copied whole into a shareable block of our own; null when
// the clipboard cannot be opened, holds no wave data or the copy cannot be made.
HGLOBAL CopyClipboardWave(HWND owner) {
  if (!OpenClipboard(owner)) return nullptr;
  HGLOBAL copy = nullptr;
  if (HANDLE data = GetClipboardData(CF_WAVE)) {
    const SIZE_T size = GlobalSize(data);
    const void* from = GlobalLock(data);
    if (from && size > 0) {
      copy = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size);
      void* to = copy ? GlobalLock(copy) : nullptr;
      if (to) {
        std::memcpy(to, from, size);
        GlobalUnlock(copy);
      } else if (copy) {
        GlobalFree(copy);
        copy = nullptr;
      }
    }
    if (from) GlobalUnlock(data);
  }
  CloseClipboard();
  return copy;
}

// A usable response: canonical PCM header, 1 or 2 channels, and at least one whole frame
// of data lying within the block (the data length comes from outside).
bool ResponseFormatOk(const WavImage& w) {
  return w.riff && w.waveFmt && w.formatTag == 1 && (w.channels == 1 || w.channels == 2) && w.dataTag &&
         w.dataFits && w.dataBytes >= 2u * w.channels;
}

// The private copy, locked while it is read, freed on every path.
class ResponseCopy {
 public:
  explicit ResponseCopy(HGLOBAL handle) : handle_(handle) {}
  ~ResponseCopy() { Free(); }
  ResponseCopy(const ResponseCopy&) = delete;
  ResponseCopy& operator=(const ResponseCopy&) = delete;
  const void* Lock() {
    if (handle_ && !data_) data_ = GlobalLock(handle_);
    return data_;
  }
  SIZE_T Size() const { return handle_ ? GlobalSize(handle_) : 0; }
  void Free() {
    if (data_) GlobalUnlock(handle_);
    if (handle_) GlobalFree(handle_);
    data_ = nullptr;
    handle_ = nullptr;
  }

 private:
  HGLOBAL handle_;
  const void* data_ = nullptr;
};

int16_t SampleAt(const uint8_t* data, std::size_t index) {
  return static_cast<int16_t>(data[2 * index] | (data[2 * index + 1] << 8));
}

// ---- The run ------------------------------------------------------------------------------

struct RunBuffers {
  void* block = nullptr;      // e N 32-bit words
  float* spectrum1 = nullptr;  // N0 floats
  float* spectrum2 = nullptr;
  float* work[2] = {nullptr, nullptr};
  float* overlap = nullptr;   // e (M - 1) floats
  float* dcChunk = nullptr;   // 4096 e floats
  float* dcRing = nullptr;    // e W floats
};

constexpr long kDcChunkFrames = 4096;

// The DC removal pass over the T frames of the file; false when a file operation
// failed or the user cancelled (`cancelled` tells which).
bool RemoveDc(FloatTempFile& file, const RunBuffers& buf, int e, long window, long total, const HostProgress& host,
              float& peak, bool& cancelled) {
  const std::size_t values = static_cast<std::size_t>(e);
  peak = 0;
  host.Begin("Removing DC component");
  bool ok = true;
  if (window < total) {
    std::span<float> ring(buf.dcRing, values * static_cast<std::size_t>(window));
    ok = file.SeekValue(0) && file.Read(ring.data(), ring.size());
    if (ok) {
      RunningDcRemover remover(ring, e, window, ring);
      for (long done = 0; done < total && ok;) {
        const long frames = std::min(kDcChunkFrames, total - done);
        std::span<float> chunk(buf.dcChunk, values * static_cast<std::size_t>(frames));
        const uint64_t at = static_cast<uint64_t>(done) * values;
        ok = file.SeekValue(at) && file.Read(chunk.data(), chunk.size());
        if (!ok) break;
        peak = remover.Process(chunk, peak);
        ok = file.SeekValue(at) && file.Write(chunk.data(), chunk.size());
        done += frames;
        if (ok && !host.Report(done, total)) {
          cancelled = true;
          ok = false;
        }
      }
    }
  } else {
    std::span<float> all(buf.dcRing, values * static_cast<std::size_t>(total));
    ok = file.SeekValue(0) && file.Read(all.data(), all.size());
    if (ok) {
      peak = RemoveMean(all, e, 0);
      ok = file.SeekValue(0) && file.Write(all.data(), all.size());
    }
  }
  host.End();
  return ok;
}

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

BOOL WINAPI XfmInit(XfmContext* context) {
  return WithBlock<ConvolveBlock>(context, [](ConvolveBlock& block) {
    block.mode = 'C';
    block.stereoChoice = 'C';
    block.monoChoice = 'H';
    block.responseFrames = 0;
    block.fftSize = 0;
    block.selectionFrames = 0;
    block.responseRate = 0;
    block.documentRate = 0;
    block.removeDc = 0;
    block.ownerWindow = 0;
    block.moduleInstance = 0;
    block.responseCopy = 0;
    block.crosstalk = 0;
    block.twoByTwo = 0;
    block.autoRange = 1;
  });
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  const char* caption = context->caption;
  HGLOBAL copy = CopyClipboardWave(parent);
  if (!copy) {
    ShowError(parent, kClipboardMessage, caption);
    return 0;
  }
  auto refuse = [&](const char* text) {
    if (text) ShowError(parent, text, caption);
    GlobalFree(copy);
    return WORD{0};
  };
  WavImage w;
  if (const void* p = GlobalLock(copy)) {
    w = ReadWavImage(p, GlobalSize(copy));
    GlobalUnlock(copy);
  } else {
    return refuse(kClipboardMessage);
  }
  if (!ResponseFormatOk(w)) return refuse(kFormatMessage);
  if (w.bitsPerSample != 16) return refuse(kResponseBitsMessage);
  if (context->bitsPerSample != 16) return refuse(kDocumentBitsMessage);

  const long documentRate = context->sampleRate;
  const long responseRate = static_cast<long>(w.sampleRate);
  if (!(std::fabs(static_cast<double>(documentRate) / static_cast<double>(responseRate) - 1.0) < 0.01)) {
    const std::string question = Printf("Sample Rates don't match!\n\nSample Rate of audio data is %li Hz\n"
                                        "Sample Rate of impulse response is %li Hz\n\nContinue?",
                                        documentRate, responseRate);
    if (MessageBoxA(parent, question.c_str(), caption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
      return refuse(nullptr);
  }

  {
    BlockLock lock(context->paramHandle);
    if (!lock) return refuse(nullptr);
    ConvolveBlock b = ReadBlock(lock.get());
    const long frames = static_cast<long>(w.dataBytes / (2u * w.channels));
    const long selected = SelectedFrames(context);
    b.responseFrames = frames;
    b.selectionFrames = selected;
    b.fftSize = OptimumFftSize(frames, selected);
    b.responseRate = responseRate;
    b.documentRate = documentRate;
    b.ownerWindow = HandleToField(parent);
    b.moduleInstance = HandleToField(instance);
    b.responseCopy = HandleToField(copy);
    const bool stereoData = context->channels == 2;
    b.mode = w.channels == 1 ? (stereoData ? 'B' : 'A') : (stereoData ? 'C' : 'D');
    std::memcpy(lock.get(), &b, sizeof b);
  }
  const WORD result = RunSettingsDialog(parent, instance, context, kSettingsTemplateId, "DIALOGMsgProc");
  if (result == 1) return 1;
  // Not run: the copy goes, and with it its handle in the block.
  GlobalFree(copy);
  if (BlockLock lock{context->paramHandle}) {
    ConvolveBlock b = ReadBlock(lock.get());
    b.responseCopy = 0;
    std::memcpy(lock.get(), &b, sizeof b);
  }
  return 0;
}

TOVREL_DIALOG_PROCEDURES(kSettings, kResult)

LONG WINAPI XfmDo(XfmContext* context) {
  const long selected = SelectedFrames(context);
  BlockLock lock(context->paramHandle);
  if (!lock) return selected;
  ConvolveBlock settings = ReadBlock(lock.get());
  const HWND owner = FieldToHandle<HWND>(settings.ownerWindow);
  const HINSTANCE instance = FieldToHandle<HINSTANCE>(settings.moduleInstance);
  const char* caption = context->caption;
  // The copy is this run's from here on: its handle leaves the block.
  ResponseCopy copy(FieldToHandle<HGLOBAL>(settings.responseCopy));
  settings.responseCopy = 0;
  auto store = [&] { std::memcpy(lock.get(), &settings, sizeof settings); };
  store();

  const int e = context->channels;
  const uint8_t* response = static_cast<const uint8_t*>(copy.Lock());
  const WavImage w = response ? ReadWavImage(response, copy.Size()) : WavImage{};
  if (!response || !ResponseFormatOk(w) || w.bitsPerSample != 16 || (e != 1 && e != 2) ||
      !ModeFits(settings.mode, w.channels, e) || selected < 0) {
    ShowError(owner, kNoCopyMessage, caption);
    return selected;
  }
  const char mode = settings.mode;
  const int responseChannels = w.channels;
  const long responseFrames = static_cast<long>(w.dataBytes / (2u * responseChannels));  // M, whole response
  if (mode == 'Q' && responseFrames < 2) {
    ShowError(owner, kFormatMessage, caption);
    return selected;
  }
  settings.crosstalk = (mode == 'Q' || mode == 'Z') ? 1 : 0;
  store();
  // F and G run as B, H and I as A, once their response channel is chosen.
  const char run = (mode == 'F' || mode == 'G') ? 'B' : (mode == 'H' || mode == 'I') ? 'A' : mode;
  const bool stereoResponse = StereoResponseMode(mode);

  // The whole result must be addressable in the document's byte offsets.
  const long long endByte =
      (static_cast<long long>(context->selStart) + selected + responseFrames - 1) * static_cast<long long>(e) * 2;
  const long optimum = OptimumFftSize(responseFrames, selected);
  long n = optimum;
  const LONG dcFlag = settings.removeDc;
  const bool removeDc = (dcFlag & 0xff) != 0;
  const long window = std::max(1L, static_cast<long>(context->sampleRate) / 16);
  const std::size_t ue = static_cast<std::size_t>(e);

  // Fitting into memory: the buffers at size N, halving N while they do not fit.
  std::unique_ptr<StagedMemory> memory;
  RunBuffers buf;
  while (endByte <= 0x7FFFFFFFLL && n >= 2 * responseFrames) {
    memory = std::make_unique<StagedMemory>();
    const std::size_t un = static_cast<std::size_t>(n);
    buf = RunBuffers{};
    buf.block = memory->AllocLocked<uint32_t>(ue * un);
    if (buf.block) buf.spectrum1 = memory->AllocLocked<float>(un);
    if (buf.spectrum1) buf.work[0] = memory->AllocLocked<float>(un);
    if (buf.work[0]) buf.overlap = memory->AllocLocked<float>(std::max<std::size_t>(1, ue * static_cast<std::size_t>(responseFrames - 1)));
    bool ok = buf.overlap != nullptr;
    if (ok && run != 'A') ok = (buf.work[1] = memory->AllocLocked<float>(un)) != nullptr;
    if (ok && stereoResponse) ok = (buf.spectrum2 = memory->AllocLocked<float>(un)) != nullptr;
    if (ok) break;
    memory.reset();
    n /= 2;
  }
  if (memory && removeDc && n >= 2 * responseFrames) {
    buf.dcChunk = static_cast<float*>(buf.block);
    if (n < kDcChunkFrames) {
      buf.dcChunk = memory->AllocLocked<float>(kDcChunkFrames * ue);
      if (!buf.dcChunk) n = 2 * responseFrames - 1;
    }
    buf.dcRing = buf.spectrum1;
    if (n >= 2 * responseFrames && n < e * window) {
      buf.dcRing = memory->AllocLocked<float>(ue * static_cast<std::size_t>(window));
      if (!buf.dcRing) n = 2 * responseFrames - 1;
    }
  }
  if (!memory || n < 2 * responseFrames) {
    memory.reset();
    copy.Free();
    ShowError(owner, kMemoryMessage, caption);
    return selected;
  }
  if (n != optimum) {
    const std::string question =
        Printf("Not optimum FFT size\n\nImpulse Response size: %li Points\nOptimum FFT size: %li Points\n"
               "Available FFT size: %li Points\n\nThis may result in slower elaboration.\nContinue?",
               responseFrames, optimum, n);
    if (MessageBoxA(owner, question.c_str(), caption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
      return selected;
  }
  const DWORD startTicks = GetTickCount();
  long filter = responseFrames;  // M of the run
  if (mode == 'Q') {
    n /= 2;
    filter = responseFrames / 2;
  }
  const std::size_t un = static_cast<std::size_t>(n);
  HostProgress host(context);

  // Response preparation: s = 2/N (the inverse transform's missing factor) times 1/32768
  // (response samples as fractions of full scale), zero-padded to N.
  {
    const float s = static_cast<float>(1.0 / (16384.0 * static_cast<double>(n)));
    const uint8_t* samples = w.data;
    auto load = [&](float* to, int channel, long first) {
      for (long j = 0; j < filter; ++j)
        to[j] = s * SampleAt(samples, static_cast<std::size_t>((first + j) * responseChannels + channel));
      std::fill(to + filter, to + n, 0.0f);
    };
    const int single = (mode == 'G' || mode == 'I') ? 1 : 0;
    load(buf.spectrum1, stereoResponse ? 0 : single, 0);
    if (stereoResponse) load(buf.spectrum2, 1, 0);
    if (mode == 'Q') {
      load(buf.spectrum1 + n, 0, filter);
      load(buf.spectrum2 + n, 1, filter);
    }
  }
  copy.Free();
  // One plan of size N for every transform of the run.
  const RealFftPlan fft(n);
  {
    float* spectra[4] = {buf.spectrum1, buf.spectrum2, buf.spectrum1 + n, buf.spectrum2 + n};
    const int count = mode == 'Q' ? 4 : stereoResponse ? 2 : 1;
    host.Begin("Initializing...");
    bool going = true;
    for (int k = 0; k < count && going; ++k) {
      fft.Transform(spectra[k], +1);
      going = host.Report(k + 1, count == 1 ? 2 : count);
    }
    host.End();
    if (!going) return selected;
  }
  const std::span<const float> h1(buf.spectrum1, un), h3(buf.spectrum1 + (mode == 'Q' ? n : 0), un);
  const std::span<const float> h2(stereoResponse ? buf.spectrum2 : buf.spectrum1, un);
  const std::span<const float> h4(stereoResponse ? buf.spectrum2 + (mode == 'Q' ? n : 0) : buf.spectrum1, un);

  FloatTempFile file;
  if (!file.Create(context, "FLO")) {
    ShowError(owner, kFileMessage, kFileCaption);
    return selected;
  }
  const LONG tailOffset = static_cast<LONG>((static_cast<long long>(context->selEnd) + 1) * e * 2);
  const LONG tailBytes = static_cast<LONG>(static_cast<long long>(filter - 1) * e * 2);
  if (tailBytes > 0 && (!context->insertSamples || context->insertSamples(tailOffset, tailBytes) != 0)) {
    ShowError(owner, kMemoryMessage, caption);
    return selected;
  }
  // From here on a failure takes the inserted samples out again.
  auto fail = [&](bool fileFailed, const char* message = nullptr) {
    file.Remove();
    if (fileFailed) ShowError(owner, kFileMessage, kFileCaption);
    if (message) ShowError(owner, message, caption);
    if (tailBytes > 0 && context->deleteSamples) context->deleteSamples(tailOffset, tailBytes);
    return static_cast<LONG>(selected);
  };

  OverlapSave os;
  os.fftSize = n;
  os.filterLength = filter;
  os.frames = selected;
  os.firstFrame = context->selStart;
  os.channels = e;
  os.source[0] = e == 1 ? 0 : run == 'D' ? -1 : 0;
  os.source[1] = e == 1 || run == 'C' ? -1 : 1;
  os.block = buf.block;
  os.work[0] = buf.work[0];
  os.work[1] = buf.work[1];
  os.overlap = buf.overlap;
  os.trackPeak = !removeDc;
  std::fill(buf.overlap, buf.overlap + ue * static_cast<std::size_t>(filter - 1), 0.0f);

  const BlockFilter blockFilter = [&](float* left, float* right) {
    const std::span<float> l(left, un), r(right, right ? un : 0);
    switch (run) {
      case 'A':
        fft.Transform(left, +1);
        MultiplyPackedSpectra(l, h1);
        fft.Transform(left, -1);
        return;
      case 'C':
        fft.Transform(left, +1);
        std::copy(l.begin(), l.end(), r.begin());
        MultiplyPackedSpectra(r, h2);
        MultiplyPackedSpectra(l, h1);
        break;
      case 'D':
        fft.Transform(right, +1);
        std::copy(r.begin(), r.end(), l.begin());
        MultiplyPackedSpectra(l, h1);
        MultiplyPackedSpectra(r, h2);
        break;
      default:
        fft.Transform(left, +1);
        fft.Transform(right, +1);
        if (run == 'B') {
          MultiplyPackedSpectra(l, h1);
          MultiplyPackedSpectra(r, h1);
        } else if (run == 'E') {
          MultiplyPackedSpectra(l, h1);
          MultiplyPackedSpectra(r, h2);
        } else if (run == 'Z') {
          MixPackedSpectra(l, r, h1, h2, h2, h1);
        } else {  // Q
          MixPackedSpectra(l, r, h1, h3, h2, h4);
        }
        break;
    }
    fft.Transform(left, -1);
    fft.Transform(right, -1);
  };

  float peak = 0;
  host.Begin("Convolving with clipboard");
  const BlockOutcome convolved = RunOverlapSave(os, context, blockFilter, file, host.Callback(), peak);
  host.End();
  if (convolved != BlockOutcome::Completed) return fail(convolved == BlockOutcome::FileFailed);

  const long total = selected + filter - 1;  // T
  if (removeDc) {
    bool cancelled = false;
    if (!RemoveDc(file, buf, e, window, total, host, peak, cancelled)) return fail(!cancelled);
  }

  // Rescaling: to full scale at the peak, or by the typed gain.
  if (peak == 0) peak = 1;
  float divisor = peak;
  if (settings.autoRange) settings.gainDb = static_cast<float>(20.0 * std::log10(32767.0 / peak));
  else divisor = static_cast<float>(32767.0 / std::pow(10.0, 0.05 * settings.gainDb));
  const float factor = 32767.0f / divisor;
  host.Begin("Converting floats to integers");
  const ConversionOutcome converted =
      ConvertIntoDocument(file, context, context->selStart, e, static_cast<uint64_t>(total) * ue, factor,
                          std::span<float>(static_cast<float*>(buf.block), ue * un), host.Callback());
  host.End();
  file.Remove();
  if (converted.kind != ConversionOutcome::Completed)
    return fail(converted.kind == ConversionOutcome::FileFailed,
                converted.kind == ConversionOutcome::WriteFailed ? kDocumentWriteMessage : nullptr);

  context->selEnd += filter - 1;
  const LONG result = static_cast<LONG>(total);
  memory.reset();
  if (result != selected) {
    settings.removeDc = static_cast<LONG>(GetTickCount() - startTicks);
    settings.fftSize = n;
    settings.peak = peak;
    store();
    lock.Unlock();
    MessageBeep(0);
    g_saturated = converted.saturated;
    ShowResultDialog(owner, instance, context, kResultTemplateId);
    if (lock.Relock()) {
      settings.removeDc = dcFlag;
      store();
    }
  }
  return result;
}

// A private copy that no XfmDo took over (the host did not run it, or could not hand
// it the block) is released here.
BOOL WINAPI XfmDestroy(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return 0;
  ConvolveBlock b = ReadBlock(lock.get());
  if (b.responseCopy != 0) {
    GlobalFree(FieldToHandle<HGLOBAL>(b.responseCopy));
    b.responseCopy = 0;
    std::memcpy(lock.get(), &b, sizeof b);
  }
  return 1;
}
