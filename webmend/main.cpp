#include "front_end.h"
#include "web_hosting.h"

int main(int argc, char** argv) {
  return runFrontEnd(
      {.name = "webmend",
       .usage = "Usage: webmend [--restart-web-hosting]\n",
       .commands = {{"--restart-web-hosting", [] { return restartWebHosting(kTryRestart), 0; }}}},
      argc, argv);
}
