#!/bin/sh
# Fails when an object of a library refers to a symbol that only libraries it may not call
# define, or when nm cannot read a library.
# usage: check_layers.sh <nm> <layer> <archive> <callees> [<layer> <archive> <callees>...]
#   <callees>: the earlier layers this one may call, comma-separated, or "-" for none; a layer
#   may also call whatever its callees may call.
#
# The program and tests link every layer whole, so such a call links and runs, and a static
# library keeps its unresolved symbols without complaint: this check is what keeps foundation
# from calling links or screens, links from calling screens, and the libraries the setup tool
# links (config, packets) from calling the client's SDL layers. A symbol that the calling layer
# or one it may call defines too (an inline copy, a template instance) is no forbidden call.
# Symbols no listed library defines (the C++ library, SDL, ...) are not checked here.
set -eu
nm=$1
shift
listing=$(mktemp) rules=$(mktemp) found=$(mktemp) symbols=$(mktemp)
trap 'rm -f "$listing" "$rules" "$found" "$symbols"' EXIT
layers=" "
while [ $# -ge 3 ]; do
  layer=$1 archive=$2 callees=$3
  shift 3
  # A library nm cannot read would pass with nothing checked: fail instead.
  if ! "$nm" -A --extern-only "$archive" > "$symbols"; then
    echo "check_layers.sh: $nm could not read $archive ($layer)" >&2
    exit 1
  fi
  # nm -A prints "<archive>:<object>: [<address>] <type> <symbol>" (GNU nm without the
  # space); keep "<layer> <layer>/<object> <type> <symbol>".
  awk -v l="$layer" 'NF >= 3 { split($1, p, ":"); print l, l "/" p[2], $(NF - 1), $NF }' \
    "$symbols" >> "$listing"
  # "<layer> <layer it may call>": itself, its callees and everything they may call.
  echo "$layer $layer" >> "$rules"
  if [ "$callees" != - ]; then
    for callee in $(echo "$callees" | tr , ' '); do
      case "$layers" in
        *" $callee "*) ;;
        *) echo "check_layers.sh: $layer may call $callee, which is not an earlier layer" >&2
           exit 1 ;;
      esac
      awk -v c="$callee" -v l="$layer" '$1 == c { print l, $2 }' "$rules" > "$symbols"
      cat "$symbols" >> "$rules"
    done
  fi
  layers="$layers$layer "
done
if [ $# -ne 0 ]; then
  echo "usage: check_layers.sh <nm> <layer> <archive> <callees> [...]" >&2
  exit 1
fi

# The layers defining each symbol; then every reference whose symbol only layers the caller
# may not call define.
awk '
  FNR == 1 { ++pass }
  pass == 1 { may[$1, $2] = 1; next }
  pass == 2 { if ($3 !~ /^[Uwv]$/ && !(($4, $1) in def)) {
                          def[$4, $1] = 1; defs[$4] = defs[$4] " " $1
                          if (!($4 in at)) at[$4] = $2 }
                        next }
  $3 ~ /^[Uwv]$/ && ($4 in defs) {
    n = split(defs[$4], d, " "); ok = 0
    for (i = 1; i <= n; ++i) if (($1, d[i]) in may) ok = 1
    if (!ok) print $2 " calls " $4 ", defined in " at[$4]
  }
' "$rules" "$listing" "$listing" > "$found"
if [ -s "$found" ]; then
  c++filt < "$found" | LC_ALL=C sort -u
  echo "A client library calls one it may not: have the higher layer register a hook at start-up, or move the function down."
  exit 1
fi
