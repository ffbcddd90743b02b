// The command-line protocol, the same for every tool.
#include <gtest/gtest.h>

#include "sandbox.h"

namespace {

const std::string kUsage[][2] = {{"coremend", "Usage: coremend [--check|--repair]\n"},
                                 {"dbmend", "Usage: dbmend [--check|--repair]\n"},
                                 {"webmend", "Usage: webmend [--restart-web-hosting]\n"},
                                 {"sweepmend", "Usage: sweepmend [--check|--repair]\n"},
                                 {"hostmend",
                                  "Usage: hostmend [status [--json] [--timeout SECONDS] "
                                  "[--no-probes]|start UNIT...|restart UNIT...]\n"}};

TEST(FrontEnd, HelpAndMissingWordTouchNothing) {
  std::vector<Case> cases;
  for (const auto& [tool, usage] : kUsage) {
    // A systemctl that would be called is in place: the help words must not call it.
    const FakeHost host{{{"/bin/systemctl", answer("", "", 0)}}};
    cases.push_back({.name = tool + " without a word",
                     .host = host,
                     .tool = tool,
                     .arguments = {},
                     .out = "",
                     .err = usage,
                     .status = 2});
    cases.push_back({.name = tool + " --help",
                     .host = host,
                     .tool = tool,
                     .arguments = {"--help"},
                     .out = usage});
    cases.push_back({.name = tool + " -h, extra ignored",
                     .host = host,
                     .tool = tool,
                     .arguments = {"-h", "--repair"},
                     .out = usage});
    cases.push_back({.name = tool + " --help into a full disk",
                     .host = host,
                     .tool = tool,
                     .arguments = {"--help"},
                     .out = "",
                     .err = "write error: No space left on device\n",
                     .status = 1,
                     .launch = {.stdoutTo = Output::Full}});
  }
  runCases(cases);
}

TEST(FrontEnd, UnknownWords) {
  std::vector<Case> cases;
  for (const auto& [tool, usage] : kUsage) {
    if (tool == "dbmend") continue;  // looks for its database first; see its own cases
    for (const std::string word : {"--CHECK", "check", "--check ", "", "--help ", "-check"}) {
      cases.push_back({.name = tool + " '" + word + "'",
                       .host = {},
                       .tool = tool,
                       .arguments = {word, "--check"},
                       .out = "",
                       .err = "Unknown command: " + word + "\n" + usage,
                       .status = 2});
    }
  }
  cases.push_back({.name = "webmend --check",
                   .host = {},
                   .tool = "webmend",
                   .arguments = {"--check"},
                   .out = "",
                   .err = "Unknown command: --check\n" + kUsage[2][1],
                   .status = 2});
  cases.push_back({.name = "coremend --restart-web-hosting",
                   .host = {},
                   .tool = "coremend",
                   .arguments = {"--restart-web-hosting"},
                   .out = "",
                   .err = "Unknown command: --restart-web-hosting\n" + kUsage[0][1],
                   .status = 2});
  runCases(cases);
}

}  // namespace
