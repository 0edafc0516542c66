#!/usr/bin/env bash
# with-native-simulator.sh [--vxi11] SIMULATOR WINE PROGRAM [args...]: runs a
# Windows test program under Wine with the native simulator serving on a
# loopback TCP port of its own choosing, and stops the simulator after. The
# line face's port is in KR470_SIM_PORT; with --vxi11 the simulator serves its
# VXI-11 core channel instead, its port in KR470_SIM_VXI11_PORT. Either way
# its transcript, as a Windows path, is in KR470_SIM_TRANSCRIPT.
# KR470_SIM_OPTIONS adds options to the simulator's (--gpib-controller: its
# line face is a "++" controller). Without a simulator built the program runs
# alone and skips what needs it.
set -uo pipefail
face=tcp port_variable=KR470_SIM_PORT
if [[ ${1:-} == --vxi11 ]]; then
  face=vxi11 port_variable=KR470_SIM_VXI11_PORT
  shift
fi
sim=$1 wine=$2
shift 2
if [[ ! -x $sim ]]; then
  echo "no native simulator at $sim: its tests are skipped"
  exec "$wine" "$@"
fi
work=$(mktemp -d)
read -ra sim_options <<<"${KR470_SIM_OPTIONS:-}"
"$sim" "--$face" 0 --transcript "$work/transcript.txt" "${sim_options[@]}" >"$work/out" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 200); do
  read -r kind port <"$work/out" 2>/dev/null && [[ $kind == "$face" ]] && break
  sleep 0.05
done
[[ ${kind:-} == "$face" ]] || { echo "the simulator did not start" >&2; exit 1; }
env "$port_variable=$port" KR470_SIM_TRANSCRIPT="Z:$work/transcript.txt" "$wine" "$@"
