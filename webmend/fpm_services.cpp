#include "fpm_services.h"

#include <stdexcept>
#include <string>

#include "panel_paths.h"
#include "registry_document.h"
#include "run_command.h"

std::vector<std::string> listFpmServices() {
  const ChildRun run = runCommand(kRegistryTool, {"--list-json"}, CaptureMode::StdoutOnly);
  // The output of a failed run is not trusted, whatever it looks like.
  if (run.exitCode != 0) {
    throw std::runtime_error("interpbook failed with exit code " + std::to_string(run.exitCode));
  }
  return fpmServicesFromDocument(run.stdoutText);
}
