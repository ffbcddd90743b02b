// `hostmend status`: the state of every unit of the hosting stack, from one systemctl call.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "stack_units.h"
#include "unit_properties.h"

struct UnitStatus {
  StackUnit unit;
  // As systemctl show gave them; empty for a refused unit, which is not asked about.
  UnitProperties properties;
};

struct StackStatus {
  std::vector<UnitStatus> units;
  // One line per thing that needs a person: the registry that could not be read, each
  // refused name.
  std::vector<std::string> problems;
};

// Lists the stack and asks systemctl about all of its units in one call. A call that fails,
// or does not give one block per unit, is raised with systemctl's last line.
StackStatus readStackStatus();

// 0 when no unit is down and nothing needs a person, otherwise 3.
int statusExitCode(const StackStatus& status);

// {"problems": [...], "units": [...]}, each unit with its role, name and properties (or
// the reason it was refused).
nlohmann::json statusDocument(const StackStatus& status);

// The units as a table with a header line, then the problems one a line.
std::string statusTable(const StackStatus& status);
