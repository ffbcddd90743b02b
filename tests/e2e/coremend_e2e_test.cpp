#include <gtest/gtest.h>

#include "sandbox.h"

namespace {

FakeHost systemctl(const std::string& script) { return {{{"/bin/systemctl", script}}}; }

const std::string kStatusCall = "/bin/systemctl [status] [tarnwick.service]\n";
const std::string kRestartCall = "/bin/systemctl [restart] [tarnwick.service]\n";

TEST(Coremend, ReportsTheEngineUnit) {
  runCases({
      {"check, running", systemctl(answer("* tarnwick.service\n   Active: active\n")), "coremend",
       {"--check"},
       R"({"message":"* tarnwick.service\n   Active: active\n","name":"tarnwick.service","status":"running"})"
       "\n",
       "", 0, kStatusCall},
      {"check, stopped", systemctl(answer("inactive\n", "", 3)), "coremend", {"--check"},
       R"({"message":"inactive\n\nFinished with exit code 3","name":"tarnwick.service","status":"stopped"})"
       "\n",
       "", 0, kStatusCall},
      {"repair", systemctl(answer("")), "coremend", {"--repair"},
       R"({"message":"","name":"tarnwick.service","status":"running"})"
       "\n",
       "", 0, kRestartCall},
      {"repair that fails, extra arguments ignored",
       systemctl(answer("", "Job for tarnwick.service failed.\n", 1)), "coremend",
       {"--repair", "--check", "x"},
       R"({"message":"\nJob for tarnwick.service failed.\n\nFinished with exit code 1","name":"tarnwick.service","status":"stopped"})"
       "\n",
       "", 0, kRestartCall},
      {"systemctl killed", systemctl("kill -KILL $$"), "coremend", {"--check"},
       R"({"message":"\nFinished with exit code 9","name":"tarnwick.service","status":"stopped"})"
       "\n",
       "", 0, kStatusCall},
      {"output that is not UTF-8", systemctl(answer("caf\xe9 \x1b\n", "\xc3")), "coremend",
       {"--check"},
       "{\"message\":\"caf\xef\xbf\xbd \\u001b\\n\\n\xef\xbf\xbd\",\"name\":\"tarnwick.service\","
       "\"status\":\"running\"}\n",
       "", 0, kStatusCall},
  });
}

TEST(Coremend, EndsInOrderWhenItCannotDoItsJob) {
  const FakeHost notExecutable{{}, [] { writeFile("/bin/systemctl", "#!/bin/sh\n", 0644); }};
  runCases({
      {"no systemctl", {}, "coremend", {"--check"}, "",
       "execve failed: No such file or directory\n", 1},
      {"systemctl not executable", notExecutable, "coremend", {"--repair"}, "",
       "execve failed: Permission denied\n", 1},
      {"report into a full disk", systemctl(answer("")), "coremend", {"--check"}, "",
       "write error: No space left on device\n", 1, kStatusCall, "", {.stdoutTo = Output::Full}},
      {"report into a closed standard output", systemctl(answer("")), "coremend", {"--repair"}, "",
       "write error: Bad file descriptor\n", 1, kRestartCall, "", {.stdoutTo = Output::Closed}},
      {"started without standard input", systemctl(answer("")), "coremend", {"--repair"},
       R"({"message":"","name":"tarnwick.service","status":"running"})"
       "\n",
       "", 0, kRestartCall, "", {.stdinClosed = true}},
  });
}

}  // namespace
