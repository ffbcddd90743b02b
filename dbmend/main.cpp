#include <string>

#include "database_unit.h"
#include "front_end.h"
#include "journal.h"
#include "output.h"
#include "service_action.h"

namespace {

// Runs before the word is matched, so that a host without a database answers 1 even to a
// word the tool does not know.
int detectInto(std::string& unit) {
  unit = detectDatabaseUnit();
  if (!unit.empty()) return 0;
  sendJournalEntry(JournalKind::NoDatabase, kPriorityWarning,
                   "no database unit: no mariadb, mysql or mysqld service installed");
  writeDiagnosticLine("Failed to detect mysql unit name");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string unit;
  return runFrontEnd(
      {.name = "dbmend",
       .usage = "Usage: dbmend [--check|--repair]\n",
       .commands = {{"--check", [&unit] { return printServiceReport(kStatus, unit), 0; }},
                    {"--repair", [&unit] { return printServiceReport(kRestart, unit), 0; }}},
       .beforeMatching = [&unit] { return detectInto(unit); }},
      argc, argv);
}
