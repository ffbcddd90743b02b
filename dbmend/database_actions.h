// Status and restart of the detected database unit.
#pragma once

#include <string>

void checkDatabase(const std::string& unit);
void repairDatabase(const std::string& unit);
