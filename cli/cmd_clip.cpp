// tovrel clip: the clipboard the commands share between runs.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli/commands.h"
#include "frame/clipwave.h"
#include "host/audiofile.h"
#include "host/runner.h"
#include "host/safefile.h"

namespace tovrel::cli {

namespace {

const portable::ClipboardItem* FindItem(const std::vector<portable::ClipboardItem>& items, UINT format) {
  for (const auto& item : items)
    if (item.format == format) return &item;
  return nullptr;
}

int Show(App& app, bool json) {
  std::vector<std::string> notices;  // damaged wave data is shown below
  auto items = app.store.LoadClipboard(&notices);
  for (const auto& n : notices) Fail(n);
  if (json) {
    std::printf("%s\n", host::ClipboardJson(items).dump().c_str());
    return kExitOk;
  }
  if (items.empty()) {
    std::printf("The clipboard is empty.\n");
    return kExitOk;
  }
  host::Json j = host::ClipboardJson(items);
  if (const auto* wave = FindItem(items, CF_WAVE); wave && !host::WaveDamage(wave->bytes).empty()) {
    std::printf("wave: damaged, %zu bytes (%s)\n", wave->bytes.size(), host::WaveDamage(wave->bytes).c_str());
  } else if (wave) {
    WavImage w = ReadWavImage(wave->bytes.data(), wave->bytes.size());
    const long frameBytes = std::max(1, w.channels * ((w.bitsPerSample + 7) / 8));
    std::printf("wave: %u Hz, %u channel%s, %u-bit, %ld frames", w.sampleRate, w.channels, w.channels == 1 ? "" : "s",
                w.bitsPerSample, w.dataFits ? static_cast<long>(w.dataBytes) / frameBytes : 0L);
    if (const host::Json* wj = j.find("wave"))
      if (const host::Json* peak = wj->find("peak")) std::printf(", peak %s", peak->dump().c_str());
    std::printf("\n");
  }
  if (const auto* text = FindItem(items, CF_TEXT)) {
    const char* t = reinterpret_cast<const char*>(text->bytes.data());
    std::printf("text:\n%s\n", std::string(t, strnlen(t, text->bytes.size())).c_str());
  }
  for (const auto& item : items)
    if (item.format != CF_WAVE && item.format != CF_TEXT)
      std::printf("format %u: %zu bytes\n", item.format, item.bytes.size());
  return kExitOk;
}

}  // namespace

int SaveClipboardItems(const std::vector<portable::ClipboardItem>& items, const std::string& file) {
  std::string error;
  if (!host::CheckWritable(file, error)) {
    Fail(error);
    return kExitDocument;
  }
  const portable::ClipboardItem* item = nullptr;
  const bool wantsText = file.size() > 4 && file.substr(file.size() - 4) == ".txt";
  item = wantsText ? FindItem(items, CF_TEXT) : FindItem(items, CF_WAVE);
  if (!item) item = FindItem(items, wantsText ? CF_WAVE : CF_TEXT);
  if (!item) {
    Fail("the clipboard holds no wave data or text to save");
    return kExitFailed;
  }
  std::vector<uint8_t> bytes = item->bytes;
  if (item->format == CF_TEXT) {
    bytes.resize(strnlen(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  } else if (const std::string damage = host::WaveDamage(bytes); !damage.empty()) {
    Fail("the clipboard's wave data is damaged (" + damage + "); nothing was saved");
    return kExitFailed;
  } else {
    // The WAV its header describes: a clipboard block may be larger than its data.
    bytes.resize(kWavHeaderBytes + ReadWavImage(bytes.data(), bytes.size()).dataBytes);
  }
  if (!host::WriteFileSafely(file, bytes, error)) {
    Fail(error);
    return kExitDocument;
  }
  return kExitOk;
}

namespace {

int Save(App& app, const std::string& file) {
  std::vector<std::string> notices;
  return SaveClipboardItems(LoadStoredClipboard(app, notices), file);
}

int Load(App& app, const std::string& file, bool raw) {
  std::vector<portable::ClipboardItem> items;
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) {
    Fail("cannot read \"" + file + "\": it is a folder");
    return kExitDocument;
  }
  if (raw) {
    // The bytes as they are, as wave data: whatever a program might place there.
    auto bytes = host::ReadWholeFile(file);
    if (!bytes) {
      Fail("cannot read \"" + file + "\"");
      return kExitDocument;
    }
    items.push_back({CF_WAVE, std::move(*bytes)});
  } else if (host::AudioReadResult audio = host::ReadAudioFile(file); audio.ok) {
    if (!audio.notice.empty()) std::fprintf(stderr, "tovrel: %s\n", audio.notice.c_str());
    const auto& doc = audio.doc;
    const std::size_t dataBytes = doc.samples.size() * 2;
    std::vector<uint8_t> image(kWavHeaderBytes + dataBytes);
    WriteWavHeader(image.data(), doc.channels, doc.sampleRate, static_cast<uint32_t>(dataBytes));
    for (std::size_t k = 0; k < doc.samples.size(); ++k) {
      image[kWavHeaderBytes + 2 * k] = static_cast<uint8_t>(doc.samples[k] & 0xff);
      image[kWavHeaderBytes + 2 * k + 1] = static_cast<uint8_t>((doc.samples[k] >> 8) & 0xff);
    }
    items.push_back({CF_WAVE, std::move(image)});
  } else {
    auto bytes = host::ReadWholeFile(file);
    if (!bytes) {
      Fail("cannot read \"" + file + "\"");
      return kExitDocument;
    }
    if (std::find(bytes->begin(), bytes->end(), 0) != bytes->end()) {
      Fail("\"" + file + "\" is neither an audio file nor text: " + audio.error);
      return kExitDocument;
    }
    bytes->push_back(0);
    items.push_back({CF_TEXT, std::move(*bytes)});
  }
  std::string error;
  if (!app.store.SaveClipboard(items, error)) {
    Fail(error);
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

std::vector<portable::ClipboardItem> LoadStoredClipboard(App& app, std::vector<std::string>& notices) {
  auto items = app.store.LoadClipboard(&notices);
  if (const auto* wave = FindItem(items, CF_WAVE))
    if (const std::string damage = host::WaveDamage(wave->bytes); !damage.empty())
      notices.push_back("the wave data on the clipboard is damaged: " + damage);
  return items;
}

void RegisterClip(CLI::App& cli, App& app, Commands& commands) {
  auto* clip = cli.add_subcommand("clip", "Show, save, load or clear the clipboard");
  clip->require_subcommand(1);
  static bool json = false;
  static std::string file;
  auto* show = clip->add_subcommand("show", "What the clipboard holds");
  show->add_flag("--json", json, "Print as JSON");
  show->callback([&app, &commands] { commands.chosen = [&app] { return Show(app, json); }; });
  auto* save = clip->add_subcommand("save", "Save the clipboard's wave data (or text) to a file");
  save->add_option("FILE", file)->required();
  save->callback([&app, &commands] { commands.chosen = [&app] { return Save(app, file); }; });
  static bool raw = false;
  auto* load = clip->add_subcommand("load", "Put a WAV or text file on the clipboard");
  load->add_option("FILE", file)->required();
  load->add_flag("--raw", raw, "Place the file's bytes unchanged as wave data (no conversion)");
  load->callback([&app, &commands] { commands.chosen = [&app] { return Load(app, file, raw); }; });
  auto* clear = clip->add_subcommand("clear", "Empty the clipboard");
  clear->callback([&app, &commands] {
    commands.chosen = [&app] {
      std::string error;
      if (!app.store.SaveClipboard({}, error)) {
        Fail(error);
        return kExitFailed;
      }
      return kExitOk;
    };
  });
}

}  // namespace tovrel::cli
