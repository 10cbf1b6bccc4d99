#!/usr/bin/env bash
# Builds the station and the unit simulator (those two programs alone: the tests and benchmarks
# are the test command's), starts the simulator on a virtual serial port and then the station,
# which opens the last port of its list: the simulator's. The simulator ends with the station.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" >/dev/null
cmake --build "$top/build" -j"$(nproc)" --target korvan-pro korvan-sim

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
coproc SIM { exec $sudo "$top/build/sim/korvan-sim" --link /dev/ttyZSIM0; }
sim_pid=$SIM_PID
trap 'kill "$sim_pid" 2>/dev/null || true' EXIT
# The simulator prints one line once its port exists.
read -r ready <&"${SIM[0]}"
echo "korvan-sim: $ready"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting the station on a virtual screen (xvfb-run)." >&2
  xvfb-run -a -s "-screen 0 1920x1080x24" "$top/build/app/korvan-pro"
else
  "$top/build/app/korvan-pro"
fi
