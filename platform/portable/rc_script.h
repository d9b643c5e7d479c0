// A reader for the DIALOG subset of Windows resource scripts: the same .rc file that
// windres compiles for win32 gives the portable backend its dialog templates.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/portable/faces.h"

namespace tovrel::portable {

struct ControlTemplate {
  std::string text;
  int id = 0;
  std::string windowClass;  // "STATIC", "EDIT", "BUTTON", "COMBOBOX", "LISTBOX", "SCROLLBAR" or as written
  ControlKind kind = ControlKind::Other;
  uint32_t style = 0;       // with WS_CHILD | WS_VISIBLE and the statement's defaults applied
  uint32_t exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
};

struct DialogTemplate {
  int id = 0;              // numeric id, or 0 for a named template
  std::string name;        // upper-case name of a named template
  bool extended = false;   // DIALOGEX
  std::string caption;
  std::string font;        // "8, MS Sans Serif"
  std::string windowClass;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::vector<ControlTemplate> controls;
};

struct ResourceScript {
  std::vector<DialogTemplate> dialogs;  // in script order

  const DialogTemplate* Find(int id) const;
  const DialogTemplate* Find(std::string_view name) const;  // case-insensitive; "#100" means id 100
};

// Parses a script. On failure returns nothing and sets `error` to "line N: what".
TOVREL_PORTABLE_API std::optional<ResourceScript> ParseResourceScript(std::string_view text, std::string* error);

}  // namespace tovrel::portable
