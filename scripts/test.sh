#!/usr/bin/env bash
# Every test: installs what is missing, builds from nothing, runs the suite,
# then Osprey for Windows under Wine (scripts/windows.sh) and the plug-in for
# Windows, Kestrel.dll, under Wine (scripts/kestrel-windows.sh), then builds and
# runs the suite again under AddressSanitizer and UBSan, then gives
# each libFuzzer target a short smoke run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"
# Lock files of the ports the tests open go to a folder of this run's own, so a
# run never meets another's (or a real program's) locks in /run/lock.
KR470_LOCK_DIR=$(mktemp -d)
export KR470_LOCK_DIR
trap 'rm -rf "$KR470_LOCK_DIR"' EXIT
(cd "$root/build" && ctest --output-on-failure -j"$(nproc)")
# Osprey for Windows: cross-built, its unit tests and whole updates under Wine.
"$root/scripts/windows.sh"
# Kestrel.dll (built by the same cross build): registration, VBScript and C++
# clients, and whole updates through its windows under Wine.
"$root/scripts/kestrel-windows.sh"
"$root/scripts/build.sh" "$root/build-sanitize" -DKR470_SANITIZE=ON
(cd "$root/build-sanitize" &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$(nproc)")
# The fuzz targets' smoke run: a few seconds each from their seed corpora.
"$root/scripts/fuzz.sh" 6
