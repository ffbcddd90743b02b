#include "disk_report.h"

#include <exception>
#include <string>

#include "front_end.h"
#include "journal.h"
#include "panel_paths.h"
#include "run_command.h"

int checkDiskSpace() {
  try {
    const int exitCode =
        runCommand(kSystemInfoTool, {"df-useful", "--json"}, CaptureMode::PassThrough).exitCode;
    const std::string code = std::to_string(exitCode);
    sendJournalEntry(JournalKind::DiskReport, kPriorityDebug,
                     "disk report: hoststat exit code " + code, {{"HOSTMEND_EXIT_CODE", code}});
    return exitCode;
  } catch (const std::exception& error) {
    writeFailureLine(error.what());
    return 1;
  }
}
