// Pieces the parts of the portable backend share with one another.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/portable/faces.h"
#include "platform/portable/rc_script.h"

namespace tovrel::portable::detail {

// Every handle the backend hands out (memory, windows, modules) comes from one
// counter, so a handle of one kind is never valid as a handle of another kind and a
// released handle is never reused.
uint32_t NextHandle();

inline uint32_t HandleValue(const void* handle) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
}
template <typename H>
H MakeHandle(uint32_t value) {
  return reinterpret_cast<H>(static_cast<uintptr_t>(value));
}

// The parsed resource script of a loaded module (cached per module). Null when the
// module is unknown, carries no script, or its script does not parse; then `error`
// tells why.
std::shared_ptr<const ResourceScript> ModuleScript(HMODULE module, std::string* error);

// CloseHandle for a thread or event handle: false when the value is neither.
bool CloseThreadHandle(uint32_t value);

// The file calls that fault injection can make fail (files.cpp keeps their counters).
enum class FileCall { Create, Read, Write, Seek };
void ArmFileFaults(const Faults& plan);
bool FileCallFails(FileCall call);

// Windows of registered classes, for the drawing calls.
struct WindowPaint {
  int width = 0;          // client size in pixels
  int height = 0;
  uint32_t background = 0;  // the class's brush, 0 for none
  bool erase = false;     // the background is due to be erased
};
// False when the window is not of a registered class. With `take`, the window counts as
// painted: no WM_PAINT is due and the erase is taken.
bool ClassWindowPaint(HWND window, bool take, WindowPaint* paint);
// Forgets the picture of a window that is gone.
void DropSurface(uint32_t window);

// The journal and the user.
void Record(Event event);
User* CurrentUser();

}  // namespace tovrel::portable::detail
