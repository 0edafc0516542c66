#!/usr/bin/env bash
# The benchmarks: each figure beside a baseline measured in the same run.
#   1. line use at 2400, 9600, 57600 and 115200 baud (goal >= 0.97)
#   2. records a second, normal mode, against a bare writer on the same paced line (goal >= 0.5 of it)
#   3. strict checking's round trip against a bare poll() ping-pong, median of 5 runs (goal <= 1.3 x)
#   4. CPU during the 12 s time-out of a silent instrument (goal < 1 % of the wall time)
#   5. VerifyCodeSection over 10 MB and 100 MB files against cat; peak memory flat (<= 1 MB)
#   6. the finder's search of N silent instruments against its slowest probe (goal: about
#      equal while N <= 8, the probe pool's size) and against probing one after another
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
b=$root/build-bench
# The optimised build that ships (RelWithDebInfo), without the tests.
"$root/scripts/build.sh" "$b" -DKR470_TESTS=OFF >/dev/null

work=$(mktemp -d)
sim_pid=
cleanup() { [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
sim=$b/tools/kr470-sim/kr470-sim
mk=$b/tools/kr470-mkupdate/kr470-mkupdate
osprey=$b/console/Osprey
measure=$b/bench/bench-measure

# update_file NAME RECORDS: an update file of RECORDS 32-byte data records.
update_file() {
  "$mk" gen-image --bytes $(($2 * 32)) --seed 470 --header "KR470A 1.05" -o "$work/$1.srec"
  "$mk" build --srec "$work/$1.srec" --revision 1.05 -o "$work/$1.ini" >/dev/null
  rm "$work/$1.srec"
}

start_sim() {
  rm -f "$work/tty"
  "$sim" --link "$work/tty" --stats on "$@" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do [[ -e $work/tty ]] && break; sleep 0.05; done
  printf '[COM1]\ndevice = %s\n' "$work/tty" >"$work/ports.ini"
}
stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}
# The simulator's figure NAME for the last pass it saw.
figure() { grep 'pass:' "$work/sim.err" | tail -n1 | sed -n "s|.*$1 \\([0-9.]*\\).*|\\1|p"; }

# osprey_update FILE BAUD [/C]: one whole update, questions answered.
osprey_update() {
  (cd "$work" && printf 'y\n\n' | OSPREY_PORTS=$work/ports.ini OSPREY_RESET_STEP_MS=1 \
    "$osprey" "/F$1" "/ACOM1::Baud=$2" "${@:3}" >/dev/null)
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }'; }

update_file tiny 40
update_file short 150
update_file small 500
update_file medium 2000

echo "1. Line use, normal mode (goal >= 0.97)"
for run in 2400:tiny 9600:short 57600:small 115200:small; do
  baud=${run%%:*} file=${run##*:}
  start_sim --baud "$baud"
  osprey_update "$work/$file.ini" "$baud"
  stop_sim
  echo "   $baud baud, $(figure records) records: wire time $(figure 'wire time') s /" \
    "download $(figure 'in') s = $(figure utilisation)"
done

# side_by_side FIGURE MODE FILE SIM_OPTIONS [OSPREY OPTIONS]: the figure for
# Osprey and for the bare baseline, each on a fresh simulator started with
# SIM_OPTIONS; sets $ours and $base.
side_by_side() {
  local name=$1 mode=$2 file=$3 sim_options=$4
  shift 4
  start_sim $sim_options
  osprey_update "$work/$file.ini" 115200 "$@"
  stop_sim
  ours=$(figure "$name")
  start_sim $sim_options
  "$b/bench/bench-baseline" "$work/tty" "$work/$file.ini" "$mode"
  stop_sim
  base=$(figure "$name")
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Osprey holds its output to what the line can carry, as on a real port, so
# the bare writer gets the same paced line.
echo "2. Records a second, normal mode, line paced at 115200 baud, 500 records (goal >= 0.5)"
side_by_side 'records/s' normal small '--baud 115200'
echo "   Osprey $ours/s, bare writer $base/s: ratio $(ratio "$ours" "$base")"

echo "3. Strict checking round trip, median of 5 runs of 2000 records each (goal <= 1.3)"
: >"$work/ours.txt"
: >"$work/base.txt"
for _ in 1 2 3 4 5; do
  side_by_side 'median interval' strict medium '' /C
  echo "$ours" >>"$work/ours.txt"
  echo "$base" >>"$work/base.txt"
done
ours=$(median <"$work/ours.txt")
base=$(median <"$work/base.txt")
echo "   Osprey $ours us, bare poll() ping-pong $base us: ratio $(ratio "$ours" "$base")" \
  "(runs: Osprey $(tr '\n' ' ' <"$work/ours.txt")| ping-pong $(tr '\n' ' ' <"$work/base.txt"))"

echo "4. CPU while a silent instrument times out (goal < 1 %)"
start_sim --silent 'SYST:ERR?'
(cd "$work" && printf '\n' | OSPREY_PORTS=$work/ports.ini "$measure" "$osprey" "/F$work/small.ini" \
  /ACOM1 >/dev/null 2>"$work/measure.txt")
stop_sim
read -r _ cpu _ wall _ <"$work/measure.txt"
echo "   cpu $cpu s over wall $wall s: $(awk -v c="$cpu" -v w="$wall" 'BEGIN { printf "%.3f %%", 100 * c / w }')"

echo "5. VerifyCodeSection against cat; peak memory (goal: flat within 1 MB)"
for size in 10 100; do
  update_file "big$size" $((size * 1024 * 1024 / 80))
  cat "$work/big$size.ini" >/dev/null  # the same page cache for both
  "$measure" cat "$work/big$size.ini" 2>"$work/cat.txt" >/dev/null
  "$measure" "$b/bench/bench-verify" "$work/big$size.ini" 2>"$work/verify.txt" >"$work/verdict.txt"
  read -r _ _ _ cat_wall _ <"$work/cat.txt"
  read -r _ _ _ wall _ rss _ <"$work/verify.txt"
  eval "rss$size=$rss"
  echo "   $(du -m "$work/big$size.ini" | cut -f1) MB: verify $wall s ($(cat "$work/verdict.txt")), cat $cat_wall s:" \
    "ratio $(ratio "$wall" "$cat_wall"); peak memory $rss KB"
  rm "$work/big$size.ini"
done
echo "   peak memory growth from 10 MB to 100 MB: $((rss100 - rss10)) KB"

echo "6. Finder search of silent loopback instruments (goal: about the slowest probe while N <= 8)"
for n in 1 5 8 12; do
  echo "   $("$b/bench/bench-finder-search" "$n")"
done
