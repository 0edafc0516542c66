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
# waits the plug-in's full reply time-out, 12 s, on both sides at once.

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

# The serial cases use "ASRL5::INSTR" on both sides: COM5 under Wine (mapped
# to $work/tty by start_wine), the pseudo-terminal link native.tty natively.
printf '[ASRL5]\nsettings = 115200,N,8,1\n' >"$e2e/kio-wine.ini"
printf '[ASRL5]\ndevice = %s\nsettings = 115200,N,8,1\n' "$e2e/native.tty" >"$e2e/kio-native.ini"

# The virtual display has no window manager: Wine would wait 2 s for each
# managed window it hides (every message box) to be withdrawn. Windows it
# does not hand to a manager are hidden at once.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 ||
  fail "end-to-end: cannot make Wine's windows unmanaged"

# Registered by com-tests.sh, unless it left the class unregistered.
if ! wine reg query 'HKCR\Kestrel.CWaveform\CLSID' >/dev/null 2>&1; then
  wine regsvr32 /s "$(windows_path "$e2e_dll")" || fail "end-to-end: regsvr32 Kestrel.dll failed"
fi

# e2e_start_sim LINK|tcp TRANSCRIPT SIM_OPTIONS...: sets e2e_address to the
# simulator's address (serial: ASRL5::INSTR; TCP: its loopback socket).
e2e_start_sim() {
  local link=$1 transcript=$2
  shift 2
  local out
  out=$(mktemp -p "$e2e")
  if [[ $link == tcp ]]; then
    "$e2e_sim" --tcp 0 --transcript "$transcript" "$@" >"$out" &
  else
    rm -f "$link"
    "$e2e_sim" --link "$link" --transcript "$transcript" "$@" >"$out" &
  fi
  sim_pids+=($!)
  for _ in $(seq 200); do [[ -s $out ]] && break; sleep 0.05; done
  if [[ $link == tcp ]]; then
    e2e_address="TCPIP0::127.0.0.1::$(head -1 "$out" | cut -d' ' -f2)::SOCKET"
  else
    e2e_address=ASRL5::INSTR
  fi
}

e2e_stop_sims() {
  kill "${sim_pids[@]}" 2>/dev/null || true
  wait "${sim_pids[@]}" 2>/dev/null || true
  sim_pids=()
}

# e2e_case NAME serial|tcp STRICT ANSWERS SIM_OPTIONS...: both sides at once,
# then compared. The driver creates the registered class, or with
# e2e_load=(--dll PATH) the class object of that DLL, as a host that does not
# use the registry would.
e2e_load=()
e2e_case() {
  local name=$1 line=$2 strict=$3 answers=$4
  shift 4
  local t0=$SECONDS native_link=tcp wine_link=tcp
  if [[ $line == serial ]]; then
    native_link=$e2e/native.tty
    wine_link=$work/tty
  fi
  e2e_start_sim "$native_link" "$e2e/$name.native.transcript" "$@"
  local native_address=$e2e_address
  e2e_start_sim "$wine_link" "$e2e/$name.wine.transcript" "$@"
  local wine_address=$e2e_address
  XDG_CONFIG_HOME=$e2e/config KIO_CONFIG=$e2e/kio-native.ini KESTREL_WAIT_LIMIT_MS=0 \
    QT_QPA_PLATFORM=offscreen timeout 120 "$e2e_reference" --address "$native_address" \
    --file "$e2e/KR470A_105.INI" --strict "$strict" --answers "$answers" \
    --boxes "$e2e/$name.native.boxes" >"$e2e/$name.native.out" 2>&1 &
  local native_pid=$!
  local wine_status=0 native_status=0
  KIO_CONFIG=$(windows_path "$e2e/kio-wine.ini") KESTREL_WAIT_LIMIT_MS=0 timeout 120 \
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

e2e_case normal serial on yes,ok
e2e_expect normal $'Firmware Update\tFirmware update completed successfully\\r\\nVelmora,KR470A,SN470001,1.05'
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
echo "end-to-end: $((SECONDS - e2e_started)) s"
