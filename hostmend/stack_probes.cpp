#include "stack_probes.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <exception>
#include <string>
#include <system_error>
#include <vector>

#include "listening_sockets.h"
#include "probe_addresses.h"
#include "run_probes.h"

namespace {

ProbeKind kindOf(const std::string& role) {
  if (role == "web server") return ProbeKind::Http;
  if (role == "php-fpm") return ProbeKind::FastCgi;
  if (role == "database") return ProbeKind::Database;
  return ProbeKind::Connection;
}

pid_t mainPid(const UnitProperties& properties) {
  const auto found = properties.find("MainPID");
  pid_t pid = 0;
  if (found != properties.end()) {
    std::from_chars(found->second.data(), found->second.data() + found->second.size(), pid);
  }
  return pid;
}

// The unit's sockets; a main process that has ended since systemctl was asked has none.
ProcessSockets socketsOf(pid_t pid) {
  if (pid <= 0) return {};
  try {
    return findListeningSockets(pid);
  } catch (const std::system_error& error) {
    if (error.code() == std::errc::no_such_file_or_directory ||
        error.code() == std::errc::no_such_process) {
      return {};
    }
    throw;
  }
}

bool isActive(const UnitStatus& unit) {
  const auto found = unit.properties.find("ActiveState");
  return unit.unit.refused.empty() && found != unit.properties.end() && found->second == "active";
}

}  // namespace

void probeStack(StackStatus& status, std::chrono::milliseconds limit) {
  if (::geteuid() != 0) {
    for (UnitStatus& unit : status.units) {
      if (isActive(unit)) unit.probeCell = "not probed (needs root)";
    }
    return;
  }
  status.probed = true;
  const bool ipv6Loopback = hostHasIpv6Loopback();
  std::vector<ProbeTarget> targets;
  // Where each unit's targets begin in `targets`, and how many it has.
  std::vector<std::pair<std::size_t, std::size_t>> spans(status.units.size());
  for (std::size_t index = 0; index < status.units.size(); ++index) {
    UnitStatus& unit = status.units[index];
    if (!isActive(unit)) continue;
    const ProbeKind kind = kindOf(unit.unit.role);
    ProcessSockets sockets;
    try {
      sockets = socketsOf(mainPid(unit.properties));
    } catch (const std::exception& error) {
      status.problems.push_back("Unable to probe " + unit.unit.name + ": " + error.what());
      continue;
    }
    if (sockets.otherNetworkNamespace) {
      unit.probeCell = "other network namespace";
      continue;
    }
    spans[index].first = targets.size();
    for (ListeningSocket& target :
         probeTargets(sockets.sockets, ipv6Loopback, kind == ProbeKind::Database)) {
      targets.push_back({std::move(target), kind});
    }
    spans[index].second = targets.size() - spans[index].first;
    unit.probeCell = "no socket";
  }
  const std::vector<ProbeResult> results = runProbes(targets, limit);
  for (std::size_t index = 0; index < status.units.size(); ++index) {
    const auto [first, count] = spans[index];
    if (count == 0) continue;
    UnitStatus& unit = status.units[index];
    unit.probes.assign(results.begin() + static_cast<std::ptrdiff_t>(first),
                       results.begin() + static_cast<std::ptrdiff_t>(first + count));
    const auto worst = std::min_element(unit.probes.begin(), unit.probes.end(),
                                        [](const ProbeResult& left, const ProbeResult& right) {
                                          return left.outcome < right.outcome;
                                        });
    unit.probeCell = outcomeName(worst->outcome);
  }
}

bool notAnswering(const UnitStatus& unit) {
  const auto outcomeIs = [](ProbeOutcome outcome) {
    return [outcome](const ProbeResult& probe) { return probe.outcome == outcome; };
  };
  return !unit.probes.empty() &&
         std::none_of(unit.probes.begin(), unit.probes.end(), outcomeIs(ProbeOutcome::Answered)) &&
         std::any_of(unit.probes.begin(), unit.probes.end(), outcomeIs(ProbeOutcome::NoAnswer));
}
