// Documents as the command line names them: a file to open, or a new empty one.
#pragma once

#include <optional>
#include <string>

#include "cli/app.h"
#include "host/document.h"

namespace tovrel::cli {

// "RATE[:CHANNELS]" for --new.
bool ParseNewDocument(const std::string& text, host::Document& doc, std::string& error);

// Opens an audio file as a document; prints a notice when precision was lost.
std::optional<host::Document> OpenDocument(App& app, const std::string& path, std::string& error);

// Writes the document to a file in the format its extension names.
bool SaveDocument(App& app, const std::string& path, const host::Document& doc, std::string& error);

}  // namespace tovrel::cli
