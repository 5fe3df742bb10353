#!/usr/bin/env bash
# Runs clang-tidy, with the checks and naming rules of .clang-tidy, over the
# project's own sources: every file of the default preset's compile database
# (configured here if it is not yet), and the project headers they include.
# Several files are checked at once (run-clang-tidy, one per core; LINT_JOBS
# overrides). Prints each finding once, then counts by folder and by check, and
# fails when there is any finding.
#
#   scripts/lint.sh                      every folder
#   scripts/lint.sh binding platform     only sources under these folders
#   LINT_CHECKS='-clang-analyzer-*' scripts/lint.sh
#                                        a quicker pass without the static
#                                        analyzer (a third of the time)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="build/default"
folders=(abi bench binding diagnostics fuzz gameflow host hsm platform plugin routing tests tools)
if [ "$#" -gt 0 ]; then
  folders=("$@")
fi
if [ ! -f "$build/compile_commands.json" ]; then
  cmake --preset default >/dev/null
fi

joined="$(IFS='|'; echo "${folders[*]}")"
all="abi|bench|binding|diagnostics|fuzz|gameflow|host|hsm|platform|plugin|routing|tests|tools"
output="$(mktemp)"
trap 'rm -f "$output"' EXIT

# run-clang-tidy exits non-zero when a file fails to compile; the summary
# below reports that as an error finding.
checks=()
if [ -n "${LINT_CHECKS:-}" ]; then
  checks=(-checks="$LINT_CHECKS")
fi
# The compile commands are GCC's: clang does not know every warning option.
run-clang-tidy -p "$build" -j "${LINT_JOBS:-$(nproc)}" -quiet \
  -extra-arg=-Wno-unknown-warning-option "${checks[@]}" \
  -header-filter="^$root/($all)/" \
  "^$root/($joined)/" >"$output" 2>&1 || true

python3 - "$output" "$root" "$joined" <<'PYTHON'
import collections, re, sys

output, root, folders = sys.argv[1], sys.argv[2] + "/", sys.argv[3].split("|")
colour = re.compile(r"\x1b\[[0-9;]*m")
finding = re.compile(r"^(/[^:]+):(\d+):(\d+): (warning|error): (.*?)(?: \[([\w.,-]+)\])?$")
seen = set()
by_folder = collections.Counter()
by_check = collections.Counter()
with open(output, encoding="utf-8", errors="replace") as lines:
    for line in lines:
        match = finding.match(colour.sub("", line.rstrip("\n")))
        if not match or not match.group(1).startswith(root):
            continue
        path, row, column, severity, message, check = match.groups()
        relative = path[len(root):]
        folder = relative.split("/")[0]
        # A header's findings are counted under its own folder, and only for
        # the folders asked for.
        if folder not in folders:
            continue
        check = check or ("compile-error" if severity == "error" else "other")
        key = (relative, row, column, check)
        if key in seen:
            continue
        seen.add(key)
        print(f"{relative}:{row}:{column}: {severity}: {message} [{check}]")
        by_folder[folder] += 1
        by_check[(folder, check)] += 1

print()
print(f"{len(seen)} findings")
for folder, count in sorted(by_folder.items()):
    print(f"  {folder}: {count}")
    for (owner, check), number in sorted(by_check.items(), key=lambda item: -item[1]):
        if owner == folder:
            print(f"    {number:5d}  {check}")
sys.exit(1 if seen else 0)
PYTHON
