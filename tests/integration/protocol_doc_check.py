#!/usr/bin/env python3
"""Checks docs/PROTOCOL.md's table of constants against the headers: every
value shown is the header's, and every constant of the protocol's own
headers is shown. Usage: protocol_doc_check.py SOURCE_DIR"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
doc = (root / "docs/PROTOCOL.md").read_text(encoding="utf-8")
listed = {m[0]: (int(m[1], 0), m[2])
          for m in re.findall(r"^\| `(k\w+)` \| `([^`]+)` \| `([^`]+)` \|", doc, re.M)}
own = {"serial/handshake.h", "serial/identity_layout.h", "serial/frame_codec.h",
       "serial/device_commands.h"}
pending = [(name, expr, header) for header in sorted(own | {h for _, h in listed.values()})
           for name, expr in re.findall(r"constexpr\s+[\w:]+\s+(k\w+)\s*=\s*([^;]+);",
                                        (root / header).read_text(encoding="utf-8"))]
values, where = {}, {}
while pending:  # literals first, then values built from names already known
    left = []
    for name, expr, header in pending:
        try:
            values[name], where[name] = eval(expr, {}, dict(values)), header
        except NameError:
            left.append((name, expr, header))
    if len(left) == len(pending):
        sys.exit(f"cannot work out {', '.join(n for n, _, _ in left)}")
    pending = left

wrong = [f"{n}: the document says {v} in {h}, the code {values.get(n)} in {where.get(n)}"
         for n, (v, h) in listed.items() if (values.get(n), where.get(n)) != (v, h)]
wrong += [f"{n} ({h}) is missing from the document" for n, h in where.items()
          if h in own and n not in listed]
if wrong:
    print("\n".join(wrong))
sys.exit(1 if wrong or len(listed) < 10 else 0)
