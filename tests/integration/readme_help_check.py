#!/usr/bin/env python3
"""Checks that every `$ kronex-update ... --help` sample in the README is
what the program prints in English: a sample that drifted from the program
fails. Usage: readme_help_check.py KRONEX_UPDATE README.md"""
import pathlib
import subprocess
import sys

program, readme = sys.argv[1], pathlib.Path(sys.argv[2])
samples = []  # (arguments, the lines the README shows)
fenced = False
for line in readme.read_text(encoding="utf-8").splitlines():
    if line.startswith("```"):
        fenced = not fenced
        current = None
        continue
    if not fenced:
        continue
    if line.startswith("$ "):
        words = line[2:].split()
        current = None
        if words[:1] == ["kronex-update"] and "--help" in words:
            current = (words[1:], [])
            samples.append(current)
    elif current is not None:
        current[1].append(line)

wrong = 0
for args, shown in samples:
    real = subprocess.run([program, *args, "--lang", "en"], capture_output=True, text=True,
                          check=False).stdout
    if real.rstrip("\n").split("\n") != "\n".join(shown).rstrip("\n").split("\n"):
        wrong += 1
        print(f"README's `kronex-update {' '.join(args)}` differs from the program's; it prints:")
        print(real)
if len(samples) < 2:
    print(f"README shows {len(samples)} --help samples; expected the program's and update's")
    wrong += 1
sys.exit(1 if wrong else 0)
