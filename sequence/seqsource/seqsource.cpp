// "Generate MLS Signal": writes one period of a maximum-length sequence of the chosen
// order into the document, as +A for bit 0 and -A for bit 1.
#include <cstddef>
#include <optional>
#include <string>

#include "frame/descriptor.h"
#include "frame/dialogs.h"
#include "frame/edits.h"
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

// Bit 0 gives +A, bit 1 -A: both must fit 16 bits.
const EditField kFields[] = {{kAmplitudeEdit, "Amplitude", -32767, 32767, true, "", "bit 0 gives +A, bit 1 gives -A"}};

const ModuleInfo kInfo = {"Tovrel\\MLS Signal", kTitle, kChannelsMonoStereo, kKindGenerator, kSeqSourceTypeString};

void FillSettings(HWND dialog, void* data, XfmContext*) {
  auto* block = static_cast<SeqSourceBlock*>(data);
  FillMlsOrderCombo(dialog, kOrderCombo, block->entry);
  SetEditLong(dialog, kAmplitudeEdit, block->amplitude);
}

INT_PTR ConfirmSettings(HWND dialog, void* data, XfmContext* context) {
  auto* block = static_cast<SeqSourceBlock*>(data);
  const MlsChoice choice = ReadMlsOrderCombo(dialog, kOrderCombo, {block->entry, block->order});
  const std::optional<double> amplitude = ReadField(dialog, kFields[0], kTitle);
  if (!amplitude) return -1;
  block->entry = choice.entry;
  block->order = choice.order;
  block->amplitude = static_cast<SHORT>(*amplitude);
  return ConfirmGeneratorLength(*block, context, MlsPeriod(block->order));
}

// The order list's letters: the tap sets.
std::string DescribeOrders(int id) { return id == kOrderCombo ? DescribeMlsOrders() : std::string(); }

const SettingsDialog kSettings = {kTitle, kHelpButton, FillSettings, ConfirmSettings, nullptr, kStateControl, kFields, DescribeOrders};
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

namespace {

// Frame k takes bit x[k + 1]: bit 0 gives +A, bit 1 -A, on every channel. Reading runs
// ahead of writing, so this works in place.
void BitsToSamples(SHORT* buffer, long period, std::size_t channels, int amplitude) {
  for (long k = 0; k < period; ++k) {
    const int bit = buffer[static_cast<std::size_t>(k + 1) * channels];
    const SHORT value = static_cast<SHORT>(bit ? -amplitude : amplitude);
    for (std::size_t c = 0; c < channels; ++c) buffer[static_cast<std::size_t>(k) * channels + c] = value;
  }
}

}  // namespace

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return context->selEnd - context->selStart + 1;  // the document keeps its length
  const SeqSourceBlock settings = *lock.as<SeqSourceBlock>();
  const LONG unchanged = settings.selectionLength;
  const MlsEntry* row = FindStoredEntry(settings.entry, settings.order);
  if (!row) {
    ShowInvalidStoredSetting(nullptr, "MLS order", kTitle);
    return unchanged;
  }
  const std::size_t channels = context->channels == 2 ? 2 : 1;
  const long period = MlsPeriod(row->order);

  // One spare slot: the recurrence also stores the seed position 2^N.
  StagedMemory memory;
  auto* buffer = AllocateSignal(memory, static_cast<std::size_t>(period) * channels + 1, kTitle);
  if (!buffer) return unchanged;
  if (!GenerateUnderStatus(context, "Generating MLS signal",
                           [&](const ProgressFn& report) { return GenerateMlsBits(*row, buffer, channels, report); }))
    return unchanged;
  BitsToSamples(buffer, period, channels, settings.amplitude);
  return WriteGeneratedSamples(context, buffer, period, static_cast<int>(channels), unchanged);
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
