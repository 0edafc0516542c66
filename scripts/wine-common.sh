# Shared by the scripts that run Osprey.exe under Wine: the cross build and a
# fresh Wine prefix in a temporary folder with COM5 mapped to a simulator's
# pseudo-terminal. Source it after setting `root` and `work` (a temporary
# folder the caller removes); `build_win` names the cross build folder.
build_win=${build_win:-$root/build-win}

# cross_build [cmake options...]: Osprey.exe and its unit tests for Windows,
# optimised as the Linux build, without debug information (it makes the
# static test program's build much slower and Wine has no use for it here).
cross_build() {
  cmake -S "$root" -B "$build_win" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64-x86_64.cmake" "$@" >/dev/null
  cmake --build "$build_win" -j"$(nproc)" >/dev/null
}

# start_wine: a prefix of its own, no Mono or Gecko installers, no debug
# chatter; one wineserver kept for the whole run (stop_wine ends it). COM5 is
# the pseudo-terminal link $work/tty; COM1, which Wine gives the first real
# serial port, is hidden so nothing can reach a real device.
start_wine() {
  export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  wineserver -p 2>/dev/null
  wine wineboot -i >/dev/null 2>&1
  wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$work/tty" /f >/dev/null 2>&1
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d '' /f >/dev/null 2>&1
  # The device map is made when Wine's services start: start them again.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p 2>/dev/null
  wine cmd /c exit >/dev/null 2>&1
  [[ $(readlink "$WINEPREFIX/dosdevices/com5") == "$work/tty" ]] || {
    echo "Wine did not map COM5 to $work/tty" >&2
    return 1
  }
}

stop_wine() {
  [[ -n ${WINEPREFIX:-} ]] && wineserver -k 2>/dev/null || true
}
