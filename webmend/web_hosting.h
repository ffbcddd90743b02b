// The restart of the whole web hosting stack.
#pragma once

#include "service_action.h"

// Performs `action` on every PHP-FPM service of the registry, then on "apache2" and
// "nginx", and prints the reports as one JSON array. When the registry cannot be read, one
// diagnostic line says why and the web servers are still acted on.
void restartWebHosting(const ServiceAction& action);
