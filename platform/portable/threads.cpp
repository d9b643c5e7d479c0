// Threads and events: CreateThread, WaitForSingleObject, GetExitCodeThread, Sleep,
// SetThreadPriority over std::thread, CreateEventA, SetEvent, ResetEvent, and their side of
// CloseHandle.
//
// A thread handle is an entry of a table, numbered from the backend's one handle counter.
// The entry and the running thread share one record, so a handle closed early leaves the
// thread running to its end without a dangling record.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/portable/internal.h"

namespace tovrel::portable {
namespace {

struct ThreadRecord {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  DWORD exitCode = STILL_ACTIVE;
  int priority = THREAD_PRIORITY_NORMAL;
  std::thread thread;
};

struct EventRecord {
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled = false;
  bool manualReset = false;
};

struct ThreadTable {
  std::mutex mutex;
  std::unordered_map<uint32_t, std::shared_ptr<ThreadRecord>> threads;
  std::unordered_map<uint32_t, std::shared_ptr<EventRecord>> events;
};

ThreadTable& Table() {
  static ThreadTable* table = new ThreadTable;  // never destroyed: used until process exit
  return *table;
}

std::shared_ptr<ThreadRecord> Find(HANDLE object) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  auto it = t.threads.find(detail::HandleValue(object));
  return it == t.threads.end() ? nullptr : it->second;
}

std::shared_ptr<EventRecord> FindEvent(HANDLE object) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  auto it = t.events.find(detail::HandleValue(object));
  return it == t.events.end() ? nullptr : it->second;
}

DWORD WaitForEvent(EventRecord& event, DWORD milliseconds) {
  std::unique_lock lock(event.mutex);
  auto set = [&] { return event.signalled; };
  if (milliseconds == INFINITE) event.changed.wait(lock, set);
  else if (!event.changed.wait_for(lock, std::chrono::milliseconds(milliseconds), set)) return WAIT_TIMEOUT;
  if (!event.manualReset) event.signalled = false;
  return WAIT_OBJECT_0;
}

}  // namespace

namespace detail {

bool CloseThreadHandle(uint32_t value) {
  std::shared_ptr<ThreadRecord> record;
  {
    auto& t = Table();
    std::lock_guard lock(t.mutex);
    if (t.events.erase(value) > 0) return true;  // waiters hold the record
    auto it = t.threads.find(value);
    if (it == t.threads.end()) return false;
    record = it->second;
    t.threads.erase(it);
  }
  std::lock_guard lock(record->mutex);
  if (record->thread.joinable()) {
    if (record->done && record->thread.get_id() != std::this_thread::get_id()) record->thread.join();
    else record->thread.detach();  // runs on; the record lives as long as the thread
  }
  return true;
}

}  // namespace detail
}  // namespace tovrel::portable

namespace tp = tovrel::portable;

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId) {
  if (start == nullptr || flags != 0) return nullptr;
  auto record = std::make_shared<tp::ThreadRecord>();
  const uint32_t handle = tp::detail::NextHandle();
  {
    // The record's lock is held until the thread object is stored, so the thread cannot
    // finish and be joined before it exists.
    std::lock_guard lock(record->mutex);
    try {
      record->thread = std::thread([record, start, parameter] {
        const DWORD code = start(parameter);
        std::lock_guard done(record->mutex);
        record->exitCode = code;
        record->done = true;
        record->ended.notify_all();
      });
    } catch (const std::system_error&) {
      return nullptr;
    }
  }
  if (threadId != nullptr) *threadId = handle;
  auto& t = tp::Table();
  std::lock_guard lock(t.mutex);
  t.threads[handle] = std::move(record);
  return tp::detail::MakeHandle<HANDLE>(handle);
}

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  if (auto event = tp::FindEvent(object)) return tp::WaitForEvent(*event, milliseconds);
  auto record = tp::Find(object);
  if (!record) return WAIT_FAILED;
  std::unique_lock lock(record->mutex);
  if (milliseconds == INFINITE) {
    record->ended.wait(lock, [&] { return record->done; });
  } else if (!record->ended.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return record->done; })) {
    return WAIT_TIMEOUT;
  }
  if (record->thread.joinable() && record->thread.get_id() != std::this_thread::get_id()) record->thread.join();
  return WAIT_OBJECT_0;
}

BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
  auto record = tp::Find(thread);
  if (!record || exitCode == nullptr) return FALSE;
  std::lock_guard lock(record->mutex);
  *exitCode = record->exitCode;
  return TRUE;
}

void WINAPI Sleep(DWORD milliseconds) {
  if (milliseconds == 0) std::this_thread::yield();
  else std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

BOOL WINAPI SetThreadPriority(HANDLE thread, int priority) {
  auto record = tp::Find(thread);
  if (!record || priority < THREAD_PRIORITY_LOWEST || priority > THREAD_PRIORITY_HIGHEST) return FALSE;
  std::lock_guard lock(record->mutex);
  record->priority = priority;
  return TRUE;
}

int WINAPI GetThreadPriority(HANDLE thread) {
  auto record = tp::Find(thread);
  if (!record) return THREAD_PRIORITY_ERROR_RETURN;
  std::lock_guard lock(record->mutex);
  return record->priority;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name) {
  if (name != nullptr) return nullptr;  // named events are not part of the subset
  auto event = std::make_shared<tp::EventRecord>();
  event->manualReset = manualReset != FALSE;
  event->signalled = initialState != FALSE;
  const uint32_t handle = tp::detail::NextHandle();
  auto& t = tp::Table();
  std::lock_guard lock(t.mutex);
  t.events[handle] = std::move(event);
  return tp::detail::MakeHandle<HANDLE>(handle);
}

BOOL WINAPI SetEvent(HANDLE object) {
  auto event = tp::FindEvent(object);
  if (!event) return FALSE;
  std::lock_guard lock(event->mutex);
  event->signalled = true;
  if (event->manualReset) event->changed.notify_all();
  else event->changed.notify_one();
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE object) {
  auto event = tp::FindEvent(object);
  if (!event) return FALSE;
  std::lock_guard lock(event->mutex);
  event->signalled = false;
  return TRUE;
}

}  // extern "C"
