// "Real Time Convolver": the selection filtered through one or two impulse responses,
// routed by a channel selector. This file holds the module's self-description, its
// defaults and the settings entry points; the dialog is in dialog.cpp, the run in run.cpp.
#include <cstring>

#include "frame/descriptor.h"
#include "frame/dialogs.h"
#include "frame/paramblock.h"
#include "liveconvolver/livefold/dialog.h"
#include "liveconvolver/livefold/livefold_block.h"
#include "liveconvolver/livefold/sources.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

constexpr int kSettingsTemplateId = 119;

const ModuleInfo kInfo = {"Tovrel\\Real Time Convolver", "Real Time Convolver", kChannelsMonoStereo,
                          kKindLiveConvolver, kLiveTypeString};

const ResultDialog kResult = {nullptr, nullptr};

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

BOOL WINAPI XfmInit(XfmContext* context) {
  return WithBlock<LiveParams>(context, [](LiveParams& p) {
    std::memset(&p, 0, sizeof p);
    p.combinedLetter = p.responseLetter[0] = p.responseLetter[1] = 'x';
  });
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  SetDialogInstance(instance);
  // The dialog's tab control.
  const INITCOMMONCONTROLSEX classes = {sizeof(INITCOMMONCONTROLSEX), ICC_TAB_CLASSES};
  InitCommonControlsEx(&classes);
  return RunSettingsDialog(parent, instance, context, kSettingsTemplateId);
}

// The responses' samples are not needed past the command: every dialog loads them again.
BOOL WINAPI XfmDestroy(XfmContext* context) {
  return WithBlock<LiveParams>(context, [](LiveParams& p) {
    ReleaseBlocks(p, 0);
    ReleaseBlocks(p, 1);
  });
}

INT_PTR CALLBACK DIALOGMsgProc2(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return ResultDialogProc(kResult, dialog, message, wParam, lParam);
}
