#include "fpm_services.h"

#include <stdexcept>
#include <string>

#include "journal.h"
#include "output.h"
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

std::string fpmListFailureLine(std::string_view error) {
  return std::string("Unable to get php-fpm services list: ").append(error);
}

void reportFpmListFailure(std::string_view error) {
  const std::string line = fpmListFailureLine(error);
  sendJournalEntry(JournalKind::RegistryFailed, kPriorityWarning, line,
                   {{"HOSTMEND_ERROR", error}});
  writeDiagnosticLine(line);
}
