#include "front_end.h"
#include "output.h"

namespace {

int notBuiltYet() {
  writeDiagnosticLine("sweepmend: this command is not built yet");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  return runFrontEnd({.usage = "Usage: sweepmend [--check|--repair]\n",
                      .commands = {{"--check", notBuiltYet}, {"--repair", notBuiltYet}}},
                     argc, argv);
}
