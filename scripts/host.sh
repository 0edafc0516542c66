#!/usr/bin/env bash
# Runs the plug-in as a host does, against the simulator: registers
# libKestrel in your class registry, starts the simulated KR470A on a
# loopback TCP port with the alias GPIB0::10 (the window's default address)
# pointing at it, and opens the host program. Press "getWaveform", pick the
# demo update file printed below with "Find Update File", and press "Update".
# Needs a display (DISPLAY or WAYLAND_DISPLAY).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"

start_tcp_simulator --transcript "$work/transcript.txt"
cp "$root/build/demo/KR470A_105.INI" "$work/"
echo "Simulator on TCP port $port (GPIB0::10). Update file: $work/KR470A_105.INI"

# The simulator resets at once; a real instrument needs the full 5 s waits.
KIO_CONFIG=$work/kio.ini KESTREL_WAIT_LIMIT_MS=${KESTREL_WAIT_LIMIT_MS:-1000} \
  "$root/build/host/kestrel-host" --register "$root/build/waveform/Kestrel/libKestrel.so"
echo "The simulator received $(wc -l <"$work/transcript.txt") lines."
