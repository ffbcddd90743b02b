# -*- coding: utf-8 -*-
# What the probes of hostmend status --json say about a unit, and the rules of the restart
# of a unit that does not answer: when it is held back, when it is flapping, and when its
# restart did not bring it back. Pure functions of their arguments.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

# The MESSAGE_ID of the tools' journal entries for a start, restart or try-restart issued.
SERVICE_ACTION = "d9810defc7814e2e84b06cc98ee34bd3"


def not_answering(unit):
    """Whether UNIT (a unit of hostmend status --json) was probed, none of its probes
    answered and one of them had no answer: a hang. A refusal or a wrong answer alone is
    shown, never a reason to restart."""
    probes = (unit or {}).get("probes") or []
    results = [p.get("result") for p in probes]
    return bool(results) and "answered" not in results and "no answer" in results


def probe_lines(unit):
    """One line per probe of UNIT that did not answer: "nginx 127.0.0.1:80: no answer",
    with the server's message or the system's reason after it."""
    lines = []
    for probe in (unit or {}).get("probes") or []:
        if probe.get("result") == "answered":
            continue
        line = "%s %s: %s" % (unit.get("name"), probe.get("address"), probe.get("result"))
        lines.append(line + (" (%s)" % probe["detail"] if probe.get("detail") else ""))
    return lines


def status_units(document):
    """{name: unit} of a hostmend status --json document, refused names left out."""
    units = (document or {}).get("units") or []
    return {u["name"]: u for u in units if isinstance(u, dict) and "name" in u and "refused" not in u}


def flap_command(units, window):
    """journalctl's command for the restarts hostmend restart issued for UNITS within the
    last WINDOW seconds: matches on one field are alternatives, on different fields all hold."""
    return (["journalctl", "--quiet", "--output=json", "--output-fields=HOSTMEND_UNIT",
             "--since=-%ds" % window, "MESSAGE_ID=" + SERVICE_ACTION, "HOSTMEND_TOOL=hostmend",
             "HOSTMEND_ACTION=restart"] + ["HOSTMEND_UNIT=" + u for u in units])


def restarted_units(journal):
    """The units named by the entries of JOURNAL (journalctl --output=json, one per line)."""
    units = set()
    for line in journal.splitlines():
        try:
            entry = json.loads(line)
        except ValueError:
            continue
        if isinstance(entry, dict) and isinstance(entry.get("HOSTMEND_UNIT"), str):
            units.add(entry["HOSTMEND_UNIT"])
    return units


def held_message(unit):
    """Why the database that does not answer is not restarted."""
    return ("%s does not answer (%s): not restarted, since a restart under load may take long to stop; "
            "hostmend_restart_unanswering_database=true allows it" % (unit["name"], "; ".join(probe_lines(unit))))


def flapping_message(name, window):
    return ("%s does not answer again, and hostmend restart restarted it within the last %d s: "
            "not restarted again, it needs a person" % (name, window))


def answer_failures(names, units, settle):
    """(name, message) for each of NAMES that is active but does not answer in UNITS, read
    SETTLE seconds after its restart."""
    return [(n, "%s does not answer %d s after its restart (%s)" % (n, settle, "; ".join(probe_lines(units[n]))))
            for n in names if n in units and not_answering(units[n])]
