#!/usr/bin/env python3
"""Keeps a program's --help and its manual page in step: every option one of
them names, the other names too, and so does every command of the help's
"Commands:" section and the manual's COMMANDS section.

    help-matches-manual.py PROGRAM MANUAL-SOURCE
"""
import os
import re
import subprocess
import sys

# An option: one dash and a letter, or two dashes and a word; not the middle
# of a hyphenated word or a range such as 8000h-807Fh.
OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][A-Za-z0-9]*(?:-[A-Za-z0-9]+)*)")


def options_in(lines, program):
    """The options named in lines, leaving out the lines that run another
    program (an example such as "varnel-cli -p PORT info" in the simulator's
    text names varnel-cli's options, not its own)."""
    found = set()
    for line in lines:
        words = line.split()
        if (len(words) > 1 and re.fullmatch(r"[a-z][\w.-]*", words[0]) and words[0] != program
                and words[1].startswith("-")):
            continue
        found.update(OPTION.findall(line))
    return found


def manual_text(source):
    """The manual's words with the formatting taken out, line by line."""
    lines = []
    for line in source.splitlines():
        if line.startswith(('.\\"', "'\\\"")):
            continue  # comments
        line = re.sub(r"\\f(?:\[[^]]*\]|\(..|.)", "", line)  # font changes
        line = line.replace("\\-", "-").replace("\\&", "").replace("\\e", "\\")
        lines.append(line)
    return lines


def help_commands(text):
    """The words that begin the lines of the "Commands:" section."""
    section = re.search(r"^Commands:\n(.*?)(?:^\S|\Z)", text, re.M | re.S)
    if not section:
        return set()
    return set(re.findall(r"^  ([a-z][a-z-]*)\b", section.group(1), re.M))


def manual_commands(lines):
    """The first word after each .TP of the COMMANDS section, outside .RS/.RE."""
    commands, inside, depth = set(), False, 0
    for i, line in enumerate(lines):
        if line.startswith(".SH"):
            inside = line.split(None, 1)[1:] == ["COMMANDS"]
            continue
        if not inside:
            continue
        if line.startswith(".RS"):
            depth += 1
        elif line.startswith(".RE"):
            depth -= 1
        elif line.startswith(".TP") and depth == 0 and i + 1 < len(lines):
            words = re.sub(r"^\.\w+\s*", "", lines[i + 1]).replace('"', " ").split()
            if words:
                commands.add(words[0])
    return commands


def main():
    program, manual = sys.argv[1], sys.argv[2]
    help_text = subprocess.run([program, "--help"], check=True, capture_output=True,
                               text=True).stdout
    with open(manual, encoding="utf-8") as f:
        lines = manual_text(f.read())
    name = os.path.basename(program)
    manual_options = options_in([l for l in lines if not l.startswith(".TH")], name)
    help_options = options_in(help_text.splitlines(), name)

    faults = []
    for name in sorted(help_options - manual_options):
        faults.append(f"{name}: in --help, not in the manual")
    for name in sorted(manual_options - help_options):
        faults.append(f"{name}: in the manual, not in --help")
    wanted = help_commands(help_text)
    found = manual_commands(lines)
    for name in sorted(wanted - found):
        faults.append(f"command {name}: in --help, not in the manual's COMMANDS")
    for name in sorted(found - wanted):
        faults.append(f"command {name}: in the manual's COMMANDS, not in --help")
    if not help_options:
        faults.append("--help names no option")
    for fault in faults:
        print(f"{manual}: {fault}", file=sys.stderr)
    if faults:
        return 1
    print(f"{len(help_options)} options and {len(wanted)} commands in both --help and {manual}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
