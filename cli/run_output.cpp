#include "cli/run_output.h"

#include <cstdio>
#include <cstdlib>

#include "cli/report_acoustic.h"
#include "host/user.h"

namespace tovrel::cli {

namespace {

// The dialogs a run showed after its settings dialog: the ones that show results.
std::vector<const portable::DialogState*> ResultDialogs(const host::RunReport& report) {
  std::vector<const portable::DialogState*> out;
  bool first = true;
  for (const auto& e : report.journal) {
    auto* d = std::get_if<portable::DialogEvent>(&e);
    if (!d) continue;
    if (!first) out.push_back(&d->final);
    first = false;
  }
  return out;
}

std::string Trimmed(const std::string& s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// A value as a number when it is one number, alone or followed by one unit word
// ("8192 Samples", "-3.5 dB", "1.250 s"); otherwise the text.
host::Json FieldValue(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const double v = std::strtod(begin, &end);
  if (end == begin) return text;
  const std::string rest = Trimmed(end);
  if (rest.find_first_of(" /:") != std::string::npos) return text;
  if (rest.empty() && v == static_cast<double>(static_cast<long long>(v)) && text.find_first_of(".eE") == std::string::npos)
    return static_cast<long long>(v);
  return v;
}

// Readers of result texts, by module: the JSON key and the reader (null when the text
// is not one it reads).
struct ResultReader {
  const char* module;
  const char* key;
  host::Json (*read)(const std::string& text, const std::vector<uint8_t>& block);
};
constexpr ResultReader kResultReaders[] = {
    {"acoustic", "acoustic", AcousticJson},
};

void AddResultTextsJson(const host::Module& module, const host::RunReport& report, host::Json& json) {
  for (const auto& reader : kResultReaders) {
    if (module.name() != reader.module) continue;
    for (const auto& text : report.resultTexts) {
      host::Json value = reader.read(text, report.block);
      if (std::holds_alternative<std::nullptr_t>(value.value())) continue;
      json[reader.key] = value;
      break;
    }
  }
}

}  // namespace

void PrintResultDialogs(const host::Module&, const host::RunReport& report) {
  for (const portable::DialogState* d : ResultDialogs(report)) {
    std::fprintf(stderr, "%s\n", d->caption.c_str());
    for (const auto& line : host::DialogTextLines(*d)) std::fprintf(stderr, "  %s\n", line.c_str());
  }
}

// The figures of the result dialogs ("Label:" and the texts beside it on its row), the
// parameter block the run left, whatever the module, and what its result texts hold.
void PrintModuleResultsJson(const host::Module& module, const host::RunReport& report, host::Json& json) {
  host::Json results = host::Json::object();
  for (const portable::DialogState* d : ResultDialogs(report)) {
    for (const auto& line : host::DialogTextLines(*d)) {
      const auto colon = line.find(':');
      if (colon == std::string::npos || colon + 1 >= line.size()) continue;
      std::string label;
      for (char c : line.substr(0, colon))
        if (c != '&') label += c;
      results[Trimmed(label)] = FieldValue(Trimmed(line.substr(colon + 1)));
    }
  }
  json["results"] = results;
  if (!report.block.empty()) {
    host::Json block = host::Json::object();
    block["typeString"] = std::string(module.descriptor().typeString);
    block["fields"] = host::BlockJson(module.descriptor().typeString, report.block);
    json["parameterBlock"] = block;
  }
  AddResultTextsJson(module, report, json);
}

bool PrintResultTexts(const host::RunReport& report) {
  for (const auto& text : report.resultTexts) std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  return !report.resultTexts.empty();
}

}  // namespace tovrel::cli
