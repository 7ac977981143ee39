#!/usr/bin/env python3
"""Writes a program's manual page from its --help and --version.

    manpage.py PROGRAM SECTIONS CHANGELOG.md OUT

SECTIONS holds the parts --help has no room for, as "[NAME]", "[DESCRIPTION]",
"[FILES]", ... headings each followed by troff text. The page is NAME,
SYNOPSIS (the help's Usage line), DESCRIPTION (the SECTIONS text, then the
whole help: its paragraphs, its headings ending in ':' and its items, an
item being a line indented by two spaces whose description starts after a
gap of two or more spaces), then the other SECTIONS in their order. The
page's date is the date CHANGELOG.md gives the program's version, so the
same version makes the same page.
"""
import re
import subprocess
import sys


def escape(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def read_sections(path):
    sections, name = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            match = re.match(r"^\[([A-Z ]+)\]\s*$", line)
            if match:
                name = match[1]
                sections[name] = []
            elif name is not None:
                sections[name].append(line.rstrip("\n"))
    return {k: "\n".join(v).strip() for k, v in sections.items()}


def help_body(lines):
    """The help after its Usage line, as troff."""
    out, items, paragraph = [], [], []

    def flush_paragraph():
        if paragraph:
            out.extend([".PP", escape(" ".join(paragraph))])
            paragraph.clear()

    def flush_items():
        for tag, description in items:
            out.extend([".TP", "\\fB" + escape(" ".join(tag)) + "\\fR",
                        escape(" ".join(description))])
        items.clear()

    # Where descriptions start: a deeper line under an item goes on with its
    # description, a shallower one with its synopsis.
    columns = [m.end() for m in (re.match(r"^  \S.*?\s{2,}", l) for l in lines) if m]
    column = min(columns, default=0)
    for raw in lines:
        line = raw.rstrip()
        indent = len(line) - len(line.lstrip())
        if not line:
            flush_paragraph()
        elif indent == 0 and line.endswith(":"):
            flush_paragraph()
            flush_items()
            out.append(".SS " + escape(line[:-1]))
        elif indent == 0:
            flush_items()
            paragraph.append(line)
        elif indent == 2:
            flush_paragraph()
            parts = re.split(r"\s{2,}", line.strip(), maxsplit=1)
            items.append(([parts[0]], parts[1:]))
        elif items and column and indent >= column:
            items[-1][1].append(line.strip())
        elif items:
            # A long item's synopsis goes on under it; its description may
            # begin on the same line.
            parts = re.split(r"\s{2,}", line.strip(), maxsplit=1)
            items[-1][0].append(parts[0])
            items[-1][1].extend(parts[1:])
        else:
            paragraph.append(line.strip())
    flush_paragraph()
    flush_items()
    return out


def main():
    program, sections_path, changelog, out = sys.argv[1:5]
    env = {"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"}  # no display: --help must not need one
    help_text = subprocess.run([program, "--help"], capture_output=True, text=True, env=env,
                               check=True).stdout
    version_line = subprocess.run([program, "--version"], capture_output=True, text=True,
                                  env=env, check=True).stdout.strip()
    name, version = version_line.split()
    with open(changelog, encoding="utf-8") as f:
        dated = re.search(rf"^## {re.escape(version)} — (\d{{4}}-\d{{2}}-\d{{2}})", f.read(), re.M)
    if not dated:
        sys.exit(f"manpage.py: {changelog} has no section for version {version}")
    sections = read_sections(sections_path)
    lines = help_text.splitlines()
    usage = lines[0]
    if not usage.startswith(f"Usage: {name}"):
        sys.exit(f"manpage.py: {name} --help does not begin with its usage: {usage}")

    page = [f'.TH {name.upper()} 1 "{dated[1]}" "{escape(version_line)}" "User Commands"',
            ".SH NAME", sections.pop("NAME", escape(name)),
            ".SH SYNOPSIS", f".B {name}", escape(usage[len(f'Usage: {name}'):].strip()),
            ".SH DESCRIPTION"]
    if "DESCRIPTION" in sections:
        page.append(sections.pop("DESCRIPTION"))
    page.extend(help_body(lines[1:]))
    for title, text in sections.items():
        page.extend([f".SH {title}", text])
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(page) + "\n")


main()
