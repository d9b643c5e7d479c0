// The display windows of the "Real Time Convolver" dialog (window class "Display"): the
// routing schematic ("Monitor"), the waveform of each response ("IR #1", "IR #2") and the
// capabilities of the chosen wave output device ("Audio").
//
// Each window paints the view it was created for, known by its window text, from the
// parameter block named by the dialog's state text. Drawings are in pixels, their
// layout in multiples of the unit u = (low word of GetDialogBaseUnits) / 2.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win.h"

inline constexpr char kDisplayClass[] = "Display";
inline constexpr int kLiveStateControl = 1025;
inline constexpr int kDeviceList = 1247;

enum DisplayView { kViewMonitor = 0, kViewIr1 = 1, kViewIr2 = 2, kViewAudio = 3 };
// The windows' texts, by view.
inline constexpr const char* kDisplayWindowText[4] = {"Convolver Signal Display", "Display IR1", "Display IR2",
                                                      "Display Audio Caps"};

// The procedure of class "Display": paints; every other message goes to DefWindowProcA.
LRESULT CALLBACK DisplayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The drawing unit u of the dialog, in pixels.
int DisplayUnit();

// ---- Routing schematic -------------------------------------------------------------

// What the schematic shows: the two responses' routing letters and channel counts (0
// when not loaded), and the document's channel count.
struct RoutingPicture {
  char letter[2] = {'x', 'x'};
  int channels[2] = {0, 0};
  int documentChannels = 2;
};

// The schematic as primitives, in units of u. Paths run from the inputs (left input in
// the upper row, right input in the lower) through the nodes of the responses that filter
// them to the output of their response channel: the upper row (y = 12) feeds the left
// output, the lower row (y = 30) the right. IR1's nodes stand at x = 17, IR2's at x = 33.
struct SchematicPoint {
  int x = 0, y = 0;
  bool operator==(const SchematicPoint&) const = default;
};
struct SchematicNode {
  SchematicPoint at;
  int response = 0;  // 0 IR1, 1 IR2
  char label = 'L';  // "L" or "R" for a channel of a stereo response, "M" for a mono one
};
struct Schematic {
  std::vector<std::vector<SchematicPoint>> wires;  // one polyline per routed path
  std::vector<SchematicPoint> junctions;           // where paths split or merge
  std::vector<SchematicPoint> arrows;              // tips of the arrows into the outputs
  std::vector<SchematicNode> nodes;
};
Schematic BuildSchematic(const RoutingPicture& picture);

// The "Monitor" view: column heads and schematic.
void PaintRouting(HDC dc, int u, const RoutingPicture& picture);

// ---- Waveform views ----------------------------------------------------------------

// The data of a waveform view, made when a response loads and kept in the response's
// display handle (movable global memory): a header, then per channel `columns` pairs
// of 16-bit samples (largest, smallest). With at least one pixel per sample each pair is
// one sample, drawn as a point at x = i × ratio; with fewer, column x holds the largest and
// the smallest sample whose position falls into it (0, 0 when none does).
#pragma pack(push, 1)
struct WaveformViewHeader {
  uint32_t tag;      // kWaveformViewTag
  int32_t width;     // the view's client size it was made for, in pixels
  int32_t height;
  int32_t channels;  // 1 or 2
  int32_t frames;    // M
  int32_t columns;   // pairs per channel
  int32_t perSample; // 1: one pair per sample (ratio >= 1), 0: one per pixel column
};
#pragma pack(pop)
inline constexpr uint32_t kWaveformViewTag = 0x56415657;  // "WVAV"

struct WaveformColumn {
  int16_t largest = 0;
  int16_t smallest = 0;
};

// The view's data for `frames` interleaved frames of `channels` (1 or 2) channels, for a
// view of width × height pixels; null when there is no memory or nothing to show.
HGLOBAL PrepareWaveformView(const int16_t* samples, long frames, int channels, int width, int height);
// The same for the dialog's response views ("Display IR1", "Display IR2": 70u x 45u), as
// a response loads.
HGLOBAL PrepareResponseView(const int16_t* samples, long frames, int channels);

// The pixel column of sample i: i x ratio, rounded down, with ratio = (W - 1) / (M - 1) so
// that the first sample lands on the first column and the last on the last one.
int SampleColumn(long i, long frames, int width);

// The "IR #1"/"IR #2" view of a response (0 or 1) from its display data (null or not
// valid: "Impulse Response k Not Loaded!").
void PaintWaveform(HDC dc, int u, int width, int height, int response, HGLOBAL view);

// ---- Capabilities ------------------------------------------------------------------

// The "Audio" view: rebuilds the dialog's device list (1247) from the wave output devices,
// keeping its selection when it is below 16 (else the first device), and draws the table
// of the selected device's standard formats ("8 bit"/"16 bit", "Mono"/"Stereo", "11k",
// "22k", "44k": "Yes" or "No").
void PaintCapabilities(HDC dc, int u, HWND dialog);
