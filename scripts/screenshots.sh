#!/usr/bin/env bash
# Pictures of the plug-in's windows under Xvfb: each page of the setup window,
# its progress face after a real update of the simulator over loopback TCP,
# the instrument finder after its search, and the host program with the
# component created. One example throughout: the update file KR470A_105.INI
# in the folder the windows run in (/tmp/kr470-screenshots, removed at the
# end), the default address GPIB0::10 routed to the simulator.
#
#   scripts/screenshots.sh                    into build/screenshots/
#   scripts/screenshots.sh docs/screenshots   refreshes the documentation's pictures
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)
. "$root/scripts/common.sh"

start_tcp_simulator

# The windows run in a folder of a fixed name that holds the update file and a
# copy of the library the host registers, so the pictures name the same
# short paths on every machine.
stage=/tmp/kr470-screenshots
rm -rf "$stage"
mkdir -p "$stage/lib"
trap 'rm -rf "$stage"; cleanup' EXIT
cp "$root/build/demo/KR470A_105.INI" "$stage/"
cp -L "$root/build/waveform/Kestrel/libKestrel.so.1" "$stage/lib/"

# A private settings folder and registry, so the pictures show the first-use texts.
(cd "$stage" &&
  LD_LIBRARY_PATH=$stage/lib KIO_CONFIG=$work/kio.ini XDG_CONFIG_HOME=$work \
    KCOM_REGISTRY=registry.ini KESTREL_WAIT_LIMIT_MS=0 \
    xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" \
    "$root/build/waveform/Kestrel/screenshots/kestrel-screenshots" \
    KR470A_105.INI "$out" "$stage/lib/libKestrel.so.1")
