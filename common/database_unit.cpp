#include "database_unit.h"

#include <array>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// In order of priority: the first name installed in either place wins.
constexpr std::array kCandidates = {"mariadb", "mysql", "mysqld"};
const char kUnitDirectory[] = "/lib/systemd/system";
const char kInitScriptDirectory[] = "/etc/init.d";

// True when `path` names a regular file once symbolic links are followed. A missing path
// (a dangling link included) is a plain no; the throwing form of status() raises any other
// failure, so that a host we cannot see into is not mistaken for one without a database.
bool isRegularFile(const fs::path& path) { return fs::is_regular_file(fs::status(path)); }

}  // namespace

std::string detectDatabaseUnit() {
  for (const std::string base : kCandidates) {
    std::string unit = base + ".service";
    // Both places of one name are looked at before any place of the next name; an init
    // script still gives the unit name, which systemd generates for it.
    if (isRegularFile(fs::path(kUnitDirectory) / unit) ||
        isRegularFile(fs::path(kInitScriptDirectory) / base)) {
      return unit;
    }
  }
  return "";
}
