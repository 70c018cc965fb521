#!/usr/bin/env bash
# Sets up a fresh machine, builds everything with AddressSanitizer and UBSan, and runs every
# test under a virtual X display (GUI tests look at that screen).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DVIGILO_SANITIZE=ON
cmake --build build -j"$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
# The watchdog's restart only records a line: no test run may reboot this machine.
export VIGILO_REBOOT_COMMAND=$PWD/scripts/reboot-recorder.sh
xvfb-run -a -s "-screen 0 1600x1200x24" \
  ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 900
