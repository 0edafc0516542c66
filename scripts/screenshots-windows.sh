#!/usr/bin/env bash
# Pictures of the plug-in's Win32 windows under Wine, beside the Linux ones
# (scripts/screenshots.sh): each page of the setup window, the instrument
# finder after its search, and the progress face during a real update of the
# simulator over loopback TCP. A fresh Wine prefix on a virtual display of
# its own; no window manager runs there, so Wine draws the window frames
# itself. The same example as the Linux pictures: the update file
# KR470A_105.INI in the folder the window runs in, the default address
# GPIB0::10 routed to the simulator by the I/O configuration.
#
#   scripts/screenshots-windows.sh                    into build-win/screenshots/
#   scripts/screenshots-windows.sh docs/screenshots   refreshes the documentation's pictures
#                                                     (win32-*.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
build=${build:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target kr470-sim kr470_demo_update >/dev/null

work=$(mktemp -d)
source "$root/scripts/wine-common.sh"
out=${1:-$build_win/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)
sim_pid= xvfb_pid=
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null
  stop_wine
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

cross_build
cmake --build "$build_win" -j"$(nproc)" --target kestrel-win32-screenshots >/dev/null

# A display of our own: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")

"$build/tools/kr470-sim/kr470-sim" --tcp 0 >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 50); do [[ -s $work/sim.out ]] && break; sleep 0.1; done
port=$(awk '/^tcp /{print $2}' "$work/sim.out")
printf '[aliases]\nGPIB0::10 = TCPIP0::127.0.0.1::%s::SOCKET\n' "$port" >"$work/kio.ini"

start_wine
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
mkdir -p "$work/stage" "$work/shots"
cp "$build/demo/KR470A_105.INI" "$work/stage/"
(cd "$work/stage" &&
  KIO_CONFIG=$(winepath -w "$work/kio.ini") KESTREL_WAIT_LIMIT_MS=0 \
    timeout 120 wine "$build_win/waveform/Kestrel/win32/kestrel-win32-screenshots.exe" \
    GPIB0::10 KR470A_105.INI "$(winepath -w "$work/shots")" >/dev/null)
for picture in "$work"/shots/*.bmp; do
  name=$(basename "$picture" .bmp)
  convert "$picture" "$out/win32-$name.png"
  echo "$out/win32-$name.png"
done
