// The command-line protocol that every tool follows: one command word in, a JSON result
// on standard output, the exit status for whether the word was understood.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

struct CommandWord {
  std::string_view word;
  // Runs the operation and returns the exit status.
  std::function<int()> run;
};

struct FrontEnd {
  // The tool's name, as its journal entries give it.
  const char* name;
  // The usage line, ending in a newline.
  std::string_view usage;
  // Tried in order; the first exact match runs.
  std::vector<CommandWord> commands;
  // Runs before the word is matched (never for the help words); a non-zero result ends the
  // run with that status.
  std::function<int()> beforeMatching = {};
};

// Reads argv[1], runs the matching command and returns the exit status. An error that the
// operation does not handle ends the run in order: its text as one line on standard
// error, status 1.
int runFrontEnd(const FrontEnd& tool, int argc, char** argv);

// The one line a tool ends with when it cannot do its job, on standard error and, before
// that, in the journal.
void writeFailureLine(std::string_view line);
