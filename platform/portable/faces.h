// The two faces of the portable backend that only the host and the tests use:
// the user (who answers dialogs and message boxes, and whose view of everything
// shown is recorded in a journal) and fault injection. Plus the host's access to
// the clipboard's contents, the memory accounting and the clock.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/portable/win32_subset.h"

namespace tovrel::portable {

// ---- Controls and dialogs as the user sees them --------------------------------

enum class ControlKind { Static, Edit, PushButton, CheckBox, RadioButton, GroupBox, ComboBox, Tab, Other };

const char* ControlKindName(ControlKind kind);  // "static", "edit", "button", "checkbox", "tab", ...

struct ControlState {
  int id = 0;                      // -1 for unnamed statics
  ControlKind kind = ControlKind::Other;
  std::string windowClass;         // "STATIC", "EDIT", "BUTTON", "COMBOBOX", or the script's class
  std::string text;                // label of statics and buttons, contents of edits
  uint32_t style = 0;
  bool enabled = true;
  bool visible = true;
  bool defaultButton = false;
  int check = 0;                   // BST_* for check boxes and radio buttons
  std::vector<std::string> items;  // combo box list, or the tabs of a tab control
  int selection = -1;              // combo box selection or current tab, -1 when none
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units, as in the script
};

struct DialogState {
  HWND window = nullptr;           // null for a template described without running it
  int templateId = 0;
  std::string caption;
  std::string font;                // "MS Sans Serif" 8 -> "8, MS Sans Serif"
  std::vector<ControlState> controls;
  int x = 0, y = 0, cx = 0, cy = 0;

  const ControlState* Find(int id) const;
};

// The controls of a dialog template of a loaded module, as the script declares them.
// Empty when the module has no such template.
TOVREL_PORTABLE_API std::optional<DialogState> DescribeTemplate(HMODULE module, int templateId);
// Every dialog template id the module's script declares, in script order.
TOVREL_PORTABLE_API std::vector<int> TemplateIds(HMODULE module);

// ---- The journal of what was shown ---------------------------------------------

struct MessageBoxEvent {
  uint32_t owner = 0;
  std::string text;
  std::string caption;
  UINT type = 0;    // MB_* button, icon and default-button flags
  int answer = 0;   // IDOK, IDYES, ...
};
struct DialogEvent {
  DialogState final;       // controls as they stood when the dialog ended
  INT_PTR result = 0;      // EndDialog's result
  uint32_t owner = 0;
};
struct HelpEvent {
  uint32_t window = 0;
  std::string file;
  UINT command = 0;
  std::string keyword;     // for HELP_KEY, the keyword text
  ULONG_PTR data = 0;      // otherwise the raw data
};
struct BeepEvent {
  UINT type = 0;
};
// A file dialog (GetOpenFileNameA) as it was shown, and what the user chose.
struct FileDialogEvent {
  uint32_t owner = 0;
  std::string title;
  std::vector<std::string> filters;  // description, pattern, description, pattern, ...
  DWORD filterIndex = 0;
  std::string fileName;              // the initial file name
  std::string initialDirectory;
  DWORD flags = 0;
  std::string chosen;                // empty when cancelled
};
using Event = std::variant<MessageBoxEvent, DialogEvent, HelpEvent, BeepEvent, FileDialogEvent>;

TOVREL_PORTABLE_API const std::vector<Event>& Journal();
TOVREL_PORTABLE_API void ClearJournal();

// ---- The user ------------------------------------------------------------------

// Whoever sits in front of the dialogs. The backend calls DialogIdle once the dialog
// has initialised and its posted messages are processed, and again each time its
// message queue runs empty while it is still open (round 0, 1, 2, ...). The user acts
// through the functions below. A dialog still open after 64 idle rounds is closed
// with the close box, then ended with IDCANCEL, so that a confused user cannot hang a run.
class User {
 public:
  virtual ~User() = default;
  virtual void DialogIdle(HWND dialog, int round) = 0;
  virtual int MessageBox(const MessageBoxEvent& box) = 0;  // the button pressed
  // The file a file dialog opens; nothing for Cancel (the default).
  virtual std::optional<std::string> OpenFileName(const FileDialogEvent& dialog) { return std::nullopt; }
};

// The user in charge; null restores the default user, who presses the default
// button of every dialog and the default button of every message box.
TOVREL_PORTABLE_API void SetUser(User* user);

// The default button of a message box of the given type (MB_DEFBUTTON*), as an ID*.
TOVREL_PORTABLE_API int DefaultAnswer(UINT type);

// What a person can see of an open dialog.
TOVREL_PORTABLE_API DialogState Inspect(HWND dialog);
TOVREL_PORTABLE_API std::vector<HWND> OpenDialogs();  // innermost last

// What a person can do with an open dialog. Each returns false when the control does
// not exist, is disabled or hidden, or does not take that action. Notifications reach
// the dialog procedure as they would from Windows (EN_CHANGE, CBN_SELCHANGE, BN_CLICKED).
TOVREL_PORTABLE_API bool TypeText(HWND dialog, int id, const std::string& text);
TOVREL_PORTABLE_API bool ChooseItem(HWND dialog, int id, int index);  // also a tab of a tab control
TOVREL_PORTABLE_API bool Click(HWND dialog, int id);  // push buttons; check boxes and radios toggle when automatic
TOVREL_PORTABLE_API void PressCloseBox(HWND dialog);   // sends WM_CLOSE
// Waits, while the dialog handles what other threads send and post to it (the user takes
// no turn meanwhile). False when the dialog ended during the wait.
TOVREL_PORTABLE_API bool WaitWhileOpen(HWND dialog, DWORD milliseconds);

// ---- Fault injection -----------------------------------------------------------

struct Faults {
  long failAllocation = 0;   // the k-th GlobalAlloc/GlobalReAlloc after arming fails (1-based; 0 = never)
  long failLock = 0;         // the k-th GlobalLock after arming fails
  bool clipboardBusy = false;  // another program holds the clipboard: OpenClipboard fails
  bool failClipboardSet = false;  // SetClipboardData returns null
  // The k-th call after arming fails (1-based; 0 = never): CreateFileA, ReadFile,
  // WriteFile, SetFilePointer.
  long failFileCreate = 0;
  long failFileRead = 0;
  long failFileWrite = 0;
  long failFileSeek = 0;
};
// Arms the plan and restarts the counters.
TOVREL_PORTABLE_API void ArmFaults(const Faults& plan);
TOVREL_PORTABLE_API void DisarmFaults();
// Calls counted since the plan was armed (also counted while disarmed, since the last reset).
TOVREL_PORTABLE_API long AllocationCount();
TOVREL_PORTABLE_API long LockCount();

// ---- Memory accounting -----------------------------------------------------------

struct MemoryStats {
  long liveBlocks = 0;        // allocated and not freed, clipboard blocks included
  long clipboardBlocks = 0;   // owned by the clipboard
  long lockedBlocks = 0;      // with a lock count above zero
  std::size_t liveBytes = 0;
};
TOVREL_PORTABLE_API MemoryStats Memory();

// ---- The clipboard's contents, for the host's persistence ------------------------

struct ClipboardItem {
  UINT format = 0;
  std::vector<uint8_t> bytes;
};
TOVREL_PORTABLE_API std::vector<ClipboardItem> ClipboardContents();
// Replaces the clipboard's contents (the blocks become clipboard-owned).
TOVREL_PORTABLE_API void LoadClipboard(const std::vector<ClipboardItem>& items);
// True while some window has the clipboard open.
TOVREL_PORTABLE_API bool ClipboardIsOpen();

// ---- Clock ------------------------------------------------------------------------

// Replaces GetTickCount's source (null restores the monotonic clock in milliseconds).
TOVREL_PORTABLE_API void SetTickSource(std::function<DWORD()> source);

// ---- Display windows and their pictures --------------------------------------------

struct WindowInfo {
  HWND window = nullptr;
  std::string windowClass;
  std::string text;
  bool visible = false;           // shown, with every window it sits in
  int x = 0, y = 0, cx = 0, cy = 0;  // pixels
};
// The windows of registered classes whose parent is `parent`, in creation order.
TOVREL_PORTABLE_API std::vector<WindowInfo> ClassWindows(HWND parent);

// A window's picture: 0x00RRGGBB pixels, row by row from the top.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};
// Paints the window now, shown or not, through its procedure (WM_PAINT, on the calling
// thread, which must be the window's own), and returns what it drew. Empty for a window
// that is not of a registered class.
TOVREL_PORTABLE_API std::optional<Picture> PaintWindow(HWND window);
// The picture as the bytes of a PNG file; empty when it cannot be encoded.
TOVREL_PORTABLE_API std::vector<uint8_t> EncodePng(const Picture& picture);
TOVREL_PORTABLE_API std::optional<Picture> ReadPng(const std::string& path, std::string* error);

// Pens, brushes and fonts created and not deleted, plus device contexts not released.
TOVREL_PORTABLE_API long LiveGdiObjects();

// ---- Wave output devices ----------------------------------------------------------

// The device table behind waveOutGetNumDevs: device i is the i-th name. A name is
// "virtual" (a device that plays at the real-time rate of its format, silently),
// "virtual:FILE.wav" (the same, recording what it played to FILE.wav), or an ALSA PCM
// name ("default", "hw:0", "plughw:1", or a PCM of the ALSA configuration).
struct WaveDeviceInfo {
  std::string name;
  std::string backend;      // "virtual" or "alsa"
  std::string description;  // the sound card's name, the recording's file, ...
  WAVEOUTCAPSA caps{};      // as waveOutGetDevCapsA gives them
  std::string problem;      // why the device cannot be opened now (empty when it can)
  WAVEINCAPSA inCaps{};     // as waveInGetDevCapsA gives them (no formats: it cannot record)
  std::string inProblem;    // why the device cannot record now
};
// Checks a device name; false with the reason when it cannot name a device.
TOVREL_PORTABLE_API bool CheckWaveDeviceName(const std::string& name, std::string* error);
// Sets the table to these names (checked with CheckWaveDeviceName by the caller); an empty
// list restores the machine's own: "default", one "plughw:N" per sound card, "virtual".
TOVREL_PORTABLE_API void SetWaveDevices(const std::vector<std::string>& names);
// The table with each device's capabilities (probed when the table is set).
TOVREL_PORTABLE_API std::vector<WaveDeviceInfo> WaveDevices();

// The virtual devices' clock runs this many times faster than real time (1 by default).
TOVREL_PORTABLE_API void SetVirtualWaveSpeed(double factor);

// What a recording virtual input hears of what a virtual output plays: the loop between
// them (a simulated room, say). It gets the frames an output has just played (16-bit,
// `playedChannels` interleaved) and writes as many frames of `heardChannels` into `heard`;
// it is called on the output's thread, once per recording input, in playing order, so
// input and output stay sample-synchronous. Without one (null), each input channel hears
// the output channel of its number (the last one where the output has fewer): a cable.
using VirtualWaveLoop = std::function<void(const int16_t* played, std::size_t frames, int playedChannels,
                                           int16_t* heard, int heardChannels)>;
TOVREL_PORTABLE_API void SetVirtualWaveLoop(VirtualWaveLoop loop);

// What the open devices did since the process started.
struct WaveActivity {
  long opens = 0;        // successful waveOutOpen calls (queries excluded)
  long openNow = 0;      // devices open now
  long buffers = 0;      // headers played to their end
  long underruns = 0;    // a device ran dry before its next header came (a stream's first excluded)
  long errors = 0;       // headers the device could not play
  long recorded = 0;     // input headers filled to their end
  long overruns = 0;     // an input had more than its queued headers could take
};
TOVREL_PORTABLE_API WaveActivity WaveOutActivity();

// ---- The Windows folder ------------------------------------------------------------

// The folder that stands for "C:\WINDOWS": GetSystemDirectoryA answers "C:\WINDOWS\SYSTEM"
// and file names under "C:\WINDOWS\" open from this folder. Empty (the default): none.
TOVREL_PORTABLE_API void SetWindowsFolder(const std::string& folder);
// The real file a name stands for: names under "C:\WINDOWS\" mapped into the folder
// (backslashes as separators), other names as they are.
TOVREL_PORTABLE_API std::string RealFileName(const std::string& name);

// ---- Windows the host owns ---------------------------------------------------------

// A top-level window that stands for the host's main window (owner of dialogs).
TOVREL_PORTABLE_API HWND HostWindow();

}  // namespace tovrel::portable
