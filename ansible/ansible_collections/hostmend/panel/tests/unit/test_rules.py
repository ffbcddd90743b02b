# The modules' rules (exit status, stderr and output to failed, msg and changed; unit
# states to cells; when a restart failed) and the summary's decisions, as table rows. Run
# with Debian's python3:
#   /usr/bin/python3 -m unittest discover -s tests/unit
import json
import pathlib
import sys
import unittest

# The directory that holds ansible_collections/, as Ansible's own loader would find it.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[5]))

from ansible_collections.hostmend.panel.plugins.filter import fleet  # noqa: E402
from ansible_collections.hostmend.panel.plugins.filter import fleet_history as history  # noqa: E402
from ansible_collections.hostmend.panel.plugins.module_utils import answers  # noqa: E402
from ansible_collections.hostmend.panel.plugins.module_utils import rules as mend  # noqa: E402

STOPPED = '{"message":"","name":"tarnwick.service","status":"stopped"}\n'
RUNNING = '{"message":"","name":"mariadb.service","status":"running"}\n'
NO_DB = "Failed to detect mysql unit name\n"

# tool, word, rc, stdout, stderr -> failed, changed, msg (None: absent), the data member
INTERPRET = [
    ("coremend", "check", 0, STOPPED, "", False, False, None, ("report", "stopped")),
    ("coremend", "repair", 0, STOPPED, "", False, True, None, ("report", "stopped")),
    ("dbmend", "check", 1, "", NO_DB, True, False, NO_DB.strip(), None),
    ("dbmend", "check", 2, "", "", True, False, "dbmend --check exited with status 2", None),
    ("coremend", "check", 0, "Active: active\n", "", True, False,
     "coremend --check printed something other than its result: Active: active", None),
    ("webmend", "restart-web-hosting", 0, "[\n" + RUNNING + "]\n",
     "Unable to get php-fpm services list: interpbook failed with exit code 1\n",
     False, True, None, ("report", ["running"])),
    ("sweepmend", "check", 3, "[]\n", "hoststat: busy\nhoststat: giving up\n", True, False,
     "hoststat: busy; hoststat: giving up", ("report", [])),
    ("sweepmend", "repair", 0, "null\n", "", False, False, None, ("clean_paths", [])),
    ("sweepmend", "repair", 0, '{"clean_paths":["/root/veltrosin/"]}\n', "Read-only file system\n",
     False, True, None, ("clean_paths", ["/root/veltrosin/"])),
    ("hostmend", "start", 0, "[\n" + RUNNING + "]\n", "", False, True, None, ("report", ["running"])),
    ("hostmend", "start", 2, "", "Usage: hostmend [status [--json]|start UNIT...]\n", True, False,
     "Usage: hostmend [status [--json]|start UNIT...]", None),
    ("hostmend", "start", 0, "{}\n", "", True, False, "hostmend start printed something other than its result: {}", None),
]

UNREACHABLE = {"unreachable": True, "msg": "Failed to connect to the host via ssh"}
FAILED = {"failed": True, "rc": 1, "msg": "Failed to detect mysql unit name"}
SKIPPED = {"skipped": True, "changed": False}
PREDICTED = {"changed": True, "msg": "check mode: coremend --repair not run"}
DB = "mariadb.service"


def states(load="loaded", active="active", sub="running", file="enabled"):
    return {"LoadState": load, "ActiveState": active, "SubState": sub, "UnitFileState": file}


def ran(status, unit=None, changed=False, **more):
    """A result of mend for DB with STATUS in its report and UNIT (states) in its units."""
    result = {"rc": 0, "changed": changed, "report": {"name": DB, "status": status, "message": ""}}
    result.update(units={DB: unit} if unit else {}, **more)
    return result


DOWN = states(active="inactive", sub="dead")
BROKEN = dict(ran("stopped", states(active="failed", sub="failed"), True), failed=True,
              failed_units=[DB], msg="mariadb.service did not restart: Job failed")

# What Ansible registers where the module could not run: the server has no python3.
NO_PYTHON = {"failed": True, "rc": 127, "module_stdout": "", "module_stderr": "/bin/sh: 1: /usr/bin/python3: not found\n",
             "msg": "The module failed to execute correctly, you probably need to set the interpreter.\n"
                    "See stdout/stderr for the exact error"}
NO_PYTHON_CELL = "error: /bin/sh: 1: /usr/bin/python3: not found"
# hostmend start of the database, as fleet_repair runs it.
DB_STARTED = {"rc": 0, "changed": True, "report": [{"name": DB, "status": "running", "message": ""}], "units": {DB: states()}}

# the registered results of a check (and a repair) -> the summary's cell
CELLS = [
    (ran("running", states()), "running"),
    (ran("running"), "running"),
    ([ran("stopped", DOWN), SKIPPED], "stopped"),
    ([ran("stopped", DOWN), ran("running", states(), True)], "running"),
    ([ran("stopped", DOWN), PREDICTED], "stopped"),
    ([ran("stopped", DOWN), BROKEN], "failed"),
    ([ran("stopped", DOWN), FAILED], "error: Failed to detect mysql unit name"),
    (ran("stopped", states(active="failed", sub="failed")), "failed"),
    (ran("stopped", states(load="masked", active="inactive", file="masked")), "masked"),
    (ran("stopped", states(active="inactive", file="disabled")), "disabled"),
    (ran("running", states(file="disabled")), "running"),
    (ran("stopped", states(active="activating", sub="start-pre")), "activating"),
    (ran("stopped", states(active="deactivating", sub="stop")), "deactivating"),
    (ran("running", states(active="reloading", sub="reload")), "reloading"),
    (ran("stopped", states(load="not-found", active="inactive", file="")), "not installed"),
    (UNREACHABLE, "unreachable"),
    (SKIPPED, "error: not checked"),
    # The database started with hostmend start, which reports in a list.
    ([ran("stopped", DOWN), DB_STARTED], "running"),
    # An error cell is one line naming the cause.
    (NO_PYTHON, NO_PYTHON_CELL),
    ({"failed": True, "module_stdout": "Traceback (most recent call last):\nMemoryError\n\n", "module_stderr": ""},
     "error: MemoryError"),
    ({"failed": True, "msg": "first\nsecond"}, "error: first"),
]

WEB = [{"name": "php8.2-fpm", "status": "running", "message": ""},
       {"name": "apache2", "status": "stopped",
        "message": "\nFailed to try-restart apache2.service: Unit apache2.service not found.\n"
                   "\nFinished with exit code 5"},
       {"name": "nginx", "status": "stopped",
        "message": "\nJob for nginx.service failed.\n\nFinished with exit code 1"}]
NO_APACHE = {"php8.2-fpm": states(), "apache2": states(load="not-found", active="inactive", file=""),
             "nginx": states()}
SHOW = ("LoadState=loaded\nActiveState=failed\nSubState=failed\nUnitFileState=enabled\n\n"
        "LoadState=not-found\nActiveState=inactive\nSubState=dead\nUnitFileState=\n")


def hostvars_web(*results, var="hostmend_web", check=None):
    """Servers h0, h1, ... with RESULTS registered as VAR, each checked as CHECK (default
    CHECKED, whose web check succeeded)."""
    return {"h%d" % i: {var: r, "hostmend_check": check or CHECKED} for i, r in enumerate(results)}


def unit(role, name, load="loaded", active="active", file="enabled"):
    """A unit of hostmend status --json."""
    return dict(states(load, active, {"active": "running", "failed": "failed"}.get(active, "dead"), file),
                role=role, name=name, NRestarts=0, InvocationID="9f0c", MainPID=0)


# hostmend status --json on a server whose php8.2-fpm and nginx were killed and whose
# apache2 is stopped; the registry also names a unit it refuses.
STATUS = {"problems": ["Refused PHP-FPM unit name: 42"],
          "units": [unit("engine", "tarnwick.service"), unit("database", DB, active="failed"),
                    unit("php-fpm", "php8.2-fpm", active="failed"), {"role": "php-fpm", "name": "42",
                                                                       "refused": "a job number"},
                    unit("php-fpm", "php7.4-fpm", active="failed", file="disabled"),
                    unit("php-fpm", "php8.1-fpm", load="masked", active="inactive", file="masked"),
                    unit("web server", "apache2", active="inactive"), unit("web server", "nginx", active="failed")]}
WEB_STATUS = mend.interpret_status(3, json.dumps(STATUS), "")
CHECKED = {"engine": ran("running", states()), "web": WEB_STATUS}
# What starting php8.2-fpm and nginx gave: nginx came back, php8.2-fpm failed again.
STARTED = {"rc": 0, "changed": True, "failed": True, "failed_units": ["php8.2-fpm"],
           "msg": "php8.2-fpm is failed 5 s after its start",
           "report": [{"name": "php8.2-fpm", "status": "running", "message": ""},
                      {"name": "nginx", "status": "running", "message": ""}],
           "units": {"php8.2-fpm": states(active="failed", sub="failed"), "nginx": states()}}
CHECKED_CELLS = {"php8.2-fpm": "failed", "42": "refused", "php7.4-fpm": "disabled", "php8.1-fpm": "masked",
                 "apache2": "stopped", "nginx": "failed"}
NOT_INSTALLED = {"rc": None, "failed": True, "msg": "hostmend start not installed; deploy first"}
LOST_CONNECTION = dict(UNREACHABLE, msg="Data could not be sent to remote host \"db1\".\nMake sure this host can be reached")
LOST_WHY = ("the server stopped answering during this repair, which may have happened all the same; run fleet_check "
            "for the truth (Data could not be sent to remote host \"db1\".)")
DB_DOWN = {"engine": ran("running", states()), "database": ran("stopped", DOWN), "web": WEB_STATUS,
           "disk": {"rc": 0, "report": []}, "version": "1.2.0"}


def probed(u, *results):
    """U of hostmend status --json with one probe per RESULT, on ports 80, 81, ..."""
    return dict(u, probes=[{"address": "127.0.0.1:%d" % (80 + i), "result": r, "seconds": 2.0, "detail": ""}
                           for i, r in enumerate(results)])


# A server whose database and nginx run but hang; php8.2-fpm refuses, which is no hang.
HUNG_DB = probed(unit("database", DB), "no answer")
HUNG_NGINX = probed(unit("web server", "nginx"), "no answer", "wrong answer")
HUNG = {"problems": [], "units": [probed(unit("engine", "tarnwick.service"), "answered"), HUNG_DB,
                                  probed(unit("php-fpm", "php8.2-fpm"), "refused"), HUNG_NGINX]}
HUNG_CHECK = {"engine": ran("running", states()), "database": ran("running", states()),
              "web": mend.interpret_status(3, json.dumps(HUNG), "")}
# The restart of what did not answer: nginx came back, the database was held back.
NGINX_BACK = {"rc": 0, "changed": True, "failed": True, "msg": "held", "report": [WEB[0] | {"name": "nginx"}],
              "answering": [], "flapping": [], "held": [DB],
              "units": {DB: HUNG_DB, "nginx": probed(unit("web server", "nginx"), "answered")}}
NGINX_FLAPPING = {"changed": False, "failed": True, "msg": "flapping", "report": [], "answering": [],
                  "flapping": ["nginx"], "held": [], "units": {"nginx": HUNG_NGINX}}
NGINX_HUNG_AGAIN = dict(NGINX_BACK, failed_units=["nginx"], units={"nginx": HUNG_NGINX})


def row_of(results, *keys):
    return {k: v for k, v in fleet.fleet_row(results).items() if k in keys}


WEB_FAILED = {"rc": 0, "failed": True, "failed_units": ["nginx"], "report": []}
WEB_OK = {"rc": 0, "changed": True, "report": []}


def journal_line(**fields):
    """One line of journalctl -o json, at 2026-12-08T03:12:00Z."""
    return json.dumps(dict(fields, __REALTIME_TIMESTAMP="1796699520000000"))


SERVICE = history.SERVICE_ACTION
JOURNAL = "\n".join([
    journal_line(MESSAGE_ID=SERVICE, HOSTMEND_ACTION="status", HOSTMEND_UNIT="tarnwick.service"),
    # A name that is not UTF-8 comes as its bytes.
    journal_line(MESSAGE_ID=SERVICE, HOSTMEND_ACTION="try-restart", HOSTMEND_UNIT=[99, 97, 102, 233],
                 HOSTMEND_STATUS="running", HOSTMEND_EXIT_CODE="0", HOSTMEND_TOOL="webmend",
                 HOSTMEND_CALLER_COMM="python3", HOSTMEND_CALLER_PID="4242"),
    journal_line(MESSAGE_ID=SERVICE, HOSTMEND_ACTION="restart", HOSTMEND_UNIT="mariadb.service",
                 HOSTMEND_STATUS="stopped", HOSTMEND_EXIT_CODE="1", HOSTMEND_TOOL="dbmend",
                 HOSTMEND_CALLER_COMM="cron", HOSTMEND_CALLER_PID="17"),
    journal_line(MESSAGE_ID=history.CLEANUP_FINISHED, HOSTMEND_BYTES_FREED="73728"),
    "",
])
RESTARTED = {"unit": "caf\ufffd", "time": "2026-12-08T03:12:00Z", "action": "try-restart",
             "outcome": "running", "exit_code": 0, "tool": "webmend", "caller": "python3[4242]"}
FAILED_RESTART = {"unit": "mariadb.service", "time": "2026-12-08T03:12:00Z", "action": "restart",
                  "outcome": "stopped", "exit_code": 1, "tool": "dbmend", "caller": "cron[17]"}
HISTORY = {"restarts": [RESTARTED, FAILED_RESTART],
           "cleanups": [{"time": "2026-12-08T03:12:00Z", "bytes_freed": 73728}]}

# function, its arguments -> what it returns
RULES = [
    # The history of a server from its journal: restarts and cleanups, status checks left out.
    (history.fleet_history_row, (JOURNAL,), HISTORY),
    (history.fleet_history_row, ("",), {"restarts": [], "cleanups": []}),
    (history.fleet_history,
     ({"a": {"hostmend_journal": {"rc": 0, "stdout": JOURNAL}}, "b": {"hostmend_journal": UNREACHABLE},
       "c": {"hostmend_journal": {"rc": 1, "failed": True, "stderr": "No journal files were found.\n"}}},
      ["a", "b", "c"], {"since": "24 hours ago"}),
     {"run": {"since": "24 hours ago",
              "counts": {"hosts": 3, "unreachable": 1, "error": 1, "restarts": 2, "failed_restarts": 1,
                         "cleanups": 1, "bytes_freed": 73728}},
      "hosts": {"a": HISTORY, "b": {"restarts": "unreachable", "cleanups": "unreachable"},
                "c": {"restarts": "error: No journal files were found.",
                      "cleanups": "error: No journal files were found."}}}),
    # At the time the tool sent it, where journald took it 31 s later; else when it took it.
    (history.fleet_history_row, (journal_line(MESSAGE_ID=history.CLEANUP_FINISHED, HOSTMEND_BYTES_FREED="1",
                                              _SOURCE_REALTIME_TIMESTAMP="1796699489000000"),),
     {"restarts": [], "cleanups": [{"time": "2026-12-08T03:11:29Z", "bytes_freed": 1}]}),
    # hostmend's start of a unit that was down counts among the restarts.
    (history.fleet_history_row, (journal_line(MESSAGE_ID=SERVICE, HOSTMEND_ACTION="start", HOSTMEND_UNIT="nginx",
                                              HOSTMEND_STATUS="running", HOSTMEND_EXIT_CODE="0",
                                              HOSTMEND_TOOL="hostmend", HOSTMEND_CALLER_COMM="python3",
                                              HOSTMEND_CALLER_PID="99"),),
     {"restarts": [{"unit": "nginx", "time": "2026-12-08T03:12:00Z", "action": "start", "outcome": "running",
                    "exit_code": 0, "tool": "hostmend", "caller": "python3[99]"}], "cleanups": []}),
    # What fails a server of a history, or of any document written whole.
    (history.cell_problems, ({"restarts": "unreachable", "cleanups": "unreachable"},), ["unreachable"]),
    (history.cell_problems, ({"restarts": "error: No journal files were found."},), ["error"]),
    (history.cell_problems, ({"restarts": "error: x"}, ["unreachable"]), []),
    (history.cell_problems, ({"engine": "running", "database": "error: Failed to detect mysql unit name",
                              "version": "1.0.0"}, ["unreachable", "error"]), ["error"]),
    (history.cell_problems, (HISTORY,), []),
    (history.fleet_history_table, ({"hosts": {"a": HISTORY, "b": {"restarts": "unreachable"}}},),
     ["host  restarts     failed  last restart                                  cleanups  bytes freed",
      "a     2            1       2026-12-08T03:12:00Z mariadb.service stopped  1         73728",
      "b     unreachable"]),
    # After a restart: engine and database must be active again, and say why not.
    (mend.repair_failures, ("dbmend", ran("running"), {DB: states()}, 5), []),
    (mend.repair_failures, ("dbmend", {"report": dict(WEB[2], name=DB)}, {DB: states(active="failed")}, 5),
     [(DB, "mariadb.service did not restart: Job for nginx.service failed. (Finished with exit code 1)")]),
    (mend.repair_failures, ("dbmend", ran("running"), {DB: states(active="activating", sub="start")}, 5),
     [(DB, "mariadb.service is activating 5 s after its restart")]),
    # The web hosting stack: a server without apache2 fails only for nginx.
    (mend.repair_failures, ("webmend", {"report": WEB}, NO_APACHE, 5),
     [("nginx", "nginx did not restart: Job for nginx.service failed. (Finished with exit code 1)")]),
    (mend.repair_failures, ("webmend", {"report": WEB[:1]}, {"php8.2-fpm": states(active="failed")}, 5),
     [("php8.2-fpm", "php8.2-fpm is failed 5 s after the restart")]),
    (mend.repair_failures, ("webmend", {"report": WEB[:1]}, {"php8.2-fpm": states(active="inactive")}, 5), []),
    # Repair words need root; a check does not.
    (mend.needs_root, ("dbmend", "repair", 1000),
     "dbmend --repair changes the server and needs root: run the task as root, with become: true"),
    (mend.needs_root, ("webmend", "restart-web-hosting", 1000),
     "webmend --restart-web-hosting changes the server and needs root: run the task as root, with become: true"),
    (mend.needs_root, ("hostmend", "start", 1000),
     "hostmend start changes the server and needs root: run the task as root, with become: true"),
    (mend.needs_root, ("coremend", "check", 1000), None),
    (mend.needs_root, ("dbmend", "repair", 0), None),
    # hostmend start: each unit must be active after it.
    (mend.repair_failures, ("hostmend", {"report": WEB[1:]}, NO_APACHE, 5),
     [("apache2", "apache2 did not start: Failed to try-restart apache2.service: Unit apache2.service not found. "
                  "(Finished with exit code 5)"),
      ("nginx", "nginx did not start: Job for nginx.service failed. (Finished with exit code 1)")]),
    (mend.repair_failures, ("hostmend", {"report": WEB[:1]}, {"php8.2-fpm": states(active="activating")}, 5),
     [("php8.2-fpm", "php8.2-fpm is activating 5 s after its start")]),
    (mend.repair_failures, ("hostmend", {"report": WEB[:1]}, {"php8.2-fpm": states()}, 5), []),
    # hostmend status: exit status 3 is data; the web units' states by name, refused ones
    # left out; the problems are warnings, once even when standard error said them too.
    (lambda *a: (lambda r: (r.get("failed", False), sorted(r["units"]), r["diagnostics"]))(mend.interpret_status(*a)),
     (3, json.dumps(STATUS), "Refused PHP-FPM unit name: 42\n"),
     (False, ["apache2", "nginx", "php7.4-fpm", "php8.1-fpm", "php8.2-fpm"],
      ["hostmend status --json: Refused PHP-FPM unit name: 42"])),
    (lambda *a: {k: v for k, v in mend.interpret_status(*a).items() if k in ("failed", "msg", "units")},
     (1, "", "Failed to get properties: Connection timed out\n"),
     {"failed": True, "msg": "Failed to get properties: Connection timed out"}),
    (lambda *a: mend.interpret_status(*a)["msg"], (3, "[]", ""),
     "hostmend status --json printed something other than its result: []"),
    (lambda *a: mend.interpret_status(*a)["msg"], (2, "", ""), "hostmend status --json exited with status 2"),
    (mend.parse_show, (["nginx", "apache2"], SHOW),
     {"nginx": states(active="failed", sub="failed"),
      "apache2": states(load="not-found", active="inactive", sub="dead", file="")}),
    (mend.diagnostics, ("sweepmend", "repair", "Read-only file system\n\n"),
     ["sweepmend --repair: Read-only file system"]),
    # What fleet_repair restarts: only a loaded unit that is down, and not disabled unless asked.
    (fleet.fleet_needs_restart, (ran("stopped", DOWN),), True),
    (fleet.fleet_needs_restart, (ran("stopped", states(active="failed", sub="failed")),), True),
    (fleet.fleet_needs_restart, (ran("running", states()),), False),
    (fleet.fleet_needs_restart, (ran("stopped", states(active="activating", sub="start-pre")),), False),
    (fleet.fleet_needs_restart, (ran("stopped", states(active="deactivating", sub="stop")),), False),
    (fleet.fleet_needs_restart, (ran("stopped", states(load="masked", active="inactive", file="masked")),), False),
    (fleet.fleet_needs_restart, (ran("stopped", states(load="not-found", active="inactive")),), False),
    (fleet.fleet_needs_restart, (ran("stopped", states(active="inactive", file="disabled")),), False),
    (fleet.fleet_needs_restart, (ran("stopped", states(active="inactive", file="disabled")), True), True),
    (fleet.fleet_needs_restart, (ran("stopped", states(active="inactive", file="static")),), True),
    (fleet.fleet_needs_restart, (ran("stopped"),), False),
    (fleet.fleet_needs_restart, (FAILED,), False),
    (fleet.fleet_needs_restart, (None,), False),
    # A failed web restart stops the rollout beyond the allowed share of the batch.
    (fleet.fleet_rollout_stops, (hostvars_web(WEB_OK, WEB_FAILED), ["h0", "h1"], 0), True),
    (fleet.fleet_rollout_stops, (hostvars_web(WEB_OK, WEB_FAILED), ["h0", "h1"], 50), False),
    (fleet.fleet_rollout_stops, (hostvars_web(WEB_OK, UNREACHABLE), ["h0", "h1"], 0), False),
    (fleet.fleet_rollout_stops, (hostvars_web(SKIPPED, SKIPPED), ["h0", "h1"], 0), False),
    # What fleet_repair starts: the web units loaded and failed, and not disabled; none where
    # the stack could not be read.
    (fleet.fleet_web_failed, (CHECKED,), ["php8.2-fpm", "nginx"]),
    (fleet.fleet_web_failed, ({"web": None},), []),
    (fleet.fleet_web_failed, ({"web": mend.interpret_status(1, "", "x\n")},), []),
    (fleet.fleet_web_failed, (UNREACHABLE,), []),
    (fleet.fleet_repairing, ({"a": {"hostmend_check": CHECKED}, "b": {"hostmend_check": {"engine": ran("running", states()),
                                                                                          "web": None}}},
                             ["a", "b"]), ["a"]),
    # The web hosting stack's cells: from the check, then the start, then the restart.
    (fleet._web_row, (CHECKED, None, None), CHECKED_CELLS),
    (fleet._web_row, (CHECKED, STARTED, SKIPPED), dict(CHECKED_CELLS, nginx="running")),
    (fleet._web_row, (CHECKED, NOT_INSTALLED, None),
     dict(CHECKED_CELLS, **{"php8.2-fpm": "error: hostmend start not installed; deploy first",
                            "nginx": "error: hostmend start not installed; deploy first"})),
    (fleet._web_row, (CHECKED, STARTED, {"rc": 0, "report": WEB, "units": NO_APACHE}),
     dict(CHECKED_CELLS, **{"php8.2-fpm": "running", "apache2": "not installed", "nginx": "running"})),
    (fleet._web_row, ({"engine": ran("running"), "web": None}, None, {"rc": 0, "report": WEB, "units": NO_APACHE}),
     {"php8.2-fpm": "running", "apache2": "not installed", "nginx": "running"}),
    (fleet._web_row, ({"engine": ran("running"), "web": None}, None, None), None),
    (fleet._web_row, ({"engine": ran("running"), "web": mend.interpret_status(1, "", "x\n")}, None, None), "error: x"),
    (fleet._web_row, (UNREACHABLE, None, None), "unreachable"),
    (fleet._web_row, (CHECKED, STARTED, UNREACHABLE), "unreachable"),
    # What a start brought back is repaired, named after its unit; in check mode what it would start.
    (lambda results: (lambda r: (r["repaired"], r["failures"]))(fleet.fleet_row(results)),
     ({"check": CHECKED, "engine_repair": SKIPPED, "database_repair": SKIPPED, "web_start": STARTED},),
     (["web: nginx"], {"web_start": "php8.2-fpm is failed 5 s after its start"})),
    (lambda results: fleet.fleet_row(results)["repaired"], ({"check": CHECKED, "engine_repair": SKIPPED, "web_start": {"changed": True}},),
     ["web: php8.2-fpm", "web: nginx"]),
    (fleet._web_column, (CHECKED_CELLS,), "php8.2-fpm failed"),
    (fleet._web_column, ({"php8.2-fpm": "running", "apache2": "not installed", "nginx": "failed"},), "nginx failed"),
    (fleet._web_column, ({"php7.4-fpm": "disabled", "php8.1-fpm": "masked", "42": "refused", "apache2": "not installed",
                          "nginx": "activating"},), "running"),
    (fleet._web_column, ({"apache2": "not installed", "nginx": "running"},), "running"),
    (fleet._web_column, ({"php8.2-fpm": "error: hostmend start not installed; deploy first"},),
     "php8.2-fpm error: hostmend start not installed; deploy first"),
    (fleet._web_column, (None,), "-"),
    # A failed start of a web unit stops the rollout as a failed restart does.
    (fleet.fleet_rollout_stops, (hostvars_web(SKIPPED, STARTED, var="hostmend_web_start"), ["h0", "h1"], 0), True),
    (fleet.fleet_rollout_stops, (hostvars_web(WEB_OK, STARTED, var="hostmend_web_start"), ["h0", "h1"], 50), False),
    # ... but only where the check could read the web hosting stack.
    (fleet.fleet_rollout_stops, (hostvars_web(WEB_FAILED, check={"engine": ran("running"), "web": None}), ["h0"], 0),
     False),
    (fleet.fleet_rollout_stops, (hostvars_web(NO_PYTHON, check=NO_PYTHON), ["h0"], 0), False),
    # A server where the check never ran is not repaired, even when the whole stack is to be restarted.
    (fleet.fleet_repairing, ({"a": {"hostmend_check": NO_PYTHON}, "b": {"hostmend_check": UNREACHABLE},
                              "c": {"hostmend_check": {"engine": FAILED, "database": FAILED, "web": None}}},
                             ["a", "b", "c"], True), ["c"]),
    # A server without python3: every cell says why, its version is unknown, and the table
    # cuts what is longer than 60 characters.
    (lambda results: {k: v for k, v in fleet.fleet_row(results).items() if k in ("engine", "web", "version", "disk")},
     ({"check": NO_PYTHON},),
     {"engine": NO_PYTHON_CELL, "web": NO_PYTHON_CELL, "disk": NO_PYTHON_CELL, "version": "unknown"}),
    (lambda results: fleet.fleet_row(results)["version"], ({"check": UNREACHABLE},), "unknown"),
    (lambda results: fleet.fleet_row(results)["version"], ({"check": dict(DB_DOWN, version=None)},), None),
    (fleet.fleet_table, ({"hosts": {"a": {"engine": "error: " + "x" * 60, "database": "running"}}},),
     ["host  engine                                                        database",
      "a     error: " + "x" * 52 + "\u2026  running"]),
    # A server lost during the database's start: its cell says so, a failure says it may have
    # happened, and what came after is left out.
    (lambda results: {k: v for k, v in fleet.fleet_row(results).items() if k in ("engine", "database", "web", "repaired", "failures")},
     ({"check": DB_DOWN, "engine_repair": SKIPPED, "database_repair": LOST_CONNECTION, "web_start": STARTED, "web": UNREACHABLE},),
     {"engine": "running", "database": "lost during repair", "web": CHECKED_CELLS, "repaired": [],
      "failures": {"database": LOST_WHY}}),
    (lambda results: {k: v for k, v in fleet.fleet_row(results).items() if k in ("web", "repaired", "failures")},
     ({"check": DB_DOWN, "engine_repair": SKIPPED, "database_repair": DB_STARTED, "web_start": LOST_CONNECTION},),
     {"web": dict(CHECKED_CELLS, **{"php8.2-fpm": "lost during repair", "nginx": "lost during repair"}),
      "repaired": ["database"], "failures": {"web_start": LOST_WHY}}),
    (lambda results: fleet.fleet_counts({"a": fleet.fleet_row(results)}),
     ({"check": DB_DOWN, "engine_repair": SKIPPED, "database_repair": SKIPPED, "web": LOST_CONNECTION},),
     {"hosts": 1, "unreachable": 0, "error": 0, "repair": 1, "not_reached": 0, "repaired": 0}),
    (fleet._web_column, ({"php8.2-fpm": "running", "nginx": "lost during repair"},), "nginx lost during repair"),
    (fleet.fleet_counts, ({"a": {"engine": "unreachable", "database": "unreachable", "disk": "unreachable"},
                           "b": {"engine": "running", "database": "error: x", "failures": {"web": "y"}},
                           "c": {"engine": "not reached", "database": "not reached", "repaired": []},
                           "d": {"engine": "running", "database": "running", "repaired": ["engine"]}},),
     {"hosts": 4, "unreachable": 1, "error": 1, "repair": 1, "not_reached": 1, "repaired": 1}),
    (fleet.fleet_failing, ({"a": {"engine": "unreachable"}, "b": {"engine": "running", "failures": {}},
                            "c": {"engine": "not reached"}, "d": {"engine": "running", "failures": {"web": "x"}}},
                           ["unreachable", "repair"]), {"a": ["unreachable"], "d": ["repair"]}),
    (fleet.fleet_reached, ({"a": {"hostmend_check": UNREACHABLE}, "b": {"hostmend_check": FAILED}, "c": {}},
                           ["c", "b", "a"]), ["c", "b"]),
    # After a stopped rollout, a server that answered and has no repair was not reached.
    (lambda *a: {h: r["engine"] for h, r in fleet.fleet_summary(*a)["hosts"].items()},
     ({"localhost": {"hostmend_rollout_stopped": True},
       "a": {"hostmend_check": {"engine": ran("running", states())}, "hostmend_engine_repair": SKIPPED},
       "b": {"hostmend_check": {"engine": ran("running", states())}}, "c": {"hostmend_check": UNREACHABLE}},
      ["a", "b", "c"]), {"a": "running", "b": "not reached", "c": "unreachable"}),
    (fleet.fleet_problems, ({"engine": "unreachable", "database": "unreachable"},), ["unreachable"]),
    (fleet.fleet_problems, ({"engine": "running", "web": "error: x", "failures": {"database": "y"}},),
     ["error", "repair"]),
    (fleet.fleet_problems, ({"engine": "running", "web": "error: x", "failures": {"database": "y"}}, []), []),
    (fleet.fleet_problems, ({"engine": "running", "web": {"nginx": "failed"}, "failures": {}},), []),
    (fleet.fleet_problems, ({"engine": "running", "web": {"nginx": "error: x"}, "failures": {}},), ["error"]),
    # A unit that hangs: probed, nothing answered, and one probe had no answer.
    (answers.not_answering, (probed(HUNG_NGINX),), False),
    (answers.not_answering, (probed(HUNG_NGINX, "no answer", "answered"),), False),
    (answers.not_answering, (probed(HUNG_NGINX, "refused", "wrong answer"),), False),
    (answers.not_answering, (HUNG_NGINX,), True),
    (fleet.fleet_unanswering, (HUNG_CHECK,), [DB, "nginx"]),
    (fleet.fleet_unanswering, (dict(HUNG_CHECK, web=None),), []),
    (lambda *a: mend.interpret_status(*a)["diagnostics"], (3, json.dumps(HUNG), ""),
     ["hostmend status --json: mariadb.service 127.0.0.1:80: no answer",
      "hostmend status --json: php8.2-fpm 127.0.0.1:80: refused",
      "hostmend status --json: nginx 127.0.0.1:80: no answer", "hostmend status --json: nginx 127.0.0.1:81: wrong answer"]),
    (fleet.fleet_repairing, ({"a": {"hostmend_check": HUNG_CHECK}}, ["a"]), ["a"]),
    # Its cell, from the check, then from the restart of what did not answer.
    (row_of, ({"check": HUNG_CHECK}, "engine", "database", "web"),
     {"engine": "running", "database": "not answering", "web": {"php8.2-fpm": "running", "nginx": "not answering"}}),
    (row_of, ({"check": HUNG_CHECK, "engine_repair": SKIPPED, "unanswering": NGINX_BACK}, "database", "web", "repaired",
              "failures"),
     {"database": "not answering", "web": {"php8.2-fpm": "running", "nginx": "running"}, "repaired": ["web: nginx"],
      "failures": {"unanswering": "held"}}),
    (row_of, ({"check": HUNG_CHECK, "engine_repair": SKIPPED, "unanswering": NGINX_FLAPPING}, "web", "repaired"),
     {"web": {"php8.2-fpm": "running", "nginx": "flapping"}, "repaired": []}),
    (row_of, ({"check": HUNG_CHECK, "engine_repair": SKIPPED, "unanswering": NGINX_HUNG_AGAIN}, "web", "repaired"),
     {"web": {"php8.2-fpm": "running", "nginx": "not answering"}, "repaired": []}),
    (row_of, ({"check": HUNG_CHECK, "engine_repair": SKIPPED, "unanswering": LOST_CONNECTION}, "database", "web"),
     {"database": "lost during repair", "web": {"php8.2-fpm": "running", "nginx": "lost during repair"}}),
    # In check mode: what would be restarted, the database only where it may be.
    (row_of, ({"check": HUNG_CHECK, "engine_repair": SKIPPED, "unanswering": {"changed": True}}, "repaired"),
     {"repaired": ["web: nginx"]}),
    (row_of, ({"check": HUNG_CHECK, "unanswering": {"changed": True, "restart_database": True}}, "repaired"),
     {"repaired": ["database", "web: nginx"]}),
    (fleet._web_column, ({"php8.2-fpm": "running", "nginx": "flapping"},), "nginx flapping"),
    # A restart that left its unit hung stops the rollout; a unit left alone for flapping does not.
    (fleet.fleet_rollout_stops, (hostvars_web(NGINX_HUNG_AGAIN, var="hostmend_unanswering"), ["h0"], 0), True),
    (fleet.fleet_rollout_stops, (hostvars_web(NGINX_FLAPPING, var="hostmend_unanswering"), ["h0"], 0), False),
    (fleet.fleet_rollout_stops, (hostvars_web(NGINX_BACK, var="hostmend_unanswering"), ["h0"], 0), False),
    # Which of the units hostmend restart restarted lately; what a restart left hung.
    (answers.restarted_units, ('{"HOSTMEND_UNIT":"nginx"}\nnot json\n{"HOSTMEND_UNIT":[110]}\n',), {"nginx"}),
    (answers.answer_failures, (["nginx", DB], {"nginx": HUNG_NGINX, DB: probed(unit("database", DB), "answered")}, 5),
     [("nginx", "nginx does not answer 5 s after its restart (nginx 127.0.0.1:80: no answer; "
                "nginx 127.0.0.1:81: wrong answer)")]),
    (mend.repair_failures, ("hostmend", {"report": WEB[2:]}, {}, 5, "restart"),
     [("nginx", "nginx did not restart: Job for nginx.service failed. (Finished with exit code 1)")]),
]

class Rules(unittest.TestCase):
    def test_interpret(self):
        for tool, word, rc, out, err, failed, changed, msg, data in INTERPRET:
            with self.subTest(tool=tool, word=word, rc=rc, out=out):
                result = mend.interpret(tool, word, rc, out, err)
                self.assertEqual(result.get("failed", False), failed)
                self.assertEqual(result["changed"], changed)
                self.assertEqual(result.get("msg"), msg)
                self.assertEqual((result["rc"], result["stdout"], result["stderr"]), (rc, out, err))
                if data is None:
                    self.assertNotIn("report", result)
                    continue
                key, want = data
                got = result[key]
                if key == "report" and isinstance(got, (dict, list)) and got:
                    got = got["status"] if isinstance(got, dict) else [r["status"] for r in got]
                self.assertEqual(got, want)

    def test_rules(self):
        for function, args, want in RULES:
            with self.subTest(function=function.__name__, args=args):
                self.assertEqual(function(*args), want)

    def test_cells(self):
        for results, cell in CELLS:
            with self.subTest(results=results):
                self.assertEqual(fleet.fleet_state(results), cell)


if __name__ == "__main__":
    unittest.main()
