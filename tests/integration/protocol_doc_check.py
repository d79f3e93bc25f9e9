#!/usr/bin/env python3
"""Checks docs/PROTOCOL.md's table of constants against the headers: every
value shown is the header's, and every constant of the protocol's own
headers is shown. Usage: protocol_doc_check.py SOURCE_DIR"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
listed = {}  # name: (value, header)
for line in (root / "docs/PROTOCOL.md").read_text(encoding="utf-8").splitlines():
    m = re.match(r"\| `(k\w+)` \| `([^`]+)` \| `([^`]+)` \|", line)
    if m:
        listed[m[1]] = (int(m[2], 0), m[3])

DEFINITION = re.compile(r"constexpr\s+[\w:]+\s+(k\w+)\s*=\s*([^;]+);")
values, where = {}, {}
for header in {h for _, h in listed.values()} | {"serial/handshake.h",
                                                 "serial/identity_layout.h",
                                                 "serial/device_commands.h"}:
    for name, expr in DEFINITION.findall((root / header).read_text(encoding="utf-8")):
        values[name] = eval(expr, {}, dict(values))  # a literal or earlier constants
        where[name] = header

wrong = []
for name, (value, header) in listed.items():
    if where.get(name) != header:
        wrong.append(f"{name}: not defined in {header}")
    elif values[name] != value:
        wrong.append(f"{name}: the document says {value:#x}, {header} {values[name]:#x}")
for name, header in where.items():
    if header in ("serial/handshake.h", "serial/identity_layout.h",
                  "serial/device_commands.h") and name not in listed:
        wrong.append(f"{name} ({header}) is missing from the document's constants")
if wrong:
    print("\n".join(wrong))
sys.exit(1 if wrong or len(listed) < 10 else 0)
