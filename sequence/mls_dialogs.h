// Dialog pieces the MLS modules share: the order list and the deconvolvers' statistics.
#pragma once

#include "frame/clipwave.h"
#include "frame/paramblock.h"
#include "frame/stages.h"
#include "frame/dialogs.h"
#include "frame/xfm.h"
#include "sequence/mls.h"

// Fills the order combo box with the first `rows` labels of the table and selects the
// stored entry (the default entry when the stored one is not offered).
void FillMlsOrderCombo(HWND dialog, int id, long entry, int rows = kMlsEntryCount);

// An entry of the table with its order, as a parameter block stores the pair.
struct MlsChoice {
  SHORT entry;
  SHORT order;
};

// The row chosen in the order combo box, or the stored choice when nothing is selected.
// (Taken and returned by value: the blocks' fields are packed and may sit at odd offsets.)
MlsChoice ReadMlsOrderCombo(HWND dialog, int id, MlsChoice stored, int rows = kMlsEntryCount);

// The settings dialog of a deconvolver, and what comes after it: end code 1 stores the
// parent window and the module instance in the block's two handle fields and returns 1;
// end code 2 shows the module's "selection too short" box and returns 0.
WORD SetupDeconvolver(HWND parent, HINSTANCE instance, XfmContext* context, const char* tooShortMessage,
                      std::size_t ownerOffset, std::size_t instanceOffset);

// The statistics every deconvolver shows: length 1026, channels 1028, rate 1027, cycles
// 1029, elapsed time 1030 and "Rescaled from: " 1032.
void FillDeconvolutionStatistics(HWND dialog, long length, int channels, long sampleRate, int cycles,
                                 long elapsedMs, double rescaledFrom);

// Sums of 32-bit integers become floats in the same cells.
void SumsToFloats(int32_t* cells, std::size_t first, std::size_t last);

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
