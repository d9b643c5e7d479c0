#include "cli/documents.h"

#include <cstdio>
#include <cstdlib>

#include "host/audiofile.h"
#include "host/safefile.h"

namespace tovrel::cli {

bool ParseNewDocument(const std::string& text, host::Document& doc, std::string& error) {
  char* end = nullptr;
  long rate = std::strtol(text.c_str(), &end, 10);
  long channels = 1;
  if (end != text.c_str() && *end == ':') {
    const char* c = end + 1;
    channels = std::strtol(c, &end, 10);
    if (end == c) channels = 0;
  }
  if (end == text.c_str() || *end != '\0' || rate < 1 || rate > 1000000 || channels < 1 || channels > 2) {
    error = "--new takes RATE[:CHANNELS], a rate in Hz and 1 or 2 channels, not \"" + text + "\"";
    return false;
  }
  doc = host::Document::Empty(rate, static_cast<int>(channels));
  return true;
}

std::optional<host::Document> OpenDocument(App& app, const std::string& path, std::string& error,
                                           host::FilterData* data) {
  app.LoadModules();
  if (const host::FileFilter* filter = host::FilterForReading(app.filters, path)) {
    host::FilterReadResult r = host::ReadWithFilter(*filter, path);
    if (!r.ok) {
      error = r.error;
      return std::nullopt;
    }
    if (data) *data = std::move(r.data);
    return std::move(r.doc);
  }
  host::AudioReadResult r = host::ReadAudioFile(path);
  if (!r.ok) {
    error = r.error;
    return std::nullopt;
  }
  if (!r.notice.empty()) std::fprintf(stderr, "tovrel: %s\n", r.notice.c_str());
  return std::move(r.doc);
}

bool CheckOutput(App& app, const std::string& path, std::string& error) {
  app.LoadModules();
  if (!host::FilterForWriting(app.filters, path) && !host::WritesAudioFormat(path)) {
    error = "cannot write \"" + path + "\": its extension names no format tovrel writes; it writes " +
            host::WritableAudioFormats();
    for (const auto& filter : app.filters)
      error += ", " + filter->shortName() + " (." + filter->extension() + ")";
    return false;
  }
  return host::CheckWritable(path, error);
}

bool SaveDocument(App& app, const std::string& path, const host::Document& doc, std::string& error,
                  const host::FilterData* data, portable::User* user) {
  app.LoadModules();
  if (const host::FileFilter* filter = host::FilterForWriting(app.filters, path)) {
    host::FilterWriteOptions options;
    options.user = user;
    return host::WriteWithFilter(*filter, path, doc, data, error, options);
  }
  return host::WriteAudioFile(path, doc, error);
}

}  // namespace tovrel::cli
