#include "host/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace tovrel::host {

namespace {

constexpr int kSlots = 8;
constexpr int kPathBytes = 4096;

volatile sig_atomic_t g_interrupted = 0;
std::atomic<int> g_cancellable{0};
std::atomic<bool> g_installed{false};
// The registry is read by the handler: a slot's path is complete before its flag is set.
char g_paths[kSlots][kPathBytes];
std::atomic<int> g_used[kSlots];

void RemoveRegistered() {
  for (int k = 0; k < kSlots; ++k)
    if (g_used[k].load() == 1) ::unlink(g_paths[k]);
}

void OnSignal(int signal) {
  if (!g_interrupted && g_cancellable.load() > 0) {
    g_interrupted = 1;
    return;
  }
  RemoveRegistered();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
}

}  // namespace

void InstallInterruptHandling() {
  if (g_installed.exchange(true)) return;
  struct sigaction action {};
  action.sa_handler = OnSignal;  // no SA_RESTART: a blocked open or write returns
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

CancellableWork::CancellableWork() { g_cancellable.fetch_add(1); }
CancellableWork::~CancellableWork() { g_cancellable.fetch_sub(1); }

bool Interrupted() { return g_interrupted != 0; }
void ClearInterrupt() { g_interrupted = 0; }

int RegisterTemporary(const char* path) {
  if (std::strlen(path) >= kPathBytes) return -1;
  for (int k = 0; k < kSlots; ++k) {
    int expected = 0;
    if (!g_used[k].compare_exchange_strong(expected, 2)) continue;  // 2: being filled
    std::strcpy(g_paths[k], path);
    g_used[k].store(1);
    return k;
  }
  return -1;
}

void UnregisterTemporary(int slot) {
  if (slot >= 0 && slot < kSlots) g_used[slot].store(0);
}

}  // namespace tovrel::host
