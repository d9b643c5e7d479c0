// Documents read and written through file-filter modules, as the host uses a filter:
// recognise the file, open it, read it in chunks, take its text items and keep them
// with the document; on saving ask for the option, open, hand the items back, write in
// chunks of at most 8192 bytes, close.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/core/document.h"
#include "host/core/filter.h"
#include "host/modules.h"
#include "platform/portable/faces.h"

namespace tovrel::host {

// What a document read through a filter carries besides its audio, so that saving it
// through the same filter keeps what the file held.
struct FilterData {
  std::string filter;       // module name of the filter that read the file
  DWORD option = 0;         // FilterOptions of the file read (0: none)
  std::string optionText;   // FilterOptionsString of the file read
  std::vector<FilterItem> items;
};

// The filter interface of a loaded file-filter module.
// Its entry points are those of FilterEntries, all present once FromModule succeeded.
class FileFilter : public FilterEntries {
 public:
  // Null, with the reason, when the module lacks an entry point of the interface.
  static std::unique_ptr<FileFilter> FromModule(const Module& module, std::string& error);

  const Module& module() const { return module_; }
  const std::string& name() const { return module_.name(); }  // "timfilter"
  const FilterDescriptor& descriptor() const { return descriptor_; }
  WORD queryResult() const { return queryResult_; }  // QueryVornFilter's result
  std::string shortName() const;    // "MLSSA"
  std::string description() const;  // "MLSSA Time Domain Data File"
  std::string extension() const;    // "TIM"

  // FilterUnderstandsFormat.
  bool Understands(const std::string& path) const;
  // The path ends in "." and the declared extension (letter case aside).
  bool HasExtension(const std::string& path) const;

 private:
  explicit FileFilter(const Module& module) : module_(module) {}
  const Module& module_;
  FilterDescriptor descriptor_{};
  WORD queryResult_ = 0;
};

// The filters among the loaded modules, in module order. Modules that claim to be
// filters but lack entry points are left out, with a line in problems.
std::vector<std::unique_ptr<FileFilter>> FileFilters(const std::vector<std::unique_ptr<Module>>& modules,
                                                     std::vector<std::string>* problems = nullptr);

// The filter to read a file: the first that recognises it, else the first whose
// extension it has; null when none (the file is then an ordinary audio file).
const FileFilter* FilterForReading(const std::vector<std::unique_ptr<FileFilter>>& filters, const std::string& path);
// The filter to write a file: the first whose extension it has, else the first that
// recognises the file already there; null when none.
const FileFilter* FilterForWriting(const std::vector<std::unique_ptr<FileFilter>>& filters, const std::string& path);

struct FilterReadResult {
  bool ok = false;
  Document doc;      // whole document selected
  FilterData data;
  std::string error;  // why the file was not read (the filter's own message when it gave one)
};

// Opens, reads and closes the file through the filter. Nothing of a refused file is kept.
FilterReadResult ReadWithFilter(const FileFilter& filter, const std::string& path);

struct FilterWriteOptions {
  HWND owner = nullptr;               // owner of the options dialog (the host window when null)
  portable::User* user = nullptr;     // answers the options dialog; null: the user in charge
};

// Asks for the option through the filter's options dialog (initialised with the option
// of the file read, when `data` came from this filter), writes the document through the
// filter with the items of `data` (only when they came from this filter), and closes.
// The file is written safely (host/safefile.h); one that cannot be written is refused first.
// False with the reason when the options dialog was cancelled, the filter refused the
// document or a write failed.
bool WriteWithFilter(const FileFilter& filter, const std::string& path, const Document& doc, const FilterData* data,
                     std::string& error, const FilterWriteOptions& options = {});

}  // namespace tovrel::host
