#!/usr/bin/env bash
# Builds the console updater's libFuzzer targets with clang (ASan and UBSan on)
# in build-fuzz/, makes their seed corpora, and runs each target for SECONDS
# (default 6: the smoke run of the test command). A crash fails the run and
# leaves its input in build-fuzz/crashes/.
#   scripts/fuzz.sh 3600          an hour per target, one after another
#   scripts/fuzz.sh 3600 FuzzRunUpdate   one target
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-6}
targets=(${2:-FuzzUpdateFile FuzzSplitFields FuzzLinkOpen FuzzNextOption FuzzRunUpdate})
"$root/scripts/setup.sh"
b=$root/build-fuzz
CC=clang CXX=clang++ "$root/scripts/build.sh" "$b" -DKR470_FUZZ=ON >/dev/null

# Seeds, made afresh each run from the project's own tools.
seeds=$b/seeds
rm -rf "$seeds"
mkdir -p "$seeds"/{FuzzUpdateFile,FuzzSplitFields,FuzzLinkOpen,FuzzNextOption,FuzzRunUpdate} "$b/crashes"
mk=$b/tools/kr470-mkupdate/kr470-mkupdate
"$mk" gen-image --bytes 256 --seed 1 --header "KR470A 1.05" -o "$seeds/image.srec"
"$mk" build --srec "$seeds/image.srec" --revision 1.05 --desc "First line" --desc "Second" \
  -o "$seeds/FuzzUpdateFile/crlf.ini" >/dev/null
tr -d '\r' <"$seeds/FuzzUpdateFile/crlf.ini" >"$seeds/FuzzUpdateFile/lf.ini"
rm "$seeds/image.srec"
printf '\003+0,"No error"' >"$seeds/FuzzSplitFields/error"
printf '\004Velmora,KR470A,SN470001,1.04-2.10-0.9' >"$seeds/FuzzSplitFields/idn"
printf '\0021234,1234' >"$seeds/FuzzSplitFields/stat"
printf 'COM1::Baud=57600,Parity=NONE,Handshake=DTR_DSR,Size=8' >"$seeds/FuzzLinkOpen/full"
printf 'ASRL3::STOP=2,PARITY=EVEN,HANDSHAKE=XON_XOFF\0009600,N,8,1' >"$seeds/FuzzLinkOpen/defaults"
printf '/FKR470A_105.INI\0/ACOM1::Baud=115200\0-C\0L' >"$seeds/FuzzNextOption/words"
printf '/F\0/Q\0?' >"$seeds/FuzzNextOption/odd"
printf 'Velmora,KR470A,SN1,1.04-0-0\n+0,"No error"\n0012345\n1\n0,4\n1\n+0,"No error"\n1234\n4,4\n' \
  >"$seeds/FuzzRunUpdate/clean"
printf 'Velmora,loader,SN1,0.10-0-0\n-100,"Command error"\n+0,"No error"\n0012345\n1\n' \
  >"$seeds/FuzzRunUpdate/loader"

failed=0
for target in "${targets[@]}"; do
  corpus=$b/corpus/$target
  mkdir -p "$corpus"
  if "$b/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$b/crashes/$target-" \
    "$corpus" "$seeds/$target" >"$b/$target.log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$b/$target.log")
    cov=$(grep -o 'cov: [0-9]*' "$b/$target.log" | tail -n1)
    echo "$target: $runs runs in ${seconds}s, $cov, no crash"
  else
    echo "$target: FAILED, see $b/$target.log"
    tail -n 30 "$b/$target.log"
    failed=1
  fi
done
exit $failed
