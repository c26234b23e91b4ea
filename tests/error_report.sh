#!/bin/sh
# The report of an error that ends a script, read from outside: its lines and
# the status 254.
kem="$1"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
fail=0
check() {  # script text, expected report
	printf 'Kem []\n%s\n' "$1" > "$dir/s.kem"
	out=$("$kem" "$dir/s.kem" 2>&1)
	status=$?
	if [ "$status" != 254 ] || [ "$out" != "$2" ]; then
		echo "FAIL: $1: status $status (want 254), report:"
		echo "$out"
		echo "want:"
		echo "$2"
		fail=1
	fi
}
# A script that cannot be read has run nothing: its report is near the source text.
check 'print 1
x: [1 2 (
]' '*** Syntax Error: (line 4) missing ) at ]
*** Where: transcode
*** Near : "]"
*** Stack: '
check 'x: 1 + "abc' '*** Syntax Error: (line 2) invalid string at "abc
*** Where: transcode
*** Near : {"abc}
*** Stack: '
check 'return 1' '*** Throw Error: return or exit not in function
*** Where: return
*** Near : return 1
*** Stack: '
exit $fail
