#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Every source file of the tree (C and C++, CMake, shell and Python) carries the SPDX line of VELD's
licence at its top.

    check_spdx.py SOURCE_DIR          lists the files without it; status 1 when there is one
    check_spdx.py SOURCE_DIR --fix    adds it (after a #! line) to those files
"""
import subprocess, sys, os
root = sys.argv[1]
fix = "--fix" in sys.argv[2:]
missing = []
files = subprocess.run(["git", "-C", root, "ls-files"], capture_output=True, text=True, check=True).stdout.split()
TAG = "SPDX-License-Identifier: GPL-3.0-or-later"
slash = (".c", ".h", ".cpp", ".hpp")
hashes = (".py", ".sh", ".cmake", ".txt")
changed = 0
for f in files:
    p = os.path.join(root, f)
    base = os.path.basename(f)
    if f.startswith(("examples/", "docs/")) or base == "LICENSE":
        continue
    if f.endswith(slash):
        line = "// " + TAG + "\n"
    elif f.endswith(hashes) and (base == "CMakeLists.txt" or not f.endswith(".txt")):
        line = "# " + TAG + "\n"
    elif f.startswith(".ci/") or f == ".ci/run":
        line = "# " + TAG + "\n"
    else:
        continue
    try:
        s = open(p, encoding="utf-8").read()
    except (UnicodeDecodeError, FileNotFoundError):
        continue
    if TAG in s[:400]:
        continue
    missing.append(f)
    if not fix:
        continue
    lines = s.splitlines(keepends=True)
    at = 0
    if lines and lines[0].startswith("#!"):
        at = 1
        if len(lines) > 1 and "coding" in lines[1]:
            at = 2
    lines.insert(at, line)
    open(p, "w", encoding="utf-8").write("".join(lines))
    changed += 1
if fix:
    print("files given the SPDX line:", changed)
elif missing:
    print("These source files lack the line '%s':" % TAG)
    for f in missing:
        print("  " + f)
    print("Add it with: python3 tests/package/check_spdx.py . --fix")
    sys.exit(1)
else:
    print("every source file carries the SPDX line")
