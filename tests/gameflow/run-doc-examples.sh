#!/bin/sh
# Runs every scenario of the "Example" section of docs/scenarios.md against
# the gameflow plugin, so that the documented examples can't drift from what
# the host and the plugin do.
# Usage: run-doc-examples.sh HOST PLUGIN DOC
set -eu
host=$1 plugin=$2 doc=$3
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
awk -v folder="$folder" '
  /^## / { inExamples = ($0 == "## Example") }
  inExamples && /^```yaml$/ { inBlock = 1; count++; next }
  /^```$/ { inBlock = 0 }
  inExamples && inBlock { print > (folder "/example" count ".yaml") }
' "$doc"
found=0
for example in "$folder"/example*.yaml; do
  [ -e "$example" ] || break
  found=$((found + 1))
  "$host" --plugin "$plugin" --scenario "$example"
done
if [ "$found" -eq 0 ]; then
  echo "No example scenario found in $doc" >&2
  exit 1
fi
