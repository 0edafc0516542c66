#!/usr/bin/env bash
# The host's registry actions without a display: a registry that is no file is
# said on stderr with status 1 and gets nothing beside it; a good one lists.
#   host-cli.sh HOST LIBRARY
set -u
host=$1 library=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset DISPLAY WAYLAND_DISPLAY
fail() { echo "FAIL: $*"; exit 1; }

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
echo "host registry actions: all cases pass"
