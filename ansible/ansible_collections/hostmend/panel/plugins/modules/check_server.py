#!/usr/bin/python
# -*- coding: utf-8 -*-
# Every check of a server in one module call: the engine, the database, the disk report,
# the web hosting stack, the states of their units and the installed hostmend version.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: check_server
short_description: Check the panel engine, the database, the disk and the web hosting stack of a server in one call
version_added: 1.1.0
description:
  - Runs C(coremend --check), C(dbmend --check), C(sweepmend --check) and
    C(hostmend status --json) on the server, reads the states of the engine's and the
    database's units with C(systemctl show), and the installed version of the C(hostmend)
    package, all in one module call, so that a fleet is checked with one transfer per server.
  - Each check's result is the one that M(hostmend.panel.mend) returns for it, under
    C(engine), C(database) and C(disk); the web hosting stack's is under C(web).
  - C(hostmend status) exits with status 3 when a unit is down or something needs a
    person; that is data, not a failure. A server whose package has no C(hostmend) yet
    gets C(web) null and a warning saying so.
  - The task fails when one of the tools is not installed or could not do its job; the
    message names each such tool with its line. The results of the other checks are
    returned all the same. A unit found stopped is data, not a failure.
  - Every line a tool writes on standard error becomes a warning (C(diagnostics)).
  - Changes nothing; runs as any user.
options: {}
extends_documentation_fragment:
  - hostmend.panel.attributes
attributes:
  check_mode:
    support: full
    details:
      - The checks run in check mode as they do otherwise, since they change nothing.
notes:
  - Install the tools first, for example with the role C(hostmend.panel.deploy).
seealso:
  - module: hostmend.panel.mend
author:
  - hostmend developers (!UNKNOWN)
"""

EXAMPLES = r"""
- name: Check the server
  hostmend.panel.check_server:
  register: server

- name: Show the database's state
  ansible.builtin.debug:
    msg: "{{ server.database.units[server.database.report.name].ActiveState }}"
  when: server.database.report is defined
"""

RETURN = r"""
engine:
  description:
    - The result of C(coremend --check) as M(hostmend.panel.mend) returns it (C(rc),
      C(stdout), C(stderr), C(report), C(units), C(diagnostics)), with C(failed) and C(msg)
      when it failed.
  returned: always
  type: dict
  sample: {"rc": 0, "report": {"message": "", "name": "tarnwick.service", "status": "running"},
           "units": {"tarnwick.service": {"LoadState": "loaded", "ActiveState": "active",
                                          "SubState": "running", "UnitFileState": "enabled"}}}
database:
  description: The result of C(dbmend --check), in the same form as C(engine).
  returned: always
  type: dict
  sample: {"rc": 1, "failed": true, "msg": "Failed to detect mysql unit name"}
disk:
  description: The result of C(sweepmend --check); its C(report) is the disk report.
  returned: always
  type: dict
  sample: {"rc": 0, "report": [{"mount": "/"}]}
web:
  description:
    - The result of C(hostmend status --json) (C(rc), C(stdout), C(stderr), C(diagnostics)),
      with C(report) the document it printed and C(units) the states of each unit of the web hosting
      stack (the PHP-FPM units, C(apache2), C(nginx)) that it did not refuse, by name, with
      the properties under systemd's names; with C(failed) and C(msg) when it failed.
    - Null when C(hostmend) is not installed.
  returned: always
  type: dict
  version_added: 1.2.0
  sample: {"rc": 3, "report": {"problems": [], "units": [{"role": "web server", "name": "nginx",
           "LoadState": "loaded", "ActiveState": "failed"}]},
           "units": {"nginx": {"LoadState": "loaded", "ActiveState": "failed", "SubState": "failed",
                               "UnitFileState": "enabled"}}}
version:
  description:
    - The installed version of the C(hostmend) package; null when it is not installed, C(unknown) when
      C(dpkg-query) could not tell.
  returned: always
  type: str
  sample: 1.0.0
diagnostics:
  description: Each line a tool wrote on standard error, after the tool's command.
  returned: always
  type: list
  elements: str
  sample: ["sweepmend --check: hoststat: busy"]
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.hostmend.panel.plugins.module_utils.tool_run import not_installed, run_status, run_tool

CHECKS = (("engine", "coremend"), ("database", "dbmend"), ("disk", "sweepmend"))


def installed_version(module):
    """The version of the installed hostmend package; None when it is not installed (a
    package removed with its configuration left still has a version in dpkg's records),
    "unknown" when dpkg-query could not tell (its status 1 means no such package)."""
    rc, out, _ = module.run_command(
        ["dpkg-query", "--show", "--showformat=${Status}\t${Version}", "hostmend"])
    status, _, version = out.partition("\t")
    if rc == 1 or (rc == 0 and status != "install ok installed"):
        return None
    return version.strip() or "unknown" if rc == 0 else "unknown"


def main():
    module = AnsibleModule(argument_spec={}, supports_check_mode=True)
    result = dict(changed=False, version=installed_version(module), diagnostics=[])
    failures = []
    for key, tool in CHECKS:
        check = run_tool(module, tool, "check")
        check.pop("changed", None)
        result[key] = check
        result["diagnostics"] += check.get("diagnostics", [])
        if check.get("failed"):
            failures.append("%s --check: %s" % (tool, check["msg"]))
    web = run_status(module)
    result["web"] = web
    if web is None:
        result["diagnostics"].append(not_installed("hostmend", "status") + ": the web hosting stack is not checked")
    else:
        result["diagnostics"] += web["diagnostics"]
        if web.get("failed"):
            failures.append("hostmend status --json: %s" % web["msg"])
    for line in result["diagnostics"]:
        module.warn(line)
    if failures:
        module.fail_json(msg="; ".join(failures), **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
