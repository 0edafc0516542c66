#!/usr/bin/env bash
# The benchmarks: each figure the median of several runs (KR470_BENCH_RUNS,
# default 3; the strict round trip always 5), beside a baseline measured in the
# same run, and marked pass or FAIL against its goal:
#   1. line use at 2400, 9600, 57600 and 115200 baud (goal >= 0.97), and at
#      12 000 000 baud (a USB adapter's top rate) beside a bare writer on the same paced line
#   2. records a second, normal mode, against a bare writer on the same paced line (goal >= 0.5 of it)
#   3. strict checking's round trip against a bare poll() ping-pong (goal <= 1.3 x)
#   4. CPU during the 12 s time-out of a silent instrument (goal < 1 % of the wall time)
#   5. VerifyCodeSection over 10 MB and 60 MB files (the largest is 64 MB) against cat
#      (time shown beside cat's); peak memory grows no faster than the file (goal: the growth from 10 to
#      60 MB is at most 1.1 times the files' growth: the file is held once, never twice)
#   6. the finder's search of N silent instruments against its slowest probe (goal:
#      <= 1.2 x while N <= 8, the probe pool's size) and against probing one after another
#   7. a plug-in update over GPIB through the simulator's "++" controller face (pty
#      and TCP) against a bare writer through the same face: records a second in
#      normal mode (goal >= 0.5 of it), strict checking's round trip (goal <= 1.3 x)
#   8. records a second of a plug-in update over VXI-11 (TCPIP0::127.0.0.1::INSTR), normal mode,
#      against a bare writer through the same session and transport (goal >= 0.5 of it)
#   9. kr470-fleet updating 16 instruments at once on lines paced at 115200 baud: each
#      instrument's line use against one instrument updated alone (goal >= 0.97 of it),
#      and the tool's CPU time per instrument
#  10. line use of Osprey.exe (the Windows build) under Wine at 9600 (150 records, as in
#      1.), 57600 and 115200 baud (goal >= 0.97), on COM5 of a fresh Wine prefix mapped
#      to the simulator's line
#  11. a host closing the finder mid-search (a silent "++" controller's board and 4
#      silent socket instruments): the finder's close (goal <= 100 ms) and the process's
#      end after its last window closed (goal <= 2 s)
# Exits 1 when a figure misses its goal. A loaded machine can miss them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
b=$root/build-bench
# The optimised build that ships (RelWithDebInfo), without the tests.
"$root/scripts/build.sh" "$b" -DKR470_TESTS=OFF >/dev/null

work=$(mktemp -d)
sim_pid=
build_win=$root/build-win-bench
source "$root/scripts/wine-common.sh"
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null
  stop_wine
  rm -rf "$work"
}
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

runs=${KR470_BENCH_RUNS:-3}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# The figures of the runs in FILE, on one line.
listed() { tr '\n' ' ' <"$1" | sed 's/ $//'; }
# The verdicts run in command substitutions, so the misses are kept in a file.
: >"$work/misses"
miss() {
  echo FAIL
  echo "$1" >>"$work/misses"
}
# verdict VALUE OP GOAL: "pass" or "FAIL" (OP one of >= <= <); no figure fails.
verdict() {
  if [[ $1 =~ ^-?[0-9.]+$ ]] && awk -v v="$1" -v g="$3" -v op="$2" \
    'BEGIN { exit !((op == ">=" && v >= g) || (op == "<=" && v <= g) || (op == "<" && v < g)) }'; then
    echo pass
  else
    miss "$1 $2 $3"
  fi
}

update_file tiny 40
update_file short 150
update_file small 500
update_file medium 2000
update_file large 20000

# wine_update FILE BAUD: osprey_update for Osprey.exe under Wine, on COM5.
wine_update() {
  (cd "$work" && printf 'y\n\n' | OSPREY_RESET_STEP_MS=1 \
    wine "$build_win/console/Osprey.exe" "/F$1" "/ACOM5::Baud=$2,Handshake=RTS_CTS" >/dev/null 2>&1)
}

# line_use BAUD UPDATE_COMMAND...: the median line use of $runs updates on a
# line paced at BAUD, one row.
line_use() {
  local baud=$1
  shift
  : >"$work/use.txt"
  for _ in $(seq "$runs"); do
    start_sim --baud "$baud"
    "$@"
    stop_sim
    figure utilisation >>"$work/use.txt"
  done
  use=$(median <"$work/use.txt")
  echo "   $baud baud, $(figure records) records: wire time $(figure 'wire time') s /" \
    "download $(figure 'in') s (last run); use $use: $(verdict "$use" '>=' 0.97)" \
    "(runs: $(listed "$work/use.txt"))"
}

echo "1. Line use, normal mode, median of $runs runs (goal >= 0.97)"
for run in 2400:tiny 9600:short 57600:small 115200:small; do
  baud=${run%%:*} file=${run##*:}
  line_use "$baud" osprey_update "$work/$file.ini" "$baud"
done

# side_by_side FIGURE MODE FILE SIM_OPTIONS [OSPREY OPTIONS]: the figure for
# Osprey and for the bare baseline, each on a fresh simulator started with
# SIM_OPTIONS; appends them to $work/ours.txt and $work/base.txt.
side_by_side() {
  local name=$1 mode=$2 file=$3 sim_options=$4
  shift 4
  start_sim $sim_options
  osprey_update "$work/$file.ini" "${link_baud:-115200}" "$@"
  stop_sim
  figure "$name" >>"$work/ours.txt"
  start_sim $sim_options
  "$b/bench/bench-baseline" "$work/tty" "$work/$file.ini" "$mode"
  stop_sim
  figure "$name" >>"$work/base.txt"
}
# repeat COUNT FIGURE MODE FILE SIM_OPTIONS [OSPREY OPTIONS]: side_by_side
# COUNT times; sets $ours and $base to the medians.
repeat() {
  local count=$1
  shift
  : >"$work/ours.txt"
  : >"$work/base.txt"
  for _ in $(seq "$count"); do side_by_side "$@"; done
  ours=$(median <"$work/ours.txt")
  base=$(median <"$work/base.txt")
}
runs_of_both() { echo "(runs: Osprey $(listed "$work/ours.txt") | $1 $(listed "$work/base.txt"))"; }

# At 12 000 000 baud the whole 1024-byte queue leaves the line in 0.85 ms:
# any wait longer than that leaves it idle, which the bare writer never does.
echo "   12000000 baud, 20000 records, beside a bare writer on the same paced line," \
  "median of $runs runs (goal >= 0.97)"
link_baud=12000000 repeat "$runs" utilisation normal large '--baud 12000000'
echo "   Osprey $ours, bare writer $base (ratio $(ratio "$ours" "$base")): $(verdict "$ours" '>=' 0.97)" \
  "$(runs_of_both 'bare writer')"

# Osprey holds its output to what the line can carry, as on a real port, so
# the bare writer gets the same paced line.
echo "2. Records a second, normal mode, line paced at 115200 baud, 500 records," \
  "median of $runs runs (goal >= 0.5)"
repeat "$runs" 'records/s' normal small '--baud 115200'
share=$(ratio "$ours" "$base")
echo "   Osprey $ours/s, bare writer $base/s: ratio $share: $(verdict "$share" '>=' 0.5)" \
  "$(runs_of_both 'bare writer')"

echo "3. Strict checking round trip, median of 5 runs of 2000 records each (goal <= 1.3)"
repeat 5 'median interval' strict medium '' /C
times=$(ratio "$ours" "$base")
echo "   Osprey $ours us, bare poll() ping-pong $base us: ratio $times: $(verdict "$times" '<=' 1.3)" \
  "$(runs_of_both ping-pong)"

echo "4. CPU while a silent instrument times out, median of $runs runs (goal < 1 %)"
: >"$work/cpu.txt"
for _ in $(seq "$runs"); do
  start_sim --silent 'SYST:ERR?'
  (cd "$work" && printf '\n' | OSPREY_PORTS=$work/ports.ini "$measure" "$osprey" "/F$work/small.ini" \
    /ACOM1 >/dev/null 2>"$work/measure.txt")
  stop_sim
  read -r _ cpu _ wall _ <"$work/measure.txt"
  awk -v c="$cpu" -v w="$wall" 'BEGIN { printf "%.3f\n", 100 * c / w }' >>"$work/cpu.txt"
done
share=$(median <"$work/cpu.txt")
echo "   cpu $share % of the wall time (last run: cpu $cpu s over wall $wall s):" \
  "$(verdict "$share" '<' 1) (runs: $(listed "$work/cpu.txt"))"

echo "5. VerifyCodeSection against cat, median of $runs runs; peak memory" \
  "(goal: grows <= 1.1 x the file from 10 MB to 60 MB: held once, never twice)"
for size in 10 60; do
  update_file "big$size" $((size * 1024 * 1024 / 80))
  cat "$work/big$size.ini" >/dev/null  # the same page cache for both
  : >"$work/cat.txt"
  : >"$work/verify.txt"
  rss=0
  for _ in $(seq "$runs"); do
    "$measure" cat "$work/big$size.ini" 2>"$work/cost.txt" >/dev/null
    awk '/^cpu / { print $4 }' "$work/cost.txt" >>"$work/cat.txt"
    "$measure" "$b/bench/bench-verify" "$work/big$size.ini" 2>"$work/cost.txt" >"$work/verdict.txt"
    read -r _ _ _ wall _ peak _ status < <(grep '^cpu ' "$work/cost.txt") || true
    # A file it cannot read gives no figure (and so fails below).
    [[ ${status:-1} == 0 ]] || { cat "$work/cost.txt" >&2; peak=0 wall=; }
    echo "$wall" >>"$work/verify.txt"
    if ((${peak:-0} > rss)); then rss=$peak; fi
  done
  eval "rss$size=$rss"
  wall=$(median <"$work/verify.txt") cat_wall=$(median <"$work/cat.txt")
  echo "   $(du -m "$work/big$size.ini" | cut -f1) MB: verify $wall s ($(cat "$work/verdict.txt")), cat $cat_wall s:" \
    "ratio $(ratio "$wall" "$cat_wall"); peak memory $rss KB"
  rm "$work/big$size.ini"
done
if ((rss10 > 0 && rss60 > 0)); then
  # 50 MiB more file may add at most 1.1 times that to the peak.
  growth="$((rss60 - rss10)) KB" mark=$(verdict "$((rss60 - rss10))" '<=' $((50 * 1024 * 11 / 10)))
else
  growth="no figure" mark=$(miss "no memory figure")
fi
echo "   peak memory growth from 10 MB to 60 MB: $growth: $mark"

echo "6. Finder search of silent loopback instruments, median of $runs runs" \
  "(goal: <= 1.2 x the slowest probe while N <= 8)"
for n in 1 5 8 12; do
  : >"$work/search.txt"
  : >"$work/slowest.txt"
  : >"$work/serial.txt"
  for _ in $(seq "$runs"); do
    "$b/bench/bench-finder-search" "$n" >"$work/finder.txt"
    sed -n 's/.*search \([0-9.]*\) s.*/\1/p' "$work/finder.txt" >>"$work/search.txt"
    sed -n 's/.*slowest probe \([0-9.]*\) s.*/\1/p' "$work/finder.txt" >>"$work/slowest.txt"
    sed -n 's/.*one after another \([0-9.]*\) s.*/\1/p' "$work/finder.txt" >>"$work/serial.txt"
  done
  search=$(median <"$work/search.txt") slowest=$(median <"$work/slowest.txt")
  times=$(ratio "$search" "$slowest")
  if ((n <= 8)); then mark=$(verdict "$times" '<=' 1.2); else mark="(beyond the pool: no goal)"; fi
  echo "   $n probes: search $search s, slowest probe $slowest s, one after another" \
    "$(median <"$work/serial.txt") s: ratio $times: $mark (searches: $(listed "$work/search.txt"))"
done

# gpib_sim FACE [SIM OPTIONS]: the simulator as a "++" controller (GPIB address
# 10) on a pty or on a loopback TCP port; sets $device (what the bare writer
# opens) and writes the configuration that names it as board 0's controller.
gpib_sim() {
  local face=$1 controller
  shift
  rm -f "$work/tty" "$work/sim.out"
  if [[ $face == pty ]]; then
    "$sim" --link "$work/tty" --stats on --gpib-address 10 "$@" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 100); do [[ -e $work/tty ]] && break; sleep 0.05; done
    controller="ASRL$work/tty::INSTR" device=$work/tty
  else
    "$sim" --tcp 0 --stats on --gpib-address 10 "$@" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 100); do [[ -s $work/sim.out ]] && break; sleep 0.05; done
    controller="TCPIP0::127.0.0.1::$(cut -d' ' -f2 "$work/sim.out")::SOCKET"
    device=127.0.0.1:$(cut -d' ' -f2 "$work/sim.out")
  fi
  printf '[gpib0]\ncontroller = %s\n[%s]\nsettings = %s\n' "$controller" "$work/tty" \
    "${gpib_settings:-115200,N,8,1}" >"$work/kio.ini"
}
# gpib_runs FACE FIGURE MODE FILE [SIM OPTIONS]: the figure for the plug-in and
# for the bare writer through the face, $runs times; sets $ours and $base.
gpib_runs() {
  local face=$1 name=$2 mode=$3 file=$4 strict=
  shift 4
  [[ $mode == strict ]] && strict=strict
  : >"$work/ours.txt"
  : >"$work/base.txt"
  for _ in $(seq "$runs"); do
    gpib_sim "$face" "$@"
    KIO_CONFIG=$work/kio.ini KESTREL_WAIT_LIMIT_MS=0 "$b/bench/bench-plugin-update" GPIB0::10 \
      "$work/$file.ini" $strict
    stop_sim
    figure "$name" >>"$work/ours.txt"
    gpib_sim "$face" "$@"
    "$b/bench/bench-baseline" "$device" "$work/$file.ini" "$mode" gpib:10
    stop_sim
    figure "$name" >>"$work/base.txt"
  done
  ours=$(median <"$work/ours.txt") base=$(median <"$work/base.txt")
}
plugin_runs_of_both() { echo "(runs: plug-in $(listed "$work/ours.txt") | $1 $(listed "$work/base.txt"))"; }

echo "7. A plug-in update over GPIB against a bare writer through the same \"++\" face," \
  "median of $runs runs: records a second, normal mode, 500 records (goal >= 0.5);" \
  "strict checking's round trip, 2000 records (goal <= 1.3)"
for face in pty tcp; do
  label="loopback TCP" pace=()
  if [[ $face == pty ]]; then label="pty paced at 115200 baud" pace=(--baud 115200); fi
  gpib_runs "$face" 'records/s' normal small "${pace[@]}"
  share=$(ratio "$ours" "$base")
  echo "   $label, normal: plug-in $ours/s, bare writer $base/s: ratio $share:" \
    "$(verdict "$share" '>=' 0.5) $(plugin_runs_of_both 'bare writer')"
  label=${label/ paced at 115200 baud/ unpaced}
  gpib_settings=2000000,N,8,1 gpib_runs "$face" 'median interval' strict medium
  times=$(ratio "$ours" "$base")
  echo "   $label, strict: plug-in $ours us, bare ping-pong $base us: ratio $times:" \
    "$(verdict "$times" '<=' 1.3) $(plugin_runs_of_both ping-pong)"
done

echo "8. Records a second over VXI-11, normal mode, 500 records, median of $runs runs (goal >= 0.5)"
# lan_pass OUT PROGRAM [ARGS]: PROGRAM ADDRESS FILE [ARGS] against a fresh LAN face;
# appends the pass's records a second to OUT.
lan_pass() {
  local out=$1 program=$2
  shift 2
  "$sim" --vxi11 0 --stats on >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do [[ -s $work/sim.out ]] && break; sleep 0.05; done
  printf '[tcpip]\nvxi11_port = %s\n' "$(cut -d' ' -f2 "$work/sim.out")" >"$work/kio.ini"
  KIO_CONFIG=$work/kio.ini KESTREL_WAIT_LIMIT_MS=0 "$program" TCPIP0::127.0.0.1::INSTR \
    "$work/small.ini" "$@"
  stop_sim
  figure 'records/s' >>"$out"
}
: >"$work/ours.txt"
: >"$work/base.txt"
for _ in $(seq "$runs"); do
  lan_pass "$work/ours.txt" "$b/bench/bench-plugin-update" normal
  lan_pass "$work/base.txt" "$b/bench/bench-lan-baseline"
done
ours=$(median <"$work/ours.txt") base=$(median <"$work/base.txt")
share=$(ratio "$ours" "$base")
echo "   plug-in $ours/s, bare writer $base/s: ratio $share: $(verdict "$share" '>=' 0.5)" \
  "$(plugin_runs_of_both 'bare writer')"

# fleet_update COUNT: COUNT simulators paced at 115200 baud on pseudo-terminals, all
# updated by one kr470-fleet run; their line use in $work/fleet-use.txt, the
# tool's cost in $work/fleet-cost.txt.
fleet_update() {
  local count=$1 pids=() addresses=()
  : >"$work/kio.ini"
  for i in $(seq "$count"); do
    rm -f "$work/ftty$i"
    "$sim" --link "$work/ftty$i" --baud 115200 --stats on >/dev/null 2>"$work/fsim$i.err" &
    pids+=($!)
    addresses+=("ASRL$work/ftty$i::INSTR")
    printf '[%s]\nsettings = 115200,N,8,1\n' "$work/ftty$i" >>"$work/kio.ini"
  done
  for i in $(seq "$count"); do
    for _ in $(seq 100); do [[ -e $work/ftty$i ]] && break; sleep 0.05; done
  done
  (cd "$work" && KIO_CONFIG=$work/kio.ini KESTREL_WAIT_LIMIT_MS=0 "$measure" "$b/fleet/kr470-fleet" \
    -j "$count" --log-dir "$work/fleet-logs" -f "$work/small.ini" "${addresses[@]}" \
    >/dev/null 2>"$work/fleet-cost.txt") || true
  kill "${pids[@]}" 2>/dev/null || true
  wait "${pids[@]}" 2>/dev/null || true
  : >"$work/fleet-use.txt"
  for i in $(seq "$count"); do
    grep 'pass:' "$work/fsim$i.err" | tail -n1 | sed -n 's|.*utilisation \([0-9.]*\).*|\1|p' \
      >>"$work/fleet-use.txt"
  done
}

echo "9. kr470-fleet, 16 instruments at once at 115200 baud, 500 records each" \
  "(goal: each instrument's line use >= 0.97 x one instrument's alone)"
: >"$work/alone.txt"
for _ in $(seq "$runs"); do
  fleet_update 1
  cat "$work/fleet-use.txt" >>"$work/alone.txt"
done
alone=$(median <"$work/alone.txt")
fleet_update 16
read -r _ cpu _ wall _ < <(grep '^cpu ' "$work/fleet-cost.txt") || cpu=0 wall=0
lowest=$(sort -g "$work/fleet-use.txt" | head -n1)
[[ $(wc -l <"$work/fleet-use.txt") == 16 ]] || lowest="missing"
share=$(ratio "${lowest:-0}" "$alone")
echo "   alone: line use $alone (runs: $(listed "$work/alone.txt")); 16 at once: lowest $lowest" \
  "(all: $(listed "$work/fleet-use.txt")): ratio $share: $(verdict "$share" '>=' 0.97)"
echo "   kr470-fleet CPU $cpu s over wall $wall s: $(awk -v c="${cpu:-0}" 'BEGIN { printf "%.3f", c / 16 }')" \
  "s per instrument"

echo "11. A host closing the finder mid-search, median of $runs runs" \
  "(goals: finder <= 100 ms, process end <= 2 s)"
: >"$work/close.txt"
: >"$work/exit.txt"
for _ in $(seq "$runs"); do
  mkdir -p "$work/host" && rm -rf "${work:?}/host/"*
  "$b/bench/bench-host-exit" "$b/waveform/Kestrel/libKestrel.so" "$work/host" >"$work/host.txt" 2>/dev/null
  ended=$(cut -d' ' -f1 /proc/uptime)
  sed -n 's/finder closed in \([0-9.]*\) ms/\1/p' "$work/host.txt" >>"$work/close.txt"
  awk -v e="$ended" '/windows closed at/ { printf "%.2f\n", e - $4 }' "$work/host.txt" >>"$work/exit.txt"
done
close=$(median <"$work/close.txt") ended=$(median <"$work/exit.txt")
echo "   finder closed in $close ms: $(verdict "$close" '<=' 100); process ended $ended s after" \
  "its windows: $(verdict "$ended" '<=' 2) (runs: $(listed "$work/exit.txt"))"

echo "10. Line use of Osprey.exe under Wine, normal mode, median of $runs runs (goal >= 0.97)"
cross_build -DKR470_TESTS=OFF
start_wine
for run in 9600:short 57600:small 115200:small; do
  baud=${run%%:*} file=${run##*:}
  line_use "$baud" wine_update "$work/$file.ini" "$baud"
done

misses=$(wc -l <"$work/misses")
if ((misses > 0)); then
  echo "$misses figure(s) missed their goals."
  exit 1
fi
echo "Every figure met its goal."
