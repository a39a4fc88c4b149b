#!/bin/sh
# Exit codes and messages of the built program as a script sees them: help and version 0,
# rejected options, ranges and export targets 2 before any tracking, unreadable sequences
# and frames of mixed sizes 1, a partial result 3 with the unsolved frames named, and small
# rendered sequences with known cameras solved in batch mode: exit 0, a camera file that
# matches the true cameras, the same file from a second identical run, and a quiet stderr.
# Run on the sanitizer build, so the whole batch road runs under ASan and UBSan.
kalvex="$1"
render="$2"
fail=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

. "$(dirname "$0")/process_test_checks.sh"
says() {  # name, text expected on stderr
  grep -qF -- "$2" "$tmp/err" || { echo "FAIL $1: \"$2\" missing:"; cat "$tmp/err"; fail=1; }
}

"$kalvex" --help >"$tmp/out" 2>"$tmp/err" </dev/null
expect help 0 $?
grep -q "usage:" "$tmp/out" || { echo "FAIL help: no usage on stdout"; fail=1; }

"$kalvex" --batch-mode --no-such-option "$tmp/img####.png" >"$tmp/out" 2>"$tmp/err" </dev/null
expect bad_option 2 $?
grep -q "usage:" "$tmp/err" || { echo "FAIL bad_option: no usage on stderr"; fail=1; }

"$kalvex" --version --batch-mode "$tmp/img####.png" >"$tmp/out" 2>"$tmp/err" </dev/null
expect version 0 $?
grep -q "^Kalvex [0-9]" "$tmp/out" || { echo "FAIL version: no version on stdout"; fail=1; }
[ ! -s "$tmp/err" ] || { echo "FAIL version: a run started:"; cat "$tmp/err"; fail=1; }

# Values the options do not take: refused with the reason, nothing tracked.
for bad in --ft-corner-count=-5 --first-frame=+-5 --ft-feature-consistency-check=afine \
  --batch-mode=no --ft-min-eigenvalue=-3.5 --ft-min-eigenvalue=0.5 --ft-min-eigenvalue=1e30 \
  --pixel-aspect=1e300 --deinterlacing=5; do
  "$kalvex" --batch-mode "$bad" "$tmp/img####.png" >"$tmp/out" 2>"$tmp/err" </dev/null
  expect "bad_value $bad" 2 $?
  says "bad_value $bad" "kalvex: option --"
done

# A configuration file naming itself three times: bounded, refused at once.
printf 'config-file %s\nconfig-file %s\nconfig-file %s\n' "$tmp/fan.cfg" "$tmp/fan.cfg" \
  "$tmp/fan.cfg" >"$tmp/fan.cfg"
"$kalvex" --batch-mode --config-file="$tmp/fan.cfg" "$tmp/img####.png" >"$tmp/out" 2>"$tmp/err" \
  </dev/null
expect config_fan_out 2 $?
says config_fan_out "config files expand too far"

"$kalvex" --batch-mode --export-text="$tmp/cams.txt" "$tmp/missing/img####.png" \
  >"$tmp/out" 2>"$tmp/err" </dev/null
expect unreadable_sequence 1 $?
grep -q "cannot read the image sequence \"$tmp/missing/img####.png\"" "$tmp/err" ||
  { echo "FAIL unreadable_sequence: message missing:"; cat "$tmp/err"; fail=1; }
[ ! -e "$tmp/cams.txt" ] || { echo "FAIL unreadable_sequence: an export was written"; fail=1; }

"$kalvex" --batch-mode >"$tmp/out" 2>"$tmp/err" </dev/null
expect no_sequence 1 $?

# Small sequences for the failures before tracking.
"$render" --out="$tmp/seq" --shot=free --frames=20 --width=480 --height=270 --focal=400 \
  >/dev/null 2>&1 || { echo "FAIL: the sample could not be rendered"; fail=1; }
"$render" --out="$tmp/other" --shot=free --frames=2 --width=600 --height=338 --focal=400 \
  >/dev/null 2>&1
mkdir "$tmp/empty"

no_frames() {  # name, template, text naming the cause, options...
  name=$1 template=$2 text=$3
  shift 3
  "$kalvex" --batch-mode "$@" "$template" >"$tmp/out" 2>"$tmp/err" </dev/null
  expect "$name" 1 $?
  says "$name" "cannot read the image sequence \"$template\": $text"
}
no_frames missing_folder "$tmp/missing/img####.png" "folder \"$tmp/missing\": No such file"
no_frames empty_folder "$tmp/empty/img####.png" "the folder \"$tmp/empty\" is empty"
no_frames no_match "$tmp/seq/zz####.png" "no file in \"$tmp/seq\" matches \"zz####.png\""
no_frames empty_range "$tmp/seq/img####.png" "no frame in the range 100 to 200" -F100 -L200

refused() {  # name, text, options and template...
  name=$1 text=$2
  shift 2
  "$kalvex" --batch-mode "$@" >"$tmp/out" 2>"$tmp/err" </dev/null
  expect "$name" 2 $?
  says "$name" "$text"
  if grep -q "kalvex: tracking" "$tmp/err"; then echo "FAIL $name: tracking started"; fail=1; fi
}
refused one_file_range "names one file" -F1 -L5 "$tmp/seq/img0001.png"
refused absurd_range "are more than" -F0 -L2147483647 "$tmp/seq/img####.png"
refused export_folder_missing "No such file or directory" --export-text="$tmp/no/c.txt" \
  "$tmp/seq/img####.png"
refused export_is_folder "is a folder" --export-text="$tmp/empty" "$tmp/seq/img####.png"
refused export_twice "named by two exports" --export-text="$tmp/c.txt" --export-maya="$tmp/c.txt" \
  "$tmp/seq/img####.png"

# Frames of mixed sizes are refused before tracking, the odd frame named.
cp -r "$tmp/seq" "$tmp/mixed"
cp "$tmp/other/img0000.png" "$tmp/mixed/img0012.png"
"$kalvex" --batch-mode --export-text="$tmp/mixed.txt" "$tmp/mixed/img####.png" >"$tmp/out" \
  2>"$tmp/err" </dev/null
expect mixed_sizes 1 $?
says mixed_sizes "frame 12 \"$tmp/mixed/img0012.png\" is 600 x 338, the sequence 480 x 270"
[ ! -e "$tmp/mixed.txt" ] || { echo "FAIL mixed_sizes: an export was written"; fail=1; }

# A frame of random bytes and a truncated frame are named; the result is partial (3) and
# still exported, or there is none (1), never a full solve.
cp -r "$tmp/seq" "$tmp/broken"
head -c 3000 /dev/urandom >"$tmp/broken/img0005.png"
head -c 4000 "$tmp/seq/img0015.png" >"$tmp/broken/img0015.png"
"$kalvex" --batch-mode --export-text="$tmp/broken.txt" "$tmp/broken/img####.png" >"$tmp/out" \
  2>"$tmp/err" </dev/null
code=$?
[ "$code" = 3 ] || [ "$code" = 1 ] || { echo "FAIL broken_frames: exit code $code"; fail=1; }
expect broken_frames "$code" "$code"
says broken_frames "frame 5 \"$tmp/broken/img0005.png\""
says broken_frames "frame 15 \"$tmp/broken/img0015.png\""
if [ "$code" = 3 ]; then
  grep -q "kalvex: warning: frames .*5.* are not part of the solved camera path" "$tmp/err" ||
    { echo "FAIL broken_frames: unsolved frames not named:"; cat "$tmp/err"; fail=1; }
  [ -s "$tmp/broken.txt" ] || { echo "FAIL broken_frames: partial result not exported"; fail=1; }
fi

# Each field of an interlaced file is a frame of its own.
"$kalvex" --batch-mode --deinterlacing=3 -F0 -L2 "$tmp/seq/img####.png" >"$tmp/out" 2>"$tmp/err" \
  </dev/null
code=$?
says deinterlacing "of 6 frames"
expect deinterlacing "$code" "$code"

# A level chosen with --verbose holds through the run.
"$kalvex" --batch-mode --verbose=info -F0 -L2 "$tmp/seq/img####.png" >"$tmp/out" 2>"$tmp/err" \
  </dev/null
code=$?
expect verbose "$code" "$code"
says verbose "Info: "

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
  # Quiet by default: no internal dumps or working notes, a few lines in all.
  if grep -q "^Notice:\|HHHH MetaCTracker\|Settings:$\|QR: " "$tmp/err" ||
    [ "$(wc -l <"$tmp/err")" -gt 30 ]; then
    echo "FAIL solve $1: stderr is not quiet:"
    cat "$tmp/err"
    fail=1
  fi
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

# A second identical run writes the same file (the creation date aside); a point limit
# reaches the export.
"$kalvex" --batch-mode --export-text="$tmp/again.txt" "$tmp/free/img####.png" >"$tmp/out" \
  2>"$tmp/err" </dev/null
expect again 0 $?
grep -v "^# Creation date" "$tmp/free.txt" >"$tmp/first.cmp"
grep -v "^# Creation date" "$tmp/again.txt" >"$tmp/again.cmp"
if ! cmp -s "$tmp/first.cmp" "$tmp/again.cmp"; then
  echo "FAIL again: two identical runs wrote different files"
  fail=1
fi
"$kalvex" --batch-mode --limit-exported-3d-points=10 --export-text="$tmp/limit.txt" \
  "$tmp/free/img####.png" >"$tmp/out" 2>"$tmp/err" </dev/null
expect limit 0 $?
points=$(awk 'f && NF == 3 && $1 !~ /^#/ { n++ } /3D Feature Points/ { f = 1 } END { print n + 0 }' \
  "$tmp/limit.txt")
[ "$points" = 10 ] || { echo "FAIL limit: $points points exported, expected 10"; fail=1; }

exit $fail
