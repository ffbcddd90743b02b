#!/usr/bin/python
# -*- coding: utf-8 -*-
# The documentation of the action hostmend.panel.write_summary (plugins/action), which runs
# on the controller alone.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: write_summary
short_description: Write the fleet summary on the controller and note where the run failed
version_added: 1.1.0
description:
  - Builds the fleet summary of C(hosts) (see the filter C(hostmend.panel.fleet_summary)) with
    C(run) and the time it ends, or takes the document C(summary) as it is (the fleet history
    of the filter C(hostmend.panel.fleet_history)), and writes it as JSON (keys sorted,
    indented by 4) to C(path) on the controller, by a rename, with mode C(0644).
  - Hands the summary's counts to the job's statistics, as M(ansible.builtin.set_stats) would,
    under C(hostmend) for the whole run (AWX shows them).
  - Sets the fact C(hostmend_failing), the servers where the run met one of C(fail_on), as
    the filter C(hostmend.panel.fleet_failing) gives them. In a document given whole a
    server met C(unreachable) when a cell of its row is C(unreachable), and C(error) when
    one begins with C(error:).
  - Runs no module and needs no connection to a server; meant for a task with C(run_once),
    C(delegate_to=localhost) and C(delegate_facts), as the role C(hostmend.panel.fleet) has it.
options:
  path:
    description: Where the summary is written on the controller.
    type: path
    required: true
  hosts:
    description:
      - The servers of the summary.
      - Exactly one of C(hosts) and C(summary) is given.
    type: list
    elements: str
  summary:
    description:
      - A document built already, written as it is; an object with the members C(run)
        (with C(counts)) and C(hosts) (a row per server).
      - Exactly one of C(hosts) and C(summary) is given.
    type: dict
  run:
    description:
      - The run's details (start, playbook, check mode, version), to which the end and the
        counts are added. Not used with C(summary).
    type: dict
    default: {}
  fail_on:
    description: What makes a server fail after the summary.
    type: list
    elements: str
    choices: [unreachable, error, repair]
    default: [unreachable, error, repair]
extends_documentation_fragment:
  - hostmend.panel.attributes
attributes:
  check_mode:
    support: none
    details:
      - The summary is a report on the controller; give the task C(check_mode=false) to write it in check mode too.
seealso:
  - module: hostmend.panel.check_server
author:
  - hostmend developers (!UNKNOWN)
"""

EXAMPLES = r"""
- name: Write the summary
  hostmend.panel.write_summary:
    path: /var/tmp/fleet-summary.json
    hosts: "{{ ansible_play_hosts_all }}"
    run:
      playbook: my_check
  run_once: true
  delegate_to: localhost
  delegate_facts: true
  check_mode: false

- name: Write the fleet history
  hostmend.panel.write_summary:
    path: /var/tmp/fleet-history.json
    summary: "{{ hostvars | hostmend.panel.fleet_history(ansible_play_hosts_all) }}"
    fail_on: [unreachable]
  run_once: true
  delegate_to: localhost
  delegate_facts: true
  check_mode: false
"""

RETURN = r"""
path:
  description: Where the summary was written.
  returned: success
  type: str
  sample: /var/tmp/fleet-summary.json
counts:
  description: The counts of the summary (see the filter C(hostmend.panel.fleet_counts)), or of the document given.
  returned: success
  type: dict
  sample: {"hosts": 3, "unreachable": 1, "error": 0, "repair": 0, "not_reached": 0, "repaired": 1}
failing:
  description: The servers where the run met one of C(fail_on), each with what it met.
  returned: success
  type: dict
  sample: {"ghost": ["unreachable"]}
"""
