// `hostmend status`: the state of every unit of the hosting stack, from one systemctl call.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "run_probes.h"
#include "stack_units.h"
#include "unit_properties.h"

struct UnitStatus {
  StackUnit unit;
  // As systemctl show gave them; empty for a refused unit, which is not asked about.
  UnitProperties properties;
  // One per distinct address the unit listens on; empty when it was not probed.
  std::vector<ProbeResult> probes = {};
  // The table's cell: the worst outcome of the probes, or why there are none.
  std::string probeCell = "-";
};

struct StackStatus {
  std::vector<UnitStatus> units;
  // One line per thing that needs a person: the registry that could not be read, each
  // refused name.
  std::vector<std::string> problems;
  // Whether the probes ran (as root, not left out).
  bool probed = false;
};

// Lists the stack and asks systemctl about all of its units in one call. A call that fails,
// or does not give one block per unit, is raised with systemctl's last line.
StackStatus readStackStatus();

// 0 when no unit is down or not answering and nothing needs a person, otherwise 3.
int statusExitCode(const StackStatus& status);

// {"probed": ..., "problems": [...], "units": [...]}, each unit with its role, name,
// properties (or the reason it was refused) and probes.
nlohmann::json statusDocument(const StackStatus& status);

// The units as a table with a header line, then the problems one a line.
std::string statusTable(const StackStatus& status);
