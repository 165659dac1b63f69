#!/usr/bin/env python3
"""Checks that a program's manual page still says what its --help says.

Usage: page_matches_help.py PROGRAM PAGE

The page is rendered as a reader sees it (man, wide, no pager, overstrikes
removed). help2man reflows paragraphs and moves the usage line under
SYNOPSIS, so each non-blank help line is compared as a word sequence: its
words must appear, in order and adjacent, in the words of the page. Exits 0
when they all do, 1 when not, 77 (skipped) where help2man or man is absent.
"""

import os
import re
import shutil
import subprocess
import sys

SKIP = 77


def help_lines(program):
    run = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=30)
    if run.returncode != 0:
        sys.exit(f"{program} --help exited with {run.returncode}")
    lines = []
    for line in words_by_line(run.stdout):
        # help2man makes the usage line the SYNOPSIS and a paragraph of its
        # own named "Options:" (and the like) a section heading.
        line = re.sub(r"^Usage: ", "", line)
        line = re.sub(r"^(Options|Environment|Files|Examples):$", lambda m: m[1].upper(), line)
        lines.append(line)
    return lines


def words_by_line(text):
    # help2man joins a word hyphenated across two lines ("sub-\nclasses").
    text = re.sub(r"([A-Za-z])-\n *([A-Za-z]\S*) ?", r"\1\2\n", text)
    return [" ".join(line.split()) for line in text.splitlines() if line.strip()]


def rendered(page):
    env = dict(os.environ, MANWIDTH="200", MANPAGER="cat", PAGER="cat", LC_ALL="C.UTF-8")
    # No hyphenation of its own, so every hyphen on the page is the help's.
    man = subprocess.run(["man", "--nh", "--nj", "-l", page], capture_output=True, env=env,
                         timeout=30)
    if man.returncode != 0:
        sys.exit(f"man -l {page} failed: {man.stderr.decode(errors='replace')}")
    col = subprocess.run(["col", "-b"], input=man.stdout, capture_output=True, timeout=30)
    return " ".join(col.stdout.decode("utf-8", errors="replace").split())


def main():
    program, page = sys.argv[1], sys.argv[2]
    if not (shutil.which("help2man") and shutil.which("man") and shutil.which("col")):
        print("help2man, man or col is missing: no page to check")
        return SKIP
    if not os.path.exists(page):
        print(f"{page} is missing: build (and configure once help2man is installed)")
        return 1
    text = rendered(page)
    missing = [line for line in help_lines(program) if line not in text]
    for line in missing:
        print(f"not in {os.path.basename(page)}: {line}")
    if missing:
        print(f"the page does not say what {program} --help says: build again")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
