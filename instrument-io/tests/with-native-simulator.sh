#!/usr/bin/env bash
# with-native-simulator.sh SIMULATOR WINE PROGRAM [args...]: runs a Windows
# test program under Wine with the native simulator serving on a loopback TCP
# port of its own choosing (KR470_SIM_PORT; its transcript, as a Windows path,
# in KR470_SIM_TRANSCRIPT), and stops the simulator after.
# KR470_SIM_OPTIONS adds options to the simulator's (--gpib-controller: it is
# a "++" controller on that port). Without a simulator built the program runs
# alone and skips what needs it.
set -uo pipefail
sim=$1 wine=$2
shift 2
if [[ ! -x $sim ]]; then
  echo "no native simulator at $sim: its tests are skipped"
  exec "$wine" "$@"
fi
work=$(mktemp -d)
read -ra sim_options <<<"${KR470_SIM_OPTIONS:-}"
"$sim" --tcp 0 --transcript "$work/transcript.txt" "${sim_options[@]}" >"$work/out" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 200); do
  read -r kind port <"$work/out" 2>/dev/null && [[ $kind == tcp ]] && break
  sleep 0.05
done
[[ ${kind:-} == tcp ]] || { echo "the simulator did not start" >&2; exit 1; }
KR470_SIM_PORT=$port KR470_SIM_TRANSCRIPT="Z:$work/transcript.txt" "$wine" "$@"
