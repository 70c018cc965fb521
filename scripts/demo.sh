#!/usr/bin/env bash
# The main job: builds what the demo runs (not the tests, benchmarks or fuzz targets), starts
# two simulated 'Q' DVRs on 127.0.0.1:9101 and :9102 (16 channels each), a simulated SDK DVR
# on 9110, a simulated 'I' DVR on 9120-9122 and a simulated 'S' DVR on 9130 (4 channels
# each), and runs vigilo against the first 'Q' one. With no display it runs under a private
# Xvfb, writes a screenshot into the run tree and quits the client on its own.
# One line per step; each step's own output goes to a log under build/.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
logs=$top/build/demo
mkdir -p "$logs"
started=$SECONDS

# step TEXT LOG COMMAND...: one line for the step, its output in LOG, the log's end on failure.
# COMMAND may be a function of this script: it runs in this shell.
step() {
  local text=$1 log=$2 t0=$SECONDS
  shift 2
  printf 'demo: %s ...' "$text"
  if "$@" > "$log" 2>&1; then
    printf ' done (%d s)\n' $((SECONDS - t0))
  else
    printf ' failed; the end of %s:\n' "$log"
    tail -n 30 "$log" >&2
    exit 1
  fi
}

step "installing missing Debian packages" "$logs/install.log" bash scripts/install-deps.sh
step "configuring the build in build/" "$logs/configure.log" cmake -S . -B build
step "building vigilo, its tools and the simulated DVRs ($(nproc) jobs)" "$logs/build.log" \
  cmake --build build --target demo -j"$(nproc)"

run=$top/build/run
# A build left by the test command carries the sanitizers; keep their exit report to our code.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/tests/lsan.supp}
# The watchdog's restart only records a line: the demo never reboots this machine.
export VIGILO_REBOOT_COMMAND=$top/scripts/reboot-recorder.sh
peers=$top/build/peers
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null || true; done
  wait 2> /dev/null || true
}
trap cleanup EXIT

# Waits up to 10 s for something to listen on each of the given local ports.
listening() {
  local port
  for port in "$@"; do
    for _ in $(seq 100); do
      (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null && continue 2
      sleep 0.1
    done
    echo "nothing listens on port $port"
    return 1
  done
}
start_peers() {
  "$peers/qdvr_sim" --port 9101 --port 9102 --channels 16 --events 20 > "$logs/qdvr_sim.log" 2>&1 &
  pids+=($!)
  # DVR-3 of the demo configuration: the simulated SDK DVR ('W'), ports 9110-9117.
  "$peers/wdvr_sim" --port 9110 --channels 16 > "$logs/wdvr_sim.log" 2>&1 &
  pids+=($!)
  # DVR-4: the simulated 'I' DVR (live 9120, control 9121, playback 9122); DVR-5: the
  # simulated 'S' DVR on 9130. Both take the demo's admin/admin.
  "$peers/idvr_sim" --live 9120 --control 9121 --playback 9122 --password admin \
    > "$logs/idvr_sim.log" 2>&1 &
  pids+=($!)
  "$peers/sdvr_sim" --port 9130 --password admin > "$logs/sdvr_sim.log" 2>&1 &
  pids+=($!)
  listening 9101 9102 9110 9120 9130
}
step "starting the simulated DVRs (DVR-1/2 on 9101/9102, DVR-3 9110, DVR-4 9120, DVR-5 9130)" \
  "$logs/peers.log" start_peers

if [ -n "${DISPLAY:-}" ]; then
  echo "demo: vigilo runs against DVR-1 (ready after $((SECONDS - started)) s); quit it with Esc or by closing its window."
  "$run/vigilo" -A DVR-1 -u admin,admin
  exit 0
fi

. scripts/private-xvfb.sh
step "no display: starting a private Xvfb" "$logs/xvfb-start.log" \
  start_private_xvfb 1280x1024x24 "$logs/xvfb.log"
pids+=("$xvfb_pid")

# Unattended: the exit question at the end is answered by VIGILO_BOX_ANSWER.
VIGILO_BOX_ANSWER=yes "$run/vigilo" -A DVR-1 -u admin,admin > "$logs/vigilo.log" 2>&1 &
vpid=$!
pids+=("$vpid")
printf 'demo: vigilo shows DVR-1 (%d s after the start); letting its tiles run for 12 s ...' \
  $((SECONDS - started))
sleep 12
# A client that ended early would leave a screenshot of an empty screen: say so and fail.
if ! kill -0 "$vpid" 2> /dev/null; then
  code=0
  wait "$vpid" || code=$?
  printf ' failed: vigilo ended early (exit code %d); the end of %s:\n' "$code" "$logs/vigilo.log"
  tail -n 30 "$logs/vigilo.log" >&2
  exit 1
fi
echo " done"
shot=$run/screenshot.png
xwd -root -silent | xwdtopnm 2> /dev/null | pnmtopng > "$shot"
echo "demo: screenshot of the main window with the live tiles: $shot"
# Esc to the window itself (Xvfb has no window manager to activate it): the first clears the
# selected tiles, if any, the next asks the exit question.
win=$(xdotool search --name "ZOL Main" 2> /dev/null | head -n 1)
for _ in 1 2; do
  [ -n "$win" ] && xdotool key --window "$win" Escape > /dev/null 2>&1
  for _ in $(seq 50); do kill -0 "$vpid" 2> /dev/null || break 2; sleep 0.1; done
done
if kill -0 "$vpid" 2> /dev/null; then
  kill "$vpid" 2> /dev/null || true
  wait "$vpid" 2> /dev/null || true
  echo "demo: vigilo did not end within 10 s of two Esc presses and was stopped; its output is in $logs/vigilo.log" >&2
  exit 1
fi
code=0
wait "$vpid" || code=$?
if [ "$code" -ne 0 ]; then
  echo "demo: vigilo ended with exit code $code; its output is in $logs/vigilo.log" >&2
  exit 1
fi
echo "demo: vigilo ended; its output is in $logs/vigilo.log, its system log in $run/logs/"
