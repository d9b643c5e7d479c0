// "Generate IRS Signal": writes one period of an inverse-repeated sequence, built from
// the MLS of the chosen order at the fixed level 16384, into a mono document.
#include <cstddef>
#include <string>

#include "frame/descriptor.h"
#include "frame/dialogs.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "frame/progress.h"
#include "frame/stages.h"
#include "sequence/invseqsource/invseqsource_block.h"
#include "sequence/irs.h"
#include "sequence/mls.h"
#include "sequence/mls_dialogs.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

constexpr char kTitle[] = "Generate IRS Signal";
constexpr int kOrderCombo = 1034;

const ModuleInfo kInfo = {"Tovrel\\IRS Signal", kTitle, kChannelsMonoOnly, kKindGenerator, kInvSeqSourceTypeString};

void FillSettings(HWND dialog, void* data, XfmContext*) {
  auto* block = static_cast<InvSeqSourceBlock*>(data);
  FillMlsOrderCombo(dialog, kOrderCombo, block->entry, kIrsEntryCount);
}

INT_PTR ConfirmSettings(HWND dialog, void* data, XfmContext* context) {
  auto* block = static_cast<InvSeqSourceBlock*>(data);
  const MlsChoice choice = ReadMlsOrderCombo(dialog, kOrderCombo, {block->entry, block->order}, kIrsEntryCount);
  block->entry = choice.entry;
  block->order = choice.order;
  return ConfirmGeneratorLength(*block, context, IrsPeriod(block->order));
}

// The order list's letters: the tap sets.
std::string DescribeOrders(int id) { return id == kOrderCombo ? DescribeMlsOrders(kIrsEntryCount, true) : std::string(); }

const SettingsDialog kSettings = {kTitle, kHelpButton, FillSettings, ConfirmSettings, nullptr, kStateControl, {}, DescribeOrders};
const ResultDialog kResult = {nullptr, nullptr};

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

BOOL WINAPI XfmInit(XfmContext* context) {
  return WithBlock<InvSeqSourceBlock>(context, [](InvSeqSourceBlock& block) {
    block.order = 15;
    block.entry = kDefaultMlsEntry;
  });
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  if (context->channels != 1) return 0;  // mono documents only
  return RunSettingsDialog(parent, instance, context, kSettingsTemplate);
}

TOVREL_DIALOG_PROCEDURES(kSettings, kResult)

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return context->selEnd - context->selStart + 1;  // the document keeps its length
  const InvSeqSourceBlock settings = *lock.as<InvSeqSourceBlock>();
  const LONG unchanged = settings.selectionLength;
  // A mono period in a stereo document would scramble its frames; XfmSetup refuses those.
  if (context->channels != 1) return unchanged;

  const MlsEntry* row = FindStoredEntry(settings.entry, settings.order, kIrsEntryCount);
  if (!row) {
    ShowInvalidStoredSetting(nullptr, "IRS order", kTitle);
    return unchanged;
  }
  const long length = IrsPeriod(row->order);

  // One spare slot, as for the MLS generators.
  StagedMemory memory;
  auto* buffer = AllocateSignal(memory, static_cast<std::size_t>(length) + 1, kTitle);
  if (!buffer) return unchanged;
  const std::span<SHORT> period(buffer, static_cast<std::size_t>(length));
  if (!GenerateUnderStatus(context, "Generating IRS signal",
                           [&](const ProgressFn& report) { return GenerateIrsPeriod(*row, kIrsLevel, period, report); }))
    return unchanged;
  return WriteGeneratedSamples(context, buffer, length, 1, unchanged);
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
