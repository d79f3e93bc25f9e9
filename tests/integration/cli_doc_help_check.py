#!/usr/bin/env python3
"""Checks that every `$ kronex-update ... --help` sample in the CLI reference
is what the program prints in English, and that the reference has a sample
for the program itself and for each command its --help lists: a sample that
drifted from the program, or a command without one, fails.
Usage: cli_doc_help_check.py KRONEX_UPDATE docs/CLI.md"""
import pathlib
import re
import subprocess
import sys

program, doc = sys.argv[1], pathlib.Path(sys.argv[2])


def help_of(args):
    return subprocess.run([program, *args, "--help", "--lang", "en"], capture_output=True,
                          text=True, check=False).stdout


def lines(text):
    return text.rstrip("\n").split("\n")


samples = {}  # the command's words before --help -> the lines the document shows
current = None
fenced = False
for line in doc.read_text(encoding="utf-8").splitlines():
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
            current = []
            samples[tuple(w for w in words[1:] if w != "--help")] = current
    elif current is not None:
        current.append(line)

wrong = 0
for args, shown in samples.items():
    real = help_of(args)
    if lines(real) != lines("\n".join(shown)):
        wrong += 1
        print(f"{doc.name}'s `kronex-update {' '.join(args)} --help` differs from the program's;"
              " it prints:")
        print(real)

# The commands the program lists under "Subcommands:" in its own --help.
commands = []
listed = False
for line in lines(help_of([])):
    if not line.startswith(" "):
        listed = line.startswith("Subcommands:")
    elif listed and (m := re.match(r"  (\S+)\s", line)):
        commands.append(m.group(1))
if not commands:
    print("the program's --help lists no commands under \"Subcommands:\"")
    wrong += 1
for args in [(), *((c,) for c in commands)]:
    if args not in samples:
        print(f"{doc.name} has no sample of `kronex-update {' '.join((*args, '--help'))}`")
        wrong += 1
sys.exit(1 if wrong else 0)
