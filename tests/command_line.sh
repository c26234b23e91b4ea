#!/bin/sh
# The command line as start-up splits it: the process's arguments are joined
# into one line (blanks and an odd quote get double quotes, an empty argument
# is two double quotes) that reads back as the same arguments; the program's
# path goes to system/options/boot, the script's own arguments to
# system/options/args and, as typed, to system/script/args.
kem="$1"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
export HOME="$dir"
cat > "$dir/s.kem" <<'KEM'
Kem []
print system/options/boot
foreach a system/options/args [print rejoin ["[" a "]"]]
write-stdout system/script/args
KEM
out=$("$kem" "$dir/s.kem" plain "a b" 'q"q' '' 'tab	in')
want="$kem
[plain]
[a b]
[q\"q]
[]
[tab	in]
plain \"a b\" \"q\"q \"\" \"tab	in\""
if [ "$out" != "$want" ]; then
	echo "FAIL: got '$out', want '$want'"
	exit 1
fi
