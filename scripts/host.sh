#!/usr/bin/env bash
# Runs the plug-in as a host does, against the simulator: registers
# libKestrel, starts the simulated KR470A on a loopback TCP port with the
# alias GPIB0::10 (the window's default address) pointing at it, and opens the
# host program. Press "getWaveform", pick the demo update file printed below
# with "Find Update File", and press "Update".
#
#   scripts/host.sh                    registers into a temporary class registry,
#                                      removed at the end
#   scripts/host.sh --keep-registration
#                                      registers into your own registry (KCOM_REGISTRY,
#                                      else the per-user default) and leaves it there
#
# Needs a display: run it from a desktop session, or as `xvfb-run -a scripts/host.sh`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

keep=false
case ${1:-} in
  --keep-registration) keep=true ;;
  "") ;;
  *) echo "usage: scripts/host.sh [--keep-registration]" >&2; exit 2 ;;
esac

no_display() {
  echo "host.sh: $1" >&2
  echo "Run it from a desktop session, or without one as: xvfb-run -a scripts/host.sh" >&2
  exit 1
}
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  no_display "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)."
fi
# A local X display (":N") is a socket; one that is gone would end the host in Qt.
if [[ -z ${WAYLAND_DISPLAY:-} && ${DISPLAY} =~ ^:([0-9]+) &&
  ! -S /tmp/.X11-unix/X${BASH_REMATCH[1]} ]]; then
  no_display "the display $DISPLAY is not there (no /tmp/.X11-unix/X${BASH_REMATCH[1]})."
fi

. "$root/scripts/common.sh"

if ! $keep; then
  export KCOM_REGISTRY=$work/registry.ini
fi

start_tcp_simulator --transcript "$work/transcript.txt"
cp "$root/build/demo/KR470A_105.INI" "$work/"
echo "Simulator on TCP port $port (GPIB0::10). Update file: $work/KR470A_105.INI"
$keep || echo "Class registry for this run only: $KCOM_REGISTRY"

# The simulator resets at once; a real instrument needs the full 5 s waits.
KIO_CONFIG=$work/kio.ini KESTREL_WAIT_LIMIT_MS=${KESTREL_WAIT_LIMIT_MS:-1000} \
  "$root/build/host/kestrel-host" --register "$root/build/waveform/Kestrel/libKestrel.so"
echo "The simulator received $(wc -l <"$work/transcript.txt") lines."
