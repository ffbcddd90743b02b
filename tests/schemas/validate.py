#!/usr/bin/python3
"""Checks the tools' JSON results against the schemas in schemas/.

  validate.py output TOOL WORDS FILE  FILE holds the standard output of `TOOL WORDS`, the
                                      arguments given as one string, joined by blanks
  validate.py recorded DIR            the runs the end-to-end harness recorded in DIR/*.jsonl
  validate.py rows                    the table below of shapes each schema accepts or refuses

Output that is no JSON result (--help, the disk report sweepmend --check passes through,
the table of hostmend status) has no schema and is not checked.
"""

import json
import pathlib
import sys

import jsonschema

SCHEMAS = pathlib.Path(__file__).resolve().parents[2] / "schemas"

# The schema of each command's standard output, by the tool and its first words.
SCHEMA_OF = {
    ("coremend", "--check"): "service-report",
    ("coremend", "--repair"): "service-report",
    ("dbmend", "--check"): "service-report",
    ("dbmend", "--repair"): "service-report",
    ("webmend", "--restart-web-hosting"): "service-reports",
    ("sweepmend", "--repair"): "cleanup-report",
    ("hostmend", "status --json"): "status",
    ("hostmend", "start"): "stack-reports",
}


def schema_for(tool, words):
    """The schema of `tool` run with `words` (a list), or None: the longest match wins."""
    for count in range(len(words), 0, -1):
        schema = SCHEMA_OF.get((tool, " ".join(words[:count])))
        if schema is not None:
            return schema
    return None

REPORT = '{"message":"","name":"nginx","status":"running"}'
FAILED = '{"message":"A\\n\\nFinished with exit code 3","name":"nginx","status":"stopped"}'

STATE = ('"ActiveEnterTimestamp":"Wed 2026-12-09 02:00:00 UTC","ActiveState":"failed",'
         '"InvocationID":"5f2a0c3e9d2b4c61a6f0e4b8d1c7a935","LoadState":"loaded","MainPID":0,'
         '"NRestarts":2,"SubState":"failed","UnitFileState":"enabled"')
ENGINE = '{' + STATE + ',"name":"tarnwick.service","role":"engine"}'
NGINX = '{' + STATE + ',"name":"nginx","role":"web server"}'
REFUSED = '{"name":"-H","refused":"systemctl would not read this name as a unit name","role":"php-fpm"}'
PID_TEXT = ENGINE.replace('"MainPID":0', '"MainPID":"0"')
NO_RESTARTS = ENGINE.replace(',"NRestarts":2', '')
OUTSIDE = '{"message":"Not started: not a unit of this server\'s hosting stack","name":"sshd","status":"stopped"}'

# schema, document, whether the schema accepts it, why.
ROWS = [
    ("service-report", REPORT, True, "a run that exited with 0"),
    ("service-report", FAILED, True, "a run that failed"),
    ("service-report", '{"message":"\\nFinished with exit code 9","name":"","status":"stopped"}',
     True, "a killed run, an empty unit name"),
    ("service-report", f"[{REPORT}]", False, "an array instead of one report"),
    ("service-report", '{"message":"","name":"nginx","status":"active"}', False,
     "a status that is not running or stopped"),
    ("service-report", '{"message":"","name":"nginx","status":"running","code":0}', False,
     "an extra member"),
    ("service-report", '{"message":"","name":"nginx","status":"stopped"}', False,
     "stopped without the exit code"),
    ("service-report", '{"message":"Not restarted: systemctl would not read this name as a unit '
     'name","name":"-H","status":"stopped"}', True, "a name not passed to systemctl"),
    ("service-report", '{"message":"Not restarted: systemctl would not read this name as a unit '
     'name","name":"*","status":"running"}', False, "a name not passed to systemctl, running"),
    ("service-report", '{"message":"\\nFinished with exit code 3","name":"nginx","status":"running"}',
     False, "running after a failed action"),
    ("service-reports", f"[{REPORT},{FAILED}]", True, "two reports"),
    ("service-reports", f"[{REPORT}]", False, "fewer than the two web servers"),
    ("service-reports", f'[{REPORT},{{"name":"apache2","status":"running"}}]', False,
     "a report without a message"),
    ("status", f'{{"problems":[],"units":[{ENGINE},{NGINX},{NGINX}]}}', True, "units shown"),
    ("status", f'{{"problems":["Refused PHP-FPM unit name: -H"],"units":[{ENGINE},{REFUSED},'
     f'{NGINX},{NGINX}]}}', True, "a refused name and its problem"),
    ("status", f'{{"problems":[],"units":[{ENGINE},{NGINX}]}}', False, "fewer than three units"),
    ("status", f'{{"units":[{ENGINE},{NGINX},{NGINX}]}}', False, "no problems member"),
    ("status", f'{{"problems":[],"units":[{PID_TEXT},{NGINX},{NGINX}]}}', False,
     "MainPID as a string"),
    ("status", f'{{"problems":[],"units":[{NO_RESTARTS},{NGINX},{NGINX}]}}', False,
     "a property missing"),
    ("status", f'{{"problems":[],"units":[{ENGINE},{REFUSED.replace("php-fpm", "engine")},'
     f'{NGINX}]}}', False, "a refused unit that is no PHP-FPM service"),
    ("status", f'{{"problems":[],"units":[{ENGINE[:-1]},"refused":"x"}},{NGINX},{NGINX}]}}', False,
     "a unit both shown and refused"),
    ("stack-reports", f"[{REPORT}]", True, "one unit started"),
    ("stack-reports", f"[{OUTSIDE},{FAILED}]", True, "a unit outside the stack, a failed start"),
    ("stack-reports", "[]", False, "no report"),
    ("stack-reports", f'[{OUTSIDE.replace("stopped", "running")}]', False,
     "a unit outside the stack, running"),
    ("cleanup-report", "null", True, "nothing removed"),
    ("cleanup-report", '{"clean_paths":["/root/veltrosin/","/usr/local/ovk/tmp/a.log",'
     '"/usr/local/ovk/tmp/sess/","/var/cache/veltrosin_installer/","/var/cache/apt/",'
     '"/var/cache/yum/"]}', True, "every location"),
    ("cleanup-report", '{"clean_paths":[]}', False, "an empty list instead of null"),
    ("cleanup-report", '["/var/cache/apt/"]', False, "a bare list"),
    ("cleanup-report", '{"clean_paths":["/var/cache/apt/","/var/cache/apt/"]}', False,
     "a path twice"),
    ("cleanup-report", '{"clean_paths":["/var/cache/apt"]}', False,
     "a directory without its trailing slash"),
    ("cleanup-report", '{"clean_paths":["/etc/passwd"]}', False, "a path outside the list"),
    ("cleanup-report", '{"clean_paths":["/usr/local/ovk/tmp/.keep"]}', False,
     "a hidden temporary entry"),
    ("cleanup-report", '{"clean_paths":["/usr/local/ovk/tmp/"]}', False,
     "the temporary directory itself"),
]


def validators():
    schemas = {path.name.removesuffix(".schema.json"): json.loads(path.read_text())
               for path in SCHEMAS.glob("*.schema.json")}
    # References between the schemas resolve here, never over the network.
    store = {schema["$id"]: schema for schema in schemas.values()}
    result = {}
    for name, schema in schemas.items():
        jsonschema.Draft202012Validator.check_schema(schema)
        resolver = jsonschema.RefResolver.from_schema(schema, store=store)
        result[name] = jsonschema.Draft202012Validator(schema, resolver=resolver)
    return result


def problem(validator, text):
    """Why `text` is not one document that the schema accepts, or None."""
    try:
        document = json.loads(text)
    except ValueError as error:
        return f"not one JSON document: {error}"
    error = jsonschema.exceptions.best_match(validator.iter_errors(document))
    return None if error is None else f"{error.message} (at {error.json_path})"


def check_runs(runs):
    """Checks (what, tool, words, out) tuples; prints each failure; returns their count."""
    checks = validators()
    failures = 0
    counts = {}
    for what, tool, words, out in runs:
        schema = schema_for(tool, words)
        word = " ".join(words)
        if schema is None:
            continue
        counts[schema] = counts.get(schema, 0) + 1
        why = problem(checks[schema], out)
        if why is not None:
            failures += 1
            print(f"FAIL {what}: {tool} {word}: {schema}: {why}\n     output: {out!r}")
    print(", ".join(f"{n} {schema}" for schema, n in sorted(counts.items())) or "no documents",
          f"checked, {failures} failed")
    return failures


def main(argv):
    if argv[1:2] == ["output"] and len(argv) == 5:
        tool, words, path = argv[2:]
        if schema_for(tool, words.split(" ")) is None:
            return True  # no JSON result, nothing to say
        return check_runs([(path, tool, words.split(" "), pathlib.Path(path).read_text())]) == 0
    if argv[1:2] == ["recorded"] and len(argv) == 3:
        runs = []
        for path in sorted(pathlib.Path(argv[2]).glob("*.jsonl")):
            for line in path.read_text().splitlines():
                run = json.loads(line)
                runs.append((run["test"], run["tool"], run["arguments"], run["out"]))
        return check_runs(runs) == 0
    if argv[1:] == ["rows"]:
        checks = validators()
        failures = 0
        for schema, text, accepted, why in ROWS:
            reason = problem(checks[schema], text)
            if (reason is None) != accepted:
                failures += 1
                print(f"FAIL {schema} {'accepts' if accepted else 'rejects'} {why}: {text}"
                      f" ({reason or 'accepted'})")
        print(f"{len(ROWS) - failures} of {len(ROWS)} rows hold")
        return failures == 0
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit({True: 0, False: 1}.get(main(sys.argv), 2))
