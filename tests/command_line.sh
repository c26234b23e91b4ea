#!/bin/sh
# system/script/args holds the whole command line, joined from the process's
# arguments so that the start-up splitting reads each one back: blanks and an
# odd quote get double quotes, an empty argument is two double quotes.
kem="$1"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
printf 'Kem []\nwrite-stdout system/script/args\n' > "$dir/s.kem"
out=$("$kem" "$dir/s.kem" plain "a b" 'q"q' '' 'tab	in')
want="$kem $dir/s.kem plain \"a b\" \"q\"q \"\" \"tab	in\""
if [ "$out" != "$want" ]; then
	echo "FAIL: got '$out', want '$want'"
	exit 1
fi
