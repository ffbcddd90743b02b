# -*- coding: utf-8 -*-
# Turns the registered results of hostmend.panel.mend into the fleet summary:
# one cell per server and service, and the table the playbooks print.

from __future__ import absolute_import, division, print_function

__metaclass__ = type


def _trouble(result):
    """The cell for a run that gave no report: unreachable, or the tool's error."""
    if result.get("unreachable"):
        return "unreachable"
    if result.get("failed"):
        return "error: %s" % result.get("msg", "failed")
    return None


def _last_run(results):
    """Of a result or a list of them (a check, then perhaps a repair), the last one that ran."""
    if not isinstance(results, list):
        results = [results]
    # A repair in check mode returns no rc: it did not run, so the check still holds.
    ran = [r for r in results if isinstance(r, dict) and (_trouble(r) or "rc" in r)]
    return ran[-1] if ran else None


def fleet_state(results):
    """running, stopped, unreachable or "error: <the tool's line>"."""
    result = _last_run(results)
    if result is None:
        return "error: not checked"
    return _trouble(result) or result["report"]["status"]


def fleet_row(results):
    """One server's row of the summary from the results a playbook registered there.

    RESULTS holds "engine" and "database" (the checks), and may hold "engine_repair" and
    "database_repair", "disk", "web" and "cleanup"; None for one the playbook does not
    have. The row has the engine's and the database's cells (after a repair, if one ran),
    "repaired" (what was restarted) when the playbook repairs, and "disk", "web" and
    "clean_paths" (the tool's data, or the cell saying why there is none) when they ran.
    """
    row = {}
    repairs = {}
    for service in ("engine", "database"):
        repair = results.get(service + "_repair")
        row[service] = fleet_state([results[service], repair])
        repairs[service] = repair
    if any(repair is not None for repair in repairs.values()):
        row["repaired"] = [s for s, r in repairs.items() if isinstance(r, dict) and r.get("changed")]
    for key, name, member in (("disk", "disk", "report"),
                              ("web", "web", "report"),
                              ("cleanup", "clean_paths", "clean_paths")):
        result = _last_run(results.get(key))
        if result is not None:
            row[name] = _trouble(result) or result.get(member)
    return row


def fleet_summary(hostvars, hosts, fact="hostmend_row"):
    """{host: its row} for HOSTS; a host that never reached the end of the play has no row."""
    summary = {}
    for host in hosts:
        row = hostvars[host].get(fact)
        summary[host] = row if row is not None else {"engine": "error: not checked",
                                                     "database": "error: not checked"}
    return summary


def fleet_table(summary):
    """The summary as aligned lines: host, engine, database (and what a repair restarted)."""
    columns = ["host", "engine", "database"]
    if any("repaired" in row for row in summary.values()):
        columns.append("repaired")
    lines = [columns]
    for host in sorted(summary):
        row = summary[host]
        repaired = ", ".join(row.get("repaired") or []) or "-"
        lines.append([host, row.get("engine", ""), row.get("database", ""), repaired][: len(columns)])
    widths = [max(len(line[i]) for line in lines) for i in range(len(columns))]
    return ["  ".join(cell.ljust(w) for cell, w in zip(line, widths)).rstrip() for line in lines]


class FilterModule(object):
    def filters(self):
        return {
            "fleet_row": fleet_row,
            "fleet_state": fleet_state,
            "fleet_summary": fleet_summary,
            "fleet_table": fleet_table,
        }
