#include "stack_units.h"

#include <algorithm>
#include <exception>

#include "database_unit.h"
#include "fpm_services.h"
#include "memory_reserve.h"
#include "panel_paths.h"
#include "service_report.h"
#include "unit_name.h"

std::string refusalOfFpmName(const std::string& name) {
  if (!systemctlReadsAsUnitName(name)) return "systemctl would not read this name as a unit name";
  if (name.empty()) return "an empty name is no unit";
  // systemctl show reads a number as the id of a job, not as a unit.
  if (std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return "systemctl show would read a name of digits only as a job";
  }
  // Only a service has the state asked about: a socket or a timer has no main process.
  if (!systemctlUnitName(name).ends_with(".service")) return "not a service unit";
  return "";
}

StackUnits listStackUnits() {
  StackUnits stack;
  stack.units.push_back({"engine", kEngineUnit, ""});
  if (std::string database = detectDatabaseUnit(); !database.empty()) {
    stack.units.push_back({"database", std::move(database), ""});
  }
  std::vector<std::string> fpm;
  try {
    fpm = listFpmServices();
  } catch (const std::exception& error) {
    // The web servers are still part of the stack.
    stack.registryError = error.what();
    holdMemoryReserve();
  }
  for (auto& name : fpm) {
    std::string refused = refusalOfFpmName(name);
    stack.units.push_back({"php-fpm", std::move(name), std::move(refused)});
  }
  stack.units.push_back({"web server", "apache2", ""});
  stack.units.push_back({"web server", "nginx", ""});
  return stack;
}
