#!/bin/sh
# Fails when an object of a client layer refers to a symbol that only a higher layer defines.
# usage: check_layers.sh <nm> <layer> <archive> [<layer> <archive>...], lowest layer first
#
# The program and tests link every layer whole, so such a call links and runs, and a static
# library keeps its unresolved symbols without complaint: this check is what keeps foundation
# from calling links or screens, and links from calling screens. A symbol that the calling
# layer or one below it defines too (an inline copy, a template instance) is no upward call.
set -eu
nm=$1
shift
listing=$(mktemp) found=$(mktemp)
trap 'rm -f "$listing" "$found"' EXIT
rank=0
while [ $# -ge 2 ]; do
  # nm -A prints "<archive>:<object>: [<address>] <type> <symbol>" (GNU nm without the
  # space); keep "<rank> <layer>/<object> <type> <symbol>".
  "$nm" -A --extern-only "$2" |
    awk -v r=$rank -v l="$1" 'NF >= 3 { split($1, p, ":"); print r, l "/" p[2], $(NF - 1), $NF }' >> "$listing"
  rank=$((rank + 1))
  shift 2
done

# The lowest layer defining each symbol; then every reference whose symbol only a higher
# layer defines.
awk '
  NR == FNR { if ($3 !~ /^[Uwv]$/ && (!($4 in low) || $1 < low[$4])) { low[$4] = $1; at[$4] = $2 }
              next }
  $3 ~ /^[Uwv]$/ && ($4 in low) && low[$4] > $1 { print $2 " calls " $4 ", defined in " at[$4] }
' "$listing" "$listing" > "$found"
if [ -s "$found" ]; then
  c++filt < "$found" | LC_ALL=C sort -u
  echo "A lower client layer calls a higher one: have the higher layer register a hook at start-up, or move the function down."
  exit 1
fi
