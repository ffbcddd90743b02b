#include "front_end.h"
#include "output.h"

namespace {

int notBuiltYet() {
  writeDiagnosticLine("dbmend: this command is not built yet");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  return runFrontEnd({.usage = "Usage: dbmend [--check|--repair]\n",
                      .commands = {{"--check", notBuiltYet}, {"--repair", notBuiltYet}}},
                     argc, argv);
}
