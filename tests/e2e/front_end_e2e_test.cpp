// The command-line protocol, the same for every tool.
#include <gtest/gtest.h>

#include "sandbox.h"

namespace {

const std::string kUsage[][2] = {{"coremend", "Usage: coremend [--check|--repair]\n"},
                                 {"dbmend", "Usage: dbmend [--check|--repair]\n"},
                                 {"webmend", "Usage: webmend [--restart-web-hosting]\n"},
                                 {"sweepmend", "Usage: sweepmend [--check|--repair]\n"},
                                 {"hostmend", "Usage: hostmend [status [--json]|start UNIT...]\n"}};

TEST(FrontEnd, HelpAndMissingWordTouchNothing) {
  std::vector<Case> cases;
  for (const auto& [tool, usage] : kUsage) {
    // A systemctl that would be called is in place: the help words must not call it.
    const FakeHost host{{{"/bin/systemctl", answer("", "", 0)}}};
    cases.push_back({tool + " without a word", host, tool, {}, "", usage, 2});
    cases.push_back({tool + " --help", host, tool, {"--help"}, usage, "", 0});
    cases.push_back({tool + " -h, extra ignored", host, tool, {"-h", "--repair"}, usage, "", 0});
    cases.push_back({tool + " --help into a full disk",
                     host,
                     tool,
                     {"--help"},
                     "",
                     "write error: No space left on device\n",
                     1,
                     "",
                     "",
                     {.stdoutTo = Output::Full}});
  }
  runCases(cases);
}

TEST(FrontEnd, UnknownWords) {
  std::vector<Case> cases;
  for (const auto& [tool, usage] : kUsage) {
    if (tool == "dbmend") continue;  // looks for its database first; see its own cases
    for (const std::string word : {"--CHECK", "check", "--check ", "", "--help ", "-check"}) {
      cases.push_back({tool + " '" + word + "'",
                       {},
                       tool,
                       {word, "--check"},
                       "",
                       "Unknown command: " + word + "\n" + usage,
                       2});
    }
  }
  cases.push_back({"webmend --check",
                   {},
                   "webmend",
                   {"--check"},
                   "",
                   "Unknown command: --check\n" + kUsage[2][1],
                   2});
  cases.push_back({"coremend --restart-web-hosting",
                   {},
                   "coremend",
                   {"--restart-web-hosting"},
                   "",
                   "Unknown command: --restart-web-hosting\n" + kUsage[0][1],
                   2});
  runCases(cases);
}

}  // namespace
