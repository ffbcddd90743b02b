# -*- coding: utf-8 -*-
# Turns what fleet_history read from each server's journal (journalctl -o json, one entry
# a line) into the history summary: per server its restarts and its cleanups, the run's
# counts, and the table the playbook prints.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import datetime
import json

from ansible_collections.hostmend.panel.plugins.module_utils.answers import SERVICE_ACTION
from ansible_collections.hostmend.panel.plugins.module_utils.table import aligned

# The kinds of entry that the history is made of, as the tools' catalog names them (the
# service actions' id is shared with the restart of what does not answer).
CLEANUP_FINISHED = "c104600dd4a543419d586800791c9653"
RESTARTS = ("start", "restart", "try-restart")
UNREACHABLE = "unreachable"


def _text(value):
    # journalctl writes a value that is not UTF-8 text as a list of its bytes.
    if isinstance(value, list):
        return bytes(value).decode("utf-8", "replace")
    return value if value is not None else ""


def _time(entry):
    # When the tool sent the entry (the kernel's stamp on its datagram), not when journald
    # took it: a journald that was stopped for a while takes its queue late.
    microseconds = int(_text(entry.get("_SOURCE_REALTIME_TIMESTAMP") or entry.get("__REALTIME_TIMESTAMP")) or 0)
    moment = datetime.datetime.fromtimestamp(microseconds / 1e6, datetime.timezone.utc)
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def fleet_history_row(stdout):
    """One server's history from journalctl -o json lines of hostmend's entries: its
    restarts (unit, time, action, outcome, exit code, tool, caller) and its cleanups (time,
    bytes freed), oldest first. Status checks and entries of other kinds are left out."""
    row = {"restarts": [], "cleanups": []}
    for line in (stdout or "").splitlines():
        if not line.strip():
            continue
        entry = {k: _text(v) for k, v in json.loads(line).items()}
        if entry.get("MESSAGE_ID") == SERVICE_ACTION and entry.get("HOSTMEND_ACTION") in RESTARTS:
            row["restarts"].append({
                "unit": entry.get("HOSTMEND_UNIT"),
                "time": _time(entry),
                "action": entry["HOSTMEND_ACTION"],
                "outcome": entry.get("HOSTMEND_STATUS"),
                "exit_code": int(entry.get("HOSTMEND_EXIT_CODE") or 0),
                "tool": entry.get("HOSTMEND_TOOL"),
                "caller": "%s[%s]" % (entry.get("HOSTMEND_CALLER_COMM"), entry.get("HOSTMEND_CALLER_PID")),
            })
        elif entry.get("MESSAGE_ID") == CLEANUP_FINISHED:
            row["cleanups"].append({
                "time": _time(entry),
                "bytes_freed": int(entry.get("HOSTMEND_BYTES_FREED") or 0),
            })
    return row


def _host_row(result):
    if not isinstance(result, dict) or result.get("unreachable"):
        return {"restarts": UNREACHABLE, "cleanups": UNREACHABLE}
    if result.get("failed"):
        cell = "error: %s" % (result.get("stderr") or result.get("msg") or "failed").strip()
        return {"restarts": cell, "cleanups": cell}
    return fleet_history_row(result.get("stdout"))


def cell_problems(row, words=(UNREACHABLE, "error")):
    """Of WORDS, those that a cell of ROW (a row of a summary or of a history) says:
    "unreachable" for the cell unreachable, "error" for one that begins with "error: "."""
    cells = [c for c in row.values() if isinstance(c, str)]
    found = {UNREACHABLE: UNREACHABLE in cells, "error": any(c.startswith("error: ") for c in cells)}
    return [w for w in words if found.get(w)]


def fleet_history(hostvars, hosts, run=None):
    """{"run": RUN with the counts, "hosts": {host: its history}} from the journalctl runs
    registered on HOSTS as hostmend_journal."""
    rows = {host: _host_row(hostvars[host].get("hostmend_journal")) for host in hosts}
    read = [r for r in rows.values() if isinstance(r["restarts"], list)]
    problems = [w for r in rows.values() for w in cell_problems(r)]
    counts = {
        "hosts": len(rows),
        "unreachable": problems.count(UNREACHABLE),
        "error": problems.count("error"),
        "restarts": sum(len(r["restarts"]) for r in read),
        "failed_restarts": sum(len([x for x in r["restarts"] if x["outcome"] != "running"]) for r in read),
        "cleanups": sum(len(r["cleanups"]) for r in read),
        "bytes_freed": sum(c["bytes_freed"] for r in read for c in r["cleanups"]),
    }
    summary_run = dict(run or {})
    summary_run["counts"] = counts
    return {"run": summary_run, "hosts": rows}


def fleet_history_table(summary):
    """The history's hosts as aligned lines: restarts, how many of them failed, the last
    one, cleanups and the bytes they freed."""
    lines = [["host", "restarts", "failed", "last restart", "cleanups", "bytes freed"]]
    for host, row in sorted(summary.get("hosts", {}).items()):
        if not isinstance(row["restarts"], list):
            lines.append([host, row["restarts"], "", "", "", ""])
            continue
        last = row["restarts"][-1] if row["restarts"] else None
        lines.append([
            host,
            str(len(row["restarts"])),
            str(len([r for r in row["restarts"] if r["outcome"] != "running"])),
            "%s %s %s" % (last["time"], last["unit"], last["outcome"]) if last else "-",
            str(len(row["cleanups"])),
            str(sum(c["bytes_freed"] for c in row["cleanups"])),
        ])
    return aligned(lines)


class FilterModule(object):
    def filters(self):
        return {
            "fleet_history": fleet_history,
            "fleet_history_row": fleet_history_row,
            "fleet_history_table": fleet_history_table,
        }
