#include "host/session.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "frame/xfm.h"
#include "host/interrupt.h"

namespace tovrel::host {

std::string TemporaryFolder() {
  const char* dir = std::getenv("TMPDIR");
  return dir && *dir ? dir : "/tmp";
}

TerminalFront::~TerminalFront() {
  ClearBar();
  RemoveInterruptHandler();
}

std::string TerminalFront::CreateTempFile(const std::string& prefix) {
  std::error_code ec;
  std::filesystem::create_directories(tempDir_, ec);
  std::string pattern = tempDir_ + "/" + (prefix.empty() ? "tvr" : prefix) + "XXXXXX";
  if (pattern.size() >= MAX_PATH) pattern = "/tmp/tvrXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return {};
  close(fd);
  return name.data();
}

void TerminalFront::InstallInterruptHandler() {
  InstallInterruptHandling();
  watching_ = true;
}

void TerminalFront::RemoveInterruptHandler() { watching_ = false; }

// An interrupt that came before the run (while its dialogs were answered) counts too.
bool TerminalFront::TakeInterrupt() { return watching_ && Interrupted(); }

void TerminalFront::ShowProgress(long done, long total, const std::string& status) {
  if (!showProgress_ || total <= 0) return;
  if (status != lastStatus_) {
    lastStatus_ = status;
    lastPercent_ = -1;
  }
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
  std::fprintf(stderr, "\r[%s] %3d%% %s", bar, percent, status.c_str());
  std::fflush(stderr);
  barShown_ = true;
}

void TerminalFront::ClearBar() {
  if (!barShown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  barShown_ = false;
}

}  // namespace tovrel::host
