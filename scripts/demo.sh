#!/usr/bin/env bash
# The main job: builds the system, starts two simulated 'Q' DVRs on 127.0.0.1:9101 and :9102
# (16 channels each), a simulated SDK DVR on 9110, a simulated 'I' DVR on 9120-9122 and a
# simulated 'S' DVR on 9130 (4 channels each), and runs vigilo against the first 'Q' one.
# With no display it runs under a private Xvfb, writes a screenshot into the run tree and quits
# the client on its own.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
bash scripts/install-deps.sh
cmake -S . -B build
cmake --build build -j"$(nproc)"

run=$top/build/run
# A build left by the test command carries the sanitizers; keep their exit report to our code.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/tests/lsan.supp}
# The watchdog's restart only records a line: the demo never reboots this machine.
export VIGILO_REBOOT_COMMAND=$top/scripts/reboot-recorder.sh
peers=$top/build/peers
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

"$peers/qdvr_sim" --port 9101 --port 9102 --channels 16 --events 20 > "$top/build/qdvr_sim.log" 2>&1 &
pids+=($!)
# DVR-3 of the demo configuration: the simulated SDK DVR ('W'), ports 9110-9117.
"$peers/wdvr_sim" --port 9110 --channels 16 > "$top/build/wdvr_sim.log" 2>&1 &
pids+=($!)
# DVR-4: the simulated 'I' DVR (live 9120, control 9121, playback 9122); DVR-5: the simulated
# 'S' DVR on 9130. Both take the demo's admin/admin.
"$peers/idvr_sim" --live 9120 --control 9121 --playback 9122 --password admin > "$top/build/idvr_sim.log" 2>&1 &
pids+=($!)
"$peers/sdvr_sim" --port 9130 --password admin > "$top/build/sdvr_sim.log" 2>&1 &
pids+=($!)
sleep 1

headless=0
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  disp=":$(( 90 + RANDOM % 9 ))"
  Xvfb "$disp" -screen 0 1280x1024x24 -nolisten tcp > "$top/build/xvfb.log" 2>&1 &
  pids+=($!)
  export DISPLAY=$disp
  for _ in $(seq 50); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.1; done
fi

if [ "$headless" -eq 0 ]; then
  echo "vigilo is running against the simulated DVRs; quit it with Esc or by closing its window."
  "$run/vigilo" -A DVR-1 -u admin,admin
  exit 0
fi

# Unattended: the exit question at the end is answered by VIGILO_BOX_ANSWER.
VIGILO_BOX_ANSWER=yes "$run/vigilo" -A DVR-1 -u admin,admin > "$top/build/vigilo.log" 2>&1 &
vpid=$!
sleep 12
shot=$run/screenshot.png
xwd -root -silent | xwdtopnm 2> /dev/null | pnmtopng > "$shot"
echo "Screenshot of the main window with the simulated DVR's live tiles: $shot"
xdotool search --name "ZOL Main" windowactivate --sync key Escape > /dev/null 2>&1 || true
for _ in $(seq 100); do kill -0 "$vpid" 2>/dev/null || break; sleep 0.1; done
kill "$vpid" 2>/dev/null || true
wait "$vpid" 2>/dev/null || true
echo "Client output: $top/build/vigilo.log; system log: $run/logs/"
