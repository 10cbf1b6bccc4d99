#!/usr/bin/env bash
# Processor time per exchange of the station and of mbpoll, side by side in one run: each polls
# its own simulated unit (116 registers every 500 ms, 9600 8N1) at the same time, and the whole
# process's utime+stime is sampled from /proc/<pid>/stat over the same window. Two rounds: the
# reply arriving byte by byte at the line's pace, then in one burst.
#
#   bench/cpu-vs-mbpoll.sh [seconds] [build-dir]      (default 40 s, build/)
#
# The station opens the last port of its list, so run it where the simulator's link is the only
# port in /dev: as root in a mount namespace with a /dev of its own, or on a machine without
# serial ports.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
window=${1:-40}
build=${2:-$top/build}
sim=$build/sim/korvan-sim
station=$build/app/korvan-pro
warmup=6 # start-up, first reply, switch to the read of 116 registers
for tool in "$sim" "$station"; do
  [ -x "$tool" ] || { echo "missing $tool: build first" >&2; exit 1; }
done
for tool in mbpoll Xvfb socat; do
  command -v $tool >/dev/null || { echo "missing $tool: scripts/install-deps.sh" >&2; exit 1; }
done

run=$(mktemp -d -t korvan-bench.XXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$run"
}
trap cleanup EXIT

hz=$(getconf CLK_TCK)

# utime + stime of the whole process (all its threads, ended ones too), in milliseconds; its
# resolution is one clock tick (10 ms), too coarse for the burst round on its own.
stat_ms() {
  local rest
  rest=$(sed 's/^.*) //' "/proc/$1/stat") # the name may hold spaces; fields from 3 on follow
  set -- $rest
  echo $(( (${12} + ${13}) * 1000 / hz ))
}

# The same time to the nanosecond: the process's CPU-time clock, which clock_getcpuclockid gives
# for any process (threads that have ended included).
run_ns() {
  python3 -c "import time; print(time.clock_gettime_ns(((~$1) << 3) | 2))"
}

# Requests the simulated unit has answered so far.
replies() {
  echo stats | socat - "UNIX-CONNECT:$1" | sed -n 's/.* replies=\([0-9]*\).*/\1/p'
}

# Starts a simulator; prints its station-side terminal once it is ready.
start_sim() { # name link burst-flag
  local name=$1 link=$2 out=$run/$1.out
  "$sim" --quiet --link "$link" --control "$run/$name.sock" --dump "$run/$name.regs" $3 \
    >"$out" 2>"$run/$name.err" &
  pids+=($!)
  for _ in $(seq 300); do # a loaded machine may take a while
    grep -q '^ready' "$out" 2>/dev/null && break
    sleep 0.1
  done
  grep -q '^ready' "$out" ||
    { echo "$name did not start: $(cat "$out" "$run/$name.err")" >&2; exit 1; }
}

Xvfb -displayfd 3 -screen 0 1600x900x24 -nolisten tcp 3>"$run/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$run/display" ] && break; sleep 0.1; done
display=:$(cat "$run/display")

round() { # label burst-flag
  local label=$1 flag=$2
  start_sim station-unit /dev/ttyZBENCH0 "$flag"
  start_sim mbpoll-unit "$run/mbpoll-link" "$flag"
  DISPLAY=$display QT_QPA_PLATFORM=xcb "$station" >/dev/null 2>"$run/station.err" &
  local st=$!
  pids+=($st)
  mbpoll -m rtu -b 9600 -d 8 -s 1 -P none -a 1 -0 -r 0 -c 116 -t 4 -l 500 -o 0.4 \
    "$run/mbpoll-link" >/dev/null 2>&1 &
  local mb=$!
  pids+=($mb)
  sleep "$warmup"
  local s0 m0 t0 u0 sr0 mr0 s1 m1 t1 u1 sr1 mr1 load0 load1
  load0=$(cut -d' ' -f1-3 /proc/loadavg)
  s0=$(run_ns $st); m0=$(run_ns $mb); t0=$(stat_ms $st); u0=$(stat_ms $mb)
  sr0=$(replies "$run/station-unit.sock"); mr0=$(replies "$run/mbpoll-unit.sock")
  sleep "$window"
  s1=$(run_ns $st); m1=$(run_ns $mb); t1=$(stat_ms $st); u1=$(stat_ms $mb)
  sr1=$(replies "$run/station-unit.sock"); mr1=$(replies "$run/mbpoll-unit.sock")
  load1=$(cut -d' ' -f1-3 /proc/loadavg)
  kill $st $mb
  wait $st $mb 2>/dev/null || true
  for p in "${pids[@]:1}"; do kill "$p" 2>/dev/null || true; done
  wait "${pids[@]:1}" 2>/dev/null || true
  pids=("${pids[0]}")
  awk -v l="$label" -v sc=$((s1 - s0)) -v sn=$((sr1 - sr0)) -v mc=$((m1 - m0)) \
    -v mn=$((mr1 - mr0)) -v st=$((t1 - t0)) -v mt=$((u1 - u0)) -v a="$load0" -v b="$load1" 'BEGIN {
      if (sn == 0 || mn == 0) { printf "| %s | no exchanges (station %d, mbpoll %d) | | | %s / %s |\n", l, sn, mn, a, b; exit }
      s = sc / sn / 1e6; m = mc / mn / 1e6
      printf "| %s | %.3f ms (%d exch., stat %d ms) | %.3f ms (%d exch., stat %d ms) | %s | %s / %s |\n",
             l, s, sn, st, m, mn, mt, (m > 0 ? sprintf("%.2f", s / m) : "-"), a, b }'
}

echo "CPU per exchange over ${window} s, 116 registers every 500 ms at 9600 8N1, $(nproc) cores"
echo
echo "| reply | station | mbpoll | station / mbpoll | load before / after |"
echo "|---|---|---|---|---|"
round "paced, byte by byte" ""
round "one burst" "--burst"
