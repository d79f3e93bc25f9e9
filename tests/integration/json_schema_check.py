#!/usr/bin/env python3
"""Checks kronex-update's JSON on standard input against docs/schema: one
document, or one per line (--loop). Prints what is wrong and exits 1."""
import json
import pathlib
import sys

import jsonschema

schemas = pathlib.Path(sys.argv[1])
text = sys.stdin.read()
try:
    documents = [json.loads(text)]
except json.JSONDecodeError:
    documents = [json.loads(line) for line in text.splitlines() if line.strip()]
for doc in documents:
    name = "error" if "error" in doc else doc["command"]
    schema = json.loads((schemas / f"kronex-update-{name}.schema.json").read_text())
    try:
        jsonschema.validate(doc, schema)
    except jsonschema.ValidationError as e:
        print(f"{name}: {e.message} at {list(e.absolute_path)}")
        sys.exit(1)
