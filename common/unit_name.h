// Unit names as systemctl completes them.
#pragma once

#include <string>
#include <string_view>

// The unit that `systemctl <action> <unit>` acts on for a name it reads literally: a valid
// unit name stays as it is; otherwise "/" becomes "-", every other byte outside its set of
// name characters becomes "\xNN", and ".service" is added unless the name then ends in a
// unit type ("php8.2-fpm" is "php8.2-fpm.service"). "" for the empty name, which systemctl
// refuses.
std::string systemctlUnitName(std::string_view unit);
