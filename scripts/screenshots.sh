#!/usr/bin/env bash
# Pictures of the plug-in's windows under Xvfb, into docs/screenshots/: each
# page of the setup window, its progress face after a real update of the
# simulator over loopback TCP, the instrument finder after its search, and
# the host program with the component created.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"

start_tcp_simulator

mkdir -p "$root/docs/screenshots"
# A private settings folder, so the pictures show the first-use texts.
KIO_CONFIG=$work/kio.ini XDG_CONFIG_HOME=$work KCOM_REGISTRY=$work/registry.ini \
  KESTREL_WAIT_LIMIT_MS=0 \
  xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" \
  "$root/build/waveform/Kestrel/screenshots/kestrel-screenshots" \
  "$root/build/demo/KR470A_105.INI" "$root/docs/screenshots" \
  "$root/build/waveform/Kestrel/libKestrel.so"
