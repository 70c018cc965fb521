#!/bin/sh
# Runs the build's layer check (client/check_layers.sh) on tiny archives: it must pass a
# library that calls only what it may, and fail one calling a layer it may not (upward or
# sideways) and one that nm cannot read, which a check reading an empty listing would pass.
# usage: check_layers_test.sh <check_layers.sh> <c++ compiler> <ar> <nm>
set -eu
check=$1 cxx=$2 ar=$3 nm=$4
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

# base_f in base; low calls base; high calls low; up (a lower layer) calls what only high
# defines; top calls base, reached through low's rule.
archive() {
  printf '%s\n' "$2" > "$1.cpp"
  "$cxx" -c -o "$1.o" "$1.cpp"
  "$ar" rc "lib$1.a" "$1.o"
}
archive base 'int base_f() { return 1; }'
archive low 'int base_f(); int low_f() { return base_f(); }'
archive high 'int low_f(); int high_f() { return low_f(); }'
archive up 'int high_f(); int up_f() { return high_f(); }'
archive top 'int base_f(); int top_f() { return base_f(); }'
echo 'not an object' > libtext.a

failures=0
# expect <0|1> <text the output holds> <layer> <archive> <callees>...
expect() {
  want=$1 text=$2
  shift 2
  if "$check" "$nm" "$@" > out.txt 2>&1; then got=0; else got=1; fi
  if [ "$got" != "$want" ] || { [ -n "$text" ] && ! grep -qF -- "$text" out.txt; }; then
    echo "FAILED: check_layers.sh $* exited $got, expected $want with \"$text\":"
    cat out.txt
    failures=$((failures + 1))
  fi
}
expect 0 '' base libbase.a - low liblow.a base high libhigh.a low
expect 0 '' base libbase.a - low liblow.a base top libtop.a low
expect 1 'up.o calls high_f(), defined in high/high.o' \
  base libbase.a - up libup.a base high libhigh.a base
# A sibling is no callee: high may call only base, not low beside it.
expect 1 'high.o calls low_f(), defined in low/low.o' \
  base libbase.a - low liblow.a base high libhigh.a base
expect 1 'could not read missing.a' base libbase.a - low missing.a base high libhigh.a low
expect 1 'could not read libtext.a' base libbase.a - low libtext.a base
expect 1 'not an earlier layer' low liblow.a base base libbase.a -
[ "$failures" -eq 0 ]
