#!/usr/bin/env python3
"""kronex-update in Portuguese, end to end: every command's --help, each
usage error, a whole update of several units (one refusing a block, one port
leading nowhere) with its question and bars on a terminal, a declined
update, info, verify and restore, against kronex-devsim units. Any English
word in what the technician reads fails, naming the line: the English words
are those of the catalogue's English texts that none of its Portuguese ones
uses, CLI11's own, less a few that are names in either language.

usage: cli_portuguese_check.py KRONEX_UPDATE KRONEX_DEVSIM PO_FILE"""
import json
import os
import pathlib
import pty
import re
import select
import signal
import subprocess
import sys
import tempfile

update_exe, devsim_exe, po_file = sys.argv[1:4]

# Names that read the same in both languages.
ALLOWED = {
    "com", "kb", "kib", "bit", "s", "ms", "kronex", "json", "usb", "pc", "utc",
    "ports", "info", "update", "verify", "restore", "pt_br", "en", "ctrl", "f2",
    "read", "write", "erase", "run", "data", "t0", "t1", "dialout", "sudo", "usermod",
}
# CLI11's own words, which never pass through the catalogue.
CLI11 = {
    "usage", "options", "subcommands", "subcommand", "required", "requires",
    "excludes", "needs", "text", "port", "value", "following", "argument",
    "arguments", "expected", "missing", "convert", "could", "allowed", "received",
    "least", "most", "exactly", "was", "were", "not", "is", "the", "at", "or",
    "and", "of", "positionals",
}


def po_texts(path):
    """The catalogue's English texts and its Portuguese ones."""
    english, portuguese = [], []
    current = None
    for line in pathlib.Path(path).read_text(encoding="utf-8").splitlines():
        m = re.match(r'^(msgid|msgid_plural|msgstr(?:\[\d\])?) (".*")$', line)
        if m:
            current = english if m.group(1).startswith("msgid") else portuguese
            current.append(json.loads(m.group(2)))
        elif line.startswith('"') and current is not None:
            current[-1] += json.loads(line)
        else:
            current = None
    return english, portuguese


def words(text):
    """Its words, lower case, without options, placeholders or anything with
    a digit in it (addresses, serial numbers, ports)."""
    text = re.sub(r"--?[\w-]+|\{\d\}|kronex-update|\\x[0-9A-F]{2}", " ", text)
    return {w.lower() for w in re.findall(r"[^\W_]+", text) if not re.search(r"\d", w)}


english_texts, portuguese_texts = po_texts(po_file)
pt_words = set().union(*map(words, portuguese_texts))
ENGLISH = (set().union(*map(words, english_texts)) | CLI11) - pt_words - ALLOWED

state = pathlib.Path(tempfile.mkdtemp(prefix="kronex-pt-"))
devices = state / "kronex" / "dosdevices"
devices.mkdir(parents=True)
# Every COM port leads nowhere but those a unit is put on: nothing of this
# machine's own is probed.
for n in range(1, 17):
    (devices / f"com{n}").symlink_to(state / "unplugged")
# COM10 leads to a folder: not a serial port.
(devices / "com10").unlink()
(devices / "com10").symlink_to(state)
env = dict(os.environ, XDG_STATE_HOME=str(state), LANG="C", LC_ALL="", LC_MESSAGES="")

units = {}


def unit(com, *options):
    (devices / f"com{com}").unlink()
    p = subprocess.Popen([devsim_exe, "--com", str(com), "--print-path", *options],
                         stdout=subprocess.PIPE, env=env, text=True)
    p.stdout.readline()
    units[com] = p


def unplug(com):
    units.pop(com).send_signal(signal.SIGTERM)


def run(args, answer=None, ctrl_c_after=None):
    """Standard output and error together; with `answer`, standard input and
    error are a terminal where it is typed; with `ctrl_c_after`, Ctrl-C ends
    it after that many seconds (a loop)."""
    command = [update_exe, "--lang", "pt_BR", *args.split()]
    if ctrl_c_after is not None:
        p = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            return p.communicate(timeout=ctrl_c_after)[0]
        except subprocess.TimeoutExpired:
            p.send_signal(signal.SIGINT)
            return p.communicate(timeout=60)[0]
    if answer is None:
        r = subprocess.run(command, env=env, stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=120)
        return r.stdout + r.stderr
    master, slave = pty.openpty()
    p = subprocess.Popen(command, env=env, stdin=slave, stderr=slave,
                         stdout=subprocess.PIPE)
    os.close(slave)
    os.write(master, answer.encode())
    seen = b""
    while True:
        ready, _, _ = select.select([master], [], [], 120)
        if not ready:
            break
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
    out = p.stdout.read()
    p.wait()
    os.close(master)
    return (out + seen).decode("utf-8", "replace")


release = json.loads(subprocess.run([update_exe, "--version", "--json"],
                                    capture_output=True, text=True, env=env).stdout)["release"]


def readable(text):
    """What the technician reads, less what is not the program's own words:
    the release's own caption, paths, the system's error texts, the
    terminal's escapes."""
    text = text.replace(release["caption"], " ").replace(str(state), " ")
    text = re.sub(r"\x1b\[[0-9;]*[A-Za-z]", "\n", text)
    for n in range(1, 134):
        text = text.replace(os.strerror(n), " ")
    text = re.sub(r"/[\w/.+-]*", " ", text)
    return text


faults = []
ran = 0


def check(args, answer=None, ctrl_c_after=None):
    global ran
    ran += 1
    out = readable(run(args, answer, ctrl_c_after))
    for line in out.replace("\r", "\n").splitlines():
        found = sorted(words(line) & ENGLISH)
        if found:
            faults.append(f"kronex-update {args}: {', '.join(found)}: {line.strip()}")


try:
    for command in ["", "ports ", "info ", "update ", "verify ", "restore "]:
        check(command + "--help")
    for args in ["", "--lang-x", "frob", "ports info", "update --port 0x0c --yes",
                 "update --port", "update --port --yes", "update --loop",
                 "update --all --port 3", "update --yes=talvez", "update --log a --log b",
                 "update --dump-dir -y", "restore", "restore --record",
                 "update --yes --port 3 --dump-dir " + str(pathlib.Path(po_file)),
                 "restore --record " + str(state / "nothing.record") + " --yes"]:
        check(args)

    unit(3)
    unit(4, "--serial", "290A1BC3")
    unit(5, "--nak-at", "150")
    check("ports")
    check("info --port 3")
    check("info --port 9")
    check("info --port 10")
    check("update --port 3", "n\n")  # declined
    check("update --port 3 --port 4 --port 5 --port 9", "s\n")
    check("verify --port 3")
    check("verify --port 5")
    check("update --port 3 --yes --skip-current")
    check("update --port 3 --port 4 --yes --quiet")
    check("restore --record " + str(state) + " --port 3 --yes")
    # A production line: one unit refuses a block, another is updated.
    unit(6, "--serial", "290A1BC6", "--nak-at", "150")
    unit(7, "--serial", "290A1BC7")
    check("update --loop --yes --port 6 --port 7", ctrl_c_after=6)
finally:
    for com in list(units):
        unplug(com)
    subprocess.run(["rm", "-rf", str(state)])

for f in faults:
    print(f)
print(f"{ran} runs, {len(faults)} lines with English words")
sys.exit(1 if faults or ran == 0 else 0)
