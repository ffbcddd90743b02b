// The floor for `coremend --check`: the least a C++ program must do for the same result.
// It starts /bin/systemctl with posix_spawn, polls both pipes to their end, waits, and
// writes the report in one write. Linked like the tools (libstdc++ dynamically), so the
// difference to a tool is what the tool adds. It does not escape the message: it is only
// ever run against a systemctl that prints nothing.
#include <unistd.h>

#include <array>
#include <string>

#include "plain_capture.h"

int main() {
  std::array<char*, 4> argv{const_cast<char*>("/bin/systemctl"), const_cast<char*>("status"),
                            const_cast<char*>("tarnwick.service"), nullptr};
  const PlainRun run = plainCapture(argv.data());
  if (run.waitStatus == -1) return 1;
  const bool ok = WIFEXITED(run.waitStatus) && WEXITSTATUS(run.waitStatus) == 0;
  const std::string line = "{\"message\":\"" + run.texts[0] +
                           "\",\"name\":\"tarnwick.service\",\"status\":\"" +
                           (ok ? "running" : "stopped") + "\"}\n";
  return ::write(STDOUT_FILENO, line.data(), line.size()) == static_cast<ssize_t>(line.size()) ? 0
                                                                                               : 1;
}
