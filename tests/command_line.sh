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

# A script that cannot be read (missing, or no UTF-8) is reported and ends
# the run with status 1: input piped to it is its data, never code, and is
# left unread for whoever reads it next.
printf '\377 Kem [] print "script ran"\n' > "$dir/bad.kem"
printf 'print "data ran as code"\n' > "$dir/input"
for script in missing.kem bad.kem; do
	out=$(cd "$dir" && { "$kem" "$script"; echo "status $?"; cat; } < input)
	case $script in
	missing.kem) report='*** Access Error: cannot open: %missing.kem' ;;
	bad.kem) report='*** Access Error: invalid UTF-8 encoding: #{FF204B656D205B5D207072696E74202273637269707420'
		report="${report}72616E220A}" ;;
	esac
	want="$report
*** Where: read
*** Near : none
*** Stack: 
status 1
print \"data ran as code\""
	if [ "$out" != "$want" ]; then
		echo "FAIL $script: got '$out', want '$want'"
		exit 1
	fi
done
