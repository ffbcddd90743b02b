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
    C(/usr/sbin/dbmend), C(/usr/sbin/webmend), C(/usr/sbin/sweepmend) or
    C(/usr/sbin/hostmend)) with one command word, and returns what it printed as data, its
    exit status and its standard error.
  - The task fails when the tool is not installed or could not do its job. For C(coremend),
    C(dbmend) and C(webmend) that is an exit status other than 0; for C(sweepmend) it is any
    status other than 0, since C(sweepmend check) passes the disk report tool's status on.
    The message is the tool's line on standard error (for example
    C(Failed to detect mysql unit name)), or the exit status when it wrote none.
  - Beside the tool's report the module reads the C(LoadState), C(ActiveState), C(SubState)
    and C(UnitFileState) of each unit reported on with C(systemctl show) (C(units)).
  - A check never changes anything, and a unit it finds stopped is data, not a failure.
  - A repair of the engine or the database fails when its report says C(stopped), or when
    its unit is not active I(settle) seconds later; the message names the unit and the
    last line of the report's message. The restart of the web hosting stack fails for each
    installed unit (C(LoadState) C(loaded)) whose report says C(stopped) or which has failed
    I(settle) seconds later; a web server that is not installed is no failure.
    C(hostmend start) fails for each of its I(units) whose report says C(stopped) or which
    is not active I(settle) seconds later.
    A repair reports a change whenever a restart was issued; the cache cleanup only when it
    removed something.
  - Every line the tool writes on standard error becomes a warning (C(diagnostics)).
  - The repair words need root and are refused for any other user, with a message that
    says to use C(become); C(check) runs as any user.
options:
  tool:
    description: The tool to run.
    type: str
    required: true
    choices: [coremend, dbmend, hostmend, sweepmend, webmend]
  word:
    description:
      - The command word, without its two leading dashes.
      - C(check) and C(repair) for C(coremend), C(dbmend) and C(sweepmend);
        C(restart-web-hosting) for C(webmend); C(start) (C(hostmend start)) for C(hostmend).
    type: str
    required: true
    choices: [check, repair, restart-web-hosting, start]
  units:
    description:
      - The units that C(hostmend start) starts, in order, named as C(hostmend status) lists
        them. Required for C(start), and taken by no other word.
    type: list
    elements: str
    default: []
    version_added: 1.2.0
  settle:
    description:
      - After a repair, how many seconds to wait before the units' states are read again to
        tell whether the restart held. C(0) reads them at once. A check does not wait.
    type: int
    default: 0
    version_added: 1.1.0
extends_documentation_fragment:
  - hostmend.panel.attributes
attributes:
  check_mode:
    support: partial
    details:
      - The word C(check) runs as usual, since it changes nothing.
      - Every other word does not run; the task then predicts C(changed=true), including a
        cleanup that would find nothing to remove.
notes:
  - The repairs need root, so run those tasks as root or with C(become).
  - Install the tools first, for example with the role C(hostmend.panel.deploy).
author:
  - hostmend developers (!UNKNOWN)
"""

EXAMPLES = r"""
- name: Check the panel engine
  hostmend.panel.mend:
    tool: coremend
    word: check
  register: engine

- name: Restart the engine only when it is down, and see that it stays up for 5 s
  hostmend.panel.mend:
    tool: coremend
    word: repair
    settle: 5
  become: true
  when: engine.units[engine.report.name].ActiveState in ['inactive', 'failed']

- name: Start nginx where it failed, and see that it is up 5 s later
  hostmend.panel.mend:
    tool: hostmend
    word: start
    units: [nginx]
    settle: 5
  become: true

- name: Remove the caches and show what went
  hostmend.panel.mend:
    tool: sweepmend
    word: repair
  become: true
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
      C(stopped)). For C(webmend) and C(hostmend start) a list of such reports, one per
      service. For
      C(sweepmend check) the disk report as the panel's tool printed it (null when that was
      not JSON).
  returned: when the tool ran, except for sweepmend repair
  type: raw
  sample: {"message": "", "name": "mariadb.service", "status": "running"}
units:
  description:
    - The states of each unit that the tool's report names, read with C(systemctl show)
      after the tool ran (after a repair, I(settle) seconds later), by unit name as the
      report gives it. A unit whose states could not be read is left out.
  version_added: 1.1.0
  returned: when the tool ran
  type: dict
  sample: {"mariadb.service": {"LoadState": "loaded", "ActiveState": "active",
           "SubState": "running", "UnitFileState": "enabled"}}
failed_units:
  description: The units that a failed repair did not bring back, named as in the reports.
  version_added: 1.1.0
  returned: when a repair ran and failed for that reason
  type: list
  elements: str
  sample: ["mariadb.service"]
diagnostics:
  description: Each line the tool wrote on standard error, after the tool's command.
  version_added: 1.1.0
  returned: when the tool ran
  type: list
  elements: str
  sample: ["webmend --restart-web-hosting: Unable to get php-fpm services list: interpbook failed"]
clean_paths:
  description: The paths that C(sweepmend repair) removed; empty when there were none.
  returned: when sweepmend repair ran
  type: list
  elements: str
  sample: ["/root/veltrosin/", "/var/cache/apt/"]
"""

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.hostmend.panel.plugins.module_utils.rules import WORDS, command_name, needs_root
from ansible_collections.hostmend.panel.plugins.module_utils.tool_run import not_installed, run_tool


def main():
    module = AnsibleModule(
        argument_spec=dict(
            tool=dict(type="str", required=True, choices=sorted(WORDS)),
            word=dict(type="str", required=True, choices=["check", "repair", "restart-web-hosting", "start"]),
            settle=dict(type="int", default=0),
            units=dict(type="list", elements="str", default=[]),
        ),
        supports_check_mode=True,
    )
    tool = module.params["tool"]
    word = module.params["word"]
    if word not in WORDS[tool]:
        module.fail_json(msg="%s has no word %s; it takes %s" % (tool, word, " or ".join(WORDS[tool])))
    if module.params["settle"] < 0:
        module.fail_json(msg="settle must be 0 or more seconds, not %d" % module.params["settle"])
    units = module.params["units"]
    if bool(units) != (word == "start"):
        module.fail_json(msg="units are given with the word start, and only with it")
    refusal = needs_root(tool, word, os.geteuid())
    if refusal:
        module.fail_json(msg=refusal)
    missing = not_installed(tool, word)
    if missing:
        module.fail_json(msg=missing)

    if module.check_mode and word != "check":
        module.exit_json(changed=True, msg="check mode: %s not run" % command_name(tool, word))

    result = run_tool(module, tool, word, module.params["settle"], units)
    for line in result.get("diagnostics", []):
        module.warn(line)
    if result.get("failed"):
        module.fail_json(**result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
