# -*- coding: utf-8 -*-
# Turns the registered results of hostmend.panel.check_server and hostmend.panel.mend
# into the fleet summary: one cell per server and service, the run's counts, the table
# the playbooks print, and the decisions of fleet_repair (what to restart, when to stop).

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible_collections.hostmend.panel.plugins.module_utils.rules import unit_cell
from ansible_collections.hostmend.panel.plugins.module_utils.table import aligned

NOT_REACHED = "not reached"
# What Ansible registers for a task whose condition was false.
SKIPPED = {"changed": False, "skipped": True}
# The variables a playbook registers its results in, by their name in fleet_row.
REGISTERED = {
    "check": "hostmend_check",
    "engine_repair": "hostmend_engine_repair",
    "database_repair": "hostmend_database_repair",
    "web": "hostmend_web",
    "cleanup": "hostmend_cleanup",
}
# The repairs, by the row's name for each.
REPAIRS = (("engine", "engine_repair"), ("database", "database_repair"), ("web", "web"), ("cleanup", "cleanup"))


def _trouble(result):
    """The cell for a run that gave no report: unreachable, or the tool's error. A repair
    that ran but did not bring its units back is no trouble here: its units' states tell."""
    if result.get("unreachable"):
        return "unreachable"
    if result.get("failed") and not result.get("failed_units"):
        return "error: %s" % result.get("msg", "failed")
    return None


def _ran(result):
    # A repair in check mode returns no rc: it did not run, so the check still holds.
    return isinstance(result, dict) and bool(_trouble(result) or "rc" in result)


def _last_run(results):
    """Of a result or a list of them (a check, then perhaps a repair), the last one that ran."""
    if not isinstance(results, list):
        results = [results]
    ran = [r for r in results if _ran(r)]
    return ran[-1] if ran else None


def _states(result, unit):
    return (result.get("units") or {}).get(unit) or {}


def _report_cell(result, report):
    return unit_cell(_states(result, report["name"])) or report["status"]


def fleet_state(results):
    """The cell of the engine or the database: the state of its unit (running, stopped,
    failed, masked, disabled, not installed, ...), unreachable, or "error: <the tool's line>"."""
    result = _last_run(results)
    if result is None:
        return "error: not checked"
    return _trouble(result) or _report_cell(result, result["report"])


def fleet_needs_restart(check, repair_disabled=False):
    """Whether the unit of CHECK (a check's result) is down and may be restarted: loaded,
    inactive or failed, and not disabled unless REPAIR_DISABLED. A unit on its way up or
    down, or whose states are unknown, is left alone."""
    if not _ran(check) or _trouble(check):
        return False
    states = _states(check, check["report"]["name"])
    return (
        states.get("LoadState") == "loaded"
        and states.get("ActiveState") in ("inactive", "failed")
        and (states.get("UnitFileState") != "disabled" or bool(repair_disabled))
    )


def _web_cells(result):
    """{unit: its cell} for a restart of the web hosting stack, or the cell saying why none."""
    return _trouble(result) or {r["name"]: _report_cell(result, r) for r in result["report"]}


def _part(check, key):
    """A check's result for one service; an unreachable or broken check stands for all."""
    if not isinstance(check, dict) or check.get("unreachable") or key not in check:
        return check
    return check[key]


def fleet_row(results):
    """One server's row of the summary from the results a playbook registered there.

    RESULTS holds "check" (the result of check_server) and may hold "engine_repair",
    "database_repair", "web" and "cleanup" (results of mend; None for one the playbook does
    not have), and "not_reached" (true when a stopped rollout left the server alone). The
    row has the engine's and the database's cells (after a repair, if one ran), "disk",
    "version" and "warnings"; when the playbook repairs, "repaired" (what was restarted) and
    "failures" (why each failed repair failed); and "web" and "clean_paths" when they ran.
    """
    check = results.get("check") or {}
    row = {"version": check.get("version")}
    warnings = list(check.get("diagnostics") or [])
    if results.get("not_reached"):
        row.update(engine=NOT_REACHED, database=NOT_REACHED, repaired=[])
    else:
        for service in ("engine", "database"):
            row[service] = fleet_state([_part(check, service), results.get(service + "_repair")])
    disk = _last_run(_part(check, "disk"))
    row["disk"] = "error: not checked" if disk is None else _trouble(disk) or disk.get("report")

    repairs = {name: results.get(key) for name, key in REPAIRS}
    if repairs["engine"] is not None or repairs["database"] is not None:
        row["repaired"] = [
            s for s in ("engine", "database")
            if isinstance(repairs[s], dict) and repairs[s].get("changed") and not repairs[s].get("failed")
        ]
    failures = {}
    for name, result in repairs.items():
        if isinstance(result, dict):
            warnings += result.get("diagnostics") or []
            if result.get("failed") and not result.get("unreachable"):
                failures[name] = result.get("msg", "failed")
    if "repaired" in row:
        row["failures"] = failures
    for key, name in (("web", "web"), ("cleanup", "clean_paths")):
        result = _last_run(repairs[key])
        if result is not None:
            row[name] = _web_cells(result) if key == "web" else _trouble(result) or result.get("clean_paths")
    row["warnings"] = warnings
    return row


def fleet_rollout_stops(hostvars, batch, max_fail_percentage=0):
    """Whether the web restarts in BATCH failed on more than MAX_FAIL_PERCENTAGE per cent of
    its servers that were reached; a server that could not be reached does not count."""
    tried = [hostvars[h].get("hostmend_web") for h in batch]
    tried = [r for r in tried if _ran(r) and not r.get("unreachable")]
    failed = len([r for r in tried if r.get("failed")])
    return failed > 0 and failed * 100 > float(max_fail_percentage) * len(tried)


def _is_error(cell):
    return isinstance(cell, str) and cell.startswith("error: ")


def fleet_problems(row, words=("unreachable", "error", "repair")):
    """Of WORDS, what went wrong on the server of ROW: "unreachable", "error" (a tool failed
    or did not run) and "repair" (a repair failed)."""
    cells = [row.get(k) for k in ("engine", "database", "disk", "web", "clean_paths")]
    found = {
        "unreachable": "unreachable" in cells,
        "error": any(_is_error(c) for c in cells),
        "repair": bool(row.get("failures")),
    }
    return [w for w in words if found.get(w)]


def fleet_failing(rows, fail_on):
    """{host: what went wrong there} for the ROWS (by host) that met a word of FAIL_ON."""
    failing = {host: fleet_problems(row, fail_on) for host, row in rows.items()}
    return {host: words for host, words in failing.items() if words}


def fleet_reached(hostvars, hosts):
    """Of HOSTS, in their order, those whose check (hostmend_check) reached them."""
    return [h for h in hosts if not (hostvars[h].get("hostmend_check") or {}).get("unreachable")]


def fleet_repairing(hostvars, hosts, restart_web=False, clean_caches=False, repair_disabled=False):
    """Of HOSTS, in their order, those that the check reached and where fleet_repair has
    something to do: all of them when the web hosting stack is to be restarted or the
    caches removed, else those whose engine or database is down (fleet_needs_restart)."""
    repairing = []
    for host in hosts:
        check = hostvars[host].get("hostmend_check") or {}
        if check.get("unreachable"):
            continue
        down = any(fleet_needs_restart(_part(check, s), repair_disabled) for s in ("engine", "database"))
        if restart_web or clean_caches or down:
            repairing.append(host)
    return repairing


def fleet_counts(rows):
    """How many servers were unreachable, had a tool fail ("error"), a repair fail
    ("repair"), were not reached, and had something repaired."""
    counts = {"hosts": len(rows), "unreachable": 0, "error": 0, "repair": 0}
    for row in rows.values():
        for word in fleet_problems(row):
            counts[word] += 1
    counts["not_reached"] = len([r for r in rows.values() if r.get("engine") == NOT_REACHED])
    counts["repaired"] = len([r for r in rows.values() if r.get("repaired")])
    return counts


def fleet_summary(hostvars, hosts, run=None):
    """{"run": RUN with the counts, "hosts": {host: its row}} for HOSTS, from the results the
    playbook registered on each (REGISTERED); when the rollout stopped (the controller's
    hostmend_rollout_stopped), a server that answered and has no repair was not reached.
    A server that answered and is not among the controller's hostmend_repairing, where the
    playbook noted them (fleet_repairing), had nothing to repair: its repairs count as skipped."""
    rows = {}
    controller = hostvars["localhost"] if "localhost" in hostvars else {}
    stopped = bool(controller.get("hostmend_rollout_stopped"))
    repairing = controller.get("hostmend_repairing")
    for host in hosts:
        # Each hostvars[host] gathers all of that server's variables again: once per server.
        host_vars = hostvars[host]
        registered = {key: host_vars.get(var) for key, var in REGISTERED.items()}
        # Every server the repairs came to has a result of its first, skipped or not.
        check = registered["check"]
        answered = isinstance(check, dict) and not check.get("unreachable") and not check.get("skipped")
        if answered and repairing is not None and host not in repairing:
            registered.update(engine_repair=SKIPPED, database_repair=SKIPPED)
        registered["not_reached"] = stopped and answered and registered["engine_repair"] is None
        rows[host] = fleet_row(registered)
    # Every row has the columns that any row has: a server that was not reached, or could
    # not be reached, has the cell saying so; one with nothing repaired, empty ones.
    for name, empty in (("web", None), ("clean_paths", None), ("repaired", []), ("failures", {})):
        if not any(name in row for row in rows.values()):
            continue
        for row in rows.values():
            gone = row["engine"] in (NOT_REACHED, "unreachable")
            if empty is None and gone:
                row[name] = row["engine"]
            elif name not in row:
                row[name] = type(empty)() if empty is not None else "error: not run"
    summary_run = dict(run or {})
    summary_run["counts"] = fleet_counts(rows)
    return {"run": summary_run, "hosts": rows}


def _web_column(web):
    """One cell for the web hosting stack: the first of its installed units that is not
    running, or running."""
    if not isinstance(web, dict):
        return web
    cells = [c for c in web.values() if c != "not installed"]
    down = [c for c in cells if c != "running"]
    return down[0] if down else "running" if cells else "not installed"


def fleet_table(summary):
    """The summary's hosts as aligned lines: host, engine, database, and the web hosting
    stack and what a repair restarted where the playbook did that."""
    hosts = summary.get("hosts", {})
    columns = ["host", "engine", "database"]
    columns += [c for c in ("web", "repaired") if any(c in row for row in hosts.values())]
    lines = [columns]
    for host in sorted(hosts):
        row = hosts[host]
        cells = {
            "host": host,
            "web": _web_column(row.get("web", "-")),
            "repaired": ", ".join(row.get("repaired") or []) or "-",
        }
        lines.append([cells[c] if c in cells else row.get(c, "") for c in columns])
    return aligned(lines)


class FilterModule(object):
    def filters(self):
        return {
            "fleet_counts": fleet_counts,
            "fleet_failing": fleet_failing,
            "fleet_needs_restart": fleet_needs_restart,
            "fleet_problems": fleet_problems,
            "fleet_reached": fleet_reached,
            "fleet_repairing": fleet_repairing,
            "fleet_rollout_stops": fleet_rollout_stops,
            "fleet_row": fleet_row,
            "fleet_state": fleet_state,
            "fleet_summary": fleet_summary,
            "fleet_table": fleet_table,
        }
