#!/usr/bin/python3
"""Reads `journalctl -o json` lines of one run of TOOL on stdin and prints its entries as
the end-to-end rows write them: a line "KIND PRIORITY", then NAME=value for each of the
tool's own fields that the entry has, in a fixed order. The fields every entry carries are
checked here; each that is wrong is a line starting with "fault:".
    journal_entries.py TOOL VERSION"""
import json
import re
import sys

KINDS = {
    "d9810defc7814e2e84b06cc98ee34bd3": "service-action",
    "0bb8bdc105d643acb58e76f7c7f5d9bc": "name-refused",
    "049f1a72ba0e44a393fa0b051a37130b": "registry-failed",
    "22544003bde640d19eb9edfe329cd6bd": "no-database",
    "a29cafd310034d55a8381d353dcfaf07": "disk-report",
    "5136bc5896384ab4bbbf1812b7a05c8c": "location-cleaned",
    "df3165fa96e24d94962491701d655aac": "match-left",
    "c104600dd4a543419d586800791c9653": "cleanup-finished",
    "4f9f243367944d938175e37e117913a2": "tool-failed",
}
OWN = ["MESSAGE", "HOSTMEND_ACTION", "HOSTMEND_PATH", "HOSTMEND_UNIT", "OBJECT_SYSTEMD_UNIT",
       "HOSTMEND_EXIT_CODE", "HOSTMEND_STATUS", "HOSTMEND_ENTRIES_REMOVED",
       "HOSTMEND_BYTES_FREED", "HOSTMEND_ERROR"]


def main(tool, version):
    run_ids = set()
    for line in sys.stdin:
        entry = json.loads(line)
        print(KINDS.get(entry.get("MESSAGE_ID"), "unknown"), entry.get("PRIORITY"))
        for name in OWN:
            if name in entry:
                print(f"{name}={entry[name]}")
        for name, want in [("SYSLOG_IDENTIFIER", tool), ("HOSTMEND_TOOL", tool),
                           ("HOSTMEND_VERSION", version)]:
            if entry.get(name) != want:
                print(f"fault: {name}={entry.get(name)}")
        # journald reads the sender's name from /proc as the entry arrives: a tool that has
        # already exited by then leaves no _COMM, but one that is there must be the tool.
        if entry.get("_COMM", tool) != tool:
            print(f"fault: _COMM={entry.get('_COMM')}")
        # The tools are started from a shell in these tests.
        if entry.get("HOSTMEND_CALLER_COMM") != "sh":
            print(f"fault: HOSTMEND_CALLER_COMM={entry.get('HOSTMEND_CALLER_COMM')}")
        if not re.fullmatch(r"[1-9][0-9]*", entry.get("HOSTMEND_CALLER_PID", "")):
            print(f"fault: HOSTMEND_CALLER_PID={entry.get('HOSTMEND_CALLER_PID')}")
        run_ids.add(entry.get("HOSTMEND_RUN_ID"))
    if len(run_ids) != 1 or not re.fullmatch(r"[0-9a-f]{12}4[0-9a-f]{19}", next(iter(run_ids))):
        print(f"fault: run ids {sorted(map(str, run_ids))}")


if __name__ == "__main__":
    main(*sys.argv[1:])
