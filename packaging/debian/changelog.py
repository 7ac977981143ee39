#!/usr/bin/env python3
"""Writes the Debian changelog of the package from CHANGELOG.md.

    changelog.py CHANGELOG.md VERSION MAINTAINER OUT

Each "## VERSION — YYYY-MM-DD" section becomes an entry; its bullets become
the entry's items, wrapped at 80 columns. VERSION must have a section: the
package says what changed in the version it carries.
"""
import datetime
import re
import sys
import textwrap


def sections(text):
    heading = re.compile(r"^## (\S+) — (\d{4}-\d{2}-\d{2})\s*$")
    current = None
    for line in text.splitlines():
        match = heading.match(line)
        if match:
            current = {"version": match[1], "date": match[2], "items": []}
            yield current
        elif current is not None:
            if line.startswith("- "):
                current["items"].append(line[2:].strip())
            elif line.startswith("  ") and current["items"]:
                current["items"][-1] += " " + line.strip()


def main():
    source, version, maintainer, out = sys.argv[1:5]
    with open(source, encoding="utf-8") as f:
        entries = list(sections(f.read()))
    if not any(e["version"] == version for e in entries):
        sys.exit(f"changelog.py: {source} has no section for version {version}")
    lines = []
    for entry in entries:
        lines.append(f"trellonhd ({entry['version']}) unstable; urgency=medium")
        lines.append("")
        for item in entry["items"] or ["No change for users."]:
            item = item.replace("`", "")
            lines.extend(textwrap.wrap(item, 76, initial_indent="  * ",
                                       subsequent_indent="    "))
        lines.append("")
        day = datetime.datetime.strptime(entry["date"], "%Y-%m-%d")
        stamp = day.strftime("%a, %d %b %Y 12:00:00 +0000")
        lines.append(f" -- {maintainer}  {stamp}")
        lines.append("")
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))


main()
