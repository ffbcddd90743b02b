#include <gtest/gtest.h>

#include "sandbox.h"

namespace {

const std::string kStatusCall = "/bin/systemctl [status] [tarnwick.service]\n";
const std::string kRestartCall = "/bin/systemctl [restart] [tarnwick.service]\n";

// coremend run with `arguments` on a host whose systemctl runs `systemctl` (none if empty).
Case coremend(const std::string& name, const std::string& systemctl,
              const std::vector<std::string>& arguments, const std::string& out,
              const std::string& err = "", int status = 0, Launch launch = {}) {
  FakeHost host;
  if (!systemctl.empty()) host.programs.push_back({"/bin/systemctl", systemctl});
  const std::string calls = systemctl.empty()           ? ""
                            : arguments[0] == "--check" ? kStatusCall
                                                        : kRestartCall;
  return {.name = name,
          .host = host,
          .tool = "coremend",
          .arguments = arguments,
          .out = out,
          .err = err,
          .status = status,
          .calls = calls,
          .launch = launch};
}

std::string entry(const std::string& action, int exitCode, const std::string& status, int priority,
                  const std::string& error = "") {
  return serviceActionEntry(action, "tarnwick.service", "tarnwick.service", exitCode, status,
                            priority, error);
}

std::string failed(const std::string& line) {
  return journalEntry("tool-failed", 3, {{"MESSAGE", line}, {"HOSTMEND_ERROR", line}});
}

std::string report(const std::string& message, const std::string& status) {
  return R"({"message":")" + message + R"(","name":"tarnwick.service","status":")" + status +
         "\"}\n";
}

TEST(Coremend, ReportsTheEngineUnit) {
  runCases({
      withJournal(
          coremend("check, running", answer("* tarnwick.service\n   Active: active\n"), {"--check"},
                   report(R"(* tarnwick.service\n   Active: active\n)", "running")),
          entry("status", 0, "running", 7)),
      withJournal(coremend("check, stopped", answer("inactive\n", "", 3), {"--check"},
                           report(R"(inactive\n\nFinished with exit code 3)", "stopped")),
                  entry("status", 3, "stopped", 7)),
      withJournal(coremend("repair", answer(""), {"--repair"}, report("", "running")),
                  entry("restart", 0, "running", 6)),
      withJournal(coremend("repair without a journal", answer(""), {"--repair"},
                           report("", "running"), "", 0, {.withoutJournal = true}),
                  ""),
      // The last line of what systemctl said, not the whole of it.
      withJournal(
          coremend("repair that fails, extra arguments ignored",
                   answer("", "Job for tarnwick.service failed.\nSee 'journalctl -xe'.\n\n", 1),
                   {"--repair", "--check", "x"},
                   report(R"(\nJob for tarnwick.service failed.\nSee 'journalctl -xe'.\n\n\n)"
                          R"(Finished with exit code 1)",
                          "stopped")),
          entry("restart", 1, "stopped", 4, "See 'journalctl -xe'.")),
      coremend("systemctl killed", "kill -KILL $$", {"--check"},
               report(R"(\nFinished with exit code 9)", "stopped")),
      coremend("output that is not UTF-8", answer("caf\xe9 \x1b\n", "\xc3"), {"--check"},
               report("caf\xef\xbf\xbd \\u001b\\n\\n\xef\xbf\xbd", "running")),
      coremend("started with SIGCHLD ignored: systemctl starts with no signal ignored",
               "grep SigIgn /proc/$$/status", {"--repair"},
               report(R"(SigIgn:\t0000000000000000\n)", "running"), "", 0,
               {.sigchldIgnored = true}),
      // The report leaves in pieces of a mebibyte: none may be lost or doubled.
      coremend("a report of several mebibytes",
               "head -c 3145739 /dev/zero | tr '\\0' a; echo why >&2", {"--check"},
               report(std::string(3145739, 'a') + R"(\nwhy\n)", "running")),
  });
}

TEST(Coremend, EndsInOrderWhenItCannotDoItsJob) {
  Case notExecutable = coremend("systemctl not executable", "", {"--repair"}, "",
                                "execve failed: Permission denied\n", 1);
  notExecutable.host.prepare = [] { writeFile("/bin/systemctl", "#!/bin/sh\n", 0644); };
  Case noProcess =
      coremend("no process can be created", answer(""), {"--check"}, "",
               "fork failed: Resource temporarily unavailable\n", 1, {.atProcessLimit = true});
  noProcess.calls = "";
  runCases({
      withJournal(coremend("no systemctl", "", {"--check"}, "",
                           "execve failed: No such file or directory\n", 1),
                  failed("execve failed: No such file or directory")),
      coremend("no systemctl, no journal", "", {"--check"}, "",
               "execve failed: No such file or directory\n", 1, {.withoutJournal = true}),
      notExecutable,
      noProcess,
      coremend("memory runs out on a systemctl that never stops writing", "yes", {"--check"}, "",
               "std::bad_alloc\n", 1, {.addressSpaceKiB = 163840}),
      coremend("a report larger than the pipe, into a non-blocking pipe",
               "head -c 1048576 /dev/zero | tr '\\0' a", {"--check"},
               report(std::string(1 << 20, 'a'), "running"), "", 0,
               {.stdoutTo = Output::NonBlockingPipe}),
      // The action's entry is sent before the report is written, and the failure after it.
      withJournal(
          coremend("report into a full disk", answer(""), {"--check"}, "",
                   "write error: No space left on device\n", 1, {.stdoutTo = Output::Full}),
          entry("status", 0, "running", 7) + failed("write error: No space left on device")),
      coremend("report into a closed standard output", answer(""), {"--repair"}, "",
               "write error: Bad file descriptor\n", 1, {.stdoutTo = Output::Closed}),
      // Unlike a filter, a repair tool finishes its job and says why its result is lost.
      coremend("report to a reader that went away", answer(""), {"--repair"}, "",
               "write error: Broken pipe\n", 1, {.stdoutTo = Output::ReaderGone}),
      // What was written of the report is taken back before the line that says why.
      coremend("a report that does not fit the file it goes to, 2>&1",
               "head -c 3145739 /dev/zero | tr '\\0' a", {"--check"},
               "write error: No space left on device\n", "", 1,
               {.stdoutTo = Output::SmallFile, .stderrTo = Output::SameAsStdout}),
      coremend("started without standard input", answer(""), {"--repair"}, report("", "running"),
               "", 0, {.stdinClosed = true}),
  });
}

}  // namespace
