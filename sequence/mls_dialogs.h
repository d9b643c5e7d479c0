// Dialog pieces the MLS modules share: the order list and the deconvolvers' statistics.
#pragma once

#include "frame/xfm.h"
#include "sequence/mls.h"

// Fills the order combo box with the first `rows` labels of the table and selects the
// stored entry (the default entry when the stored one is not offered).
void FillMlsOrderCombo(HWND dialog, int id, long entry, int rows = kMlsEntryCount);

// The row chosen in the order combo box; the stored entry and order stay when nothing
// is selected. Returns the row now stored.
const MlsEntry* ReadMlsOrderCombo(HWND dialog, int id, SHORT& entry, SHORT& order, int rows = kMlsEntryCount);

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
