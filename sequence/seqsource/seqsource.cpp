// "Generate MLS Signal": writes one period of a maximum-length sequence of the chosen
// order into the document, as +A for bit 0 and -A for bit 1.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/descriptor.h"
#include "frame/dialogs.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "frame/progress.h"
#include "frame/stages.h"
#include "sequence/mls.h"
#include "sequence/mls_dialogs.h"
#include "sequence/seqsource/seqsource_block.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

constexpr char kTitle[] = "Generate MLS Signal";
constexpr int kOrderCombo = 1034;
constexpr int kAmplitudeEdit = 1036;
constexpr char kInvalidEntryMessage[] =
    "The stored MLS order is not valid.\nChoose the MLS order again in the settings dialog.";

const ModuleInfo kInfo = {"Tovrel\\MLS Signal", kTitle, kChannelsMonoStereo, kKindGenerator, kSeqSourceTypeString};

void FillSettings(HWND dialog, void* data, XfmContext*) {
  auto* block = static_cast<SeqSourceBlock*>(data);
  FillMlsOrderCombo(dialog, kOrderCombo, block->entry);
  char text[32];
  std::snprintf(text, sizeof text, "%ld", static_cast<long>(block->amplitude));
  SetDlgItemTextA(dialog, kAmplitudeEdit, text);
}

INT_PTR ConfirmSettings(HWND dialog, void* data, XfmContext* context) {
  auto* block = static_cast<SeqSourceBlock*>(data);
  const MlsChoice choice = ReadMlsOrderCombo(dialog, kOrderCombo, {block->entry, block->order});
  block->entry = choice.entry;
  block->order = choice.order;
  // The leading integer of the first 9 characters, kept in 16 bits.
  char text[10] = {0};
  GetDlgItemTextA(dialog, kAmplitudeEdit, text, sizeof text);
  block->amplitude = static_cast<SHORT>(std::strtol(text, nullptr, 10));
  block->selectionLength = context->selEnd - context->selStart + 1;
  context->outputLengthSet = 1;
  context->outputLength = static_cast<LONG>(MlsPeriod(block->order));
  return 1;
}

const SettingsDialog kSettings = {kTitle, kHelpButton, FillSettings, ConfirmSettings, nullptr};
const ResultDialog kResult = {nullptr, nullptr};

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

BOOL WINAPI XfmInit(XfmContext* context) {
  return WithBlock<SeqSourceBlock>(context, [](SeqSourceBlock& block) {
    block.order = 15;
    block.entry = kDefaultMlsEntry;
    block.amplitude = 16384;
  });
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  return RunSettingsDialog(parent, instance, context, kSettingsTemplate);
}

TOVREL_DIALOG_PROCEDURES(kSettings, kResult)

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return context->selEnd - context->selStart + 1;  // the document keeps its length
  const SeqSourceBlock settings = *lock.as<SeqSourceBlock>();
  const LONG unchanged = settings.selectionLength;

  const MlsEntry* row = FindMlsEntry(settings.entry);
  if (!row || row->order != settings.order) {
    ShowError(nullptr, kInvalidEntryMessage, kTitle);
    return unchanged;
  }
  const std::size_t channels = context->channels == 2 ? 2 : 1;
  const long period = MlsPeriod(row->order);
  const std::size_t samples = static_cast<std::size_t>(period) * channels;

  // One spare slot: the recurrence also stores the seed position 2^N.
  StagedMemory memory;
  auto* buffer = memory.AllocLocked<SHORT>(samples + 1);
  if (!buffer) {
    ShowError(nullptr, kGenerationMemoryMessage, kTitle);
    return unchanged;
  }

  HostProgress progress(context);
  progress.Begin("Generating MLS signal");
  const bool completed = GenerateMlsBits(*row, buffer, channels, progress.Callback());
  progress.End();
  if (!completed) return unchanged;

  // Frame k takes bit x[k + 1]; reading runs ahead of writing, so this works in place.
  const int amplitude = settings.amplitude;
  for (long k = 0; k < period; ++k) {
    const int bit = buffer[static_cast<std::size_t>(k + 1) * channels];
    const SHORT value = static_cast<SHORT>(bit ? -amplitude : amplitude);
    for (std::size_t c = 0; c < channels; ++c) buffer[static_cast<std::size_t>(k) * channels + c] = value;
  }

  const LONG byteOffset = static_cast<LONG>(context->selStart * static_cast<LONG>(channels) * 2);
  const LONG byteCount = static_cast<LONG>(samples * 2);
  if (context->writeSamples(buffer, byteOffset, byteCount) != 0) return unchanged;
  return static_cast<LONG>(period);
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
