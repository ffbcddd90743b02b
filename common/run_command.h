// Starting one external program and collecting how it ended.
#pragma once

#include <string>
#include <vector>

// The outcome of one external command.
struct ChildRun {
  // The exit status after a normal exit; after a death by a signal, the signal's number
  // (9 for SIGKILL), which cannot be told from an exit with that status.
  int exitCode = 0;
  // Bytes exactly as the child wrote them; empty when not captured.
  std::string stdoutText;
  std::string stderrText;
};

// How runCommand treats the child's standard streams.
enum class CaptureMode {
  // Standard output and standard error are both collected.
  Both,
  // Standard output is collected (and kept only on exit code 0); standard error is ours.
  StdoutOnly,
  // Standard input is closed in the child; its output goes straight to ours.
  PassThrough,
};

// Runs `executable` (an absolute path, no PATH search, no shell) with `arguments` as its
// argv[1..], waits for it and, in the capturing modes, for every writer of its pipes.
// Failures to start or wait are raised as exceptions derived from std::exception, for
// example "execve failed: No such file or directory".
//
// When no process can be created at all (the process limit), each mode gives its own,
// and callers rely on each:
//   Both        raises "fork failed: <reason>";
//   StdoutOnly  returns exitCode 383 (the library's "still running") and no text;
//   PassThrough returns exitCode -1.
ChildRun runCommand(const std::string& executable, const std::vector<std::string>& arguments,
                    CaptureMode mode);
