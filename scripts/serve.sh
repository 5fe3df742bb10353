#!/usr/bin/env bash
# Builds the stand-in host and the plugin it serves, then
#   scripts/serve.sh run    serves it over HTTP until Ctrl-C (make run)
#   scripts/serve.sh demo   plays a whole match against it over HTTP (make demo)
#
# Both install the stand-in game client where the stand-in patcher's paths
# point, so a game that starts launches a real process. HTTP=[ADDRESS:]PORT
# (default 127.0.0.1:0, a free port) and STATE=DIR (default build/run-state)
# change where `run` listens and keeps its data store and access file.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-run}
http=${HTTP:-127.0.0.1:0}
state=${STATE:-build/run-state}
build=build/default

cmake --preset default >/dev/null
plugin=$build/gameflow/libtav_gameflow.so
cmake --build --preset default --target host_program host_demo stand_in_client stand_in_install tav_gameflow

case "$mode" in
  run)
    mkdir -p "$state"
    # The stand-in game client stands where the realistic patcher's paths
    # point; a launched client plays for a minute, then exits (edit
    # stand-in-client.cfg there to change that).
    client=$state/tav_game_client_sln
    # The data store there holds the game's key and auth token: the state
    # folder is the owner's alone (the installer makes the client's folder so).
    chmod 700 "$state"
    control='end-delay-ms = 60000
end = exit 0
'
    [ ! -f "$client/stand-in-client.cfg" ] || control=
    eval "$("$build/tools/stand-in-client/stand-in-install" \
      "$build/tools/stand-in-client/Tavora.exe" "$state" ${control:+"$control"})"
    exec "$build/host/host" --plugin "$plugin" --http "$http" --state "$state"
    ;;
  demo)
    exec "$build/host/http/host_demo" --host "$build/host/host" --plugin "$plugin" \
      --client "$build/tools/stand-in-client/Tavora.exe"
    ;;
  *)
    echo "usage: $0 run|demo" >&2
    exit 2
    ;;
esac
