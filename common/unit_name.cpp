#include "unit_name.h"

#include <array>
#include <cstddef>

namespace {

// What systemd accepts as the suffix of a unit name.
constexpr std::array<std::string_view, 11> kUnitTypes = {"service", "mount",  "swap",      "socket",
                                                         "target",  "device", "automount", "timer",
                                                         "path",    "slice",  "scope"};
// The longest name the service manager takes, its NUL included.
constexpr std::size_t kUnitNameMax = 256;

// A byte of a unit name.
bool isNameCharacter(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         std::string_view(":-_.\\@").find(c) != std::string_view::npos;
}

// A byte that systemctl's escaping leaves as it is: it escapes with its pattern characters
// allowed, so these few stay too.
bool staysUnescaped(char c) {
  return isNameCharacter(c) || std::string_view("[]!*?").find(c) != std::string_view::npos;
}

bool isUnitType(std::string_view word) {
  for (const std::string_view type : kUnitTypes) {
    if (word == type) return true;
  }
  return false;
}

// systemd's own test: a known type after the last ".", a non-empty name of name
// characters before it that does not start with "@", shorter than the limit.
bool isValidUnitName(std::string_view name) {
  if (name.empty() || name.size() >= kUnitNameMax) return false;
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || !isUnitType(name.substr(dot + 1))) return false;
  if (name.front() == '@') return false;
  for (const char c : name.substr(0, dot)) {
    if (!isNameCharacter(c)) return false;
  }
  return true;
}

}  // namespace

std::string systemctlUnitName(std::string_view unit) {
  if (unit.empty()) return "";
  if (isValidUnitName(unit)) return std::string(unit);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name;
  for (const char c : unit) {
    if (c == '/') {
      name += '-';
    } else if (staysUnescaped(c)) {
      name += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      name += "\\x";
      name += kHex[byte >> 4];
      name += kHex[byte & 0xf];
    }
  }
  if (!isValidUnitName(name)) name += ".service";
  return name;
}
