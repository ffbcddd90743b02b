#include "stack_actions.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "fpm_services.h"
#include "output.h"
#include "stack_units.h"

namespace {

const char kOutside[] = "not a unit of this server's hosting stack";

}  // namespace

void actOnStackUnits(const ServiceAction& action, const std::vector<std::string>& units) {
  const StackUnits stack = listStackUnits();
  // A PHP-FPM service the registry did not tell us of is refused: say why.
  if (!stack.registryError.empty()) reportFpmListFailure(stack.registryError);
  const auto ofStack = [&stack](const std::string& name) {
    return std::any_of(stack.units.begin(), stack.units.end(), [&name](const StackUnit& unit) {
      return unit.refused.empty() && unit.name == name;
    });
  };
  nlohmann::json reports;  // null until the first report arrives
  for (const auto& unit : units) {
    reports.push_back(ofStack(unit) ? runServiceAction(action, unit)
                                    : refuseServiceAction(action, unit, kOutside));
  }
  writeJsonLine(std::move(reports), 2);
}
