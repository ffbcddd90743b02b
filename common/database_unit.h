// Finding the systemd unit of the host's database server (MariaDB or MySQL).
#pragma once

#include <string>

// The unit name ("mariadb.service", "mysql.service" or "mysqld.service") of the first
// candidate installed as a unit file or an init script, or "" when there is none. A path
// that cannot be examined (permission denied, a loop of symbolic links) is raised as
// std::filesystem::filesystem_error.
std::string detectDatabaseUnit();
