// Documents as the command line names them: a file to open, or a new empty one.
#pragma once

#include <optional>
#include <string>

#include "cli/app.h"
#include "host/core/document.h"
#include "host/filter_driver.h"

namespace tovrel::cli {

// "RATE[:CHANNELS]" for --new.
bool ParseNewDocument(const std::string& text, host::Document& doc, std::string& error);

// Opens a document: through the file filter that recognises the file (or whose
// extension it has), else as an audio file. What the filter read besides the audio goes
// to `data`, to be handed back when the document is saved through the same filter.
// Prints a notice when precision was lost.
std::optional<host::Document> OpenDocument(App& app, const std::string& path, std::string& error,
                                           host::FilterData* data = nullptr);

// Whether the document can be written to `path` (a format we write, a file we may
// write); the reason otherwise. Checked before any work, so that nothing is done in vain.
bool CheckOutput(App& app, const std::string& path, std::string& error);

// Writes the document: through the file filter whose extension the file has (its options
// dialog answered by `user`, or the user in charge), else as the audio format the
// extension names.
bool SaveDocument(App& app, const std::string& path, const host::Document& doc, std::string& error,
                  const host::FilterData* data = nullptr, portable::User* user = nullptr);

}  // namespace tovrel::cli
