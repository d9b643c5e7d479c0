// The settings dialog of "Real Time Convolver" (DIALOGMsgProc, template 119).
#pragma once

#include "platform/win.h"

// The module instance that owns the dialog's display window class; set before the dialog runs.
void SetDialogInstance(HINSTANCE instance);
