# Shared by the scripts that run the simulator: installs and builds, keeps a
# work folder (removed at exit, simulator stopped), starts the simulator.
# Source it after setting `root`; `build` (default build/) names the build
# folder, and `console_only=1` installs and builds only what the console
# updater's demo needs.
build=${build:-$root/build}
if [[ ${console_only:-} == 1 ]]; then
  "$root/scripts/setup.sh" demo
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKR470_TESTS=OFF \
    -DKR470_CONSOLE_ONLY=ON >/dev/null
  cmake --build "$build" -j"$(nproc)" --target Osprey kr470-sim kr470_demo_update >/dev/null
else
  "$root/scripts/setup.sh"
  "$root/scripts/build.sh" "$build"
fi

work=$(mktemp -d)
sim_pid=
cleanup() { [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

# start_simulator ARGS...: the simulator in the background; what it prints
# goes to $work/sim.out.
start_simulator() {
  "$build/tools/kr470-sim/kr470-sim" "$@" >"$work/sim.out" &
  sim_pid=$!
}

# start_tcp_simulator ARGS...: on a loopback TCP port ($port), with the I/O
# configuration $work/kio.ini routing GPIB0::10 (the plug-in's default) to it.
start_tcp_simulator() {
  start_simulator --tcp 0 "$@"
  for _ in $(seq 50); do [[ -s $work/sim.out ]] && break; sleep 0.1; done
  port=$(awk '/^tcp /{print $2}' "$work/sim.out")
  printf '[aliases]\nGPIB0::10 = TCPIP0::127.0.0.1::%s::SOCKET\n' "$port" >"$work/kio.ini"
}
