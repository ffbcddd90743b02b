#!/usr/bin/python
# -*- coding: utf-8 -*-
# Restarts the units of the hosting stack that run but do not answer their clients, once:
# after a second look, never one restarted for that a short while ago, and the database
# only when asked.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: restart_unanswering
short_description: Restart the units of the hosting stack that do not answer, once
version_added: 1.2.0
description:
  - Waits I(settle) seconds, then probes the stack again with C(hostmend status --json); a
    unit of I(units) that answers now (a busy moment, or someone restarted it) is left as
    it is. A unit is not answering when it was probed, none of its probes answered and one
    of them had no answer within the time limit.
  - A unit still not answering is restarted with C(hostmend restart), unless
    C(hostmend restart) restarted it within the last I(flap_window) seconds (read from the
    server's journal); it is then C(flapping), left alone, and the task fails, since a
    person has to look. The database is restarted only with I(restart_database); otherwise
    it is left alone and the task fails, naming it.
  - I(settle) seconds after the restart, each unit restarted must be active and answer,
    or the task fails (C(failed_units) names them).
  - The task reports a change whenever a restart was issued.
options:
  units:
    description: The units that did not answer the check, named as C(hostmend status) lists them.
    type: list
    elements: str
    required: true
  settle:
    description: Seconds before the second look, and again between the restart and the last.
    type: int
    default: 0
  flap_window:
    description: Seconds back in the journal in which a restart by C(hostmend restart) makes a unit flapping.
    type: int
    default: 3600
  restart_database:
    description:
      - Restart the database too when it does not answer. A restart under load may wait out
        the unit's stop timeout (900 s in MariaDB's own unit).
    type: bool
    default: false
extends_documentation_fragment:
  - hostmend.panel.attributes
attributes:
  check_mode:
    support: partial
    details:
      - Nothing is probed or restarted; the task predicts C(changed=true) and returns
        I(restart_database), so that a summary can tell what would be restarted.
notes:
  - Needs root, as the probes and the restart do.
seealso:
  - module: hostmend.panel.check_server
author:
  - hostmend developers (!UNKNOWN)
"""

EXAMPLES = r"""
- name: Restart what does not answer, where a second look agrees
  hostmend.panel.restart_unanswering:
    units: [nginx, php8.2-fpm]
    settle: 5
  become: true
"""

RETURN = r"""
answering:
  description: The units that answered the second look, left as they are.
  returned: when the stack was probed again
  type: list
  elements: str
flapping:
  description: The units not restarted because C(hostmend restart) restarted them within I(flap_window).
  returned: when the stack was probed again
  type: list
  elements: str
held:
  description: The database when it does not answer and I(restart_database) is false.
  returned: when the stack was probed again
  type: list
  elements: str
rc:
  description: The exit status of C(hostmend restart).
  returned: when a unit was restarted
  type: int
report:
  description: The reports of C(hostmend restart), one per unit restarted; empty when none was.
  returned: when the stack was probed again
  type: list
  elements: dict
units:
  description:
    - Each unit of I(units) as C(hostmend status --json) last showed it (its states and
      probes), after the restart for those restarted.
  returned: when the stack was probed again
  type: dict
failed_units:
  description: The units restarted that are not active or do not answer I(settle) seconds later.
  returned: when a restart did not bring a unit back
  type: list
  elements: str
diagnostics:
  description: Each line a tool wrote on standard error, after the tool's command.
  returned: always
  type: list
  elements: str
"""

import os
import time

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.hostmend.panel.plugins.module_utils.answers import (
    answer_failures,
    flap_command,
    flapping_message,
    held_message,
    not_answering,
    restarted_units,
    status_units,
)
from ansible_collections.hostmend.panel.plugins.module_utils.rules import interpret, needs_root, repair_failures
from ansible_collections.hostmend.panel.plugins.module_utils.tool_run import not_installed, run_command, run_status


def probe(module, result):
    """The units of a fresh hostmend status --json; fails the task when it could not run."""
    status = run_status(module)
    result["diagnostics"] += status.get("diagnostics", [])
    if status.get("failed"):
        module.fail_json(msg=status["msg"], **result)
    return status_units(status["report"])


def main():
    module = AnsibleModule(
        argument_spec=dict(
            units=dict(type="list", elements="str", required=True),
            settle=dict(type="int", default=0),
            flap_window=dict(type="int", default=3600),
            restart_database=dict(type="bool", default=False),
        ),
        supports_check_mode=True,
    )
    settle = module.params["settle"]
    window = module.params["flap_window"]
    if settle < 0 or window < 0:
        module.fail_json(msg="settle and flap_window are 0 or more seconds")
    refusal = needs_root("hostmend", "restart", os.geteuid()) or not_installed("hostmend", "restart")
    if refusal:
        module.fail_json(msg=refusal)
    if module.check_mode:
        module.exit_json(changed=True, msg="check mode: hostmend restart not run",
                         restart_database=module.params["restart_database"])

    result = dict(changed=False, diagnostics=[], report=[])
    time.sleep(settle)
    seen = probe(module, result)
    wanted = [u for u in module.params["units"] if u in seen]
    still = [u for u in wanted if not_answering(seen[u])]
    held = [u for u in still if seen[u].get("role") == "database" and not module.params["restart_database"]]
    candidates = [u for u in still if u not in held]
    recent = set()
    if candidates:
        rc, out, err = module.run_command(flap_command(candidates, window), errors="replace")
        if rc != 0:
            # Without the journal a restart could loop: none is made.
            module.fail_json(msg="could not read the journal for recent restarts, so none was made: %s"
                             % (err.strip() or "journalctl exited with status %d" % rc), **result)
        recent = restarted_units(out)
    flapping = [u for u in candidates if u in recent]
    restart = [u for u in candidates if u not in recent]
    result.update(answering=[u for u in wanted if u not in still], flapping=flapping, held=held,
                  units={u: seen[u] for u in wanted})

    failures = [held_message(seen[u]) for u in held] + [flapping_message(u, window) for u in flapping]
    if restart:
        restarted = interpret("hostmend", "restart", *run_command(module, "hostmend", "restart", restart))
        result.update(rc=restarted["rc"], report=restarted.get("report", []), changed=True)
        result["diagnostics"] += restarted["diagnostics"]
        if restarted.get("failed"):
            result["failed_units"] = restart
            failures.append(restarted["msg"])
        else:
            time.sleep(settle)
            after = probe(module, result)
            result["units"].update({u: after[u] for u in restart if u in after})
            lost = repair_failures("hostmend", restarted, after, settle, "restart")
            lost += answer_failures([u for u in restart if u not in dict(lost)], after, settle)
            if lost:
                result["failed_units"] = [u for u, _ in lost]
                failures += [message for _, message in lost]
    for line in result["diagnostics"]:
        module.warn(line)
    if failures:
        module.fail_json(msg="; ".join(failures), **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
