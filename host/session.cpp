#include "host/session.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace tovrel::host {

namespace {

Session* g_current = nullptr;
volatile sig_atomic_t g_interrupt = 0;

void OnInterrupt(int) { g_interrupt = 1; }

constexpr std::size_t kBytesPerSample = 2;

}  // namespace

Session::Session(Document& doc, std::string caption, std::string tempDir)
    : doc_(doc), caption_(std::move(caption)), tempDir_(std::move(tempDir)) {
  XfmContext& c = context_;
  c.channels = static_cast<WORD>(doc.channels);
  c.bitsPerSample = 16;
  c.sampleRate = static_cast<LONG>(doc.sampleRate);
  c.selStart = static_cast<LONG>(doc.selStart);
  c.selEnd = static_cast<LONG>(doc.selEnd);
  c.caption = caption_.c_str();
  c.dialogInit = &Session::DialogInit;
  c.readSamples = &Session::ReadSamples;
  c.writeSamples = &Session::WriteSamples;
  c.cancelFlag = &cancel_;
  c.progress = &Session::Progress;
  c.statusText = &Session::StatusText;
  c.endProgress = &Session::EndProgress;
  c.batchIndex = -1;
  c.batchShowDialogs = 0;
  c.tempFileName = &Session::TempFileName;
  c.deleteSamples = &Session::DeleteSamples;
  c.insertSamples = &Session::InsertSamples;
  previous_ = g_current;
  g_current = this;
}

Session::~Session() {
  ClearBar();
  RemoveInterruptHandler();
  // Temporary files the module left behind go with the run.
  for (const auto& path : tempFiles_) std::remove(path.c_str());
  g_current = previous_;
}

void Session::InstallInterruptHandler() {
  g_interrupt = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  auto* old = new struct sigaction;
  sigaction(SIGINT, &action, old);
  oldHandler_ = old;
}

void Session::RemoveInterruptHandler() {
  if (!oldHandler_) return;
  auto* old = static_cast<struct sigaction*>(oldHandler_);
  sigaction(SIGINT, old, nullptr);
  delete old;
  oldHandler_ = nullptr;
}

LONG WINAPI Session::DialogInit(HWND, LONG) { return 0; }

LONG WINAPI Session::ReadSamples(void* buffer, LONG byteOffset, LONG byteCount) {
  Session* s = g_current;
  if (!s || !buffer || byteCount <= 0) return 0;
  std::lock_guard<std::mutex> lock(s->documentMutex_);
  const auto* bytes = reinterpret_cast<const uint8_t*>(s->doc_.samples.data());
  const long total = static_cast<long>(s->doc_.samples.size() * kBytesPerSample);
  auto* out = static_cast<uint8_t*>(buffer);
  // Bytes outside the document read as silence.
  std::memset(out, 0, static_cast<std::size_t>(byteCount));
  long from = byteOffset < 0 ? 0 : byteOffset;
  long to = static_cast<long>(byteOffset) + byteCount;
  if (to > total) to = total;
  if (from < to) std::memcpy(out + (from - byteOffset), bytes + from, static_cast<std::size_t>(to - from));
  return from < to ? static_cast<LONG>(to - from) : 0;
}

SHORT WINAPI Session::WriteSamples(const void* buffer, LONG byteOffset, LONG byteCount) {
  Session* s = g_current;
  if (!s || !buffer || byteOffset < 0 || byteCount < 0 || byteOffset % kBytesPerSample || byteCount % kBytesPerSample)
    return 1;
  std::lock_guard<std::mutex> lock(s->documentMutex_);
  auto& samples = s->doc_.samples;
  const std::size_t first = static_cast<std::size_t>(byteOffset) / kBytesPerSample;
  const std::size_t count = static_cast<std::size_t>(byteCount) / kBytesPerSample;
  if (first + count > samples.size()) {
    // Writing past the end lengthens the document by whole frames.
    std::size_t channels = static_cast<std::size_t>(s->doc_.channels);
    std::size_t needed = (first + count + channels - 1) / channels * channels;
    samples.resize(needed, 0);
  }
  std::memcpy(samples.data() + first, buffer, count * kBytesPerSample);
  s->wrote_ = true;
  return 0;
}

LONG WINAPI Session::Progress(LONG done, LONG total) {
  Session* s = g_current;
  if (!s) return 0;
  ++s->progressReports_;
  if (s->cancelAtReport_ && s->progressReports_ == s->cancelAtReport_) s->cancel_ = 1;
  if (g_interrupt) {
    s->cancel_ = 1;
    s->interrupted_ = true;
  }
  if (s->showProgress_) s->DrawBar(done, total);
  return 0;
}

LONG WINAPI Session::StatusText(LPCSTR text, LONG) {
  Session* s = g_current;
  if (!s) return 0;
  s->status_ = text ? text : "";
  s->statusTexts_.push_back(s->status_);
  s->lastPercent_ = -1;
  return 0;
}

LONG WINAPI Session::EndProgress() {
  Session* s = g_current;
  if (s) s->ClearBar();
  return 0;
}

LONG WINAPI Session::TempFileName(LPCSTR prefix, LPSTR buffer) {
  Session* s = g_current;
  if (!s || !buffer) return 0;
  std::error_code ec;
  std::filesystem::create_directories(s->tempDir_, ec);
  std::string pattern = s->tempDir_ + "/" + (prefix && *prefix ? prefix : "tvr") + "XXXXXX";
  if (pattern.size() >= MAX_PATH) pattern = "/tmp/tvrXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    buffer[0] = '\0';
    return 0;
  }
  close(fd);
  std::snprintf(buffer, MAX_PATH, "%s", name.data());
  s->tempFiles_.push_back(name.data());
  return 1;
}

LONG WINAPI Session::DeleteSamples(LONG byteOffset, LONG byteCount) {
  Session* s = g_current;
  if (!s) return 1;
  std::lock_guard<std::mutex> lock(s->documentMutex_);
  const std::size_t frameBytes = kBytesPerSample * static_cast<std::size_t>(s->doc_.channels);
  auto& samples = s->doc_.samples;
  if (byteOffset < 0 || byteCount < 0 || byteOffset % frameBytes || byteCount % frameBytes) return 1;
  std::size_t first = static_cast<std::size_t>(byteOffset) / kBytesPerSample;
  std::size_t count = static_cast<std::size_t>(byteCount) / kBytesPerSample;
  if (first > samples.size()) return 1;
  if (first + count > samples.size()) count = samples.size() - first;
  samples.erase(samples.begin() + static_cast<std::ptrdiff_t>(first),
                samples.begin() + static_cast<std::ptrdiff_t>(first + count));
  s->wrote_ = true;
  return 0;
}

LONG WINAPI Session::InsertSamples(LONG byteOffset, LONG byteCount) {
  Session* s = g_current;
  if (!s) return 1;
  std::lock_guard<std::mutex> lock(s->documentMutex_);
  const std::size_t frameBytes = kBytesPerSample * static_cast<std::size_t>(s->doc_.channels);
  auto& samples = s->doc_.samples;
  if (byteOffset < 0 || byteCount < 0 || byteOffset % frameBytes || byteCount % frameBytes) return 1;
  std::size_t first = static_cast<std::size_t>(byteOffset) / kBytesPerSample;
  if (first > samples.size()) return 1;
  samples.insert(samples.begin() + static_cast<std::ptrdiff_t>(first),
                 static_cast<std::size_t>(byteCount) / kBytesPerSample, 0);
  s->wrote_ = true;
  return 0;
}

void Session::DrawBar(long done, long total) {
  if (total <= 0) return;
  int percent = static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(total));
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  constexpr int width = 30;
  char bar[width + 1];
  int filled = percent * width / 100;
  for (int k = 0; k < width; ++k) bar[k] = k < filled ? '#' : '.';
  bar[width] = '\0';
  std::fprintf(stderr, "\r[%s] %3d%% %s", bar, percent, status_.c_str());
  std::fflush(stderr);
  barShown_ = true;
}

void Session::ClearBar() {
  if (!barShown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  barShown_ = false;
}

}  // namespace tovrel::host
