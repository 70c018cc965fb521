#!/usr/bin/env bash
# Sets up a fresh machine, builds everything with AddressSanitizer and UBSan, and runs every
# test under a virtual X display (GUI tests look at that screen); then builds the concurrency
# suites with ThreadSanitizer and runs them (scripts/tsan.sh, in build-tsan/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DVIGILO_SANITIZE=ON
cmake --build build -j"$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
# The watchdog's restart only records a line: no test run may reboot this machine.
export VIGILO_REBOOT_COMMAND=$PWD/scripts/reboot-recorder.sh
# The shared display of the tests that need one; GUI tests start private servers of their own.
. scripts/private-xvfb.sh
if ! start_private_xvfb 1600x1200x24 build/xvfb-test.log; then
  echo "Xvfb did not start: see build/xvfb-test.log" >&2
  exit 1
fi
trap 'kill "$xvfb_pid" 2> /dev/null || true' EXIT
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 900
kill "$xvfb_pid" 2> /dev/null || true
bash scripts/tsan.sh
