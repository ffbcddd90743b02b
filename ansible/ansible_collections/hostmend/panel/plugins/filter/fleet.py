# -*- coding: utf-8 -*-
# Turns the registered results of hostmend.panel.check_server and hostmend.panel.mend
# into the fleet summary: one cell per server and service, the run's counts, the table
# the playbooks print, and the decisions of fleet_repair (what to restart or start, when
# to stop).

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible_collections.hostmend.panel.plugins.module_utils.answers import not_answering, status_units
from ansible_collections.hostmend.panel.plugins.module_utils.rules import WEB_ROLES, unit_cell
from ansible_collections.hostmend.panel.plugins.module_utils.table import aligned

NOT_REACHED = "not reached"
# What Ansible registers for a task whose condition was false.
SKIPPED = {"changed": False, "skipped": True}
# The variables a playbook registers its results in, by their name in fleet_row.
REGISTERED = {
    "check": "hostmend_check",
    "engine_repair": "hostmend_engine_repair",
    "database_repair": "hostmend_database_repair",
    "web_start": "hostmend_web_start",
    "web": "hostmend_web",
    "unanswering": "hostmend_unanswering",
    "cleanup": "hostmend_cleanup",
}
# The repairs, by the row's name for each.
REPAIRS = (("engine", "engine_repair"), ("database", "database_repair"), ("web_start", "web_start"), ("web", "web"),
           ("unanswering", "unanswering"), ("cleanup", "cleanup"))
# The cell of the units of a repair task during which the server stopped answering.
LOST = "lost during repair"
# A running unit whose probes found it hung; one that hung again soon after a restart.
NOT_ANSWERING = "not answering"
FLAPPING = "flapping"
# The web column's cells for a unit that is down, or that the run could not tell about.
WEB_DOWN = ("stopped", "failed", NOT_ANSWERING, FLAPPING, LOST)
# Where a table cuts a cell; the JSON keeps it whole.
TABLE_CELL = 60


def _error_line(result):
    """One line naming why RESULT failed: the last that says something of what the module
    left on standard error, else on standard output (where Ansible could not run it at all,
    as without a working python3), else the first line of its message."""
    for key in ("module_stderr", "module_stdout"):
        lines = [line.strip() for line in str(result.get(key) or "").splitlines() if line.strip()]
        if lines:
            return lines[-1]
    lines = [line.strip() for line in str(result.get("msg") or "").splitlines() if line.strip()]
    return lines[0] if lines else "failed"


def _trouble(result):
    """The cell for a run that gave no report: unreachable, lost during the repair, or
    the error. A repair that ran but did not bring its units back is no trouble here: its
    units' states tell."""
    if result.get("unreachable"):
        return "unreachable"
    if result.get("lost"):
        return LOST
    if result.get("failed") and not result.get("failed_units"):
        return "error: %s" % _error_line(result)
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


def _probe_cell(unit):
    """The cell of a unit of hostmend status --json: its state, or not answering when it
    runs but its probes found it hung."""
    cell = unit_cell(unit)
    return NOT_ANSWERING if cell == "running" and not_answering(unit) else cell


def fleet_state(results):
    """The cell of the engine or the database: the state of its unit (running, stopped,
    failed, masked, disabled, not installed, ...), unreachable, or "error: <the tool's line>"."""
    result = _last_run(results)
    if result is None:
        return "error: not checked"
    # A check reports on one unit; hostmend start on each unit it was given, here one.
    report = result.get("report")
    report = report[0] if isinstance(report, list) and report else report
    return _trouble(result) or (_report_cell(result, report) if isinstance(report, dict) else "error: no report")


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


def _web_status(check):
    """The web part of a check that read the web hosting stack (hostmend status), or None."""
    web = check.get("web") if isinstance(check, dict) and not check.get("unreachable") else None
    return web if isinstance(web, dict) and not _trouble(web) and isinstance(web.get("report"), dict) else None


def fleet_web_failed(check):
    """The units of the web hosting stack that CHECK (a result of check_server) found loaded
    and failed, in hostmend status's order: the ones fleet_repair starts. One merely
    inactive may have been stopped on purpose (an apache2 left enabled beside nginx would
    fail on nginx's port); one disabled, masked or on its way up or down is left alone."""
    web = _web_status(check)
    if web is None:
        return []
    names = [u.get("name") for u in web["report"].get("units", [])]
    states = web.get("units") or {}
    return [
        n for n in names
        if n in states
        and states[n].get("LoadState") == "loaded"
        and states[n].get("ActiveState") == "failed"
        and states[n].get("UnitFileState") != "disabled"
    ]


def _checked_units(check):
    """{name: unit} of the check's hostmend status, refused names left out; {} without one."""
    web = _web_status(check)
    return status_units(web["report"]) if web else {}


def fleet_unanswering(check):
    """The units of the hosting stack that CHECK (a result of check_server) found active but
    not answering (probed, none answered, one had no answer), in hostmend status's order:
    the ones fleet_repair looks at again, and restarts if they still do not answer."""
    return [n for n, u in _checked_units(check).items() if u.get("ActiveState") == "active" and not_answering(u)]


def _answered(check, unanswering):
    """{unit: its cell} for the units that CHECK found not answering, after UNANSWERING (a
    result of restart_unanswering) where it ran: the unit's cell then (running when it
    answers), flapping when it was left alone for having been restarted a short while ago,
    or why there is none. Empty where it did not run."""
    result = unanswering if isinstance(unanswering, dict) else {}
    names = fleet_unanswering(check)
    if "units" not in result:
        trouble = _trouble(result)
        return dict.fromkeys(names, trouble) if trouble else {}
    flapping = result.get("flapping") or []
    units = result["units"]
    return {n: FLAPPING if n in flapping else _probe_cell(units[n]) for n in names if n in units}


def _restarted(check, unanswering):
    """The units that UNANSWERING restarted and that answer again; in check mode, those it
    would restart (the database only where it may)."""
    if not isinstance(unanswering, dict):
        return []
    if "units" in unanswering:
        back = [r["name"] for r in unanswering.get("report") or [] if r["status"] == "running"]
        return [n for n in back if n not in (unanswering.get("failed_units") or [])]
    if _trouble(unanswering) or not unanswering.get("changed"):
        return []
    units = _checked_units(check)
    return [n for n in fleet_unanswering(check)
            if units[n].get("role") != "database" or unanswering.get("restart_database")]


def _role_unit(check, role):
    """The unit of ROLE (engine, database) in the check's hostmend status, or {}."""
    return next((u for u in _checked_units(check).values() if u.get("role") == role), {})


def _web_row(check, start, restart, unanswering=None):
    """The web member of a row: {unit: its cell} from the check, then from the start of
    the units that had failed, the restart of the stack and the restart of what did not
    answer where they ran; or one cell saying why there are none; None where the server
    has no hostmend to tell."""
    web = _part(check, "web")
    if web is None:
        cells = None
    elif _trouble(web) or not isinstance(web.get("report"), dict):
        cells = _trouble(web) or "error: not checked"
    else:
        cells = {
            u["name"]: "refused" if "refused" in u else _probe_cell(u) or "error: no states"
            for u in web["report"].get("units", []) if u.get("role") in WEB_ROLES
        }
    started = _last_run(start)
    if started is not None and isinstance(cells, dict):
        trouble = _trouble(started)
        for name in fleet_web_failed(check):
            cells[name] = trouble or cells[name]
        if not trouble:
            cells.update({r["name"]: _report_cell(started, r) for r in started["report"]})
    restarted = _last_run(restart)
    if restarted is not None:
        trouble = _trouble(restarted)
        if trouble:
            return trouble
        cells = dict(cells if isinstance(cells, dict) else {})
        cells.update({r["name"]: _report_cell(restarted, r) for r in restarted["report"]})
    if isinstance(cells, dict):
        cells.update({n: c for n, c in _answered(check, unanswering).items() if n in cells})
    return cells


def _started(check, start):
    """The web units that START (a result of mend for hostmend start) brought back; in
    check mode, those it would start."""
    if not isinstance(start, dict) or _trouble(start):
        return []
    if "report" not in start:
        return fleet_web_failed(check) if start.get("changed") else []
    back = [r["name"] for r in start["report"] if r["status"] == "running"]
    return [name for name in back if name not in (start.get("failed_units") or [])]


def _part(check, key):
    """A check's result for one service; an unreachable or broken check stands for all."""
    if not isinstance(check, dict) or check.get("unreachable") or key not in check:
        return check
    return check[key]


def _check_ran(check):
    """Whether check_server ran on the server and returned its parts, failed or not: not
    when the server could not be reached or the module could not run (no python3)."""
    return isinstance(check, dict) and not check.get("unreachable") and "engine" in check


def _lose(repairs):
    """REPAIRS (by name, in their order) with the first that found the server unreachable
    marked lost, since its action may have happened, and those after it left out: the
    connection that carried their results was gone."""
    lost = None
    for name, _ in REPAIRS:
        result = repairs[name]
        if lost:
            repairs[name] = None
        elif isinstance(result, dict) and result.get("unreachable"):
            lost = name
            repairs[name] = dict(failed=True, lost=True, msg=(
                "the server stopped answering during this repair, which may have happened all the same; "
                "run fleet_check for the truth (%s)" % _error_line(result)))
    return repairs


def fleet_row(results):
    """One server's row of the summary from the results a playbook registered there.

    RESULTS holds "check" (the result of check_server) and may hold "engine_repair",
    "database_repair", "web_start", "web" and "cleanup" (results of mend; None for one the
    playbook does not have), and "not_reached" (true when a stopped rollout left the server
    alone). The row has the engine's and the database's cells (after a repair, if one ran),
    "web" (the web hosting stack's cells, after its start and restart where they ran),
    "disk", "version" and "warnings"; when the playbook repairs, "repaired" (what was
    restarted or started) and "failures" (why each failed repair failed); and "clean_paths"
    when the cleanup ran.
    """
    check = results.get("check") or {}
    # Null only when the check saw that hostmend is not installed.
    row = {"version": check.get("version") if _check_ran(check) else "unknown"}
    warnings = list(check.get("diagnostics") or [])
    repairs = _lose({name: results.get(key) for name, key in REPAIRS})
    if results.get("not_reached"):
        row.update(engine=NOT_REACHED, database=NOT_REACHED, web=NOT_REACHED, repaired=[])
    else:
        answered = _answered(check, repairs["unanswering"])
        for service in ("engine", "database"):
            cell = fleet_state([_part(check, service), repairs[service]])
            unit = _role_unit(check, service)
            if unit.get("name") in answered:
                cell = answered[unit["name"]]
            elif cell == "running" and not_answering(unit):
                cell = NOT_ANSWERING
            row[service] = cell
        row["web"] = _web_row(check, repairs["web_start"], repairs["web"], repairs["unanswering"])
    disk = _last_run(_part(check, "disk"))
    row["disk"] = "error: not checked" if disk is None else _trouble(disk) or disk.get("report")

    if any(repairs[name] is not None for name in ("engine", "database", "web_start", "unanswering")):
        row["repaired"] = [
            s for s in ("engine", "database")
            if isinstance(repairs[s], dict) and repairs[s].get("changed") and not repairs[s].get("failed")
        ] + ["web: %s" % name for name in _started(check, repairs["web_start"])]
        # A restart of what did not answer names the engine and the database as their starts do.
        roles = {n: u.get("role") for n, u in _checked_units(check).items()}
        row["repaired"] += [roles.get(n) if roles.get(n) in ("engine", "database") else "web: %s" % n
                            for n in _restarted(check, repairs["unanswering"])]
    failures = {}
    for name, result in repairs.items():
        if isinstance(result, dict):
            warnings += result.get("diagnostics") or []
            if result.get("failed") and not result.get("unreachable"):
                failures[name] = result.get("msg", "failed")
    if "repaired" in row:
        row["failures"] = failures
    cleanup = _last_run(repairs["cleanup"])
    if cleanup is not None:
        row["clean_paths"] = _trouble(cleanup) or cleanup.get("clean_paths")
    row["warnings"] = warnings
    return row


def _restart_tried(result):
    """Of a restart of what did not answer: None when it restarted nothing (every unit
    answered again, was flapping or held back), else whether a restart failed."""
    if not isinstance(result, dict) or result.get("unreachable") or not _ran(result):
        return None
    if "units" in result and not result.get("report"):
        return None
    return bool(result.get("failed_units")) or ("units" not in result and bool(_trouble(result)))


def fleet_rollout_stops(hostvars, batch, max_fail_percentage=0):
    """Whether the web starts and restarts in BATCH, and the restarts of what did not
    answer, failed on more than MAX_FAIL_PERCENTAGE per cent of its servers where one was
    tried; a server that could not be reached, or whose check could not read its web
    hosting stack, does not count, nor does a unit left alone for flapping."""
    tried = []
    for host in batch:
        if _web_status(hostvars[host].get("hostmend_check")) is None:
            continue
        results = [hostvars[host].get(var) for var in ("hostmend_web_start", "hostmend_web")]
        outcomes = [bool(r.get("failed")) for r in results if _ran(r) and not r.get("unreachable")]
        unanswering = _restart_tried(hostvars[host].get("hostmend_unanswering"))
        outcomes += [] if unanswering is None else [unanswering]
        if outcomes:
            tried.append(any(outcomes))
    failed = tried.count(True)
    return failed > 0 and failed * 100 > float(max_fail_percentage) * len(tried)


def _is_error(cell):
    return isinstance(cell, str) and cell.startswith("error: ")


def fleet_problems(row, words=("unreachable", "error", "repair")):
    """Of WORDS, what went wrong on the server of ROW: "unreachable", "error" (a tool failed
    or did not run) and "repair" (a repair failed)."""
    web = row.get("web")
    cells = [row.get(k) for k in ("engine", "database", "disk", "clean_paths")]
    cells += list(web.values()) if isinstance(web, dict) else [web]
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
    """Of HOSTS, in their order, those where the check ran and fleet_repair has something
    to do: all of them when the web hosting stack is to be restarted or the caches removed,
    else those whose engine or database is down (fleet_needs_restart) or with a web unit
    that failed (fleet_web_failed). A server where the check never ran (unreachable, or
    the module could not run) is its own problem: its row says why."""
    repairing = []
    for host in hosts:
        check = hostvars[host].get("hostmend_check") or {}
        if not _check_ran(check):
            continue
        down = any(fleet_needs_restart(_part(check, s), repair_disabled) for s in ("engine", "database"))
        if restart_web or clean_caches or down or fleet_web_failed(check) or fleet_unanswering(check):
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
    for name, empty in (("clean_paths", None), ("repaired", []), ("failures", {})):
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
    """One cell for the web hosting stack: the first of its units that is down (or could not
    be started), with its cell, or running when none is; disabled, masked and not installed
    units never fill it. "-" where the server has no hostmend to tell."""
    if web is None:
        return "-"
    if not isinstance(web, dict):
        return web
    for unit, cell in web.items():
        if cell in WEB_DOWN or _is_error(cell):
            return "%s %s" % (unit, cell)
    return "running" if any(c != "not installed" for c in web.values()) else "not installed"


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
        lines.append([_cut(cells[c] if c in cells else row.get(c, "")) for c in columns])
    return aligned(lines)


def _cut(cell):
    return cell if len(cell) <= TABLE_CELL else cell[:TABLE_CELL - 1] + "\u2026"


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
            "fleet_web_failed": fleet_web_failed,
            "fleet_summary": fleet_summary,
            "fleet_table": fleet_table,
            "fleet_unanswering": fleet_unanswering,
        }
