#!/usr/bin/env python3
"""Writes the quelt-cli(1) manual page from the program's own --help texts, so the two
cannot say different things.

Usage: make_manpage.py QUELT_CLI OUTPUT"""
import re
import subprocess
import sys


def help_of(program, *args):
    return subprocess.run([program, *args, "--help"], check=True, capture_output=True,
                          text=True).stdout


def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    # A line that begins with a dot or quote would be read as a request.
    return "\\&" + text if text[:1] in (".", "'") else text


EXAMPLES = [
    ("Write an archive of a folder to a pipe, as a stream:",
     "quelt-cli add -r - photos | ssh host 'cat > photos.zip'"),
    ("Add what a program writes as one entry:",
     "pg_dump db | quelt-cli add backup.zip - --stdin-name db.sql"),
    ("Extract an archive that arrives on standard input:",
     "curl -s https://example.org/a.zip | quelt-cli extract - -d out"),
    ("Write one entry's bytes to standard output:",
     "quelt-cli extract a.zip -p notes.txt | sha256sum"),
    ("Split into 100 MiB volumes named as zip -s names them (set.z01, ..., set.zip):",
     "quelt-cli add -r --split 100m --split-names z01 set.zip data"),
]

OPTION = re.compile(r"^ {2,6}(-\S.*?)(?: {2,}(\S.*))?$")
CONTINUED = re.compile(r"^ {8,}(\S.*)$")


def body(lines):
    """Option lines become tagged paragraphs, the rest plain paragraphs."""
    out = []
    for line in lines:
        option, continued = OPTION.match(line), CONTINUED.match(line)
        if option:
            out += [".TP", "\\fB" + roff(option.group(1)) + "\\fR"]
            if option.group(2):
                out.append(roff(option.group(2)))
        elif continued and out:
            out.append(roff(continued.group(1)))
        elif not line.strip():
            out.append(".PP")
        elif line.startswith("  ") and re.match(r"^  \S+ {2,}", line):
            # "  0    success": a table of words and meanings.
            word, meaning = re.split(r" {2,}", line.strip(), maxsplit=1)
            out += [".TP", "\\fB" + roff(word) + "\\fR", roff(meaning)]
        else:
            out.append(roff(line.strip()))
    return out


def main():
    program, output = sys.argv[1], sys.argv[2]
    version = subprocess.run([program, "--version"], check=True, capture_output=True,
                             text=True).stdout.splitlines()[0]
    general = help_of(program).splitlines()
    commands = []
    at = general.index("Commands:") + 1
    while general[at].strip():
        name, summary = general[at].split(None, 1)
        commands.append((name, summary))
        at += 1
    rest = general[at + 1:]
    status_at = rest.index("Exit status:")

    page = [f'.TH QUELT\\-CLI 1 "" "{roff(version)}" "User Commands"', ".SH NAME",
            "quelt\\-cli \\- list, extract, test and write ZIP archives", ".SH SYNOPSIS",
            "\\fBquelt\\-cli\\fR \\fICOMMAND\\fR [\\fIOPTIONS\\fR] \\fIARCHIVE\\fR [\\fIARGS\\fR...]",
            ".SH DESCRIPTION"]
    page += body(general[1:2]) + [".PP"] + body(rest[:status_at])
    page.append(".SH COMMANDS")
    for name, summary in commands:
        text = help_of(program, name).splitlines()
        page += [".SS " + roff(name), roff(summary[0].upper() + summary[1:]) + ".", ".PP",
                 "\\fB" + roff(text[0].removeprefix("Usage: ")) + "\\fR", ".PP"]
        page += body(text[1:])
    page += [".SH EXIT STATUS"] + body(rest[status_at + 1:])
    page.append(".SH EXAMPLES")
    for text, command in EXAMPLES:
        page += [".PP", roff(text), ".RS", ".nf", roff(command), ".fi", ".RE"]
    page += [".SH SEE ALSO", "The user manual of Quelt, installed beside the program."]
    with open(output, "w", encoding="utf-8") as f:
        f.write("\n".join(page) + "\n")


main()
