// Asking every active unit of the stack whether it serves, the way its clients do.
#pragma once

#include <chrono>

#include "stack_status.h"

// The time limit of each probe unless told otherwise.
inline constexpr std::chrono::seconds kDefaultProbeLimit{2};

// Probes every active unit of `status` on the listening sockets of its main process, all at
// once, each within `limit`, and fills in each unit's probes and its table cell. Without
// root no process's descriptors can be read: nothing is probed and the cells say so.
void probeStack(StackStatus& status, std::chrono::milliseconds limit);

// Has probes, none of them answered, and at least one had no answer.
bool notAnswering(const UnitStatus& unit);
