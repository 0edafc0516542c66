#!/usr/bin/env bash
# Pictures of the plug-in's windows under Xvfb, into docs/screenshots/: each
# page of the setup window, its progress face after a real update of the
# simulator over loopback TCP, and the instrument finder after its search.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"

work=$(mktemp -d)
sim_pid=
cleanup() { [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

"$root/build/tools/kr470-sim/kr470-sim" --tcp 0 >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 50); do [[ -s $work/sim.out ]] && break; sleep 0.1; done
port=$(awk '/^tcp /{print $2}' "$work/sim.out")
printf '[aliases]\nGPIB0::10 = TCPIP0::127.0.0.1::%s::SOCKET\n' "$port" >"$work/kio.ini"

mkdir -p "$root/docs/screenshots"
# A private settings folder, so the pictures show the first-use texts.
KIO_CONFIG=$work/kio.ini XDG_CONFIG_HOME=$work KESTREL_WAIT_LIMIT_MS=0 \
  xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" \
  "$root/build/waveform/Kestrel/screenshots/kestrel-screenshots" \
  "$root/build/demo/KR470A_105.INI" "$root/docs/screenshots"
