#!/usr/bin/env bash
# Builds the libraries, the programs the GUI suites start and the concurrency suites with
# ThreadSanitizer in build-tsan/ (its own folder: the sanitizers exclude each other), and runs
# those suites under a private Xvfb. A report of any process - a test program or a program
# it starts - fails the run; tests/tsan.supp names what is not ours to mend. scripts/test.sh
# runs this after the AddressSanitizer suites; it may also be run on its own.
set -euo pipefail
cd "$(dirname "$0")/.."

# The suites that run the client's threads (receive, decoder, tiles and refresh timer,
# statistics, DVR events and their snapshots and mails, recording, search window), the
# processes started side by side, the platform's synchronisation and the SDK sessions.
suites=(
  client_foundation_stats_test client_foundation_event_actions_test client_foundation_mail_queue_test
  client_links_decoder_thread_test client_links_decoder_pipeline_test
  client_links_receive_rings_test client_links_recording_test client_links_link_notices_test
  client_screens_tiles_test client_screens_widget_text_test client_screens_search_window_test
  client_screens_live_window_test client_screens_search_gui_test
  client_links_nc_receiver_test client_links_recording_receive_test client_links_connection_test
  client_links_sdk_receiver_test
  platform_sync_test platform_process_test
  sdk_dsf_source_test sdk_client_site_test sdk_multimedia_timer_test sdk_blocksock_test
)
# What the GUI suites start and read: the program, the simulated 'Q' DVR and the run tree.
programs=(vigilo qdvr_sim mailsend default_skin skin_fonts alarm_sounds tool_images)

build=build-tsan
mkdir -p "$build"
cmake -S . -B "$build" -DVIGILO_TSAN=ON -DVIGILO_BENCH=OFF > "$build/configure.log" 2>&1 || {
  cat "$build/configure.log" >&2
  exit 1
}
cmake --build "$build" -j"$(nproc)" --target "${programs[@]}" "${suites[@]}"

reports=$PWD/$build/tsan-reports
rm -rf "$reports"
mkdir -p "$reports"
# Every process writes its reports to a file of its own there (report.<pid>); exit code 66
# marks a process that reported.
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp log_path=$reports/report exitcode=66 ${TSAN_OPTIONS:-}"
export VIGILO_REBOOT_COMMAND=$PWD/scripts/reboot-recorder.sh
. scripts/private-xvfb.sh
if ! start_private_xvfb 1600x1200x24 "$build/xvfb-tsan.log"; then
  echo "Xvfb did not start: see $build/xvfb-tsan.log" >&2
  exit 1
fi
trap 'kill "$xvfb_pid" 2> /dev/null || true' EXIT

labels=$(IFS='|'; echo "^(${suites[*]})\$")
status=0
# The sanitizer slows the threads five- to tenfold, so half as many cases run at once as
# there are cores; every case runs once, and a case that waits does so on a condition with a
# deadline only a frozen program misses.
jobs=$(( $(nproc) / 2 > 1 ? $(nproc) / 2 : 1 ))
ctest --test-dir "$build" -L "$labels" --output-on-failure -j"$jobs" --timeout 900 || status=1
if [ -n "$(ls -A "$reports")" ]; then
  echo "ThreadSanitizer reported (in $reports):" >&2
  cat "$reports"/* >&2
  status=1
fi
exit $status
