#!/usr/bin/env bash
# One whole update against the simulator with Osprey under valgrind's
# memcheck: any error or leak fails.
#   valgrind-update.sh OSPREY KR470-SIM KR470-MKUPDATE [RECORDS, default 300]
set -euo pipefail
osprey=$1 sim=$2 mk=$3 records=${4:-300}
work=$(mktemp -d)
sim_pid=
cleanup() { [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

"$mk" gen-image --bytes $((records * 32)) --seed 7 --header "KR470A 1.05" -o "$work/image.srec"
"$mk" build --srec "$work/image.srec" --revision 1.05 -o "$work/update.ini" >/dev/null
"$sim" --link "$work/tty" --transcript "$work/transcript.txt" >/dev/null &
sim_pid=$!
for _ in $(seq 100); do [[ -e $work/tty ]] && break; sleep 0.05; done
# The simulator reads unpaced; a high rate keeps Osprey from pacing the pass at 9600.
printf '[COM1]\ndevice = %s\nsettings = 2000000,N,8,1\n' "$work/tty" >"$work/ports.ini"

cd "$work"
printf 'y\n\n' | OSPREY_PORTS=$work/ports.ini OSPREY_RESET_STEP_MS=1 \
  valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
  "$osprey" /Fupdate.ini /ACOM1 /L >"$work/out.txt"
grep -q '^dlo:comp ' "$work/transcript.txt" || { echo "the update did not commit"; cat "$work/out.txt"; exit 1; }
echo "committed under memcheck with no errors"
