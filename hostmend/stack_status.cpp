#include "stack_status.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "fpm_services.h"
#include "run_command.h"
#include "service_report.h"

namespace {

const char kSystemctl[] = "/bin/systemctl";
// The properties whose values are numbers; the others are passed on as strings.
constexpr std::array<std::string_view, 2> kNumberProperties = {"NRestarts", "MainPID"};

std::string propertyList() {
  std::string list = "--property=";
  std::string_view separator;
  for (const auto property : kStateProperties) {
    list.append(separator).append(property);
    separator = ",";
  }
  return list;
}

bool isNumberProperty(std::string_view name) {
  return std::find(kNumberProperties.begin(), kNumberProperties.end(), name) !=
         kNumberProperties.end();
}

// The value as a number, or nullopt where it is none.
std::optional<std::uint64_t> numberOf(std::string_view text) {
  std::uint64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
  return number;
}

// Every property of `properties` that must be there, and numbers where numbers belong.
void checkBlock(const std::string& unit, const UnitProperties& properties) {
  for (const auto name : kStateProperties) {
    const auto found = properties.find(name);
    if (found == properties.end()) {
      throw std::runtime_error("systemctl show gave no " + std::string(name) + " for " + unit);
    }
    if (isNumberProperty(name) && !numberOf(found->second)) {
      throw std::runtime_error("systemctl show gave " + found->first + "=" + found->second +
                               " for " + unit + ", not a number");
    }
  }
}

std::string cell(const UnitProperties& properties, std::string_view name) {
  const auto found = properties.find(name);
  return found == properties.end() || found->second.empty() ? "-" : found->second;
}

// `text` with its control characters written as \xNN, so that a name holding a newline
// stays on its line of the table.
std::string printable(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

StackStatus readStackStatus() {
  StackUnits stack = listStackUnits();
  StackStatus status;
  if (!stack.registryError.empty()) {
    status.problems.push_back(fpmListFailureLine(stack.registryError));
  }
  std::vector<std::string> arguments = {"show", "--timestamp=utc", propertyList(), "--"};
  const std::size_t options = arguments.size();
  for (auto& unit : stack.units) {
    if (unit.refused.empty()) {
      arguments.push_back(unit.name);
    } else {
      status.problems.push_back("Refused PHP-FPM unit name: " + unit.name);
    }
    status.units.push_back({std::move(unit), {}});
  }
  const ChildRun run = runCommand(kSystemctl, arguments, CaptureMode::Both);
  const std::size_t asked = arguments.size() - options;
  std::vector<UnitProperties> blocks;
  if (run.exitCode == 0) blocks = parseShowBlocks(run.stdoutText);
  if (run.exitCode != 0 || blocks.size() != asked) {
    std::string line = lastNonEmptyLine(run.stderrText);
    if (line.empty()) {
      line = run.exitCode != 0
                 ? "systemctl show failed with exit code " + std::to_string(run.exitCode)
                 : "systemctl show gave " + std::to_string(blocks.size()) + " blocks for " +
                       std::to_string(asked) + " units";
    }
    throw std::runtime_error(line);
  }
  auto block = blocks.begin();
  for (auto& unit : status.units) {
    if (!unit.unit.refused.empty()) continue;
    checkBlock(unit.unit.name, *block);
    unit.properties = std::move(*block++);
  }
  return status;
}

int statusExitCode(const StackStatus& status) {
  const bool down = std::any_of(status.units.begin(), status.units.end(), [](const auto& unit) {
    return unit.unit.refused.empty() && isDown(unit.properties);
  });
  return down || !status.problems.empty() ? 3 : 0;
}

nlohmann::json statusDocument(const StackStatus& status) {
  nlohmann::json units = nlohmann::json::array();
  for (const auto& [unit, properties] : status.units) {
    nlohmann::json object = {{"role", unit.role}, {"name", unit.name}};
    if (!unit.refused.empty()) object["refused"] = unit.refused;
    for (const auto& [name, value] : properties) {
      if (std::find(kStateProperties.begin(), kStateProperties.end(), name) ==
          kStateProperties.end()) {
        continue;
      }
      if (isNumberProperty(name)) {
        object[name] = *numberOf(value);
      } else {
        object[name] = value;
      }
    }
    units.push_back(std::move(object));
  }
  return {{"problems", status.problems}, {"units", std::move(units)}};
}

std::string statusTable(const StackStatus& status) {
  using Row = std::vector<std::string>;
  std::vector<Row> rows = {{"ROLE", "UNIT", "ACTIVE", "SUB", "ENABLED", "SINCE", "RESTARTS"}};
  for (const auto& [unit, properties] : status.units) {
    Row row = {unit.role, printable(unit.name)};
    if (unit.refused.empty()) {
      for (const auto name :
           {"ActiveState", "SubState", "UnitFileState", "ActiveEnterTimestamp", "NRestarts"}) {
        row.push_back(printable(cell(properties, name)));
      }
    } else {
      row.push_back("refused: " + unit.refused);
    }
    rows.push_back(std::move(row));
  }
  // Every column but the last is as wide as its widest cell; a refusal's reason, which
  // stands where the state would, takes no part in the widths.
  std::vector<std::size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (row.size() < widths.size() && i + 1 == row.size()) continue;
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  std::string table;
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      table += row[i];
      if (i + 1 < row.size()) table += std::string(widths[i] - row[i].size() + 1, ' ');
    }
    table += '\n';
  }
  if (!status.problems.empty()) table += '\n';
  for (const auto& problem : status.problems) table += printable(problem) + '\n';
  return table;
}
