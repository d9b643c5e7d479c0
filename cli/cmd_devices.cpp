// tovrel devices: the wave output devices the modules can play on, with their capabilities;
// and the --device option of the commands that play.
#include <cstdio>

#include "cli/commands.h"
#include "host/core/json.h"
#include "platform/portable/faces.h"

namespace tovrel::cli {

namespace {

struct StandardFormat {
  DWORD flag;
  long rate;
  int bits;
  int channels;
};

// The standard formats of a device's capabilities, in the order of their flags.
constexpr StandardFormat kStandardFormats[] = {
    {WAVE_FORMAT_1M08, 11025, 8, 1},  {WAVE_FORMAT_1S08, 11025, 8, 2},  {WAVE_FORMAT_1M16, 11025, 16, 1},
    {WAVE_FORMAT_1S16, 11025, 16, 2}, {WAVE_FORMAT_2M08, 22050, 8, 1},  {WAVE_FORMAT_2S08, 22050, 8, 2},
    {WAVE_FORMAT_2M16, 22050, 16, 1}, {WAVE_FORMAT_2S16, 22050, 16, 2}, {WAVE_FORMAT_4M08, 44100, 8, 1},
    {WAVE_FORMAT_4S08, 44100, 8, 2},  {WAVE_FORMAT_4M16, 44100, 16, 1}, {WAVE_FORMAT_4S16, 44100, 16, 2},
};

host::Json DeviceJson(std::size_t index, const portable::WaveDeviceInfo& d) {
  host::Json j = host::Json::object();
  j["index"] = static_cast<unsigned long>(index);
  j["name"] = d.name;
  j["backend"] = d.backend;
  j["description"] = d.description;
  j["available"] = d.problem.empty();
  j["problem"] = d.problem.empty() ? host::Json() : host::Json(d.problem);
  j["channels"] = static_cast<unsigned>(d.caps.wChannels);
  j["formatFlags"] = static_cast<unsigned long>(d.caps.dwFormats);
  host::Json formats = host::Json::array();
  for (const auto& f : kStandardFormats) {
    if (!(d.caps.dwFormats & f.flag)) continue;
    host::Json one = host::Json::object();
    one["rate"] = f.rate;
    one["bits"] = f.bits;
    one["channels"] = f.channels;
    formats.push(one);
  }
  j["formats"] = formats;
  // What its input records (tovrel measure).
  host::Json in = host::Json::object();
  in["available"] = d.inProblem.empty() && d.inCaps.wChannels > 0;
  in["problem"] = d.inProblem.empty() ? host::Json() : host::Json(d.inProblem);
  in["channels"] = static_cast<unsigned>(d.inCaps.wChannels);
  in["formatFlags"] = static_cast<unsigned long>(d.inCaps.dwFormats);
  j["recording"] = in;
  return j;
}

void PrintDevice(std::size_t index, const portable::WaveDeviceInfo& d) {
  std::printf("%zu  %s  (%s%s%s)\n", index, d.name.c_str(), d.backend.c_str(), d.description.empty() ? "" : ": ",
              d.description.c_str());
  if (!d.problem.empty()) {
    std::printf("     not available: %s\n", d.problem.c_str());
    return;
  }
  std::printf("     %u channels; formats      8 bit mono  8 bit stereo  16 bit mono  16 bit stereo\n",
              static_cast<unsigned>(d.caps.wChannels));
  for (int rate = 0; rate < 3; ++rate) {
    std::printf("     %24s", rate == 0 ? "11k" : rate == 1 ? "22k" : "44k");
    for (int k = 0; k < 4; ++k)
      std::printf(" %*s", k == 0 ? 11 : k == 1 ? 13 : k == 2 ? 12 : 14,
                  (d.caps.dwFormats & kStandardFormats[rate * 4 + k].flag) ? "Yes" : "No");
    std::printf("\n");
  }
  if (!d.inProblem.empty()) std::printf("     records nothing: %s\n", d.inProblem.c_str());
  else std::printf("     records %u channels\n", static_cast<unsigned>(d.inCaps.wChannels));
}

}  // namespace

bool UseDevice(const std::string& name) {
  if (name.empty()) return true;
  std::string error;
  if (!portable::CheckWaveDeviceName(name, &error)) {
    Fail("--device: " + error);
    return false;
  }
  portable::SetWaveDevices({name});
  return true;
}

void RegisterDevices(CLI::App& cli, App& app, Commands& commands) {
  auto* cmd = cli.add_subcommand("devices", "List the wave devices, what they play and what they record");
  static bool json = false;
  static std::string device;
  cmd->add_flag("--json", json, "Print the list as JSON");
  cmd->add_option("--device", device, "Describe only this device: virtual, virtual:FILE.wav or an ALSA name");
  cmd->callback([&commands] {
    commands.chosen = [] {
      if (!UseDevice(device)) return kExitUsage;
      const auto devices = portable::WaveDevices();
      if (json) {
        host::Json out = host::Json::array();
        for (std::size_t i = 0; i < devices.size(); ++i) out.push(DeviceJson(i, devices[i]));
        std::printf("%s\n", out.dump().c_str());
      } else {
        for (std::size_t i = 0; i < devices.size(); ++i) PrintDevice(i, devices[i]);
      }
      return kExitOk;
    };
  });
}

}  // namespace tovrel::cli
