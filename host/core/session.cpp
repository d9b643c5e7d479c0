#include "host/core/session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tovrel::host::core {

namespace {

Session* g_current = nullptr;

constexpr std::size_t kBytesPerSample = 2;

}  // namespace

bool ApplyResult(DWORD kind, const Document& before, Document& doc, LONG result, bool wrote, LONG announced) {
  const long start = before.selStart;
  const std::size_t channels = static_cast<std::size_t>(doc.channels > 0 ? doc.channels : 1);
  if (kind == kKindGenerator) {
    if (!wrote || result < 0 || (announced >= 0 && result != announced)) {
      doc.samples = before.samples;
      doc.selStart = before.selStart;
      doc.selEnd = before.selEnd;
      return false;
    }
    // The frames written from selStart stand in place of the selection; what the module
    // wrote beyond them is not part of the result.
    const std::size_t head = static_cast<std::size_t>(start) * channels;
    const std::size_t body = static_cast<std::size_t>(result) * channels;
    std::vector<int16_t> merged(before.samples.begin(),
                                before.samples.begin() + static_cast<std::ptrdiff_t>(head));
    merged.resize(head + body, 0);
    if (doc.samples.size() > head) {
      const std::size_t have = std::min(body, doc.samples.size() - head);
      std::memcpy(merged.data() + head, doc.samples.data() + head, have * kBytesPerSample);
    }
    const std::size_t tail = static_cast<std::size_t>(before.selEnd + 1) * channels;
    if (tail < before.samples.size())
      merged.insert(merged.end(), before.samples.begin() + static_cast<std::ptrdiff_t>(tail), before.samples.end());
    doc.samples = std::move(merged);
    doc.selStart = start;
    doc.selEnd = start + result - 1;
    return true;
  }
  if (kind == kKindConvolver || kind == kKindLiveConvolver) {
    if (result < 0 || start + static_cast<long>(result) > doc.frames()) return false;
    doc.selStart = start;
    doc.selEnd = start + result - 1;
    return true;
  }
  return true;
}

Session::Session(Document& doc, std::string caption, Front& front)
    : doc_(doc), caption_(std::move(caption)), front_(front) {
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
  // Temporary files go with the run, whatever became of it.
  for (const auto& path : tempFiles_) std::remove(path.c_str());
  g_current = previous_;
}

LONG Session::Do(XfmDoFn run, DWORD kind, bool* accepted) {
  doc_.selStart = context_.selStart;
  doc_.selEnd = context_.selEnd;
  const Document before = doc_;
  wrote_ = false;
  const LONG result = run(&context_);
  const bool taken = ApplyResult(kind, before, doc_, result, wrote_,
                                 context_.outputLengthSet ? context_.outputLength : -1);
  context_.selStart = static_cast<LONG>(doc_.selStart);
  context_.selEnd = static_cast<LONG>(doc_.selEnd);
  if (accepted) *accepted = taken;
  return result;
}

LONG WINAPI Session::DialogInit(HWND, LONG) {
  if (Session* s = g_current) ++s->dialogInitCalls_;
  return 0;
}

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
  if (byteOffset < 0 || static_cast<long>(byteOffset) + byteCount > total) ++s->badCalls_;
  if (from < to) std::memcpy(out + (from - byteOffset), bytes + from, static_cast<std::size_t>(to - from));
  return from < to ? static_cast<LONG>(to - from) : 0;
}

SHORT WINAPI Session::WriteSamples(const void* buffer, LONG byteOffset, LONG byteCount) {
  Session* s = g_current;
  if (!s) return 1;
  std::lock_guard<std::mutex> lock(s->documentMutex_);
  if (!buffer || byteOffset < 0 || byteCount < 0 || byteOffset % kBytesPerSample || byteCount % kBytesPerSample) {
    ++s->badCalls_;
    return 1;
  }
  auto& samples = s->doc_.samples;
  const std::size_t first = static_cast<std::size_t>(byteOffset) / kBytesPerSample;
  const std::size_t count = static_cast<std::size_t>(byteCount) / kBytesPerSample;
  if (first + count > samples.size()) {
    // Writing past the end lengthens the document by whole frames.
    std::size_t channels = static_cast<std::size_t>(s->doc_.channels);
    std::size_t needed = (first + count + channels - 1) / channels * channels;
    samples.resize(needed, 0);
  }
  if (count) std::memcpy(samples.data() + first, buffer, count * kBytesPerSample);
  s->wrote_ = true;
  return 0;
}

LONG WINAPI Session::Progress(LONG done, LONG total) {
  Session* s = g_current;
  if (!s) return 0;
  ++s->progressReports_;
  s->lastDone_ = done;
  s->lastTotal_ = total;
  if (s->cancelAtReport_ > 0 && s->progressReports_ >= s->cancelAtReport_) s->cancel_ = 1;
  if (s->front_.TakeInterrupt()) {
    s->cancel_ = 1;
    s->interrupted_ = true;
  }
  s->front_.ShowProgress(done, total, s->status_);
  return 0;
}

LONG WINAPI Session::StatusText(LPCSTR text, LONG) {
  Session* s = g_current;
  if (!s) return 0;
  s->status_ = text ? text : "";
  s->statusTexts_.push_back(s->status_);
  return 0;
}

LONG WINAPI Session::EndProgress() {
  Session* s = g_current;
  if (!s) return 0;
  ++s->endProgressCalls_;
  s->front_.EndProgress();
  return 0;
}

LONG WINAPI Session::TempFileName(LPCSTR prefix, LPSTR buffer) {
  Session* s = g_current;
  if (!s || !buffer) return 0;
  buffer[0] = '\0';
  const std::string path = s->front_.CreateTempFile(prefix ? prefix : "");
  if (path.empty() || path.size() >= MAX_PATH) {
    if (!path.empty()) std::remove(path.c_str());
    return 0;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  s->tempFiles_.push_back(path);
  return 1;
}

LONG WINAPI Session::DeleteSamples(LONG byteOffset, LONG byteCount) {
  return g_current ? g_current->Resize(byteOffset, byteCount, false) : 1;
}

LONG WINAPI Session::InsertSamples(LONG byteOffset, LONG byteCount) {
  return g_current ? g_current->Resize(byteOffset, byteCount, true) : 1;
}

LONG Session::Resize(LONG byteOffset, LONG byteCount, bool insert) {
  std::lock_guard<std::mutex> lock(documentMutex_);
  const std::size_t frameBytes = kBytesPerSample * static_cast<std::size_t>(doc_.channels);
  auto& samples = doc_.samples;
  // Whole frames, within the document (an insertion may start at its end).
  const std::size_t reach = static_cast<std::size_t>(byteOffset) + (insert ? 0 : static_cast<std::size_t>(byteCount));
  if (byteOffset < 0 || byteCount < 0 || byteOffset % frameBytes || byteCount % frameBytes ||
      reach > samples.size() * kBytesPerSample) {
    ++badCalls_;
    return 1;
  }
  const auto first = samples.begin() + static_cast<std::ptrdiff_t>(byteOffset / kBytesPerSample);
  const std::size_t count = static_cast<std::size_t>(byteCount) / kBytesPerSample;
  if (insert) samples.insert(first, count, 0);
  else samples.erase(first, first + static_cast<std::ptrdiff_t>(count));
  wrote_ = true;
  return 0;
}

}  // namespace tovrel::host::core
