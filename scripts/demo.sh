#!/usr/bin/env bash
# The main job: a whole firmware update of the simulated KR470A over a
# pseudo-terminal. Interactive when run from a terminal; otherwise it answers
# the questions itself. KR470_DEMO_BAUD sets the line's rate, for Osprey and for
# the simulator's reading alike (default 2000000: the 9375 records take a few
# seconds); OSPREY_RESET_STEP_MS shortens the reset countdowns (default 200).
# Installs and builds only what it needs (a compiler and CMake; Osprey, the
# simulator and the update file) in build-demo/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-demo
console_only=1
. "$root/scripts/common.sh"

cp "$build/demo/KR470A_105.INI" "$work/"
baud=${KR470_DEMO_BAUD:-2000000}
start_simulator --link "$work/kr470" --transcript "$work/transcript.txt" --baud "$baud"
for _ in $(seq 50); do [[ -e $work/kr470 ]] && break; sleep 0.1; done
printf '[COM1]\ndevice = %s\nsettings = %s,N,8,1\n' "$work/kr470" "$baud" >"$work/ports.ini"

cd "$work"
export OSPREY_PORTS=$work/ports.ini OSPREY_RESET_STEP_MS=${OSPREY_RESET_STEP_MS:-200}
# The address names the rate: Osprey's default address says 57600.
address=/ACOM1::Baud=$baud
"$build/console/Osprey" /D /FKR470A_105.INI "$address"
echo
if [[ -t 0 ]]; then
  "$build/console/Osprey" /FKR470A_105.INI "$address" /L
else
  printf 'y\n\n' | "$build/console/Osprey" /FKR470A_105.INI "$address" /L
fi
echo
echo "The simulator received $(wc -l <"$work/transcript.txt") lines; the last was: $(tail -n1 "$work/transcript.txt")"
