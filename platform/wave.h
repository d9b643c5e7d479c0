// Wave output helpers for both targets.
#pragma once

#include <cstddef>

#include "platform/win.h"

// Whether the device has played a queued header. The device's own thread sets the flag
// while the caller polls it, so the flag is read with acquire ordering: whatever the
// device did with the header before marking it is visible once the flag is seen.
inline bool WaveHeaderDone(const WAVEHDR* header) {
#if defined(_WIN32)
  // The Windows record is packed; its flag is read through a volatile pointer.
  const auto* flags = reinterpret_cast<const volatile DWORD*>(reinterpret_cast<const volatile char*>(header) +
                                                              offsetof(WAVEHDR, dwFlags));
  return (*flags & WHDR_DONE) != 0;
#else
  return (__atomic_load_n(&header->dwFlags, __ATOMIC_ACQUIRE) & WHDR_DONE) != 0;
#endif
}
