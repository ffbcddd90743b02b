#include "cache_cleanup.h"
#include "disk_report.h"
#include "front_end.h"

int main(int argc, char** argv) {
  return runFrontEnd(
      {.name = "sweepmend",
       .usage = "Usage: sweepmend [--check|--repair]\n",
       .commands = {{"--check", checkDiskSpace}, {"--repair", [] { return cleanDiskSpace(), 0; }}}},
      argc, argv);
}
