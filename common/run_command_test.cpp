#include "run_command.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <system_error>

#include <gtest/gtest.h>

namespace {

ChildRun runShell(const std::string& script, CaptureMode mode = CaptureMode::Both,
                  std::vector<std::string> extra = {}) {
  std::vector<std::string> arguments{"-c", script, "sh"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return runCommand("/bin/sh", arguments, mode);
}

// Runs `body` with descriptor `fd` pointed at a fresh temporary file (or closed when
// `close` is set) and returns what was written there.
std::string withDescriptor(int fd, const std::function<void()>& body, bool close = false) {
  std::FILE* file = std::tmpfile();
  const int saved = ::dup(fd);
  if (close) {
    ::close(fd);
  } else {
    ::dup2(::fileno(file), fd);
  }
  body();
  ::dup2(saved, fd);
  ::close(saved);
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

struct CaptureCase {
  const char* name;
  std::string script;
  int exitCode;
  std::string out;
  std::string err;
};

TEST(RunCommand, CapturesBothStreamsAndNormalisesTheExitCode) {
  const std::string mebibyte(1 << 20, 'o');
  const std::vector<CaptureCase> cases = {
      {"silent success", "exit 0", 0, "", ""},
      {"exit status", "exit 3", 3, "", ""},
      {"highest status", "exit 255", 255, "", ""},
      {"SIGTERM", "kill -TERM $$", 15, "", ""},
      {"SIGKILL after output", "echo partial; kill -KILL $$", 9, "partial\n", ""},
      {"standard error only", "echo oops >&2; exit 1", 1, "", "oops\n"},
      {"NUL and no final newline", "printf 'a\\000b'", 0, std::string("a\0b", 3), ""},
      {"bytes that are not UTF-8", "printf '\\377\\376'; printf '\\300' >&2", 0, "\xff\xfe",
       "\xc0"},
      // Neither pipe may fill up while the other is being read.
      {"a mebibyte on each stream, interleaved",
       "for i in 1 2 3 4 5 6 7 8; do head -c 131072 /dev/zero | tr '\\0' o;"
       " head -c 131072 /dev/zero | tr '\\0' e >&2; done",
       0, mebibyte, std::string(1 << 20, 'e')},
      {"all of standard error before any standard output",
       "head -c 1048576 /dev/zero | tr '\\0' e >&2; head -c 1048576 /dev/zero | tr '\\0' o", 0,
       mebibyte, std::string(1 << 20, 'e')},
      // The call ends only when the grandchild that inherited the pipe has closed it.
      {"grandchild holding standard output", "(sleep 1; echo late) & echo early", 0,
       "early\nlate\n", ""},
      {"child that closes its streams and lives on", "exec >&- 2>&-; sleep 1; exit 4", 4, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ChildRun run = runShell(c.script);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.stdoutText, c.out);
    EXPECT_EQ(run.stderrText, c.err);
  }
}

TEST(RunCommand, PassesTheArgumentVectorUnchanged) {
  const ChildRun run = runShell("printf '[%s]' \"$0\" \"$@\"", CaptureMode::Both,
                                {"", "two words", " ", "*", "$HOME"});
  EXPECT_EQ(run.stdoutText, "[sh][][two words][ ][*][$HOME]");
  // argv[0] is the executable path itself.
  const ChildRun self = runCommand("/bin/sh", {"-c", "cat /proc/$$/cmdline"}, CaptureMode::Both);
  EXPECT_EQ(self.stdoutText, std::string("/bin/sh\0-c\0cat /proc/$$/cmdline\0", 32));
}

TEST(RunCommand, RaisesWhenTheProgramCannotBeExecuted) {
  char notExecutable[] = "/tmp/hostmend-not-executable.XXXXXX";
  ::close(::mkstemp(notExecutable));
  for (const auto mode : {CaptureMode::Both, CaptureMode::StdoutOnly, CaptureMode::PassThrough}) {
    for (const auto& [path, text] : std::vector<std::pair<std::string, std::string>>{
             {"/nonexistent/program", "execve failed: No such file or directory"},
             {notExecutable, "execve failed: Permission denied"}}) {
      SCOPED_TRACE(path);
      try {
        runCommand(path, {}, mode);
        ADD_FAILURE() << "no error raised";
      } catch (const std::system_error& error) {
        EXPECT_EQ(std::string(error.what()), text);
      }
    }
  }
  ::unlink(notExecutable);
}

TEST(RunCommand, StdoutOnlyKeepsTextOnSuccessAndLeavesStandardErrorAlone) {
  ChildRun failed;
  const std::string ourStderr = withDescriptor(STDERR_FILENO, [&] {
    failed = runShell("echo text; echo why >&2; exit 1", CaptureMode::StdoutOnly);
  });
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_EQ(failed.stdoutText, "");
  EXPECT_EQ(ourStderr, "why\n");

  const ChildRun ok = runShell("echo text", CaptureMode::StdoutOnly);
  EXPECT_EQ(ok.exitCode, 0);
  EXPECT_EQ(ok.stdoutText, "text\n");
  EXPECT_EQ(ok.stderrText, "");
}

TEST(RunCommand, PassThroughClosesStandardInputAndSharesOurOutput) {
  const std::string script = "echo out; echo err >&2; [ -e /proc/$$/fd/0 ] && exit 10; exit 7";
  for (const bool ourStdinClosed : {false, true}) {
    SCOPED_TRACE(ourStdinClosed ? "started without descriptor 0" : "descriptor 0 open");
    ChildRun run;
    std::string err;
    const std::string out = withDescriptor(STDOUT_FILENO, [&] {
      err = withDescriptor(STDERR_FILENO, [&] {
        withDescriptor(
            STDIN_FILENO, [&] { run = runShell(script, CaptureMode::PassThrough); },
            ourStdinClosed);
      });
    });
    EXPECT_EQ(run.exitCode, 7);  // 10 would mean the child found a standard input
    EXPECT_EQ(out, "out\n");
    EXPECT_EQ(err, "err\n");
    EXPECT_EQ(run.stdoutText, "");
  }
  EXPECT_EQ(runShell("kill -KILL $$", CaptureMode::PassThrough).exitCode, 9);
}

}  // namespace
