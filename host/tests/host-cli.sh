#!/usr/bin/env bash
# The host's command line without a display: --help and --version on stdout
# with status 0, a mistake on stderr with status 2; a registry that is no file
# is said on stderr with status 1 and gets nothing beside it; a good one lists;
# unregistering what was never registered does not claim it; the window
# without a display says what to do, with status 1.
#   host-cli.sh HOST LIBRARY
set -u
host=$1 library=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
fail() { echo "FAIL: $*"; exit 1; }

for option in --help -h --version; do
  timeout 10 "$host" $option >"$work/out" 2>"$work/err"
  status=$?
  [[ $status == 0 ]] || fail "$option: status $status"
  [[ -s $work/out && ! -s $work/err ]] || fail "$option wrote to stderr: $(cat "$work/err")"
done
timeout 10 "$host" --help | grep -q -- "--register <LIBRARY>" || fail "--help lacks --register"
timeout 10 "$host" --help | grep -q "^Usage: kestrel-host \[options\]" || fail "--help: $("$host" --help)"
timeout 10 "$host" --version | grep -qx "kestrel-host 1.0" || fail "--version: $("$host" --version)"
for wrong in "--bogus" "--register" "stray"; do
  # shellcheck disable=SC2086
  timeout 10 "$host" $wrong >"$work/out" 2>"$work/err"
  status=$?
  [[ $status == 2 && ! -s $work/out ]] || fail "$wrong: status $status, said $(cat "$work/out")"
  grep -q "kestrel-host --help" "$work/err" || fail "$wrong said: $(cat "$work/err")"
done

mkfifo "$work/fifo.ini"
for action in "--list" "--register $library --list"; do
  # shellcheck disable=SC2086
  KCOM_REGISTRY=$work/fifo.ini timeout 10 "$host" $action >"$work/out" 2>"$work/err"
  status=$?
  [[ $status == 1 ]] || fail "$action on a FIFO: status $status"
  grep -q "not a regular file\|FIFO" "$work/err" || fail "$action on a FIFO said: $(cat "$work/err")"
done
[[ ! -e $work/fifo.ini.lock ]] || fail "a lock was made beside the FIFO"

KCOM_REGISTRY=$work/registry.ini timeout 10 "$host" --register "$library" --list >"$work/out" 2>"$work/err" ||
  fail "register and list: $(cat "$work/err")"
grep -q "^Kestrel.CWaveform " "$work/out" || fail "the list lacks the class: $(cat "$work/out")"

KCOM_REGISTRY=$work/other.ini timeout 10 "$host" --unregister "$library" >"$work/out" 2>"$work/err" ||
  fail "unregistering what was never registered: $(cat "$work/err")"
grep -q "was not registered" "$work/out" && ! grep -qx "unregistered" "$work/out" ||
  fail "unregistering what was never registered said: $(cat "$work/out")"
KCOM_REGISTRY=$work/registry.ini timeout 10 "$host" --unregister "$library" >"$work/out" 2>&1 ||
  fail "unregister: $(cat "$work/out")"
grep -qx "unregistered" "$work/out" || fail "unregister said: $(cat "$work/out")"

KCOM_REGISTRY=$work/registry.ini timeout 20 "$host" >"$work/out" 2>"$work/err"
status=$?
[[ $status == 1 ]] || fail "no display: status $status"
grep -q "xvfb-run -a" "$work/err" || fail "no display said: $(cat "$work/err")"
echo "host registry actions: all cases pass"
