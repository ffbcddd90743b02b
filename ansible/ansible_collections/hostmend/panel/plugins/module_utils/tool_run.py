# -*- coding: utf-8 -*-
# Runs one hostmend tool on the server for the modules mend and check_server, and reads
# the states of the units it reported on.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import os
import time

from ansible_collections.hostmend.panel.plugins.module_utils.rules import (
    BIN_DIR,
    interpret,
    interpret_status,
    repair_failures,
    report_units,
    run_units,
)


def tool_path(tool):
    return os.path.join(BIN_DIR, tool)


def not_installed(tool, word):
    """The message for a tool that is not installed, or None. hostmend came after the
    others: a server without it has a package from before it."""
    path = tool_path(tool)
    if os.path.isfile(path) and os.access(path, os.X_OK):
        return None
    if tool == "hostmend":
        return "hostmend %s not installed; deploy first" % word
    return "%s is not installed (no %s)" % (tool, path)


def run_command(module, tool, word, arguments=()):
    """(rc, stdout, stderr) of TOOL with WORD and ARGUMENTS: hostmend's subcommands have
    no dashes."""
    command = [tool_path(tool), word] if tool == "hostmend" else [tool_path(tool), "--" + word]
    # The tools read nothing from their environment and their output is UTF-8 (they
    # replace anything else); the disk report is passed through as the panel's tool wrote
    # it, so undecodable bytes are replaced rather than failing the task.
    return module.run_command(command + list(arguments), errors="replace")


def run_status(module):
    """The result of hostmend status --json (interpret_status); None when hostmend is not
    installed."""
    if not_installed("hostmend", "status"):
        return None
    return interpret_status(*run_command(module, "hostmend", "status", ["--json"]))


def run_tool(module, tool, word, settle=0, units=()):
    """The result of TOOL --WORD (hostmend start with UNITS) with the states of its units
    ("units"). After a repair the states are read SETTLE seconds later, and a unit that did
    not come back fails the result ("failed_units" names them)."""
    missing = not_installed(tool, word)
    if missing:
        return dict(changed=False, failed=True, msg=missing)
    rc, out, err = run_command(module, tool, word, units)
    result = interpret(tool, word, rc, out, err)
    reported = report_units(result)
    if word != "check" and reported and not result.get("failed") and settle > 0:
        time.sleep(settle)
    result["units"] = run_units(lambda cmd: module.run_command(cmd, errors="replace"), reported)
    if word != "check" and not result.get("failed") and tool != "sweepmend":
        failures = repair_failures(tool, result, result["units"], settle)
        if failures:
            result["failed"] = True
            result["failed_units"] = [unit for unit, _ in failures]
            result["msg"] = "; ".join(message for _, message in failures)
    return result
