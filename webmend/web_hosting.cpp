#include "web_hosting.h"

#include <exception>
#include <vector>

#include "fpm_services.h"
#include "memory_reserve.h"

void restartWebHosting(const ServiceAction& action) {
  std::vector<std::string> units;
  try {
    units = listFpmServices();
  } catch (const std::exception& error) {
    // Without the PHP-FPM list the web servers are still worth restarting.
    reportFpmListFailure(error.what());
    // The web servers' turn may run out of memory too.
    holdMemoryReserve();
  }
  units.push_back("apache2");
  units.push_back("nginx");
  printServiceReports(action, units);
}
