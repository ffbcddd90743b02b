#include "front_end.h"
#include "panel_paths.h"
#include "service_action.h"

int main(int argc, char** argv) {
  return runFrontEnd(
      {.name = "coremend",
       .usage = "Usage: coremend [--check|--repair]\n",
       .commands = {{"--check", [] { return printServiceReport(kStatus, kEngineUnit), 0; }},
                    {"--repair", [] { return printServiceReport(kRestart, kEngineUnit), 0; }}}},
      argc, argv);
}
