// The units of the server's hosting stack: those the four repair tools act on.
#pragma once

#include <string>
#include <vector>

struct StackUnit {
  // "engine", "database", "php-fpm" or "web server".
  std::string role;
  // As the tools pass it to systemctl ("tarnwick.service", "php8.2-fpm", "nginx").
  std::string name;
  // Why the name is not asked about or acted on; empty for a unit of the stack.
  std::string refused;
};

struct StackUnits {
  // The engine, the database (where one is installed), the PHP-FPM services of the
  // registry, apache2 and nginx, in this order.
  std::vector<StackUnit> units;
  // The text of the registry's failure; empty when it was read.
  std::string registryError;
};

// Why `name`, listed as a PHP-FPM service, cannot be asked about as one unit by systemctl
// show, or "" when it can.
std::string refusalOfFpmName(const std::string& name);

// Reads the registry and looks for the database unit. A registry that cannot be read is
// told in `registryError`; a database unit that cannot be looked for is raised.
StackUnits listStackUnits();
