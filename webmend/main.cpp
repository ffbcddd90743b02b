#include "front_end.h"
#include "output.h"

namespace {

int notBuiltYet() {
  writeDiagnosticLine("webmend: this command is not built yet");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  return runFrontEnd({.usage = "Usage: webmend [--restart-web-hosting]\n",
                      .commands = {{"--restart-web-hosting", notBuiltYet}}},
                     argc, argv);
}
