// "Generate MLS Signal" (Multi MLS Signal): writes R consecutive periods of one MLS.
// In stereo either the R periods go first to the left channel and then to the right,
// or they go to the left channel with a full-scale burst, the control pulses, at the
// end of the otherwise silent right channel.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
#include "sequence/multiseqsource/multiseqsource_block.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

constexpr char kTitle[] = "Generate MLS Signal";
constexpr char kDialogCaption[] = "Generate Multiple MLS Signal";
constexpr int kOrderCombo = 1034;
constexpr int kAmplitudeEdit = 1036;
constexpr int kRepetitionsEdit = 1037;
constexpr int kControlPulsesBox = 1042;
constexpr char kTooLongMessage[] =
    "The signal would be too long.\nChoose a lower MLS order or fewer repetitions.";

// The control pulses: the last frames of the right channel, at full scale.
constexpr long kPulseFrames = 101;
constexpr int kFullScale = 32767;
// The host takes the signal in one call, whose byte count is a 32-bit number.
constexpr int64_t kMostSamples = 0x7fffffff / 2;

const ModuleInfo kInfo = {"Tovrel\\Multi MLS Signal", kTitle, kChannelsMonoStereo, kKindGenerator,
                          kMultiSeqSourceTypeString};

// The frames written: R periods, twice that in stereo without control pulses.
int64_t SignalFrames(int order, long repetitions, int channels, bool controlPulses) {
  const int64_t frames = static_cast<int64_t>(repetitions) * MlsPeriod(order);
  return channels == 2 && !controlPulses ? 2 * frames : frames;
}

// The level of bit 0, taken whole: bit 1 gives its negative, which must fit 16 bits too.
const EditField kFields[] = {
    {kAmplitudeEdit, "Amplitude", -kFullScale, kFullScale, true, "", "bit 0 gives +A, bit 1 gives -A"},
    {kRepetitionsEdit, "Repetitions", 1, 32767, true, "periods",
     "the whole signal must stay within one write of the host (2^30 - 1 samples)"},
};

void FillSettings(HWND dialog, void* data, XfmContext* context) {
  auto* block = static_cast<MultiSeqSourceBlock*>(data);
  FillMlsOrderCombo(dialog, kOrderCombo, block->entry);
  SetEditLong(dialog, kAmplitudeEdit, block->amplitude);
  SetEditLong(dialog, kRepetitionsEdit, block->repetitions);
  // Control pulses need a right channel.
  const bool stereo = context->channels >= 2;
  EnableWindow(GetDlgItem(dialog, kControlPulsesBox), stereo ? TRUE : FALSE);
  CheckDlgButton(dialog, kControlPulsesBox, stereo && block->controlPulses ? BST_CHECKED : BST_UNCHECKED);
}

INT_PTR ConfirmSettings(HWND dialog, void* data, XfmContext* context) {
  auto* block = static_cast<MultiSeqSourceBlock*>(data);
  // Refused settings keep the dialog open and the block as it was.
  const std::optional<double> amplitude = ReadField(dialog, kFields[0], kDialogCaption);
  if (!amplitude) return -1;
  const std::optional<double> read = ReadField(dialog, kFields[1], kDialogCaption);
  if (!read) return -1;
  const SHORT repetitions = static_cast<SHORT>(*read);
  const bool controlPulses =
      context->channels >= 2 && IsDlgButtonChecked(dialog, kControlPulsesBox) == BST_CHECKED;
  // The combo box always has a selection; without one the default entry stands.
  long selected = static_cast<long>(SendDlgItemMessageA(dialog, kOrderCombo, CB_GETCURSEL, 0, 0));
  if (!FindMlsEntry(selected)) selected = kDefaultMlsEntry;
  const MlsEntry& row = MlsEntryTable[selected];

  const int channels = context->channels == 2 ? 2 : 1;
  const int64_t frames = SignalFrames(row.order, repetitions, channels, controlPulses);
  if (frames * channels > kMostSamples) {
    ShowError(dialog, kTooLongMessage, kDialogCaption);
    return -1;
  }

  block->entry = static_cast<SHORT>(selected);
  block->order = static_cast<SHORT>(row.order);
  block->amplitude = static_cast<SHORT>(*amplitude);
  block->repetitions = repetitions;
  block->controlPulses = controlPulses ? 1 : 0;
  return ConfirmGeneratorLength(*block, context, static_cast<long>(frames));
}

// The signal, in place, from the bits of one period on the left channel: R periods of
// +-A (bit 0 gives +A, bit 1 -A) on the left, then either the control pulses at the end
// of the silent right channel or the same periods again on the right, after the left's.
void LayOutSignal(SHORT* buffer, std::size_t period, std::size_t repeated, std::size_t channels, bool pulses,
                  int amplitude) {
  // Frame j takes bit x[j + 1]. Reading runs ahead of writing.
  for (std::size_t j = 0; j < period; ++j) {
    const SHORT value = static_cast<SHORT>(buffer[(j + 1) * channels] ? -amplitude : amplitude);
    buffer[j * channels] = value;
    if (channels == 2) buffer[j * channels + 1] = 0;  // the right channel starts silent
  }
  const std::size_t periodSamples = period * channels;
  for (std::size_t k = 1; k * period < repeated; ++k) {
    std::memcpy(buffer + k * periodSamples, buffer, periodSamples * sizeof(SHORT));
  }
  if (channels == 2 && pulses) {
    // The burst divides by A, and needs its 101 frames: otherwise the right channel stays silent.
    if (amplitude != 0 && repeated >= static_cast<std::size_t>(kPulseFrames)) {
      for (std::size_t f = repeated - kPulseFrames; f < repeated; ++f) {
        buffer[2 * f + 1] = static_cast<SHORT>(static_cast<int32_t>(buffer[2 * f]) * kFullScale / amplitude);
      }
    }
  } else if (channels == 2) {
    for (std::size_t f = 0; f < repeated; ++f) {
      buffer[2 * (repeated + f)] = 0;
      buffer[2 * (repeated + f) + 1] = buffer[2 * f];
    }
  }
}

// The order list's letters: the tap sets.
std::string DescribeOrders(int id) { return id == kOrderCombo ? DescribeMlsOrders() : std::string(); }

const SettingsDialog kSettings = {kTitle, kHelpButton, FillSettings, ConfirmSettings, nullptr, kStateControl, kFields, DescribeOrders};
const ResultDialog kResult = {nullptr, nullptr};

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

BOOL WINAPI XfmInit(XfmContext* context) {
  return WithBlock<MultiSeqSourceBlock>(context, [](MultiSeqSourceBlock& block) {
    block.order = 15;
    block.entry = kDefaultMlsEntry;
    block.amplitude = 16384;
    block.repetitions = 1;
  });
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  return RunSettingsDialog(parent, instance, context, kSettingsTemplate);
}

TOVREL_DIALOG_PROCEDURES(kSettings, kResult)

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return context->selEnd - context->selStart + 1;  // the document keeps its length
  const MultiSeqSourceBlock settings = *lock.as<MultiSeqSourceBlock>();
  const LONG unchanged = settings.selectionLength;

  const MlsEntry* row = FindStoredEntry(settings.entry, settings.order);
  if (!row) {
    ShowInvalidStoredSetting(nullptr, "MLS order", kTitle);
    return unchanged;
  }
  if (settings.repetitions < 1) {
    ShowError(nullptr, FieldRefusal(kFields[1], kFields[1].lo, kFields[1].hi).c_str(), kTitle);
    return unchanged;
  }
  if (settings.amplitude < -kFullScale) {  // its negative does not fit 16 bits
    ShowError(nullptr, FieldRefusal(kFields[0], kFields[0].lo, kFields[0].hi).c_str(), kTitle);
    return unchanged;
  }
  const std::size_t channels = context->channels == 2 ? 2 : 1;
  const bool pulses = channels == 2 && settings.controlPulses != 0;
  const int64_t frames64 = SignalFrames(row->order, settings.repetitions, static_cast<int>(channels), pulses);
  if (frames64 * static_cast<int64_t>(channels) > kMostSamples) {
    ShowError(nullptr, kGenerationMemoryMessage, kTitle);
    return unchanged;
  }
  const std::size_t period = static_cast<std::size_t>(MlsPeriod(row->order));
  const std::size_t repeated = period * static_cast<std::size_t>(settings.repetitions);  // R x L frames
  const std::size_t frames = static_cast<std::size_t>(frames64);
  const std::size_t samples = frames * channels;

  // One spare slot: the recurrence also stores the seed position 2^N. The bits of one
  // period go to the left channel of the first repetition.
  StagedMemory memory;
  auto* buffer = AllocateSignal(memory, samples + 1, kTitle);
  if (!buffer) return unchanged;
  if (!GenerateUnderStatus(context, "Generating MLS signal",
                           [&](const ProgressFn& report) { return GenerateMlsBits(*row, buffer, channels, report); }))
    return unchanged;
  LayOutSignal(buffer, period, repeated, channels, pulses, settings.amplitude);
  return WriteGeneratedSamples(context, buffer, static_cast<long>(frames), static_cast<int>(channels), unchanged);
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
