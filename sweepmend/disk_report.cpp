#include "disk_report.h"

#include <exception>
#include <filesystem>

#include "output.h"
#include "run_command.h"

int checkDiskSpace() {
  try {
    const auto tool = std::filesystem::path("/opt/ovk") / "admin" / "sbin" / "hoststat";
    return runCommand(tool.string(), {"df-useful", "--json"}, CaptureMode::PassThrough).exitCode;
  } catch (const std::exception& error) {
    writeDiagnosticLine(error.what());
    return 1;
  }
}
