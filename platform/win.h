// The platform interface of every module: a Win32-shaped subset.
// On win32 this is <windows.h> itself; on native it is the portable backend,
// which implements exactly the subset the modules use, with the same names.
#pragma once

#if defined(_WIN32)
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  include <windows.h>
#  include <mmsystem.h>
#  include <commdlg.h>
#  include <commctrl.h>
#else
#  include "platform/portable/win32_subset.h"
#endif
