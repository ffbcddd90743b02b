#include "front_end.h"
#include "panel_engine.h"

int main(int argc, char** argv) {
  return runFrontEnd({.name = "coremend",
                      .usage = "Usage: coremend [--check|--repair]\n",
                      .commands = {{"--check", [] { return checkPanelEngine(), 0; }},
                                   {"--repair", [] { return repairPanelEngine(), 0; }}}},
                     argc, argv);
}
