#!/bin/sh
# Compares the weak stand-ins linked into the program with the checked-in list.
# usage: stand_ins.sh <program> <list> <source dir>...
#
# A weak free function of the program is a stand-in unless a header of the given source dirs
# (the client's and the platform's, whose inline helpers the client calls) declares it inline
# (an out-of-line copy of an inline function is weak too). A stand-in missing from the list
# is new; a listed one the program no longer has weak was replaced by its real definition
# (or its signature changed): either way the list and the code disagree.
set -eu
program=$1 list=$2
shift 2
actual=$(mktemp) expected=$(mktemp)
trap 'rm -f "$actual" "$expected"' EXIT

nm --defined-only "$program" | awk '$2 == "W" { print $3 }' | grep -E '^_Z[0-9]' | c++filt |
  while IFS= read -r sig; do
    name=${sig%%(*}
    # A function template's instance prints with its return type and arguments: "int f<8ul>".
    name=${name##* }
    name=${name%%<*}
    if grep -rqE "inline[^;(]*[^A-Za-z0-9_]$name\(" --include='*.h' "$@"; then continue; fi
    echo "$sig"
  done | LC_ALL=C sort -u > "$actual"
grep -vE '^(#|$)' "$list" | LC_ALL=C sort -u > "$expected"

if ! diff -u "$expected" "$actual"; then
  echo "Weak stand-ins differ from $list ('-' listed but not a stand-in, '+' a stand-in not listed)."
  echo "A weak function the list does not name is a stand-in left behind: give it its definition."
  exit 1
fi
echo "$(wc -l < "$actual") stand-ins, as listed."
