#!/bin/sh
# quit ends the process at once with its status: 0 by default, the /return
# value otherwise; nothing after it runs.
kem="$1"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
export HOME="$dir"
fail=0
check() {  # script text, expected status, expected output
	printf 'Kem []\n%s\n' "$1" > "$dir/s.kem"
	out=$("$kem" "$dir/s.kem")
	status=$?
	if [ "$status" != "$2" ] || [ "$out" != "$3" ]; then
		echo "FAIL: $1: status $status (want $2), output '$out' (want '$3')"
		fail=1
	fi
}
check 'print 1 quit print 2' 0 1
check 'quit/return 3 print 2' 3 ''
check 'halt print 2' 0 '(halted)'
check 'f: does [loop 2 [quit/return 7]] f print 2' 7 ''
exit $fail
