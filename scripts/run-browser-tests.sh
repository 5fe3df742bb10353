#!/usr/bin/env bash
# The dashboard's browser test (make test-browser): builds the host, the
# plugin and the dashboard, installs playwright-core exactly as
# tests/browser/package-lock.json pins it (npm ci; it downloads no browser),
# and drives Debian's Chromium (/usr/bin/chromium) headless through a whole
# match. Screenshots go to BUILD/dashboard.png; DASHBOARD_SCREENSHOT=PATH
# copies the end-of-game one there too (docs/dashboard.png for the README).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD:-build/default}
cmake --preset default >/dev/null
cmake --build --preset default --target host_program tav_gameflow dashboard_ui

(cd tests/browser && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --ignore-scripts --loglevel=error)
BUILD=$build node --test tests/browser/
