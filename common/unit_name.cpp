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

// The bytes of a unit name (1), and those that systemctl's escaping leaves as they are (2):
// it escapes with its pattern characters allowed, so these few stay too. A table, since
// every service action asks for each byte of its unit's name.
constexpr std::array<unsigned char, 256> kCharacterClasses = [] {
  std::array<unsigned char, 256> classes{};
  for (const char c : std::string_view("0123456789abcdefghijklmnopqrstuvwxyz"
                                       "ABCDEFGHIJKLMNOPQRSTUVWXYZ:-_.\\@")) {
    classes[static_cast<unsigned char>(c)] = 3;
  }
  for (const char c : std::string_view("[]!*?")) classes[static_cast<unsigned char>(c)] = 2;
  return classes;
}();

bool isNameCharacter(char c) { return (kCharacterClasses[static_cast<unsigned char>(c)] & 1) != 0; }

bool staysUnescaped(char c) { return kCharacterClasses[static_cast<unsigned char>(c)] != 0; }

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
  // The usual name ("php8.2-fpm") needs no escape: it is copied whole.
  std::size_t plain = 0;
  while (plain < unit.size() && unit[plain] != '/' && staysUnescaped(unit[plain])) ++plain;
  std::string name;
  name.reserve(unit.size() + 8);
  name.append(unit.substr(0, plain));
  // Nothing to escape: the name is the one found not valid above, so it lacks its type.
  if (plain == unit.size()) {
    name += ".service";
    return name;
  }
  for (const char c : unit.substr(plain)) {
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
