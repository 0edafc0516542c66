#!/usr/bin/env bash
# The plug-in for Windows, from nothing: cross-builds Kestrel.dll and its test
# programs, then under Wine (a fresh prefix, a virtual display) registers it
# with regsvr32, drives it from VBScript and from a C++ client, and runs whole
# updates through its windows against the simulator, each compared with the
# Linux plug-in's run of the same case.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
started=$SECONDS
"$root/scripts/setup.sh"
build=${build:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target kr470-sim kr470-mkupdate \
  kestrel-e2e-reference >/dev/null

work=$(mktemp -d)
sim_pids=()
xvfb_pid=
source "$root/scripts/wine-common.sh"
cleanup() {
  ((${#sim_pids[@]})) && kill "${sim_pids[@]}" 2>/dev/null
  stop_wine
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  [[ -n ${KR470_KEEP_WORK:-} ]] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL $1" >&2
  failures=$((failures + 1))
}

# The Win32 windows need a display: a virtual one, on a number Xvfb picks and
# writes (with a line end) once it accepts clients.
start_display() {
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 200); do
    (($(wc -l <"$work/display") > 0)) && break
    sleep 0.05
  done
  [[ -s $work/display ]] || {
    echo "Xvfb did not start" >&2
    return 1
  }
  export DISPLAY=:$(head -1 "$work/display")
}

cross_build
echo "Built $build_win/waveform/Kestrel/com/Kestrel.dll ($((SECONDS - started)) s)"
start_display
start_wine
source "$root/waveform/Kestrel/com/tests/com-tests.sh"
# The end-to-end updates use the class the package registered: its installed
# Kestrel.dll.
source "$root/packaging/windows/tests/msi-tests.sh"
msi_install_tests
source "$root/waveform/Kestrel/wine-tests/end-to-end.sh"
msi_removal_tests

echo "Plug-in for Windows: $((SECONDS - started)) s"
((failures == 0))
