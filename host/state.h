// What the host keeps between runs, in its home folder: the parameter block of each
// module (as the host keeps presets), the clipboard, and temporary files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/portable/faces.h"

namespace tovrel::host {

// TOVREL_HOME, else $XDG_STATE_HOME/tovrel, else ~/.local/state/tovrel.
std::string HomeDirectory();

// Writes a file whole or not at all (beside it first, then renamed), making folders.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path);

class StateStore {
 public:
  explicit StateStore(std::string home) : home_(std::move(home)) {}
  const std::string& home() const { return home_; }

  // The stored parameter block of a module, when one of exactly that size exists.
  std::optional<std::vector<uint8_t>> LoadBlock(const std::string& module, std::size_t size) const;
  bool SaveBlock(const std::string& module, const std::vector<uint8_t>& block, std::string& error) const;
  bool ForgetBlock(const std::string& module) const;

  // The clipboard's items as they were left by the last run.
  std::vector<portable::ClipboardItem> LoadClipboard() const;
  bool SaveClipboard(const std::vector<portable::ClipboardItem>& items, std::string& error) const;

  // Where modules' temporary files go: the host's temporary folder (TMPDIR, else /tmp).
  std::string TempDirectory() const;

 private:
  std::string home_;
};

}  // namespace tovrel::host
