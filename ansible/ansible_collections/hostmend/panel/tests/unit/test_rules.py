# The module's rules (exit status, stderr and output to failed, msg and changed) and the
# summary's cells, as table rows. Run with Debian's python3:
#   /usr/bin/python3 -m unittest discover -s tests/unit
import importlib.util
import pathlib
import unittest

PLUGINS = pathlib.Path(__file__).resolve().parents[2] / "plugins"


def load(path):
    spec = importlib.util.spec_from_file_location(path.stem, PLUGINS / path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


mend = load(pathlib.Path("modules/mend.py"))
fleet = load(pathlib.Path("filter/fleet.py"))

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
]

UNREACHABLE = {"unreachable": True, "msg": "Failed to connect to the host via ssh"}
FAILED = {"failed": True, "rc": 1, "msg": "Failed to detect mysql unit name"}
SKIPPED = {"skipped": True, "changed": False}
PREDICTED = {"changed": True, "msg": "check mode: coremend --repair not run"}


def ran(status, changed=False):
    return {"rc": 0, "changed": changed, "report": {"status": status}}


# the registered results of a check (and a repair) -> the summary's cell
CELLS = [
    (ran("running"), "running"),
    ([ran("stopped"), SKIPPED], "stopped"),
    ([ran("stopped"), ran("running")], "running"),
    ([ran("stopped"), PREDICTED], "stopped"),
    ([ran("stopped"), FAILED], "error: Failed to detect mysql unit name"),
    (UNREACHABLE, "unreachable"),
    (SKIPPED, "error: not checked"),
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

    def test_cells(self):
        for results, cell in CELLS:
            with self.subTest(results=results):
                self.assertEqual(fleet.fleet_state(results), cell)


if __name__ == "__main__":
    unittest.main()
