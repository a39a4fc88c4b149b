#!/bin/sh
# Exit codes and messages of the built program: help 0, a rejected option 2 with the usage
# on stderr, an unreadable sequence in batch mode 1 with a message naming it, and a small
# rendered sequence with known cameras solved in batch mode: exit 0 and a camera file
# that matches the true cameras.
kalvex="$1"
render="$2"
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

# The solved world is the true one up to a similarity, so only what a similarity keeps is
# compared: the focal length in pixels, the rotation angle of every camera relative to
# the first, and every centre's distance from the first in units of the path's span.
# A tripod shot has no path: its centres are not compared. Loose limits: this checks that
# the road delivers a real solve of the motion asked for, not its accuracy.
solve() {  # shot (free or pan), estimation method
  "$render" --out="$tmp/$1" --shot="$1" --frames=20 --width=480 --height=270 --focal=400 \
    >/dev/null 2>&1 || { echo "FAIL solve $1: the sample could not be rendered"; fail=1; }
  "$kalvex" --batch-mode --est-method="$2" --export-text="$tmp/$1.txt" "$tmp/$1/img####.png" \
    >"$tmp/out" 2>"$tmp/err" </dev/null
  expect "solve $1" 0 $?
  grep -q "kalvex: solved 20 of 20 frames" "$tmp/err" ||
    { echo "FAIL solve $1: summary line missing:"; grep "^kalvex:" "$tmp/err"; fail=1; }
  awk '
    function angle(r, i, s, k, c) {  # rotation angle between camera i and camera 0
      s = 0
      for (k = 0; k < 9; ++k) s += r[i, k] * r[0, k]
      c = (s - 1) / 2
      if (c > 1) c = 1
      if (c < -1) c = -1
      return atan2(sqrt(1 - c * c), c) * 180 / 3.14159265358979
    }
    function dist(c, i, j) {
      return sqrt((c[i, 0] - c[j, 0]) ^ 2 + (c[i, 1] - c[j, 1]) ^ 2 + (c[i, 2] - c[j, 2]) ^ 2)
    }
    FNR == 1 { file++ }
    file == 1 && $1 !~ /^#/ && NF == 18 {
      f = $1; tf[f] = $2
      for (k = 0; k < 9; ++k) tr[f, k] = $(7 + k)
      for (k = 0; k < 3; ++k) tc[f, k] = $(16 + k)
      nt++
    }
    file == 2 && /^#timeindex / { f = $2 }
    file == 2 && $1 !~ /^#/ && NF == 16 {
      sf[f] = $13 / $15
      for (k = 0; k < 9; ++k) sr[f, k] = $(1 + k)
      for (k = 0; k < 3; ++k) sc[f, k] = $(10 + k)
      ns++
    }
    END {
      if (nt == 0 || ns != nt) { printf "cameras: %d solved of %d true\n", ns, nt; exit 1 }
      last = nt - 1; bad = 0
      for (f = 0; f < nt; ++f) {
        if (!(f in sf)) { printf "frame %d missing\n", f; exit 1 }
        e = sf[f] / tf[f] - 1
        if (e > 0.1 || e < -0.1) { printf "frame %d: focal %.1f px, true %.1f\n", f, sf[f], tf[f]; bad = 1 }
        e = angle(sr, f) - angle(tr, f)
        if (e > 0.5 || e < -0.5) { printf "frame %d: rotation off by %.3f deg\n", f, e; bad = 1 }
        if (dist(tc, last, 0) == 0) continue
        e = dist(sc, f, 0) / dist(sc, last, 0) - dist(tc, f, 0) / dist(tc, last, 0)
        if (e > 0.02 || e < -0.02) { printf "frame %d: centre off by %.4f of the path\n", f, e; bad = 1 }
      }
      exit bad
    }' "$tmp/$1/cameras.txt" "$tmp/$1.txt" ||
      { echo "FAIL solve $1: the solved cameras do not match the true ones"; fail=1; }
}
solve free free
solve pan pan

exit $fail
