// Wave output: waveOutGetNumDevs, waveOutGetDevCapsA, waveOutGetErrorTextA, waveOutOpen,
// waveOutClose, waveOutGetID, waveOutPrepareHeader, waveOutUnprepareHeader, waveOutWrite,
// waveOutReset over the back ends of wave_backends.h, and the device table.
//
// An open device is an entry of a table, numbered from the backend's one handle counter,
// with a player thread that plays the queued headers in order. A header is the caller's
// memory: the player reads it only while it is queued, and a reset returns only after the
// player has let go of it. Header flags are stored atomically, since the caller may poll
// them (WaveHeaderDone) while the player sets them.

#include <cstring>
#include <deque>
#include <thread>
#include <unordered_map>

#include "platform/portable/internal.h"
#include "platform/portable/wave_backends.h"

namespace tovrel::portable {
namespace {

using detail::WaveClock;

struct Queued {
  WAVEHDR* header;
  WaveClock::time_point at;
};

struct OpenDevice {
  UINT device = 0;
  std::unique_ptr<detail::WaveSink> sink;
  HANDLE event = nullptr;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Queued> queue;
  bool playing = false;    // the player is inside Play with the queue's first header
  bool resetting = false;  // a reset takes the queue back
  bool closing = false;
  detail::WaveInterrupt interrupt;
  std::thread player;
};

struct WaveState {
  std::mutex mutex;
  bool tableSet = false;
  std::vector<WaveDeviceInfo> devices;
  std::unordered_map<uint32_t, std::shared_ptr<OpenDevice>> open;
  WaveActivity activity;
};

WaveState& State() {
  static WaveState* state = new WaveState;  // never destroyed: used until process exit
  return *state;
}

WaveDeviceInfo Probe(const std::string& name) {
  return detail::IsVirtualName(name) ? detail::ProbeVirtual(name) : detail::ProbeAlsa(name);
}

void BuildTableLocked(WaveState& s, const std::vector<std::string>& names) {
  s.devices.clear();
  if (names.empty()) {
    s.devices.push_back(Probe("default"));
    for (const auto& [name, description] : detail::AlsaCards()) {
      s.devices.push_back(Probe(name));
      if (!description.empty()) s.devices.back().description = description;
    }
    s.devices.push_back(Probe("virtual"));
  } else {
    for (const auto& name : names) s.devices.push_back(Probe(name));
  }
  s.tableSet = true;
}

std::vector<WaveDeviceInfo>& Devices(WaveState& s) {
  if (!s.tableSet) BuildTableLocked(s, {});
  return s.devices;
}

std::shared_ptr<OpenDevice> Find(HWAVEOUT out) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  auto it = s.open.find(detail::HandleValue(out));
  return it == s.open.end() ? nullptr : it->second;
}

using detail::HeaderFlags;
using detail::MarkHeaderDone;
using detail::StoreHeaderFlags;

void Play(const std::shared_ptr<OpenDevice>& w) {
  std::unique_lock lock(w->mutex);
  for (;;) {
    w->changed.wait(lock, [&] { return w->closing || (!w->queue.empty() && !w->resetting); });
    if (w->closing) return;
    const Queued next = w->queue.front();
    w->playing = true;
    lock.unlock();
    const long underrunsBefore = w->sink->underruns;
    const bool ok = w->sink->Play(next.header->lpData, next.header->dwBufferLength, next.at, w->interrupt);
    const long underruns = w->sink->underruns - underrunsBefore;
    lock.lock();
    w->playing = false;
    {
      auto& s = State();
      std::lock_guard stats(s.mutex);
      s.activity.underruns += underruns;
      if (!ok) ++s.activity.errors;
    }
    if (!w->resetting) {  // else the reset takes the header back
      w->queue.pop_front();
      MarkHeaderDone(next.header);
      {
        auto& s = State();
        std::lock_guard stats(s.mutex);
        if (ok) ++s.activity.buffers;
      }
      if (w->event != nullptr) SetEvent(w->event);
    }
    w->changed.notify_all();
  }
}

}  // namespace

namespace detail {

bool ValidPcmFormat(const WAVEFORMATEX& f) {
  return f.wFormatTag == WAVE_FORMAT_PCM && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nChannels >= 1 &&
         f.nChannels <= 2 && f.nSamplesPerSec >= 1000 && f.nSamplesPerSec <= 384000 &&
         f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8 && f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

WAVEOUTCAPSA MakeCaps(const std::string& name, DWORD formats, WORD channels) {
  WAVEOUTCAPSA caps{};
  caps.vDriverVersion = 0x0100;
  std::strncpy(caps.szPname, name.c_str(), MAXPNAMELEN - 1);
  caps.dwFormats = formats;
  caps.wChannels = channels;
  return caps;
}

WAVEINCAPSA MakeInCaps(const std::string& name, DWORD formats, WORD channels) {
  WAVEINCAPSA caps{};
  caps.vDriverVersion = 0x0100;
  std::strncpy(caps.szPname, name.c_str(), MAXPNAMELEN - 1);
  caps.dwFormats = formats;
  caps.wChannels = channels;
  return caps;
}

bool DeviceAt(UINT device, WaveDeviceInfo& info) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  const auto& devices = Devices(s);
  if (device == WAVE_MAPPER && !devices.empty()) device = 0;
  if (device >= devices.size()) return false;
  info = devices[device];
  return true;
}

void CountInputActivity(long recorded, long overruns, long errors) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  s.activity.recorded += recorded;
  s.activity.overruns += overruns;
  s.activity.errors += errors;
}

}  // namespace detail

bool CheckWaveDeviceName(const std::string& name, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
  };
  if (name.empty()) return fail("an empty device name");
  if (name.compare(0, 7, "virtual") == 0 && !detail::IsVirtualName(name))
    return fail("\"" + name + "\" is no device: use virtual or virtual:FILE.wav");
  for (unsigned char c : name)
    if (c < 0x20) return fail("a device name with a control character");
  return true;
}

void SetWaveDevices(const std::vector<std::string>& names) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  BuildTableLocked(s, names);
}

std::vector<WaveDeviceInfo> WaveDevices() {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  return Devices(s);
}

WaveActivity WaveOutActivity() {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  return s.activity;
}

}  // namespace tovrel::portable

namespace tp = tovrel::portable;

extern "C" {

UINT WINAPI waveOutGetNumDevs(void) {
  auto& s = tp::State();
  std::lock_guard lock(s.mutex);
  return static_cast<UINT>(tp::Devices(s).size());
}

MMRESULT WINAPI waveOutGetDevCapsA(UINT_PTR device, LPWAVEOUTCAPSA caps, UINT size) {
  if (caps == nullptr || size == 0) return MMSYSERR_INVALPARAM;
  auto& s = tp::State();
  std::lock_guard lock(s.mutex);
  const auto& devices = tp::Devices(s);
  if (device == static_cast<UINT_PTR>(WAVE_MAPPER) && !devices.empty()) device = 0;
  if (device >= devices.size()) return MMSYSERR_BADDEVICEID;
  std::memcpy(caps, &devices[device].caps, std::min<std::size_t>(size, sizeof(WAVEOUTCAPSA)));
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
  if (text == nullptr || size == 0) return MMSYSERR_INVALPARAM;
  const char* message = nullptr;
  switch (error) {
    case MMSYSERR_NOERROR: message = "The specified command was carried out."; break;
    case MMSYSERR_ERROR: message = "Undefined external error."; break;
    case MMSYSERR_BADDEVICEID: message = "A device ID has been used that is out of range for your system."; break;
    case MMSYSERR_NOTENABLED: message = "The driver was not enabled."; break;
    case MMSYSERR_ALLOCATED:
      message = "The specified device is already in use. Wait until it is free, and then try again.";
      break;
    case MMSYSERR_INVALHANDLE: message = "The specified device handle is invalid."; break;
    case MMSYSERR_NODRIVER: message = "There is no driver installed on your system."; break;
    case MMSYSERR_NOMEM: message = "There is not enough memory available for this task."; break;
    case MMSYSERR_NOTSUPPORTED: message = "This function is not supported."; break;
    case MMSYSERR_BADERRNUM: message = "An error number was specified that is not defined in the system."; break;
    case MMSYSERR_INVALFLAG: message = "An invalid flag was passed to a system function."; break;
    case MMSYSERR_INVALPARAM: message = "An invalid parameter was passed to a system function."; break;
    case WAVERR_BADFORMAT: message = "The specified format is not supported or cannot be translated."; break;
    case WAVERR_STILLPLAYING: message = "Cannot perform this operation while media data is still playing."; break;
    case WAVERR_UNPREPARED: message = "The wave header was not prepared."; break;
    case WAVERR_SYNC: message = "Cannot open the device without using the WAVE_ALLOWSYNC flag."; break;
    default: text[0] = '\0'; return MMSYSERR_BADERRNUM;
  }
  std::strncpy(text, message, size - 1);
  text[size - 1] = '\0';
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT out, UINT device, LPCWAVEFORMATEX format, DWORD_PTR callback,
                            DWORD_PTR instance, DWORD flags) {
  if (format == nullptr) return MMSYSERR_INVALPARAM;
  const DWORD kind = flags & CALLBACK_TYPEMASK;
  if ((kind != CALLBACK_NULL && kind != CALLBACK_EVENT) || (flags & ~(CALLBACK_TYPEMASK | WAVE_FORMAT_QUERY | WAVE_ALLOWSYNC)))
    return MMSYSERR_INVALFLAG;
  const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
  if (!query && out == nullptr) return MMSYSERR_INVALPARAM;
  std::string name;
  {
    auto& s = tp::State();
    std::lock_guard lock(s.mutex);
    const auto& devices = tp::Devices(s);
    if (device == WAVE_MAPPER && !devices.empty()) device = 0;
    if (device >= devices.size()) return MMSYSERR_BADDEVICEID;
    name = devices[device].name;
  }
  if (!tp::detail::ValidPcmFormat(*format)) return WAVERR_BADFORMAT;
  auto w = std::make_shared<tp::OpenDevice>();
  w->device = device;
  const MMRESULT opened = tp::detail::IsVirtualName(name)
                              ? (query ? MMSYSERR_NOERROR : tp::detail::OpenVirtual(name, *format, &w->sink))
                              : tp::detail::OpenAlsa(name, *format, query, &w->sink);
  if (opened != MMSYSERR_NOERROR || query) return opened;
  if (kind == CALLBACK_EVENT) w->event = reinterpret_cast<HANDLE>(callback);
  try {
    w->player = std::thread([w] { tp::Play(w); });
  } catch (const std::system_error&) {
    return MMSYSERR_NOMEM;
  }
  const uint32_t handle = tp::detail::NextHandle();
  {
    auto& s = tp::State();
    std::lock_guard lock(s.mutex);
    s.open[handle] = w;
    ++s.activity.opens;
    ++s.activity.openNow;
  }
  *out = tp::detail::MakeHandle<HWAVEOUT>(handle);
  if (w->event != nullptr) SetEvent(w->event);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT out) {
  auto w = tp::Find(out);
  if (!w) return MMSYSERR_INVALHANDLE;
  {
    std::lock_guard lock(w->mutex);
    if (!w->queue.empty()) return WAVERR_STILLPLAYING;
    if (w->closing) return MMSYSERR_INVALHANDLE;
    w->closing = true;
  }
  {
    auto& s = tp::State();
    std::lock_guard lock(s.mutex);
    s.open.erase(tp::detail::HandleValue(out));
    --s.activity.openNow;
  }
  w->changed.notify_all();
  w->player.join();
  const bool kept = w->sink->Finish();
  if (!kept) {
    auto& s = tp::State();
    std::lock_guard lock(s.mutex);
    ++s.activity.errors;
  }
  if (w->event != nullptr) SetEvent(w->event);
  return kept ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

MMRESULT WINAPI waveOutGetID(HWAVEOUT out, LPUINT device) {
  if (device == nullptr) return MMSYSERR_INVALPARAM;
  auto w = tp::Find(out);
  if (!w) return MMSYSERR_INVALHANDLE;
  *device = w->device;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT out, LPWAVEHDR header, UINT size) {
  return tp::detail::PrepareHeader(header, size, tp::Find(out) != nullptr, true);
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT out, LPWAVEHDR header, UINT size) {
  return tp::detail::PrepareHeader(header, size, tp::Find(out) != nullptr, false);
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT out, LPWAVEHDR header, UINT size) {
  if (!tp::detail::ValidHeader(header, size)) return MMSYSERR_INVALPARAM;
  auto w = tp::Find(out);
  if (!w) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = tp::detail::QueueableHeader(header, size); r != MMSYSERR_NOERROR) return r;
  std::lock_guard lock(w->mutex);
  if (w->closing) return MMSYSERR_INVALHANDLE;
  tp::StoreHeaderFlags(header, (tp::HeaderFlags(header) & ~static_cast<DWORD>(WHDR_DONE)) | WHDR_INQUEUE);
  w->queue.push_back({header, tp::WaveClock::now()});
  w->changed.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT out) {
  auto w = tp::Find(out);
  if (!w) return MMSYSERR_INVALHANDLE;
  std::unique_lock lock(w->mutex);
  w->resetting = true;
  w->interrupt.Set();
  w->changed.wait(lock, [&] { return !w->playing; });
  w->sink->Discard();
  const bool returned = !w->queue.empty();
  for (const auto& q : w->queue) tp::MarkHeaderDone(q.header);
  w->queue.clear();
  w->interrupt.Clear();
  w->resetting = false;
  lock.unlock();
  if (returned && w->event != nullptr) SetEvent(w->event);
  return MMSYSERR_NOERROR;
}

}  // extern "C"
