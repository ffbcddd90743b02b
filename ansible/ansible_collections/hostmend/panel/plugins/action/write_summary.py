# -*- coding: utf-8 -*-
# The end of a fleet playbook in one task on the controller: the summary written as JSON,
# its counts handed to the job's statistics and the servers to fail noted. An action
# plugin, so that no module is started for a file on the controller: the copy module
# took two Python processes there (stat, then copy), more than a second on a busy one.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import datetime
import json
import os
import tempfile

from ansible.plugins.action import ActionBase
from ansible_collections.hostmend.panel.plugins.filter.fleet import fleet_failing, fleet_summary
from ansible_collections.hostmend.panel.plugins.filter.fleet_history import cell_problems

PROBLEMS = ["unreachable", "error", "repair"]
ARGUMENTS = dict(
    path=dict(type="path", required=True),
    hosts=dict(type="list", elements="str"),
    summary=dict(type="dict"),
    run=dict(type="dict", default={}),
    fail_on=dict(type="list", elements="str", choices=PROBLEMS, default=PROBLEMS),
)


def replace_file(path, data):
    """Writes DATA to PATH (mode 0644) unless it holds that already, by a rename, so that a
    reader never sees half a file; whether it changed."""
    try:
        with open(path, "rb") as old:
            if old.read() == data:
                return False
    except FileNotFoundError:
        pass
    fd, temp = tempfile.mkstemp(dir=os.path.dirname(path), prefix="." + os.path.basename(path) + ".")
    try:
        with os.fdopen(fd, "wb") as new:
            new.write(data)
            os.fchmod(new.fileno(), 0o644)
        os.replace(temp, path)
    except BaseException:
        os.unlink(temp)
        raise
    return True


class ActionModule(ActionBase):
    TRANSFERS_FILES = False

    def run(self, tmp=None, task_vars=None):
        # A task in check mode is skipped; the fleet role's has check_mode: false.
        self._supports_check_mode = False
        result = super(ActionModule, self).run(tmp, task_vars)
        _, args = self.validate_argument_spec(
            argument_spec=ARGUMENTS, mutually_exclusive=[["hosts", "summary"]], required_one_of=[["hosts", "summary"]])
        summary = args["summary"]
        if summary is None:
            end = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
            summary = fleet_summary(task_vars["hostvars"], args["hosts"], dict(args["run"], end=end))
            failing = fleet_failing(summary["hosts"], args["fail_on"])
        else:
            failing = {host: cell_problems(row, args["fail_on"]) for host, row in summary["hosts"].items()}
            failing = {host: words for host, words in failing.items() if words}
        # As the filter to_nice_json writes it: keys sorted, indented by 4, ASCII.
        text = json.dumps(summary, indent=4, sort_keys=True, separators=(",", ": "))
        try:
            changed = replace_file(args["path"], (text + "\n").encode("ascii"))
        except OSError as e:
            result.update(failed=True, msg="cannot write the summary to %s: %s" % (args["path"], e))
            return result
        result.update(changed=changed, path=args["path"], counts=summary["run"]["counts"], failing=failing)
        # What set_stats would hand over, for the whole run; and the servers to fail, for the
        # play after this one.
        result["ansible_stats"] = dict(data=dict(hostmend=result["counts"]), per_host=False, aggregate=True)
        result["ansible_facts"] = dict(hostmend_failing=result["failing"])
        return result
