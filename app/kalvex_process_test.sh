#!/bin/sh
# Exit codes and messages of the built program: help 0, a rejected option 2 with the usage
# on stderr, an unreadable sequence in batch mode 1 with a message naming it.
kalvex="$1"
fail=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

expect() {  # name, expected code, actual code
  if [ "$2" != "$3" ]; then
    echo "FAIL $1: exit code $3, expected $2"
    fail=1
  fi
}

"$kalvex" --help >"$tmp/out" 2>"$tmp/err" </dev/null
expect help 0 $?
grep -q "usage:" "$tmp/out" || { echo "FAIL help: no usage on stdout"; fail=1; }

"$kalvex" --batch-mode --no-such-option "$tmp/img####.png" >"$tmp/out" 2>"$tmp/err" </dev/null
expect bad_option 2 $?
grep -q "usage:" "$tmp/err" || { echo "FAIL bad_option: no usage on stderr"; fail=1; }

"$kalvex" --batch-mode --ft-corner-count=-5 "$tmp/img####.png" >"$tmp/out" 2>"$tmp/err" </dev/null
expect bad_value 2 $?

"$kalvex" --batch-mode --export-text="$tmp/cams.txt" "$tmp/missing/img####.png" \
  >"$tmp/out" 2>"$tmp/err" </dev/null
expect unreadable_sequence 1 $?
grep -q "cannot read the image sequence \"$tmp/missing/img####.png\"" "$tmp/err" ||
  { echo "FAIL unreadable_sequence: message missing:"; cat "$tmp/err"; fail=1; }
[ ! -e "$tmp/cams.txt" ] || { echo "FAIL unreadable_sequence: an export was written"; fail=1; }

"$kalvex" --batch-mode >"$tmp/out" 2>"$tmp/err" </dev/null
expect no_sequence 1 $?

exit $fail
