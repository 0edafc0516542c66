# Whole updates through the plug-in's windows: Kestrel.dll under Wine, driven
# by kestrel-e2e-driver.exe (getWaveform through IDispatch, the Win32 window
# operated by control id, the boxes answered from a script), beside the Linux
# plug-in's run of the same case (kestrel-e2e-reference: the Qt window,
# headless). Each side has a simulator of its own; the two instruments'
# transcripts must be the same line for line and the boxes' titles, texts and
# answers the same byte for byte.
#
# Sourced by scripts/kestrel-windows.sh after the cross build and start_wine:
# root, work, build, build_win and WINEPREFIX are set, the native build holds
# kr470-sim, kr470-mkupdate and kestrel-e2e-reference, a display is running,
# `fail "text"` counts a failure and sim_pids is stopped at exit.
#
# Waits: the plug-in's two 5-second resets are cut to nothing on both sides
# (KESTREL_WAIT_LIMIT_MS=0; the simulator resets at once). The silent case
# waits the plug-in's full reply time-out, 12 s, on both sides at once; so
# does gpib-silent, and a second more for the controller's "++ver".
#
# The GPIB cases put a "++" controller between plug-in and instrument (the
# simulator plays both); on the socket a relay (controller-log.py, python3)
# logs what each side told the controller, compared as the transcripts are.

e2e_started=$SECONDS
e2e=$work/e2e
mkdir -p "$e2e"
e2e_sim=$build/tools/kr470-sim/kr470-sim
e2e_reference=$build/waveform/Kestrel/kestrel-e2e-reference
e2e_driver=$build_win/waveform/Kestrel/wine-tests/kestrel-e2e-driver.exe
e2e_dll=$build_win/waveform/Kestrel/com/Kestrel.dll

# A Windows program sees the Unix tree as drive Z:.
windows_path() {
  local path=${1//\//\\}
  printf 'Z:%s' "$path"
}

# A small update file keeps each case to seconds.
"$build/tools/kr470-mkupdate/kr470-mkupdate" gen-image --bytes 6000 --seed 30 \
  --header "KR470A 1.05" -o "$e2e/image.srec"
"$build/tools/kr470-mkupdate/kr470-mkupdate" build --srec "$e2e/image.srec" --revision 1.05 \
  --model KR470A --desc "Windows plug-in run" -o "$e2e/KR470A_105.INI" >/dev/null

# Each side of a case reads a configuration file of its own, written once its
# simulator has its port (e2e_side). The serial lines are "ASRL5" on both
# sides: COM5 under Wine (mapped to $work/tty by start_wine), the
# pseudo-terminal link native.tty natively.
e2e_serial_section() {
  printf '[ASRL5]\n'
  [[ $1 == native ]] && printf 'device = %s\n' "$e2e/native.tty"
  printf 'settings = 115200,N,8,1\n'
}

# e2e_side NAME LINE native|wine PORT: sets e2e_address to what that side
# types into the address box and writes its configuration, e2e_config.
#   serial       ASRL5::INSTR
#   tcp          the simulator's loopback socket
#   gpib-serial  GPIB0::10 (the address box's default) through the "++"
#                controller on ASRL5
#   gpib-tcp     GPIB0::10::INSTR through the "++" controller on the socket
#   vxi11        TCPIP0::127.0.0.1::inst0::INSTR, the core channel's port
#                given (no portmapper: port 111 is the machine's)
e2e_side() {
  local name=$1 line=$2 side=$3 port=$4
  e2e_config=$e2e/$name.$side.ini
  case $line in
  serial)
    e2e_address=ASRL5::INSTR
    e2e_serial_section "$side"
    ;;
  tcp)
    e2e_address=TCPIP0::127.0.0.1::$port::SOCKET
    ;;
  gpib-serial)
    e2e_address=GPIB0::10
    printf '[gpib0]\ncontroller = ASRL5::INSTR\n'
    e2e_serial_section "$side"
    ;;
  gpib-tcp)
    e2e_address=GPIB0::10::INSTR
    printf '[gpib0]\ncontroller = TCPIP0::127.0.0.1::%s::SOCKET\n' "$port"
    ;;
  vxi11)
    e2e_address=TCPIP0::127.0.0.1::inst0::INSTR
    printf '[tcpip::127.0.0.1]\nvxi11_port = %s\n' "$port"
    ;;
  esac >"$e2e_config"
}

# The virtual display has no window manager: Wine would wait 2 s for each
# managed window it hides (every message box) to be withdrawn. Windows it
# does not hand to a manager are hidden at once.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 ||
  fail "end-to-end: cannot make Wine's windows unmanaged"

# Registered by com-tests.sh, unless it left the class unregistered.
if ! wine reg query 'HKCR\Kestrel.CWaveform\CLSID' >/dev/null 2>&1; then
  wine regsvr32 /s "$(windows_path "$e2e_dll")" || fail "end-to-end: regsvr32 Kestrel.dll failed"
fi

# e2e_start_sim FACE TRANSCRIPT SIM_OPTIONS...: FACE is the path of a
# pseudo-terminal link, tcp or vxi11; e2e_port is then the simulator's port.
e2e_start_sim() {
  local face=$1 transcript=$2
  shift 2
  local out
  out=$(mktemp -p "$e2e")
  case $face in
  tcp | vxi11) "$e2e_sim" "--$face" 0 --transcript "$transcript" "$@" >"$out" & ;;
  *)
    rm -f "$face"
    "$e2e_sim" --link "$face" --transcript "$transcript" "$@" >"$out" &
    ;;
  esac
  e2e_started_on "$out"
}

# e2e_started_on OUT: the program just started in the background prints its
# first line to OUT; kept to be stopped with the simulators, and e2e_port set
# to the line's second word.
e2e_started_on() {
  sim_pids+=($!)
  for _ in $(seq 200); do [[ -s $1 ]] && break; sleep 0.05; done
  e2e_port=$(head -1 "$1" | cut -d' ' -f2)
}

# e2e_log_controller LOG: a relay in front of the simulator on e2e_port that
# writes what the plug-in says to the "++" controller to LOG; e2e_port is
# then the relay's.
e2e_log_controller() {
  local out
  out=$(mktemp -p "$e2e")
  python3 "$root/waveform/Kestrel/wine-tests/controller-log.py" "$e2e_port" "$1" >"$out" &
  e2e_started_on "$out"
}

e2e_stop_sims() {
  kill "${sim_pids[@]}" 2>/dev/null || true
  wait "${sim_pids[@]}" 2>/dev/null || true
  sim_pids=()
}

# e2e_case NAME LINE STRICT ANSWERS SIM_OPTIONS...: both sides at once, then
# compared; LINE as e2e_side takes it (a GPIB line's simulator is a "++"
# controller with the instrument at 10). The driver creates the registered
# class, or with e2e_load=(--dll PATH) the class object of that DLL, as a host
# that does not use the registry would.
e2e_load=()
e2e_case() {
  local name=$1 line=$2 strict=$3 answers=$4
  shift 4
  local t0=$SECONDS native_face=$line wine_face=$line
  case $line in
  serial | gpib-serial)
    native_face=$e2e/native.tty
    wine_face=$work/tty
    ;;
  gpib-tcp) native_face=tcp wine_face=tcp ;;
  esac
  [[ $line == gpib-* ]] && set -- --gpib-controller "$@"
  e2e_start_sim "$native_face" "$e2e/$name.native.transcript" "$@"
  [[ $line == gpib-tcp ]] && e2e_log_controller "$e2e/$name.native.controller"
  e2e_side "$name" "$line" native "$e2e_port"
  local native_address=$e2e_address native_config=$e2e_config
  e2e_start_sim "$wine_face" "$e2e/$name.wine.transcript" "$@"
  [[ $line == gpib-tcp ]] && e2e_log_controller "$e2e/$name.wine.controller"
  e2e_side "$name" "$line" wine "$e2e_port"
  local wine_address=$e2e_address wine_config=$e2e_config
  XDG_CONFIG_HOME=$e2e/config KIO_CONFIG=$native_config KESTREL_WAIT_LIMIT_MS=0 \
    QT_QPA_PLATFORM=offscreen timeout 120 "$e2e_reference" --address "$native_address" \
    --file "$e2e/KR470A_105.INI" --strict "$strict" --answers "$answers" \
    --boxes "$e2e/$name.native.boxes" >"$e2e/$name.native.out" 2>&1 &
  local native_pid=$!
  local wine_status=0 native_status=0
  KIO_CONFIG=$(windows_path "$wine_config") KESTREL_WAIT_LIMIT_MS=0 timeout 120 \
    wine "$e2e_driver" --address "$wine_address" --file "$(windows_path "$e2e/KR470A_105.INI")" \
    --strict "$strict" --answers "$answers" --boxes "$(windows_path "$e2e/$name.wine.boxes")" \
    --deadline 40 "${e2e_load[@]}" >"$e2e/$name.wine.out" 2>&1 || wine_status=$?
  wait "$native_pid" || native_status=$?
  e2e_stop_sims
  ((native_status == 0)) || fail "end-to-end $name: the Linux plug-in's run failed: $(cat "$e2e/$name.native.out")"
  ((wine_status == 0)) || fail "end-to-end $name: the Windows run failed ($wine_status): $(cat "$e2e/$name.wine.out")"
  diff "$e2e/$name.native.transcript" "$e2e/$name.wine.transcript" >"$e2e/$name.diff" ||
    {
      fail "end-to-end $name: the instrument's transcripts differ"
      head -20 "$e2e/$name.diff" >&2
    }
  cmp -s "$e2e/$name.native.boxes" "$e2e/$name.wine.boxes" || {
    fail "end-to-end $name: the message boxes differ"
    diff "$e2e/$name.native.boxes" "$e2e/$name.wine.boxes" | head -20 >&2
  }
  echo "end-to-end $name: $(wc -l <"$e2e/$name.native.transcript") transcript lines," \
    "$(wc -l <"$e2e/$name.native.boxes") boxes, both sides in $((SECONDS - t0)) s"
}

# e2e_expect NAME TEXT: the Linux run of NAME showed TEXT in a box, so that
# both sides cannot agree on a wrong run.
e2e_expect() {
  grep -qF -- "$2" "$e2e/$1.native.boxes" || fail "end-to-end $1: no box of the Linux run shows \"$2\""
}

# e2e_expect_command NAME COMMAND: the Linux run's instrument received a line
# whose first word is COMMAND.
e2e_expect_command() {
  awk -v command="$2" '$1 == command { found = 1 } END { exit !found }' \
    "$e2e/$1.native.transcript" ||
    fail "end-to-end $1: the Linux run's instrument never received \"$2\""
}

# e2e_expect_update NAME: the Linux run of NAME updated the instrument: the
# success box names the new revision, and the commit reached the instrument.
e2e_expect_update() {
  e2e_expect "$1" $'Firmware Update\tFirmware update completed successfully\\r\\nVelmora,KR470A,SN470001,1.05'
  e2e_expect_command "$1" dlo:comp
}

e2e_case normal serial on yes,ok
e2e_expect_update normal
e2e_case strict-refused tcp on yes,ok --refuse 4:2
e2e_expect strict-refused 'Firmware update completed successfully'
grep -c '^dlo? ' "$e2e/strict-refused.native.transcript" >/dev/null ||
  fail "end-to-end strict-refused: the Linux run did not check strictly"
e2e_load=(--dll "$(windows_path "$e2e_dll")")
e2e_case declined serial on no,ok
e2e_load=()
e2e_expect declined $'Firmware Update\tFirmware update failed!\tok'
e2e_case bad-checksum tcp off yes,no,ok --bad-checksum-pass 1
e2e_expect bad-checksum 'Check Sum does not match entry in INI file!  Try download again? (Y/N)'
e2e_case silent serial on ok,ok --silent '*IDN?'
e2e_expect silent $'FlashWrite Error\t'
# Behind a "++" controller and over VXI-11. The simulator's transcript holds
# what reached the instrument: the controller's own commands never do, so a
# "++" line in it is a command sent as data.
e2e_case gpib-serial gpib-serial off yes,ok
e2e_expect_update gpib-serial
e2e_case gpib-tcp gpib-tcp on yes,ok
e2e_expect_update gpib-tcp
for name in gpib-serial gpib-tcp; do
  ! grep -q '^++' "$e2e/$name.native.transcript" "$e2e/$name.wine.transcript" ||
    fail "end-to-end $name: a controller command reached the instrument as data"
done
# On the socket, what the controller was told: the same from both sides, and
# set up, addressed and asked for replies as a "++" controller must be.
cmp -s "$e2e/gpib-tcp.native.controller" "$e2e/gpib-tcp.wine.controller" || {
  fail "end-to-end gpib-tcp: the controller dialogues differ"
  diff -a "$e2e/gpib-tcp.native.controller" "$e2e/gpib-tcp.wine.controller" | head -20 >&2
}
[[ $(head -c 34 "$e2e/gpib-tcp.native.controller") == $'++mode 1\n++auto 0\n++eoi 1\n++eos 2' ]] ||
  fail "end-to-end gpib-tcp: the Linux run did not set the controller up first"
for command in '++addr 10' '++read eoi'; do
  grep -qxF "$command" "$e2e/gpib-tcp.native.controller" ||
    fail "end-to-end gpib-tcp: the Linux run never told the controller \"$command\""
done
echo "end-to-end gpib-tcp: $(grep -c '^++' "$e2e/gpib-tcp.native.controller") controller commands"
# A controller that stops answering part way: after the reply time-out it is
# asked "++ver", and the box names it as the one that does not answer.
e2e_case gpib-silent gpib-serial on yes,ok,ok --gpib-silent-after 20
e2e_expect gpib-silent $'FlashWrite Error\t'
e2e_expect gpib-silent 'I/O error reading from GPIB0::10: the GPIB controller ASRL5::INSTR does not answer'
e2e_case vxi11 vxi11 on yes,ok
e2e_expect_update vxi11
echo "end-to-end: $((SECONDS - e2e_started)) s"
