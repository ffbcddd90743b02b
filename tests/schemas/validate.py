#!/usr/bin/python3
"""Checks the tools' JSON results against the schemas in schemas/.

  validate.py output TOOL WORD FILE   FILE holds the standard output of `TOOL WORD`
  validate.py recorded DIR            the runs the end-to-end harness recorded in DIR/*.jsonl
  validate.py rows                    the table below of shapes each schema accepts or refuses

Output that is no JSON result (--help, the disk report sweepmend --check passes through)
has no schema and is not checked.
"""

import json
import pathlib
import sys

import jsonschema

SCHEMAS = pathlib.Path(__file__).resolve().parents[2] / "schemas"

# The schema of each command word's standard output.
SCHEMA_OF = {
    ("coremend", "--check"): "service-report",
    ("coremend", "--repair"): "service-report",
    ("dbmend", "--check"): "service-report",
    ("dbmend", "--repair"): "service-report",
    ("webmend", "--restart-web-hosting"): "service-reports",
    ("sweepmend", "--repair"): "cleanup-report",
}

REPORT = '{"message":"","name":"nginx","status":"running"}'
FAILED = '{"message":"A\\n\\nFinished with exit code 3","name":"nginx","status":"stopped"}'

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
    """Checks (what, tool, word, out) tuples; prints each failure; returns their count."""
    checks = validators()
    failures = 0
    counts = {}
    for what, tool, word, out in runs:
        schema = SCHEMA_OF.get((tool, word))
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
        tool, word, path = argv[2:]
        if (tool, word) not in SCHEMA_OF:
            return True  # no JSON result, nothing to say
        return check_runs([(path, tool, word, pathlib.Path(path).read_text())]) == 0
    if argv[1:2] == ["recorded"] and len(argv) == 3:
        runs = []
        for path in sorted(pathlib.Path(argv[2]).glob("*.jsonl")):
            for line in path.read_text().splitlines():
                run = json.loads(line)
                runs.append((run["test"], run["tool"], run["word"], run["out"]))
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
