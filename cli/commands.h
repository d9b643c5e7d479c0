// The subcommands of tovrel. Each registers its options and, once parsed, runs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/app.h"

namespace tovrel::cli {

struct Commands {
  std::function<int()> chosen;
  int Run() { return chosen ? chosen() : kExitUsage; }
};

void RegisterCommands(CLI::App& cli, App& app, Commands& commands);

// Writes the clipboard's wave data to FILE, or its text when FILE ends in ".txt" or the
// clipboard holds only text; an exit status.
int SaveClipboardItems(const std::vector<portable::ClipboardItem>& items, const std::string& file);

void RegisterList(CLI::App& cli, App& app, Commands& commands);
void RegisterDescribe(CLI::App& cli, App& app, Commands& commands);
void RegisterRun(CLI::App& cli, App& app, Commands& commands);
void RegisterClip(CLI::App& cli, App& app, Commands& commands);
void RegisterConvert(CLI::App& cli, App& app, Commands& commands);
void RegisterSimulate(CLI::App& cli, App& app, Commands& commands);
void RegisterDemo(CLI::App& cli, App& app, Commands& commands);
void RegisterDevices(CLI::App& cli, App& app, Commands& commands);
void RegisterReset(CLI::App& cli, App& app, Commands& commands);
void RegisterReport(CLI::App& cli, App& app, Commands& commands);
void RegisterMeasure(CLI::App& cli, App& app, Commands& commands);
void RegisterPlot(CLI::App& cli, App& app, Commands& commands);

// Makes the named wave output device the only one of the run (nothing when the name is
// empty); false, with the error printed, when the name cannot name a device.
bool UseDevice(const std::string& name);

}  // namespace tovrel::cli
