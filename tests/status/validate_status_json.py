#!/usr/bin/env python3
"""Validates the JSON the status program printed in its end-to-end cases
(C:\\status-json of the wine prefix, written by status_e2e_test.cpp) against the schemas in docs/,
with a real JSON Schema validator, and checks that each document with one
member planted with the wrong type fails it.

    validate_status_json.py DOCS_DIR CASES_DIR
"""
import copy
import json
import pathlib
import sys

from jsonschema import Draft202012Validator
from jsonschema.exceptions import best_match

# The states the cases must cover between them: every verdict the end-to-end
# tests can stage (unknown needs an install that cannot be read, or a check
# that does not answer, which wine does not stage).
REQUIRED_STATES = {"ready", "starting", "not ready", "not running", "not installed"}


def validator(docs, name):
    schema = json.loads((docs / f"{name}.schema.json").read_text(encoding="utf-8"))
    Draft202012Validator.check_schema(schema)
    return Draft202012Validator(schema)


def first_error(check, document):
    """The error to show: in the form the document has (the whole object, or
    the verdict alone when the looking did not end), not the top-level
    "valid under none of the forms"."""
    error = best_match(check.iter_errors(document))
    if error is None or not error.context:
        return error
    form = 0 if "time" in document else 1
    return best_match(e for e in error.context if e.schema_path and e.schema_path[0] == form) or error


def plant_wrong_type(document):
    """The document with its first integer member (depth first) made a string."""
    planted = copy.deepcopy(document)
    stack = [planted]
    while stack:
        node = stack.pop(0)
        items = node.items() if isinstance(node, dict) else enumerate(node)
        for key, value in items:
            if isinstance(value, int) and not isinstance(value, bool):
                node[key] = str(value)
                return planted
            if isinstance(value, (dict, list)):
                stack.append(value)
    raise AssertionError("no integer member to plant a mismatch in")


def main():
    docs, cases = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    report, history = validator(docs, "status-report"), validator(docs, "status-history")
    files = sorted(cases.glob("*.json"))
    failures, states, histories = [], set(), 0
    for path in files:
        text = path.read_text(encoding="utf-8")
        document = json.loads(text)
        check = history if "-history" in path.stem else report
        histories += check is history
        error = first_error(check, document)
        errors = [] if error is None else [f"{path.name}: {error.json_path}: {error.message[:300]}"]
        failures += errors
        if not errors and "verdict" in document and "time" in document and check is report:
            states.add(document["verdict"]["state"])
        if check.is_valid(plant_wrong_type(document)):
            failures.append(f"{path.name}: a member planted with the wrong type passed")
    missing = REQUIRED_STATES - states
    if missing:
        failures.append(f"no case reported {sorted(missing)} (cases: {[p.name for p in files]})")
    if histories == 0:
        failures.append("no --history case")
    for failure in failures:
        print(failure)
    print(f"{len(files)} documents, states {sorted(states)}, {histories} histories")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
