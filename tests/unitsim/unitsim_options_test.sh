#!/bin/sh
# unitsim's options: --help lists them on stdout and exits 0 without starting
# a unit; a wrong option gives the usage on stderr and a non-zero exit.
#   unitsim_options_test.sh <unitsim program>
unitsim=$1
out=$(mktemp) && err=$(mktemp) || exit 1
trap 'rm -f "$out" "$err"' EXIT
fail() { echo "FAIL: $*"; echo "--- stdout:"; cat "$out"; echo "--- stderr:"; cat "$err"; exit 1; }

"$unitsim" --help >"$out" 2>"$err" || fail "--help exited $?"
grep -q -e '--revision N' "$out" && grep -q -e '--name PORTNAME' "$out" &&
  grep -q -e '--bootloader' "$out" || fail "--help does not list the options on stdout"
[ ! -s "$err" ] || fail "--help wrote to stderr"

"$unitsim" --revision 41 --no-such-option >"$out" 2>"$err" && fail "a wrong option exited 0"
grep -q '^usage: ' "$err" || fail "a wrong option gives no usage on stderr"
[ ! -s "$out" ] || fail "a wrong option wrote to stdout (a unit was started?)"
echo "unitsim options: ok"
