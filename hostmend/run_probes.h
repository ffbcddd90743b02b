// Asking every listening socket of a run at once, each within the time limit.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "listening_sockets.h"
#include "probe_protocols.h"

struct ProbeTarget {
  ListeningSocket socket;
  ProbeKind kind = ProbeKind::Connection;
};

struct ProbeResult {
  // As formatAddress writes it.
  std::string address;
  ProbeOutcome outcome = ProbeOutcome::NoAnswer;
  // From the start of the connection to the outcome.
  double seconds = 0;
  // The server's message or the system's reason, else empty.
  std::string detail;
};

// Probes every target at once on the calling thread, one connection per distinct address,
// and returns one result per target in the same order. Each connection is closed as soon as
// its outcome is known, and at the latest after `limit`, so the whole run takes about one
// limit however many hang.
std::vector<ProbeResult> runProbes(const std::vector<ProbeTarget>& targets,
                                   std::chrono::milliseconds limit);

// The same exchange on a stream socket that is already connected (its address is left
// empty); the descriptor is taken over and closed.
ProbeResult probeConnected(int fd, ProbeKind kind, std::chrono::milliseconds limit);
