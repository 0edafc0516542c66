#!/usr/bin/env bash
# Builds the Debian package from a built tree, unpacks it into a scratch root
# and checks it as an installed system would see it: the files listed, no
# RUNPATH, every manual page renders, the pkg-config file builds a host, and
# a whole update of the simulator with the installed Osprey and kr470-sim.
#   package-test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
sim_pid=
cleanup() { [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/*.deb)
echo "package: $(basename "$deb")"

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/list"
for file in /usr/bin/Osprey /usr/bin/kr470-sim /usr/bin/kr470-mkupdate /usr/bin/kr470-ports \
  /usr/bin/kestrel-host /usr/lib/libKestrel.so.1.0.0.10 /usr/lib/libkcom.so.1.0.0 \
  /usr/lib/libinstrument_io.so.1.0.0 /usr/include/kcom/ComTypes.h \
  /usr/include/kcom/CWaveformInterface.h /usr/lib/pkgconfig/kcom.pc \
  /usr/share/man/man1/Osprey.1.gz /usr/share/man/man1/kr470-ports.1.gz \
  /usr/bin/kr470-fleet /usr/share/man/man1/kr470-fleet.1.gz \
  /usr/share/bash-completion/completions/kr470-sim /usr/lib/udev/rules.d/60-kr470-serial.rules \
  /usr/share/bash-completion/completions/kr470-fleet \
  /usr/share/bash-completion/completions/kestrel-host \
  /usr/share/doc/kr470-firmware-tools/copyright \
  /usr/share/ansible/collections/ansible_collections/kr470/instruments/galaxy.yml \
  /usr/share/ansible/collections/ansible_collections/kr470/instruments/meta/runtime.yml \
  /usr/share/ansible/collections/ansible_collections/kr470/instruments/plugins/modules/firmware.py \
  /usr/share/ansible/collections/ansible_collections/kr470/instruments/plugins/modules/facts.py \
  /usr/share/ansible/collections/ansible_collections/kr470/instruments/plugins/module_utils/fleet.py \
  /usr/share/ansible/collections/ansible_collections/kr470/instruments/plugins/doc_fragments/fleet.py; do
  grep -qx -- "$file" "$work/list" || fail "the package lacks $file"
done
[[ $(dpkg-deb -f "$deb" Depends) == *libqt6widgets6* ]] || fail "no shared-library dependencies"
[[ $(dpkg-deb -f "$deb" Description) == *kr470-fleet* ]] || fail "the description leaves out kr470-fleet"

# postinst, with udevadm and the trigger command standing in: it triggers
# again only the USB adapters its rule is for, never every tty.
dpkg-deb -e "$deb" "$work/control"
mkdir "$work/fakebin"
printf '#!/bin/sh\necho "$*" >>"%s"\n' "$work/udevadm.calls" >"$work/fakebin/udevadm"
printf '#!/bin/sh\nexit 0\n' >"$work/fakebin/activate-noawait"
chmod +x "$work/fakebin/udevadm" "$work/fakebin/activate-noawait"
# It acts only where udev runs (/run/udev): given one in a mount namespace of
# its own where that is allowed (root), else skipped.
postinst="mount -t tmpfs none /run && mkdir /run/udev && PATH=$work/fakebin:\$PATH"
if unshare -m true 2>/dev/null; then
  unshare -m sh -c "$postinst sh '$work/control/postinst' configure" || fail "postinst configure"
  trigger=$(grep '^trigger' "$work/udevadm.calls") || fail "postinst triggers nothing"
  [[ $trigger == *"--sysname-match=ttyUSB[0-9]*"*"--sysname-match=ttyACM[0-9]*"* ]] ||
    fail "postinst triggers more than the USB adapters: $trigger"
fi

root=$work/root
dpkg-deb -x "$deb" "$root"
for lib in libKestrel.so.1 libkcom.so.1 libinstrument_io.so.1; do
  [[ -e $root/usr/lib/$lib ]] || fail "no SONAME link $lib"
done
for elf in "$root"/usr/bin/* "$root"/usr/lib/*.so.*.*; do
  if readelf -d "$elf" | grep -Eq 'RPATH|RUNPATH'; then fail "$elf keeps a RUNPATH"; fi
done
for page in "$root"/usr/share/man/man1/*.1.gz; do
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$work/page.txt" 2>"$work/page.err" ||
    fail "man -l $page"
  [[ ! -s $work/page.err && -s $work/page.txt ]] || { cat "$work/page.err"; fail "$page renders badly"; }
done
completions=$root/usr/share/bash-completion/completions
# complete WORDS... EXPECTED: the completion for the last word, as bash asks it
# (several entries joined by "|").
complete_words() {
  local expected=${*: -1} words=("${@:1:$#-1}")
  (
    set +u
    # shellcheck source=/dev/null
    . "$completions/${words[0]}"
    COMP_WORDS=("${words[@]}")
    COMP_CWORD=$((${#words[@]} - 1))
    "$(complete -p "${words[0]}" | sed 's/.*-F \([^ ]*\) .*/\1/')"
    IFS='|'
    [[ "${COMPREPLY[*]}" == "$expected" ]] || { echo "got '${COMPREPLY[*]}'"; exit 1; }
  ) || fail "completion of ${words[*]}"
}
complete_words kr470-sim --li --link
complete_words kr470-mkupdate gen-image --by --bytes
complete_words kr470-ports --ap --append
complete_words Osprey /D /D
complete_words kr470-fleet --pl --plan
complete_words kestrel-host --li --list
# File names are offered whole: no split at a blank, no pattern in brackets.
mkdir "$work/names"
touch "$work/names/KR470A 105.INI" "$work/names/x[1].ini" "$work/names/x1.ini" \
  "$work/names/it's.ini"
mkdir "$work/names/old files"
(
  cd "$work/names"
  complete_words Osprey /FKR '/FKR470A 105.INI'
  complete_words kr470-fleet --plan 'x[' 'x[1].ini'
  complete_words kr470-mkupdate check KR 'KR470A 105.INI'
  # A word typed with its quoting (what the first completion put in) goes on.
  complete_words kr470-mkupdate check 'KR470A\ 1' 'KR470A 105.INI'
  complete_words kr470-fleet --plan '"KR470A 1' 'KR470A 105.INI'
  complete_words Osprey "/F'KR470A 1" '/FKR470A 105.INI'
  complete_words kr470-fleet --json "it\\'" "it's.ini"
  complete_words kr470-fleet --log-dir 'old\ f' 'old files'
)

# A host built against the installed headers and library through pkg-config.
cat >"$work/host.cpp" <<'HOST'
#include <Activation.h>
#include <CWaveformInterface.h>
int main() { return sizeof(VARIANT) == 24 ? 0 : 1; }
HOST
flags=$(PKG_CONFIG_PATH=$root/usr/lib/pkgconfig pkg-config --cflags --libs kcom)
# shellcheck disable=SC2086
g++ -std=c++20 "$work/host.cpp" $flags -o "$work/host" || fail "a host does not build with pkg-config"
LD_LIBRARY_PATH=$root/usr/lib "$work/host" || fail "the host built against the package"

# The Ansible collection's documentation, as ansible-doc shows it from the
# installed folder (where ansible-core is installed; all it writes goes to $work).
if command -v ansible-doc >/dev/null; then
  printf '[defaults]\n' >"$work/ansible.cfg"
  for module in firmware facts; do
    HOME=$work ANSIBLE_HOME=$work/ansible ANSIBLE_LOCAL_TEMP=$work/ansible-tmp ANSIBLE_CONFIG=$work/ansible.cfg \
      ANSIBLE_COLLECTIONS_PATH=$root/usr/share/ansible/collections ANSIBLE_COLLECTIONS_SCAN_SYS_PATH=false \
      ansible-doc "kr470.instruments.$module" >"$work/ansible-doc.txt" 2>&1 ||
      { cat "$work/ansible-doc.txt"; fail "ansible-doc kr470.instruments.$module"; }
    grep -q 'update_file' "$work/ansible-doc.txt" || { cat "$work/ansible-doc.txt"; fail "ansible-doc $module"; }
  done
fi

bin=$root/usr/bin
# Each help text is read whole before it is searched: grep -q stops at its
# first match, and under pipefail the writer's SIGPIPE would fail the test.
"$bin/kr470-sim" --help >"$work/sim.help" || fail "kr470-sim --help exits with $?"
grep -q -- '--hangup-after-records' "$work/sim.help" || fail "kr470-sim --help"
LD_LIBRARY_PATH=$root/usr/lib "$bin/kr470-fleet" --help >"$work/fleet.help" ||
  fail "kr470-fleet --help exits with $?"
grep -q -- '--yes-same-revision' "$work/fleet.help" || fail "kr470-fleet --help"
"$bin/kr470-mkupdate" gen-image --bytes 20000 --header "KR470A 1.05" -o "$work/image.srec"
"$bin/kr470-mkupdate" build --srec "$work/image.srec" --revision 1.05 -o "$work/update.ini" >/dev/null
"$bin/kr470-sim" --link "$work/tty" --transcript "$work/transcript.txt" >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do [[ -e $work/tty ]] && break; sleep 0.05; done
"$bin/kr470-ports" --idn --timeout 2000 --com 1 --append --ports-file "$work/ports.ini" "$work/tty" \
  >"$work/ports.out" || { cat "$work/ports.out"; fail "kr470-ports"; }
grep -q 'Velmora,KR470A' "$work/ports.out" || { cat "$work/ports.out"; fail "kr470-ports asked no *IDN?"; }
# The simulator reads unpaced: a high rate keeps the 625 records from taking a minute.
(cd "$work" && printf 'y\n\n' | OSPREY_PORTS=$work/ports.ini OSPREY_RESET_STEP_MS=1 \
  OSPREY_CONFIRM=1 OSPREY_RESULT=$work/result.jsonl "$bin/Osprey" /F"$work/update.ini" /ACOM1::Baud=2000000 \
  >"$work/osprey.out")
grep -q 'Successfully updated instrument firmware.' "$work/osprey.out" ||
  { cat "$work/osprey.out"; fail "the installed Osprey did not update the simulator"; }
grep -q '"result":"updated"' "$work/result.jsonl" || { cat "$work/result.jsonl"; fail "result record"; }
grep -q '^dlo:comp ' "$work/transcript.txt" || fail "the simulator saw no commit"
grep -q '"idn_after":"Velmora,KR470A,SN470001,1.05-' "$work/result.jsonl" ||
  { cat "$work/result.jsonl"; fail "the record lacks the new revision"; }

if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 ||
    { cat "$work/lintian.txt"; fail "lintian reports errors"; }
  echo "lintian: $(grep -c '^W:' "$work/lintian.txt" || true) warnings, no errors"
fi
cat "$work/ports.out" "$work/result.jsonl"
echo "package test passed"
