#include "cli/commands.h"

namespace tovrel::cli {

void RegisterCommands(CLI::App& cli, App& app, Commands& commands) {
  RegisterList(cli, app, commands);
  RegisterDescribe(cli, app, commands);
  RegisterRun(cli, app, commands);
  RegisterClip(cli, app, commands);
  RegisterConvert(cli, app, commands);
  RegisterSimulate(cli, app, commands);
  RegisterMeasure(cli, app, commands);
  RegisterReset(cli, app, commands);
  RegisterDemo(cli, app, commands);
  RegisterDevices(cli, app, commands);
  RegisterReport(cli, app, commands);
  RegisterPlot(cli, app, commands);
}

}  // namespace tovrel::cli
