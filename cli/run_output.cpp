#include "cli/run_output.h"

#include <cctype>
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

// The compact key of a result dialog's figure; other labels become camelCase words.
struct ResultKey {
  const char* label;
  const char* key;
};
constexpr ResultKey kResultKeys[] = {
    {"Length", "length"},          {"Channels", "channels"},
    {"Sample Rate", "rate"},       {"Total Cycles", "cycles"},
    {"Rescaled from", "rescaledFrom"}, {"Elapsed Time", "elapsedSeconds"},
    {"Gain applied for rescaling", "gainDb"}, {"FFT Size", "fftSize"},
    {"Saturated samples", "saturatedSamples"}, {"N. of measurements", "measurements"},
    {"N. of seqs/measur.", "sequencesPerMeasurement"}, {"N. of first seqs skipped", "sequencesSkipped"},
    {"Average Cycles", "cycles"}, {"In band regul. par.", "inBandRegularisation"},
    {"Out band regul. par.", "outBandRegularisation"},
};

bool SameLabel(const std::string& a, const char* b) {
  std::size_t k = 0;
  for (; k < a.size() && b[k]; ++k)
    if (std::tolower(static_cast<unsigned char>(a[k])) != std::tolower(static_cast<unsigned char>(b[k]))) return false;
  return k == a.size() && !b[k];
}

std::string CamelCase(const std::string& label) {
  std::string key;
  bool upper = false;
  for (char c : label) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      key += key.empty() ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
                         : upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
      upper = false;
    } else {
      upper = true;
    }
  }
  return key;
}

// The figures of the result dialogs that are numbers, under compact keys; for a run that
// showed none, what it wrote into the document (frames, channels, rate).
host::Json CompactResult(const host::Json& results, const host::RunReport& report) {
  host::Json out = host::Json::object();
  if (const auto* fields = std::get_if<host::Json::Object>(&results.value()))
    for (const auto& [label, value] : *fields) {
      const bool number = std::holds_alternative<int64_t>(value.value()) || std::holds_alternative<double>(value.value());
      if (!number) continue;
      std::string key = CamelCase(label);
      for (const auto& k : kResultKeys)
        if (SameLabel(label, k.label)) key = k.key;
      out[key] = value;
    }
  if (std::get<host::Json::Object>(out.value()).empty() && report.documentChanged) {
    out["length"] = static_cast<long long>(report.after.selEnd - report.after.selStart + 1);
    out["channels"] = static_cast<long long>(report.after.channels);
    out["rate"] = static_cast<long long>(report.after.sampleRate);
  }
  return out;
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
  if (report.status == host::RunStatus::Completed) json["result"] = CompactResult(results, report);
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
