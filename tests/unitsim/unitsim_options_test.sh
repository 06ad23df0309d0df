#!/bin/sh
# unitsim --help lists the options on stdout and exits 0; a wrong option gets
# the usage on stderr and a non-zero exit, and starts no unit.
fail() { echo "FAIL: $*" && exit 1; }
err=$("$1" --help 2>&1 >/dev/null) && [ -z "$err" ] || fail "--help: exit status or stderr: $err"
"$1" --help | grep -q -e '--name PORTNAME' || fail "--help lists no options on stdout"
out=$("$1" --no-such-option 2>/dev/null) && fail "a wrong option exited 0"
[ -z "$out" ] && "$1" --no-such-option 2>&1 | grep -q '^usage: ' || fail "a wrong option: $out"
echo "unitsim options: ok"
