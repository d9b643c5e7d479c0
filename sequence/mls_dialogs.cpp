#include "sequence/mls_dialogs.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "frame/dialogs.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "sequence/unfold.h"

void FillMlsOrderCombo(HWND dialog, int id, long entry, int rows) {
  for (int k = 0; k < rows; ++k)
    SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(MlsEntryTable[k].label));
  const long selected = entry >= 0 && entry < rows ? entry : kDefaultMlsEntry;
  SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

MlsChoice ReadMlsOrderCombo(HWND dialog, int id, MlsChoice stored, int rows) {
  const LRESULT selected = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
  if (selected < 0 || selected >= rows) return stored;
  return {static_cast<SHORT>(selected), static_cast<SHORT>(MlsEntryTable[selected].order)};
}

SHORT* AllocateSignal(StagedMemory& memory, std::size_t samples, const char* caption) {
  auto* buffer = memory.AllocLocked<SHORT>(samples);
  if (!buffer) ShowError(nullptr, kGenerationMemoryMessage, caption);
  return buffer;
}

bool GenerateUnderStatus(XfmContext* context, const char* status,
                         const std::function<bool(const ProgressFn& progress)>& generate) {
  HostProgress progress(context);
  progress.Begin(status);
  const bool completed = generate(progress.Callback());
  progress.End();
  return completed;
}

LONG WriteGeneratedSamples(XfmContext* context, const SHORT* samples, long frames, int channels, LONG unchanged) {
  const LONG byteOffset = static_cast<LONG>(context->selStart * static_cast<LONG>(channels) * 2);
  const LONG byteCount = static_cast<LONG>(static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels) * 2);
  if (context->writeSamples(samples, byteOffset, byteCount) != 0) return unchanged;
  return static_cast<LONG>(frames);
}

bool AllocateDeconvolverBuffers(StagedMemory& memory, const DeconvolverSizes& sizes, int channels,
                                DeconvolverBuffers& buffers) {
  buffers.table = memory.AllocLocked<uint8_t>(sizes.tableBytes, sizes.tableFlags);
  buffers.result = buffers.table ? memory.AllocLocked<uint8_t>(kWavHeaderBytes + sizes.resultBytes,
                                                               GMEM_MOVEABLE | GMEM_DDESHARE | sizes.resultFlags,
                                                               &buffers.resultHandle)
                                 : nullptr;
  bool allocated = buffers.result != nullptr;
  for (int c = 0; c < channels && allocated; ++c) {
    buffers.work[c] = memory.AllocLocked<uint8_t>(sizes.workBytes, GMEM_MOVEABLE | GMEM_ZEROINIT);
    allocated = buffers.work[c] != nullptr;
    if (allocated && sizes.storeBytes) {
      buffers.store[c] = memory.AllocLocked<float>(sizes.storeBytes / sizeof(float), GMEM_MOVEABLE | GMEM_ZEROINIT);
      allocated = buffers.store[c] != nullptr;
    }
  }
  if (!allocated) memory.ReleaseAll();
  return allocated;
}

void FillDeconvolutionStatistics(HWND dialog, long length, int channels, long sampleRate, int cycles,
                                 long elapsedMs, double rescaledFrom) {
  char text[64];
  std::snprintf(text, sizeof text, "%li", length);
  SetDlgItemTextA(dialog, 1026, text);
  std::snprintf(text, sizeof text, "%i", channels);
  SetDlgItemTextA(dialog, 1028, text);
  std::snprintf(text, sizeof text, "%li", sampleRate);
  SetDlgItemTextA(dialog, 1027, text);
  std::snprintf(text, sizeof text, "%i", cycles);
  SetDlgItemTextA(dialog, 1029, text);
  SetDlgItemTextA(dialog, 1030, FormatElapsed(elapsedMs).c_str());
  SetDlgItemTextA(dialog, 1032, ("Rescaled from: " + FormatResultNumber(rescaledFrom)).c_str());
}

bool DeconvolverRun::FindRow(long entry, long order, int rows, const char* setting, const char* caption) {
  row = FindStoredEntry(entry, order, rows);
  if (!row || (context->channels != 1 && context->channels != 2)) {
    ShowInvalidStoredSetting(owner, setting, caption);
    return false;
  }
  channels = context->channels;
  return true;
}

bool DeconvolverRun::Allocate(const DeconvolverSizes& sizes, const char* memoryMessage, const char* caption) {
  if (AllocateDeconvolverBuffers(memory, sizes, channels, buffers)) return true;
  ShowError(owner, memoryMessage, caption);
  return false;
}

std::string DescribeMlsOrders(int rows, bool irs) {
  std::string text = std::string(irs ? "order N: an IRS of 2 (2^N - 1) samples, its MLS and the MLS inverted"
                                     : "order N: a sequence of 2^N - 1 samples") +
                     "; a letter after the order names one of its tap sets "
      "(the feedback taps of the shift register), each a different sequence of the same length:";
  for (int k = 0; k < rows && k < kMlsEntryCount; ++k) {
    const MlsEntry& row = MlsEntryTable[k];
    text += k ? "; " : " ";
    text += std::string(row.label) + " taps ";
    for (int t = 0; t < row.tapCount; ++t) text += (t ? "," : "") + std::to_string(row.taps[t]);
  }
  return text;
}
