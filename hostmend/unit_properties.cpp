#include "unit_properties.h"

namespace {

std::string_view valueOf(const UnitProperties& properties, std::string_view name) {
  const auto found = properties.find(name);
  return found == properties.end() ? std::string_view() : std::string_view(found->second);
}

}  // namespace

std::vector<UnitProperties> parseShowBlocks(std::string_view text) {
  std::vector<UnitProperties> blocks;
  if (text.empty()) return blocks;
  if (text.ends_with('\n')) text.remove_suffix(1);
  blocks.emplace_back();
  while (true) {
    const std::size_t newline = text.find('\n');
    const std::string_view line = text.substr(0, newline);
    if (line.empty()) {
      blocks.emplace_back();
    } else {
      const std::size_t equals = line.find('=');
      // A property printed twice keeps its first value.
      blocks.back().emplace(
          std::string(line.substr(0, equals)),
          equals == std::string_view::npos ? "" : std::string(line.substr(equals + 1)));
    }
    if (newline == std::string_view::npos) break;
    text.remove_prefix(newline + 1);
  }
  return blocks;
}

bool isDown(const UnitProperties& properties) {
  const std::string_view load = valueOf(properties, "LoadState");
  if (load == "error" || load == "bad-setting") return true;
  if (load != "loaded") return false;
  const std::string_view active = valueOf(properties, "ActiveState");
  if (active == "failed") return true;
  // A unit stopped and disabled (or masked) on purpose is not down.
  const std::string_view enabled = valueOf(properties, "UnitFileState");
  return active == "inactive" && enabled != "disabled" && enabled != "masked";
}
