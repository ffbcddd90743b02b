// Starting one external program and collecting how it ended.
#pragma once

#include <string>
#include <vector>

// The outcome of one external command.
struct ChildRun {
  // Exit status after a normal exit, signal number after a death by signal.
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
// Failures to start or wait are raised as exceptions derived from std::exception.
ChildRun runCommand(const std::string& executable, const std::vector<std::string>& arguments,
                    CaptureMode mode);
