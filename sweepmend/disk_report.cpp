#include "disk_report.h"

#include <exception>

#include "output.h"
#include "run_command.h"

namespace {

const char kSystemInfoTool[] = "/opt/ovk/admin/sbin/hoststat";

}  // namespace

int checkDiskSpace() {
  try {
    return runCommand(kSystemInfoTool, {"df-useful", "--json"}, CaptureMode::PassThrough).exitCode;
  } catch (const std::exception& error) {
    writeDiagnosticLine(error.what());
    return 1;
  }
}
