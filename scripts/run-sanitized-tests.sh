#!/usr/bin/env bash
# Runs the test suite built under AddressSanitizer and UndefinedBehaviorSanitizer.
#
# LeakSanitizer checks for leaks at exit from a helper thread that stops the
# process; on some machines that helper itself crashes ("Tracer caught signal
# 11") after every test has passed, and the run reports a failure that says
# nothing about our code. It crashes while it reads the dynamic thread-local
# storage of the loaded plugin objects, whose bounds it sometimes records
# wrongly. Only such tests are run a second time, with thread-local storage
# left out of the roots of the leak search (LSAN_OPTIONS=use_tls=0): that can
# only report more leaks, never hide one. Any other failure fails the run at
# once.
set -uo pipefail
cd "$(dirname "$0")/.."

log=build/asan/Testing/sanitized-run.log
mkdir -p "$(dirname "$log")"
if ctest --preset asan 2>&1 | tee "$log"; then
  exit 0
fi

# The names of the failed tests, from the summary at the end of the log.
mapfile -t failed < <(sed -n '/The following tests FAILED:/,$p' "$log" |
  sed -n 's/^[[:space:]]*[0-9]\+ - \(.*\) (.*)$/\1/p')
if [ "${#failed[@]}" -eq 0 ]; then
  exit 1
fi
for name in "${failed[@]}"; do
  # The test's own output lies between its "Start" line and the next one.
  output=$(awk -v name="$name" '
    function starts(line) { return line ~ "Start +[0-9]+: " }
    function names(line, tail) {
      tail = ": " name
      return length(line) >= length(tail) && substr(line, length(line) - length(tail) + 1) == tail
    }
    starts($0) && names($0) { inside = 1; next }
    inside && starts($0) { exit }
    inside { print }' "$log")
  if ! grep -q 'Tracer caught signal' <<<"$output" ||
     ! grep -q '\[  PASSED  \]' <<<"$output"; then
    echo "run-sanitized-tests: $name failed on its own account; not running it again." >&2
    exit 1
  fi
done

echo "run-sanitized-tests: the leak checker's helper crashed after these tests passed;" \
  "running them once more: ${failed[*]}" >&2
regex=$(printf '^%s$|' "${failed[@]}" | sed 's/[.[\*+?(){}]/\\&/g; s/|$//')
LSAN_OPTIONS=use_tls=0 ctest --preset asan -R "$regex"
