#include "front_end.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <exception>
#include <string>

#include "journal.h"
#include "memory_reserve.h"
#include "output.h"

namespace {

// A tool started with 0, 1 or 2 closed would hand those numbers to the next pipe it opens,
// and our results or a child's streams would land in the wrong place. Holding them on
// /dev/null, opened in the direction that cannot be used, keeps them behaving as closed
// descriptors (EBADF) while nothing else can take them.
void holdClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int held = ::open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY));
    if (held >= 0 && held != fd) {
      ::dup2(held, fd);
      ::close(held);
    }
  }
}

// Whoever started us may have left SIGCHLD ignored (daemons do, and it survives exec):
// the kernel would then reap our children itself and no wait could learn how they ended.
// SIGPIPE is ignored so that a reader gone away cannot end us in the middle of a repair: a
// diagnostic that cannot be written is dropped, and a result that cannot be written is a
// write error like any other. Each child starts with both at the default (the runner).
void takeSignalsInHand() {
  static_cast<void>(std::signal(SIGCHLD, SIG_DFL));
  static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
}

int dispatch(const FrontEnd& tool, int argc, char** argv) {
  if (argc < 2) {
    writeStderr(tool.usage);
    return 2;
  }
  const std::string word = argv[1];
  if (word == "--help" || word == "-h") {
    writeStdout(tool.usage);
    return 0;
  }
  if (tool.beforeMatching) {
    if (const int status = tool.beforeMatching(); status != 0) return status;
  }
  for (const auto& command : tool.commands) {
    if (word == command.word) return command.run();
  }
  writeDiagnosticLine("Unknown command: " + word);
  writeStderr(tool.usage);
  return 2;
}

}  // namespace

void writeFailureLine(std::string_view line) {
  sendJournalEntry(JournalKind::ToolFailed, kPriorityError, line, {{"HOSTMEND_ERROR", line}});
  writeDiagnosticLine(line);
}

int runFrontEnd(const FrontEnd& tool, int argc, char** argv) {
  holdClosedStandardDescriptors();
  startJournal(tool.name);
  takeSignalsInHand();
  // Running out of memory must end in the line "std::bad_alloc" like any other failure.
  holdMemoryReserve();
  try {
    return dispatch(tool, argc, argv);
  } catch (const std::exception& error) {
    writeFailureLine(error.what());
  } catch (...) {
    writeFailureLine("unexpected error");
  }
  return 1;
}
