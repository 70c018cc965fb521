#!/bin/sh
# Runs a command in a fresh scratch directory (in memory where /dev/shm exists) and removes
# the directory afterwards, whatever the command did; the exit status is the command's. The
# fuzz targets write their files there (fixed names like setup.cfg and eeprom_data.dat), so
# targets running side by side never share one and nothing is left behind.
d=$(mktemp -d -p /dev/shm vigilo-fuzz-XXXXXX 2>/dev/null || mktemp -d) || exit 1
cd "$d" || exit 1
"$@"
rc=$?
cd / && rm -rf "$d"
exit $rc
