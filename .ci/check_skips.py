#!/usr/bin/env python3
"""Counts the tests a ctest run skipped and fails on a skip CI does not allow.

    check_skips.py --preset NAME [--allowed FILE] RESULTS.xml

RESULTS.xml is the JUnit file ctest wrote (the test presets' outputJUnitFile).
A GoogleTest test that calls GTEST_SKIP(), and a test that exits with its
SKIP_RETURN_CODE, is "notrun" there. Each skip must match a line of the allow
list (.ci/allowed-skips) for this test preset; any other skip means CI lost a
check it is expected to make, and the exit code is 1. Exit code 2: the results
are missing or unreadable.
"""

import argparse
import fnmatch
import os
import sys
import xml.etree.ElementTree as ET


def read_allowed(path, preset):
    """The name patterns allowed to skip in this preset, with their reasons."""
    allowed = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            fields = line.split(None, 2)
            if len(fields) < 3:
                sys.exit(f"{path}:{number}: expected <preset> <test name> <why>")
            if fields[0] == preset:
                allowed.append((fields[1], fields[2]))
    return allowed


def skip_reason(case):
    """GoogleTest's message after "Skipped", or what ctest says."""
    out = (case.findtext("system-out") or "").splitlines()
    for i, line in enumerate(out):
        if line.endswith(": Skipped") and i + 1 < len(out) and out[i + 1].strip():
            return out[i + 1].strip()
    skipped = case.find("skipped")
    return skipped.get("message", "") if skipped is not None else ""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--preset", required=True)
    parser.add_argument(
        "--allowed", default=os.path.join(os.path.dirname(__file__), "allowed-skips"))
    parser.add_argument("results")
    args = parser.parse_args()

    try:
        cases = ET.parse(args.results).getroot().iter("testcase")
    except (OSError, ET.ParseError) as e:
        print(f"{args.preset}: no test results to count skips in: {e}")
        return 2
    allowed = read_allowed(args.allowed, args.preset)

    total, skipped, refused = 0, [], 0
    for case in cases:
        total += 1
        if case.get("status") != "notrun":
            continue
        name = case.get("name", "")
        why = next((why for pattern, why in allowed if fnmatch.fnmatchcase(name, pattern)), None)
        skipped.append((name, skip_reason(case), why))
        refused += why is None

    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    listed = os.path.relpath(args.allowed, repo)
    print(f"{args.preset}: {total} tests, {len(skipped)} skipped" +
          (f", {refused} of them not in {listed}" if refused else ""))
    for name, reason, why in skipped:
        verdict = f"allowed: {why}" if why is not None else "NOT ALLOWED"
        print(f"  skipped {name} ({reason}) -- {verdict}")
    if refused:
        print(f"A test CI is expected to run was skipped: make it run on CI's machine, or list it "
              f"in {listed} with the reason.")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
