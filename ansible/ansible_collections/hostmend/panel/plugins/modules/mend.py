#!/usr/bin/python
# -*- coding: utf-8 -*-
# Runs one hostmend tool with one command word on the managed server and hands
# its result back as data.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: mend
short_description: Run one hostmend repair tool on a server and return its result as data
version_added: 1.0.0
description:
  - Runs one of the hostmend tools installed on the server (C(/usr/sbin/coremend),
    C(/usr/sbin/dbmend), C(/usr/sbin/webmend) or C(/usr/sbin/sweepmend)) with one command
    word, and returns what it printed as data, its exit status and its standard error.
  - The task fails when the tool is not installed or could not do its job. For C(coremend),
    C(dbmend) and C(webmend) that is an exit status other than 0; for C(sweepmend) it is any
    status other than 0, since C(sweepmend check) passes the disk report tool's status on.
    The message is the tool's line on standard error (for example
    C(Failed to detect mysql unit name)), or the exit status when it wrote none.
  - A check never changes anything. A repair of the engine or the database, and the restart of
    the web hosting stack, always report a change (a restart was issued). The cache cleanup
    reports a change only when it removed something.
options:
  tool:
    description: The tool to run.
    type: str
    required: true
    choices: [coremend, dbmend, sweepmend, webmend]
  word:
    description:
      - The command word, without its two leading dashes.
      - C(check) and C(repair) for C(coremend), C(dbmend) and C(sweepmend);
        C(restart-web-hosting) for C(webmend).
    type: str
    required: true
    choices: [check, repair, restart-web-hosting]
attributes:
  check_mode:
    support: partial
    details:
      - The word C(check) runs as usual, since it changes nothing.
      - Every other word does not run; the task then predicts C(changed=true), including a
        cleanup that would find nothing to remove.
  diff_mode:
    support: none
notes:
  - The tools need root, so run the task as root or with C(become).
  - Install the tools first, for example with the role C(hostmend.panel.deploy).
author:
  - hostmend developers
"""

EXAMPLES = r"""
- name: Check the panel engine
  hostmend.panel.mend:
    tool: coremend
    word: check
  register: engine

- name: Restart the engine only when its check found it stopped
  hostmend.panel.mend:
    tool: coremend
    word: repair
  when: engine.report.status == 'stopped'

- name: Remove the caches and show what went
  hostmend.panel.mend:
    tool: sweepmend
    word: repair
  register: cleanup

- name: Show the removed paths
  ansible.builtin.debug:
    var: cleanup.clean_paths
"""

RETURN = r"""
rc:
  description: The tool's exit status. Absent when the tool did not run.
  returned: when the tool ran
  type: int
  sample: 0
stdout:
  description: What the tool printed on standard output.
  returned: when the tool ran
  type: str
  sample: '{"message":"","name":"tarnwick.service","status":"running"}'
stderr:
  description: What the tool printed on standard error, usually nothing or one line.
  returned: when the tool ran
  type: str
  sample: 'Failed to detect mysql unit name'
report:
  description:
    - The parsed result. For C(coremend) and C(dbmend) one service report, an object with
      C(message), C(name) and C(status) (C(running) when the action succeeded, otherwise
      C(stopped)). For C(webmend) a list of such reports, one per service. For
      C(sweepmend check) the disk report as the panel's tool printed it (null when that was
      not JSON).
  returned: when the tool ran, except for sweepmend repair
  type: raw
  sample: {"message": "", "name": "mariadb.service", "status": "running"}
clean_paths:
  description: The paths that C(sweepmend repair) removed; empty when there were none.
  returned: when sweepmend repair ran
  type: list
  elements: str
  sample: ["/root/veltrosin/", "/var/cache/apt/"]
"""

import json
import os

from ansible.module_utils.basic import AnsibleModule

BIN_DIR = "/usr/sbin"
WORDS = {
    "coremend": ("check", "repair"),
    "dbmend": ("check", "repair"),
    "sweepmend": ("check", "repair"),
    "webmend": ("restart-web-hosting",),
}
_NOT_JSON = object()


def _parse(text):
    try:
        return json.loads(text)
    except ValueError:
        return _NOT_JSON


def _is_service_report(value):
    return isinstance(value, dict) and value.get("status") in ("running", "stopped")


def interpret(tool, word, rc, out, err):
    """The module's result for one finished run of TOOL --WORD."""
    result = dict(changed=False, rc=rc, stdout=out, stderr=err)
    data = _parse(out)
    if rc != 0:
        lines = [line.strip() for line in err.splitlines() if line.strip()]
        result["failed"] = True
        result["msg"] = "; ".join(lines) or "%s --%s exited with status %d" % (tool, word, rc)
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
    elif tool == "webmend":
        if not isinstance(data, list) or not all(_is_service_report(r) for r in data):
            return _unexpected(result, tool, word, out)
        result["report"] = data
        result["changed"] = True
    else:
        if not _is_service_report(data):
            return _unexpected(result, tool, word, out)
        result["report"] = data
        result["changed"] = word == "repair"
    return result


def _unexpected(result, tool, word, out):
    result["failed"] = True
    result["msg"] = "%s --%s printed something other than its result: %s" % (
        tool,
        word,
        out.strip()[:200] or "nothing",
    )
    return result


def main():
    module = AnsibleModule(
        argument_spec=dict(
            tool=dict(type="str", required=True, choices=sorted(WORDS)),
            word=dict(type="str", required=True, choices=["check", "repair", "restart-web-hosting"]),
        ),
        supports_check_mode=True,
    )
    tool = module.params["tool"]
    word = module.params["word"]
    if word not in WORDS[tool]:
        module.fail_json(msg="%s has no word %s; it takes %s" % (tool, word, " or ".join(WORDS[tool])))

    path = os.path.join(BIN_DIR, tool)
    if not (os.path.isfile(path) and os.access(path, os.X_OK)):
        module.fail_json(msg="%s is not installed (no %s)" % (tool, path))

    if module.check_mode and word != "check":
        module.exit_json(changed=True, msg="check mode: %s --%s not run" % (tool, word))

    # The tools read nothing from their environment and their output is UTF-8 (they
    # replace anything else); the disk report is passed through as the panel's tool wrote
    # it, so undecodable bytes are replaced rather than failing the task.
    rc, out, err = module.run_command([path, "--" + word], errors="replace")
    result = interpret(tool, word, rc, out, err)
    if result.get("failed"):
        module.fail_json(**result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
