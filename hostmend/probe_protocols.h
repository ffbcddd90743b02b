// What a probe sends to each kind of service and how it reads the first bytes back.
#pragma once

#include <string>
#include <string_view>

// How a unit is asked whether it serves; each kind asks the way its clients do.
enum class ProbeKind {
  // The engine's protocol is the panel's own: the connection alone.
  Connection,
  // A web server: "OPTIONS * HTTP/1.0", which no site ever sees.
  Http,
  // A PHP-FPM pool: a FastCGI management record, which runs no script.
  FastCgi,
  // MariaDB or MySQL: nothing sent, the server greets first.
  Database,
};

// How one probe ended, worst first (a unit's column shows the smallest).
enum class ProbeOutcome {
  NoAnswer,
  Refused,
  WrongAnswer,
  Answered,
};

// "no answer", "refused", "wrong answer", "answered".
std::string_view outcomeName(ProbeOutcome outcome);

// The bytes written once the connection stands; empty when the server speaks first or
// nothing is asked at all.
std::string_view probeRequest(ProbeKind kind);

// What the bytes received so far say. `decided` is false while more bytes are needed.
struct ProbeVerdict {
  bool decided = false;
  ProbeOutcome outcome = ProbeOutcome::NoAnswer;
  // The server's own message (a database's error packet), else empty.
  std::string detail;
};

// Reads `received` (everything the server sent so far) for `kind`; `closed` says the server
// has ended its side, so that nothing more will come.
ProbeVerdict readAnswer(ProbeKind kind, std::string_view received, bool closed);
