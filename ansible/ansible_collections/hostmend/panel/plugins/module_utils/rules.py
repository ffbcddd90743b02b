# -*- coding: utf-8 -*-
# The rules shared by the modules mend and check_server: what a finished tool run means,
# how a unit's states are read and named, and when a restart or a start did not bring a
# unit back.
# Pure functions of their arguments, apart from run_units, which runs systemctl.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

from ansible_collections.hostmend.panel.plugins.module_utils.answers import probe_lines

BIN_DIR = "/usr/sbin"
SYSTEMCTL = "/bin/systemctl"
WORDS = {
    "coremend": ("check", "repair"),
    "dbmend": ("check", "repair"),
    "sweepmend": ("check", "repair"),
    "webmend": ("restart-web-hosting",),
    "hostmend": ("start",),
}
# The words that change the server; they need root.
REPAIR_WORDS = ("repair", "restart-web-hosting", "start", "restart")
# The roles of hostmend status that make up the web hosting stack.
WEB_ROLES = ("php-fpm", "web server")
STATE_KEYS = ("LoadState", "ActiveState", "SubState", "UnitFileState")
_NOT_JSON = object()


def _parse(text):
    try:
        return json.loads(text)
    except ValueError:
        return _NOT_JSON


def _is_service_report(value):
    return isinstance(value, dict) and value.get("status") in ("running", "stopped")


def diagnostics(tool, word, err):
    """Each line TOOL --WORD wrote on standard error, named by its command."""
    return ["%s: %s" % (command_name(tool, word), line.strip()) for line in err.splitlines() if line.strip()]


def interpret(tool, word, rc, out, err):
    """The module's result for one finished run of TOOL --WORD."""
    result = dict(changed=False, rc=rc, stdout=out, stderr=err, diagnostics=diagnostics(tool, word, err))
    data = _parse(out)
    if rc != 0:
        lines = [line.strip() for line in err.splitlines() if line.strip()]
        result["failed"] = True
        result["msg"] = "; ".join(lines) or "%s exited with status %d" % (command_name(tool, word), rc)
        if tool == "sweepmend" and word == "check" and data is not _NOT_JSON:
            result["report"] = data
        return result

    if tool == "sweepmend" and word == "check":
        result["report"] = None if data is _NOT_JSON else data
    elif tool == "sweepmend":
        if data is None:
            data = {"clean_paths": []}
        if not isinstance(data, dict) or not isinstance(data.get("clean_paths"), list):
            return _unexpected(result, tool, word, out)
        result["clean_paths"] = data["clean_paths"]
        result["changed"] = bool(data["clean_paths"])
    elif tool in ("webmend", "hostmend"):
        if not isinstance(data, list) or not all(_is_service_report(r) for r in data):
            return _unexpected(result, tool, word, out)
        result["report"] = data
        result["changed"] = bool(data)
    else:
        if not _is_service_report(data):
            return _unexpected(result, tool, word, out)
        result["report"] = data
        result["changed"] = word == "repair"
    return result


def _unexpected(result, tool, word, out):
    result["failed"] = True
    result["msg"] = "%s printed something other than its result: %s" % (
        command_name(tool, word),
        out.strip()[:200] or "nothing",
    )
    return result


def command_name(tool, word):
    """TOOL with WORD as the user types it: hostmend's subcommands have no dashes."""
    return "%s %s" % (tool, word) if tool == "hostmend" else "%s --%s" % (tool, word)


def interpret_status(rc, out, err):
    """The result of one run of hostmend status --json: "report" the document, "units" the
    states of each unit of the web hosting stack that is not refused, by name, and the
    problems and the probes that did not answer among the "diagnostics". Exit status 3
    (something is down or does not answer) is data."""
    command = command_name("hostmend", "status --json")
    result = dict(rc=rc, stdout=out, stderr=err, diagnostics=diagnostics("hostmend", "status --json", err))
    if rc not in (0, 3):
        lines = [line.strip() for line in err.splitlines() if line.strip()]
        result.update(failed=True, msg="; ".join(lines) or "%s exited with status %d" % (command, rc))
        return result
    data = _parse(out)
    if not isinstance(data, dict) or not isinstance(data.get("units"), list):
        return _unexpected(result, "hostmend", "status --json", out)
    result["report"] = data
    result["units"] = {
        u["name"]: {k: v for k, v in u.items() if k not in ("role", "name")}
        for u in data["units"]
        if u.get("role") in WEB_ROLES and "refused" not in u
    }
    said = [line.split(": ", 1)[-1] for line in result["diagnostics"]]
    result["diagnostics"] += ["%s: %s" % (command, p) for p in data.get("problems", []) if p not in said]
    # Every probe that did not answer, with its address and outcome.
    result["diagnostics"] += ["%s: %s" % (command, line) for u in data["units"] for line in probe_lines(u)]
    return result


def report_units(result):
    """The unit names of a result's service reports, in their order."""
    report = result.get("report")
    reports = report if isinstance(report, list) else [report]
    return [r["name"] for r in reports if _is_service_report(r)]


def show_command(units):
    return [SYSTEMCTL, "show", "--property=" + ",".join(STATE_KEYS), "--"] + list(units)


def parse_show(units, out):
    """{unit: its states} from the output of show_command(UNITS): one block per unit, in
    order, blank lines between them. A unit with no block gets no entry."""
    blocks = out.strip("\n").split("\n\n") if out.strip() else []
    states = {}
    for unit, block in zip(units, blocks):
        values = {}
        for line in block.splitlines():
            key, sep, value = line.partition("=")
            if sep and key in STATE_KEYS:
                values[key] = value
        states[unit] = values
    return states


def run_units(run, units):
    """The states of UNITS, read with systemctl show through RUN (module.run_command);
    empty when systemctl could not tell."""
    if not units:
        return {}
    rc, out, _ = run(show_command(units))
    return parse_show(units, out) if rc == 0 else {}


def unit_cell(states):
    """The summary's word for a unit's states; None when they are not known."""
    load = states.get("LoadState")
    active = states.get("ActiveState")
    if not load or not active:
        return None
    if load == "not-found":
        return "not installed"
    if load == "masked":
        return "masked"
    # A unit that is down and disabled was most likely stopped on purpose.
    if active in ("inactive", "failed") and states.get("UnitFileState") == "disabled":
        return "disabled"
    return {"active": "running", "inactive": "stopped"}.get(active, active)


def _last_line(message):
    """The last line of a report's message that says something, with the exit code that
    the tool appends after it."""
    lines = [line.strip() for line in message.splitlines() if line.strip()]
    code = ""
    if lines and lines[-1].startswith("Finished with exit code "):
        code = lines.pop()
    if lines and code:
        return "%s (%s)" % (lines[-1], code)
    return (lines[-1] if lines else code) or "no message"


def repair_failures(tool, result, states, settle, action=None):
    """What went wrong with the units of a finished repair: (unit, message) for each unit
    that its restart or start did not bring back, given the units' STATES read SETTLE
    seconds after it.

    coremend and dbmend restart their unit, and hostmend starts (or ACTION) each unit it is given:
    each must then be active. webmend try-restarts every unit of the web hosting stack:
    one that is not installed is not its failure, one that was stopped stays stopped, but
    an installed unit whose restart failed, or that has failed since, is."""
    failures = []
    report = result.get("report")
    action = action or ("start" if tool == "hostmend" else "restart")
    for r in report if isinstance(report, list) else [report]:
        if not _is_service_report(r):
            continue
        name = r["name"]
        unit = states.get(name, {})
        cell = unit_cell(unit)
        if tool == "webmend" and unit.get("LoadState") != "loaded":
            continue
        if r["status"] == "stopped":
            failures.append((name, "%s did not %s: %s" % (name, action, _last_line(r.get("message", "")))))
        elif tool == "webmend" and unit.get("ActiveState") == "failed":
            failures.append((name, "%s is failed %d s after the restart" % (name, settle)))
        elif tool != "webmend" and cell is not None and cell != "running":
            failures.append((name, "%s is %s %d s after its %s" % (name, cell, settle, action)))
    return failures


def needs_root(tool, word, euid):
    """The message refusing TOOL's WORD for a user other than root, or None."""
    if word in REPAIR_WORDS and euid != 0:
        return "%s changes the server and needs root: run the task as root, with become: true" % (
            command_name(tool, word))
    return None
