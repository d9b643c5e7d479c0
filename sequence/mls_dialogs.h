// What the sequence modules share: the order list, the stored entry, the generators'
// output, and the deconvolvers' set-up, stages, statistics and delivery.
#pragma once

#include <functional>
#include <string>

#include "frame/clipwave.h"
#include "frame/paramblock.h"
#include "frame/stages.h"
#include "frame/dialogs.h"
#include "frame/xfm.h"
#include "sequence/mls.h"
#include "sequence/unfold.h"

// Fills the order combo box with the first `rows` labels of the table and selects the
// stored entry (the default entry when the stored one is not offered).
void FillMlsOrderCombo(HWND dialog, int id, long entry, int rows = kMlsEntryCount);

// What the first `rows` labels of the order list mean: the period of an order, and the
// tap set each letter names. An IRS is twice its MLS.
std::string DescribeMlsOrders(int rows = kMlsEntryCount, bool irs = false);

// An entry of the table with its order, as a parameter block stores the pair.
struct MlsChoice {
  SHORT entry;
  SHORT order;
};

// The row chosen in the order combo box, or the stored choice when nothing is selected.
// (Taken and returned by value: the blocks' fields are packed and may sit at odd offsets.)
MlsChoice ReadMlsOrderCombo(HWND dialog, int id, MlsChoice stored, int rows = kMlsEntryCount);

inline constexpr char kNoTobMessage[] = "No TOB found !!!\n(Wrong taps ?)";

// The table row a block stores, when it is one of the first `rows` and still has the
// stored order; null otherwise (the block is then not valid for this module).
inline const MlsEntry* FindStoredEntry(long entry, long order, int rows = kMlsEntryCount) {
  const MlsEntry* row = entry < rows ? FindMlsEntry(entry) : nullptr;
  return row && row->order == order ? row : nullptr;
}

// A generator's buffer of `samples` 16-bit values, or null after the memory message
// (under `caption`).
SHORT* AllocateSignal(StagedMemory& memory, std::size_t samples, const char* caption);

// Runs a generating kernel under its status text with the host's progress; false when
// the user stopped it.
bool GenerateUnderStatus(XfmContext* context, const char* status,
                         const std::function<bool(const ProgressFn& progress)>& generate);

// Writes a generator's samples at the selection start; the frames written, or the
// selection length stored in the block when the host refuses them.
LONG WriteGeneratedSamples(XfmContext* context, const SHORT* samples, long frames, int channels, LONG unchanged);

// The stages of a deconvolution, taken in this order: a table (the permutation or the
// reference), the response (WAV header and samples; the read buffer while averaging),
// then for each channel a zeroed work array and, where asked, a zeroed response store.
struct DeconvolverSizes {
  std::size_t tableBytes;
  UINT tableFlags;
  std::size_t resultBytes;  // after the header
  UINT resultFlags;         // besides GMEM_MOVEABLE | GMEM_DDESHARE
  std::size_t workBytes;
  std::size_t storeBytes;   // 0: none
};
struct DeconvolverBuffers {
  void* table = nullptr;
  uint8_t* result = nullptr;
  HGLOBAL resultHandle = nullptr;
  void* work[2] = {nullptr, nullptr};
  float* store[2] = {nullptr, nullptr};
  // The samples after the header.
  SHORT* samples() const { return reinterpret_cast<SHORT*>(result + kWavHeaderBytes); }
};
// False when a stage cannot be had; the memory is then given back, and the caller shows
// its memory message.
bool AllocateDeconvolverBuffers(StagedMemory& memory, const DeconvolverSizes& sizes, int channels,
                                DeconvolverBuffers& buffers);

// The statistics every deconvolver shows: length 1026, channels 1028, rate 1027, cycles
// 1029, elapsed time 1030 and "Rescaled from: " 1032.
void FillDeconvolutionStatistics(HWND dialog, long length, int channels, long sampleRate, int cycles,
                                 long elapsedMs, double rescaledFrom);

// The defaults every MLS deconvolver's block starts with: order 15 (entry "15 B"), the
// DC component kept, no stored window or instance.
template <class Block>
void WriteDeconvolverDefaults(Block& block) {
  block.order = 15;
  block.entry = kDefaultMlsEntry;
  block.removeDc = 0;
  block.ownerWindow = 0;
  block.moduleInstance = 0;
}

// The end of every deconvolver's run: the response (header written) goes to the
// clipboard; once the clipboard took it, the statistics are stored in the block, which is
// unlocked while the beep sounds and the statistics dialog shows them.
template <class Block>
void DeliverResponse(BlockLock& lock, StagedMemory& memory, HGLOBAL response, XfmContext* context, HWND owner,
                     HINSTANCE instance, const char* caption, DWORD startTicks, long cycles, int channels,
                     float magnitude) {
  memory.Release(response);
  if (!PlaceOnClipboard(owner, response, CF_WAVE, caption)) return;
  auto* block = lock.as<Block>();
  block->elapsedMs = static_cast<LONG>(GetTickCount() - startTicks);
  block->cycles = static_cast<SHORT>(cycles);
  block->resultSampleRate = context->sampleRate;
  block->resultChannels = static_cast<BYTE>(channels);
  block->rescaledFrom = magnitude;
  lock.Unlock();
  MessageBeep(0);
  ShowResultDialog(owner, instance, context);
  lock.Relock();
}

// The statistics of the block's last run; the length shown is the MLS length of the
// stored order when it lies within 2 .. maxOrder, else 0.
template <class Block>
void FillStoredStatistics(HWND dialog, const Block& block, int maxOrder) {
  const long length = block.order >= 2 && block.order <= maxOrder ? MlsPeriod(block.order) : 0;
  FillDeconvolutionStatistics(dialog, length, block.resultChannels, block.resultSampleRate, block.cycles,
                              block.elapsedMs, block.rescaledFrom);
}

// What every deconvolver's run works with: the host and its progress, the window and
// instance stored at set-up, the table row, and the staged buffers.
struct DeconvolverRun {
  template <class Block>
  DeconvolverRun(XfmContext* c, const Block& settings)
      : context(c),
        owner(FieldToHandle<HWND>(settings.ownerWindow)),
        instance(FieldToHandle<HINSTANCE>(settings.moduleInstance)),
        progress(c) {}

  // The stored row among the first `rows`, for a mono or stereo document; otherwise the
  // "stored <setting> is not valid" box is shown and the result is false.
  bool FindRow(long entry, long order, int rows, const char* setting, const char* caption);
  // The buffers; the memory message is shown when they cannot be had.
  bool Allocate(const DeconvolverSizes& sizes, const char* memoryMessage, const char* caption);
  // The response to the clipboard and the statistics to the block and their dialog.
  template <class Block>
  void Deliver(BlockLock& lock, const char* caption, DWORD startTicks, long cycles, float magnitude) {
    DeliverResponse<Block>(lock, memory, buffers.resultHandle, context, owner, instance, caption, startTicks, cycles,
                           channels, magnitude);
  }

  XfmContext* context;
  HWND owner;
  HINSTANCE instance;
  HostProgress progress;
  const MlsEntry* row = nullptr;
  int channels = 0;
  StagedMemory memory;
  DeconvolverBuffers buffers;
};
