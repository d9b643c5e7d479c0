// Wave input: waveInGetNumDevs, waveInGetDevCapsA, waveInOpen, waveInClose,
// waveInPrepareHeader, waveInUnprepareHeader, waveInAddBuffer, waveInStart, waveInStop,
// waveInReset over the back ends of wave_backends.h, on the device table of wave output.
//
// An open input is an entry of a table, numbered from the backend's one handle counter,
// with a recorder thread that fills the queued headers in order while the input is
// started. A header is the caller's memory: the recorder writes it only while it is
// queued, and a stop or reset returns only after the recorder has let go of it. Header
// flags are stored atomically (WaveHeaderDone polls them).

#include <cstring>
#include <deque>
#include <thread>
#include <unordered_map>

#include "platform/portable/internal.h"
#include "platform/portable/wave_backends.h"

namespace tovrel::portable {
namespace {

struct OpenInput {
  HWAVEIN handle = nullptr;
  std::unique_ptr<detail::WaveSource> source;
  DWORD kind = CALLBACK_NULL;
  DWORD_PTR callback = 0;
  DWORD_PTR instance = 0;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<WAVEHDR*> queue;
  bool started = false;
  bool recording = false;  // the recorder is inside Capture with the queue's first header
  bool closing = false;
  detail::WaveInterrupt interrupt;
  std::thread recorder;
};

struct InputState {
  std::mutex mutex;
  std::unordered_map<uint32_t, std::shared_ptr<OpenInput>> open;
};

InputState& Inputs() {
  static InputState* state = new InputState;  // never destroyed: used until process exit
  return *state;
}

std::shared_ptr<OpenInput> Find(HWAVEIN in) {
  auto& s = Inputs();
  std::lock_guard lock(s.mutex);
  auto it = s.open.find(detail::HandleValue(in));
  return it == s.open.end() ? nullptr : it->second;
}

using detail::HeaderFlags;
using detail::MarkHeaderDone;
using detail::StoreHeaderFlags;

// Tells the caller, outside every lock of ours.
void Notify(const OpenInput& w, UINT message, WAVEHDR* header) {
  if (w.kind == CALLBACK_EVENT) {
    SetEvent(reinterpret_cast<HANDLE>(w.callback));
  } else if (w.kind == CALLBACK_FUNCTION && w.callback != 0) {
    reinterpret_cast<LPWAVEINPROC>(w.callback)(w.handle, message, w.instance, reinterpret_cast<DWORD_PTR>(header), 0);
  }
}

void Record(const std::shared_ptr<OpenInput>& w) {
  std::unique_lock lock(w->mutex);
  for (;;) {
    w->changed.wait(lock, [&] { return w->closing || (w->started && !w->queue.empty()); });
    if (w->closing) return;
    WAVEHDR* h = w->queue.front();
    w->recording = true;
    lock.unlock();
    const long overrunsBefore = w->source->overruns;
    const DWORD have = h->dwBytesRecorded;
    const long n = w->source->Capture(h->lpData + have, h->dwBufferLength - have, w->interrupt);
    detail::CountInputActivity(0, w->source->overruns - overrunsBefore, n < 0 ? 1 : 0);
    lock.lock();
    w->recording = false;
    if (n > 0) h->dwBytesRecorded = have + static_cast<DWORD>(n);
    // A full header goes back; so does the one being filled when the device failed, and
    // the input stops as a stop would.
    const bool full = h->dwBytesRecorded >= h->dwBufferLength;
    if (n < 0) w->started = false;
    if (full || n < 0) {
      w->queue.pop_front();
      MarkHeaderDone(h);
      if (full) detail::CountInputActivity(1, 0, 0);
      lock.unlock();
      Notify(*w, WIM_DATA, h);
      lock.lock();
    }
    w->changed.notify_all();
  }
}

// Parks the recorder and stops the stream; the headers to give back (the one being
// filled, or all of them), taken off the queue and marked done.
std::vector<WAVEHDR*> Halt(OpenInput& w, bool all) {
  std::unique_lock lock(w.mutex);
  w.started = false;
  w.interrupt.Set();
  w.changed.wait(lock, [&] { return !w.recording; });
  w.source->Stop();
  w.interrupt.Clear();
  std::vector<WAVEHDR*> back;
  while (!w.queue.empty() && (all || (back.empty() && w.queue.front()->dwBytesRecorded > 0))) {
    back.push_back(w.queue.front());
    w.queue.pop_front();
    MarkHeaderDone(back.back());
  }
  return back;
}

}  // namespace
}  // namespace tovrel::portable

namespace tp = tovrel::portable;

extern "C" {

UINT WINAPI waveInGetNumDevs(void) { return waveOutGetNumDevs(); }

MMRESULT WINAPI waveInGetDevCapsA(UINT_PTR device, LPWAVEINCAPSA caps, UINT size) {
  if (caps == nullptr || size == 0) return MMSYSERR_INVALPARAM;
  tp::WaveDeviceInfo info;
  if (device > 0xFFFFFFFFu || !tp::detail::DeviceAt(static_cast<UINT>(device), info)) return MMSYSERR_BADDEVICEID;
  std::memcpy(caps, &info.inCaps, std::min<std::size_t>(size, sizeof(WAVEINCAPSA)));
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInOpen(LPHWAVEIN in, UINT device, LPCWAVEFORMATEX format, DWORD_PTR callback, DWORD_PTR instance,
                           DWORD flags) {
  if (format == nullptr) return MMSYSERR_INVALPARAM;
  const DWORD kind = flags & CALLBACK_TYPEMASK;
  if ((kind != CALLBACK_NULL && kind != CALLBACK_EVENT && kind != CALLBACK_FUNCTION) ||
      (flags & ~(CALLBACK_TYPEMASK | WAVE_FORMAT_QUERY | WAVE_ALLOWSYNC)))
    return MMSYSERR_INVALFLAG;
  const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
  if (!query && in == nullptr) return MMSYSERR_INVALPARAM;
  tp::WaveDeviceInfo info;
  if (!tp::detail::DeviceAt(device, info)) return MMSYSERR_BADDEVICEID;
  if (!tp::detail::ValidPcmFormat(*format)) return WAVERR_BADFORMAT;
  auto w = std::make_shared<tp::OpenInput>();
  const MMRESULT opened = tp::detail::IsVirtualName(info.name)
                              ? (query ? MMSYSERR_NOERROR : tp::detail::OpenVirtualInput(*format, &w->source))
                              : tp::detail::OpenAlsaInput(info.name, *format, query, &w->source);
  if (opened != MMSYSERR_NOERROR || query) return opened;
  w->kind = kind;
  w->callback = callback;
  w->instance = instance;
  const uint32_t handle = tp::detail::NextHandle();
  w->handle = tp::detail::MakeHandle<HWAVEIN>(handle);
  try {
    w->recorder = std::thread([w] { tp::Record(w); });
  } catch (const std::system_error&) {
    return MMSYSERR_NOMEM;
  }
  {
    auto& s = tp::Inputs();
    std::lock_guard lock(s.mutex);
    s.open[handle] = w;
  }
  *in = w->handle;
  tp::Notify(*w, WIM_OPEN, nullptr);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInClose(HWAVEIN in) {
  auto w = tp::Find(in);
  if (!w) return MMSYSERR_INVALHANDLE;
  {
    std::lock_guard lock(w->mutex);
    if (!w->queue.empty()) return WAVERR_STILLPLAYING;
    if (w->closing) return MMSYSERR_INVALHANDLE;
    w->closing = true;
    w->started = false;
  }
  {
    auto& s = tp::Inputs();
    std::lock_guard lock(s.mutex);
    s.open.erase(tp::detail::HandleValue(in));
  }
  w->interrupt.Set();
  w->changed.notify_all();
  w->recorder.join();
  w->source->Stop();
  w->source.reset();
  tp::Notify(*w, WIM_CLOSE, nullptr);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN in, LPWAVEHDR header, UINT size) {
  if (tp::detail::ValidHeader(header, size) && header->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
  return tp::detail::PrepareHeader(header, size, tp::Find(in) != nullptr, true);
}

MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN in, LPWAVEHDR header, UINT size) {
  return tp::detail::PrepareHeader(header, size, tp::Find(in) != nullptr, false);
}

MMRESULT WINAPI waveInAddBuffer(HWAVEIN in, LPWAVEHDR header, UINT size) {
  if (!tp::detail::ValidHeader(header, size)) return MMSYSERR_INVALPARAM;
  auto w = tp::Find(in);
  if (!w) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = tp::detail::QueueableHeader(header, size); r != MMSYSERR_NOERROR) return r;
  std::lock_guard lock(w->mutex);
  if (w->closing) return MMSYSERR_INVALHANDLE;
  header->dwBytesRecorded = 0;
  tp::StoreHeaderFlags(header, (tp::HeaderFlags(header) & ~static_cast<DWORD>(WHDR_DONE)) | WHDR_INQUEUE);
  w->queue.push_back(header);
  w->changed.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStart(HWAVEIN in) {
  auto w = tp::Find(in);
  if (!w) return MMSYSERR_INVALHANDLE;
  std::lock_guard lock(w->mutex);
  if (w->started) return MMSYSERR_NOERROR;
  if (!w->source->Start()) return MMSYSERR_ERROR;
  w->started = true;
  w->changed.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStop(HWAVEIN in) {
  auto w = tp::Find(in);
  if (!w) return MMSYSERR_INVALHANDLE;
  for (WAVEHDR* h : tp::Halt(*w, false)) tp::Notify(*w, WIM_DATA, h);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInReset(HWAVEIN in) {
  auto w = tp::Find(in);
  if (!w) return MMSYSERR_INVALHANDLE;
  for (WAVEHDR* h : tp::Halt(*w, true)) tp::Notify(*w, WIM_DATA, h);
  return MMSYSERR_NOERROR;
}

}  // extern "C"
