#!/usr/bin/env python3
"""Fails when a test of the build tree carries no label: `ctest -L AREA` would never run it.

usage: every_test_has_a_label.py CTEST BUILD_DIR
"""
import json, subprocess, sys

ctest, build = sys.argv[1], sys.argv[2]
listing = subprocess.run([ctest, "--test-dir", build, "-N", "--show-only=json-v1"], capture_output=True, text=True,
                         check=True)
tests = json.loads(listing.stdout)["tests"]
unlabelled = [t["name"] for t in tests
              if not any(p["name"] == "LABELS" and p["value"] for p in t.get("properties", []))]
for name in unlabelled:
    print("no label:", name)
print("%d tests, %d without a label" % (len(tests), len(unlabelled)))
sys.exit(1 if unlabelled or not tests else 0)
