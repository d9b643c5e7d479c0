#include "host/filter_driver.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <type_traits>

namespace fs = std::filesystem;

namespace tovrel::host {

namespace {

constexpr LONG kMaxChunkBytes = 8192;
// Item types asked for on reading: the host's special-data numbers.
constexpr LONG kFirstItemType = 1;
constexpr LONG kLastItemType = 255;
// Longest item taken from a filter.
constexpr DWORD kMaxItemBytes = 1 << 16;

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

// Closes an input handle on every exit path.
struct InputGuard {
  const FileFilter& filter;
  HANDLE handle;
  ~InputGuard() {
    if (handle) filter.closeInput(handle);
  }
};

// A name beside the target that no file has yet; the file made under it is removed
// unless kept. Nothing is created here: the filter creates the file, or refuses first.
struct TemporaryBeside {
  std::string path;
  bool keep = false;
  explicit TemporaryBeside(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const fs::path t(target);
    const fs::path dir = t.has_parent_path() ? t.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
      const std::string name = "." + t.filename().string() + ".tovrel-" + std::to_string(::getpid()) + "-" +
                               std::to_string(counter.fetch_add(1));
      std::error_code ec;
      if (!fs::exists(dir / name, ec) && !ec) path = (dir / name).string();
    }
  }
  ~TemporaryBeside() {
    if (!keep && !path.empty()) {
      std::error_code ec;
      fs::remove(path, ec);
    }
  }
};

}  // namespace

LONG FilterChunkBytes(LONG announced, int channels) {
  const LONG frame = 2 * std::max(channels, 1);
  LONG chunk = announced > 0 ? std::min(announced, kMaxChunkBytes) : kMaxChunkBytes;
  chunk -= chunk % frame;
  return std::max(chunk, frame);
}

std::unique_ptr<FileFilter> FileFilter::FromModule(const Module& module, std::string& error) {
  std::unique_ptr<FileFilter> f(new FileFilter(module));
  auto query = ExportCast<QueryVornFilterFn>(module.Export("QueryVornFilter"));
  const auto get = [&](auto& entry, const char* name) {
    entry = ExportCast<std::remove_reference_t<decltype(entry)>>(module.Export(name));
    if (!entry && error.empty()) error = "\"" + module.path() + "\" is not a file filter (no " + name + ")";
  };
  error.clear();
  if (!query) error = "\"" + module.path() + "\" is not a file filter (no QueryVornFilter)";
  get(f->understands, "FilterUnderstandsFormat");
  get(f->getOptions, "FilterGetOptions");
  get(f->openInput, "OpenFilterInput");
  get(f->fileSize, "FilterGetFileSize");
  get(f->read, "ReadFilterInput");
  get(f->options, "FilterOptions");
  get(f->optionsString, "FilterOptionsString");
  get(f->canReadSpecial, "FilterCanReadSpecial");
  get(f->readSpecial, "FilterReadSpecial");
  get(f->closeInput, "CloseFilterInput");
  get(f->openOutput, "OpenFilterOutput");
  get(f->canWriteSpecial, "FilterCanWriteSpecial");
  get(f->writeSpecial, "FilterWriteSpecial");
  get(f->write, "WriteFilterOutput");
  get(f->closeOutput, "CloseFilterOutput");
  if (!error.empty()) return nullptr;
  f->queryResult_ = query(&f->descriptor_);
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
  LONG rate = 0, bufferSize = 0;
  WORD bits = 0, channels = 0;
  InputGuard input{filter, filter.openInput(path.c_str(), &rate, &bits, &channels, portable::HostWindow(), &bufferSize)};
  if (!input.handle) {
    const std::string said = MessagesSince(journalAt);
    r.error = path + ": " + (said.empty() ? "not a file the " + kind + " filter can read" : said);
    return r;
  }
  if (bits != 16 || (channels != 1 && channels != 2) || rate <= 0) {
    r.error = path + ": the " + kind + " filter delivers " + std::to_string(bits) + "-bit audio with " +
              std::to_string(channels) + " channels at " + std::to_string(rate) +
              " Hz; documents are 16-bit mono or stereo";
    return r;
  }
  const LONG total = filter.fileSize(input.handle);
  const LONG frameBytes = 2 * channels;
  if (total < 0 || total % frameBytes != 0) {
    r.error = path + ": the " + kind + " filter announced " + std::to_string(total) + " bytes of audio";
    return r;
  }
  Document doc = Document::Empty(rate, channels);
  doc.samples.resize(static_cast<std::size_t>(total / 2));
  auto* bytes = reinterpret_cast<BYTE*>(doc.samples.data());
  const LONG chunk = FilterChunkBytes(bufferSize, channels);
  for (LONG at = 0; at < total;) {
    const LONG n = std::min(chunk, total - at);
    if (filter.read(input.handle, bytes + at, n) != static_cast<DWORD>(n)) {
      r.error = path + ": reading through the " + kind + " filter failed";
      return r;
    }
    at += n;
  }

  FilterData data;
  data.filter = filter.name();
  char optionText[256] = {};
  data.option = filter.optionsString(input.handle, optionText);
  optionText[sizeof optionText - 1] = '\0';
  data.optionText = optionText;
  for (LONG type = kFirstItemType; type <= kLastItemType; ++type) {
    const DWORD size = filter.canReadSpecial(input.handle, type);
    if (size == 0 || size > kMaxItemBytes) continue;
    std::vector<char> buffer(size + 1, '\0');
    if (filter.readSpecial(input.handle, type, buffer.data(), static_cast<LONG>(size)) == 0) continue;
    data.items.push_back({type, static_cast<LONG>(size), std::string(buffer.data(), strnlen(buffer.data(), size))});
  }
  doc.SelectAll();
  r.doc = std::move(doc);
  r.data = std::move(data);
  r.ok = true;
  return r;
}

bool WriteWithFilter(const FileFilter& filter, const std::string& path, const Document& doc, const FilterData* data,
                     std::string& error, const FilterWriteOptions& options) {
  const std::string kind = filter.description();
  const bool sameFilter = data != nullptr && data->filter == filter.name();
  const int channels = doc.channels;
  const HWND owner = options.owner ? options.owner : portable::HostWindow();

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
  const fs::path folder = fs::path(path).has_parent_path() ? fs::path(path).parent_path() : fs::path(".");
  TemporaryBeside temp(path);
  if (temp.path.empty() || ::access(folder.c_str(), W_OK) != 0) {
    error = path + ": cannot write in the folder \"" + folder.string() + "\"";
    return false;
  }
  const std::size_t journalAt = portable::Journal().size();
  LONG bufferSize = 0;
  HANDLE out = filter.openOutput(temp.path.c_str(), static_cast<LONG>(doc.sampleRate), 16, static_cast<WORD>(channels),
                                 static_cast<LONG>(totalBytes), &bufferSize, option);
  if (!out) {
    const std::string said = MessagesSince(journalAt);
    error = path + ": " +
            (said.empty() ? "the " + kind + " filter does not take a " + std::to_string(channels) +
                                "-channel 16-bit document at " + std::to_string(doc.sampleRate) + " Hz"
                          : said);
    return false;
  }
  if (sameFilter) {
    for (const FilterItem& item : data->items) {
      if (!filter.canWriteSpecial(out, item.type)) continue;
      // The item goes back in a buffer of the size announced on reading.
      std::vector<char> buffer(static_cast<std::size_t>(std::max<LONG>(item.size, 1)), '\0');
      std::memcpy(buffer.data(), item.text.data(), std::min(item.text.size(), buffer.size() - 1));
      filter.writeSpecial(out, item.type, buffer.data(), item.size);
    }
  }
  const auto* bytes = reinterpret_cast<const BYTE*>(doc.samples.data());
  const LONG total = static_cast<LONG>(totalBytes);
  const LONG chunk = FilterChunkBytes(bufferSize, channels);
  bool ok = true;
  if (total == 0) filter.write(out, bytes, 0);  // an empty document still ends its record
  for (LONG at = 0; at < total && ok; at += chunk) {
    const LONG n = std::min(chunk, total - at);
    ok = filter.write(out, bytes + at, n) == static_cast<DWORD>(n);
  }
  const bool closed = filter.closeOutput(out) != 0;
  if (!ok || !closed) {
    const std::string said = MessagesSince(journalAt);
    error = path + ": writing through the " + kind + " filter failed" + (said.empty() ? "" : ": " + said);
    return false;
  }
  std::error_code ec;
  fs::rename(temp.path, path, ec);
  if (ec) {
    error = path + ": " + ec.message();
    return false;
  }
  temp.keep = true;
  return true;
}

}  // namespace tovrel::host
