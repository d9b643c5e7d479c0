#include "host/filter_driver.h"

#include "host/safefile.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <type_traits>

namespace fs = std::filesystem;

namespace tovrel::host {

namespace {

std::string Field(const char* text, std::size_t size) { return std::string(text, strnlen(text, size)); }

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

// The texts of the message boxes shown since the journal had `from` events.
std::string MessagesSince(std::size_t from) {
  std::string text;
  const auto& journal = portable::Journal();
  for (std::size_t i = from; i < journal.size(); ++i) {
    if (const auto* box = std::get_if<portable::MessageBoxEvent>(&journal[i])) {
      if (!text.empty()) text += " ";
      std::string line = box->text;
      std::replace(line.begin(), line.end(), '\n', ' ');
      text += line;
    }
  }
  return text;
}

}  // namespace

std::unique_ptr<FileFilter> FileFilter::FromModule(const Module& module, std::string& error) {
  std::unique_ptr<FileFilter> f(new FileFilter(module));
  const std::string missing = f->Load([&module](const char* name) { return module.Export(name); });
  error = missing.empty() ? "" : "\"" + module.path() + "\" is not a file filter (no " + missing + ")";
  if (!error.empty()) return nullptr;
  f->queryResult_ = f->query(&f->descriptor_);
  return f;
}

std::string FileFilter::shortName() const { return Field(descriptor_.name, sizeof descriptor_.name); }
std::string FileFilter::description() const { return Field(descriptor_.description, sizeof descriptor_.description); }
std::string FileFilter::extension() const { return Field(descriptor_.extension, sizeof descriptor_.extension); }

bool FileFilter::Understands(const std::string& path) const { return understands(path.c_str()) != 0; }

bool FileFilter::HasExtension(const std::string& path) const {
  const std::string ext = extension();
  if (ext.empty()) return false;
  const std::string given = fs::path(path).extension().string();
  return !given.empty() && Upper(given.substr(1)) == Upper(ext);
}

std::vector<std::unique_ptr<FileFilter>> FileFilters(const std::vector<std::unique_ptr<Module>>& modules,
                                                     std::vector<std::string>* problems) {
  std::vector<std::unique_ptr<FileFilter>> filters;
  for (const auto& m : modules) {
    if (m->kind() != ModuleKind::FileFilter) continue;
    std::string error;
    if (auto f = FileFilter::FromModule(*m, error)) filters.push_back(std::move(f));
    else if (problems) problems->push_back(error);
  }
  return filters;
}

const FileFilter* FilterForReading(const std::vector<std::unique_ptr<FileFilter>>& filters, const std::string& path) {
  for (const auto& f : filters)
    if (f->Understands(path)) return f.get();
  for (const auto& f : filters)
    if (f->HasExtension(path)) return f.get();
  return nullptr;
}

const FileFilter* FilterForWriting(const std::vector<std::unique_ptr<FileFilter>>& filters, const std::string& path) {
  for (const auto& f : filters)
    if (f->HasExtension(path)) return f.get();
  std::error_code ec;
  if (fs::is_regular_file(path, ec))
    for (const auto& f : filters)
      if (f->Understands(path)) return f.get();
  return nullptr;
}

FilterReadResult ReadWithFilter(const FileFilter& filter, const std::string& path) {
  FilterReadResult r;
  const std::string kind = filter.description();
  const std::size_t journalAt = portable::Journal().size();
  FilterRead read = ReadThroughFilter(filter, path, portable::HostWindow());
  if (!read.opened) {
    const std::string said = MessagesSince(journalAt);
    r.error = path + ": " + (said.empty() ? "not a file the " + kind + " filter can read" : said);
    return r;
  }
  if (read.bits != 16 || (read.channels != 1 && read.channels != 2) || read.rate <= 0) {
    r.error = path + ": the " + kind + " filter delivers " + std::to_string(read.bits) + "-bit audio with " +
              std::to_string(read.channels) + " channels at " + std::to_string(read.rate) +
              " Hz; documents are 16-bit mono or stereo";
    return r;
  }
  if (!read.formatOk) {
    r.error = path + ": the " + kind + " filter announced " + std::to_string(read.fileSize) + " bytes of audio";
    return r;
  }
  if (!read.ok) {
    r.error = path + ": reading through the " + kind + " filter failed";
    return r;
  }
  Document doc = Document::Empty(read.rate, read.channels);
  doc.samples = std::move(read.samples);
  doc.SelectAll();
  r.doc = std::move(doc);
  r.data.filter = filter.name();
  r.data.option = read.option;
  r.data.optionText = std::move(read.optionText);
  r.data.items = std::move(read.items);
  r.ok = true;
  return r;
}

bool WriteWithFilter(const FileFilter& filter, const std::string& path, const Document& doc, const FilterData* data,
                     std::string& error, const FilterWriteOptions& options) {
  const std::string kind = filter.description();
  const bool sameFilter = data != nullptr && data->filter == filter.name();
  const int channels = doc.channels;
  const HWND owner = options.owner ? options.owner : portable::HostWindow();

  if (!CheckWritable(path, error)) return false;
  if (options.user) portable::SetUser(options.user);
  const DWORD option = filter.getOptions(owner, filter.module().instance(), static_cast<LONG>(doc.sampleRate),
                                         static_cast<WORD>(channels), 16, sameFilter ? data->option : 0);
  if (options.user) portable::SetUser(nullptr);
  if (option == 0) {
    error = path + ": saving as " + kind + " cancelled in its options dialog";
    return false;
  }

  const std::size_t totalBytes = doc.samples.size() * 2;
  if (totalBytes > 0x7FFFFFFFu) {
    error = path + ": the document is too long for the " + kind + " filter";
    return false;
  }
  return WriteFileSafely(path, [&](int, const std::string& name, std::string& why) {
    const std::size_t journalAt = portable::Journal().size();
    const FilterWrite w = WriteThroughFilter(filter, name, static_cast<LONG>(doc.sampleRate), channels, doc.samples,
                                             option, sameFilter ? &data->items : nullptr);
    if (w.opened && w.ok && w.closed) return true;
    const std::string said = MessagesSince(journalAt);
    if (!w.opened)
      why = path + ": " +
            (said.empty() ? "the " + kind + " filter does not take a " + std::to_string(channels) +
                                "-channel 16-bit document at " + std::to_string(doc.sampleRate) + " Hz"
                          : said);
    else
      why = path + ": writing through the " + kind + " filter failed" + (said.empty() ? "" : ": " + said);
    return false;
  }, error);
}

}  // namespace tovrel::host
