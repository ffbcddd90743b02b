#include "database_actions.h"

#include "service_report.h"

void checkDatabase(const std::string& unit) { printServiceReport("status", unit); }

void repairDatabase(const std::string& unit) { printServiceReport("restart", unit); }
