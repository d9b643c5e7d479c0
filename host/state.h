// What the host keeps between runs, in its home folder: the parameter block of each
// module (as the host keeps presets), the clipboard, and temporary files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/core/stored.h"
#include "platform/portable/faces.h"

namespace tovrel::host {

// TOVREL_HOME, else $XDG_STATE_HOME/tovrel, else ~/.local/state/tovrel.
std::string HomeDirectory();

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path);

class StateStore {
 public:
  explicit StateStore(std::string home) : home_(std::move(home)) {}
  const std::string& home() const { return home_; }

  // The stored parameter block of a module, when one stored for exactly this type string
  // and size is there, whole, with every field readable (finite numbers, terminated
  // texts). Otherwise nothing; `problem` then says what was wrong with a block that is
  // there (empty when there is none).
  std::optional<std::vector<uint8_t>> LoadBlock(const std::string& module, const std::string& typeString,
                                                std::size_t size, std::string* problem = nullptr) const;
  bool SaveBlock(const std::string& module, const std::string& typeString, const std::vector<uint8_t>& block,
                 std::string& error) const;
  bool ForgetBlock(const std::string& module) const;

  // The clipboard's items as they were left by the last run. A format file that cannot
  // be read is left out, its reason in `problems`.
  std::vector<portable::ClipboardItem> LoadClipboard(std::vector<std::string>* problems = nullptr) const;
  bool SaveClipboard(const std::vector<portable::ClipboardItem>& items, std::string& error) const;

  // Where modules' temporary files go: the host's temporary folder (TMPDIR, else /tmp).
  std::string TempDirectory() const;

  // The folder that stands for the host audio editor's Windows folder: its "Vorn.ini"
  // names the host's clipboard file ("Clipboard=C:\WINDOWS\clipboard.wav"), which is the
  // clipboard's wave data kept here. Made when missing; a user's own entries stay.
  std::string WindowsFolder() const;

 private:
  std::string home_;
};

}  // namespace tovrel::host
