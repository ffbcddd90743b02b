// Service actions on units of the hosting stack, and on nothing else.
#pragma once

#include <string>
#include <vector>

#include "service_action.h"

// Runs `systemctl <word> UNIT` for each of `units` that is a unit of the stack, exactly as
// `hostmend status` names it, in order, and prints all reports together as webmend does.
// Any other name gets a report with status "stopped" and the message "<notDone>: not a
// unit of this server's hosting stack", and no call.
void actOnStackUnits(const ServiceAction& action, const std::vector<std::string>& units);
