#!/bin/sh
# Start-up of the window road as a script sees it, on the offscreen platform: -h, --help
# and --HELP show the usage and exit 0 before any main window exists; a rejected option
# prints the usage and the reason on stderr and exits 2 without a window; the worker pool
# follows NUMBER_OF_PROCESSORS (at most two threads); the log ends at level 3 unless
# NFY_LEVEL fixed it; the German translators are installed only with UI_Language 2; the
# window opens maximised and the teardown ends cleanly; with no display at all the
# program says so in one line and exits 1.
#
# The program writes what start-up decided into KALVEX_STARTUP_REPORT and leaves its event
# loop at once. Run on the sanitizer build, so start-up and teardown run under ASan.
kalvex="$1"
fail=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$tmp/config" XDG_RUNTIME_DIR="$tmp/run"
unset NFY_LEVEL NUMBER_OF_PROCESSORS
mkdir -p "$tmp/run" "$tmp/config"
chmod 700 "$tmp/run"
settings="$tmp/config/TORBANE GmbH/Kalvex.ini"
. "$(dirname "$0")/process_test_checks.sh"

start() {  # name, expected exit code, then the command (env assignments first)
  name=$1 code=$2
  shift 2
  rm -f "$tmp/report"
  env KALVEX_STARTUP_REPORT="$tmp/report" "$@" >"$tmp/out" 2>"$tmp/err" </dev/null
  actual=$?
  touch "$tmp/report"
  expect "$name" "$code" "$actual"
}
reports() {  # name, expected "key value" line of the report
  grep -qxF -- "$2" "$tmp/report" || { echo "FAIL $1: \"$2\" not reported:"; cat "$tmp/report"; fail=1; }
}
no_window() {  # name
  if grep -q "^main_window" "$tmp/report"; then echo "FAIL $1: a main window was made"; fail=1; fi
}

for help in -h --help --HELP; do
  start "help $help" 0 "$kalvex" "$help"
  grep -q "^usage:" "$tmp/out" || { echo "FAIL help $help: no usage on stdout"; fail=1; }
  no_window "help $help"
done

start bad_option 2 "$kalvex" --no-such-option
grep -q "^usage:" "$tmp/err" || { echo "FAIL bad_option: no usage on stderr"; fail=1; }
grep -q "kalvex: unknown option \"no-such-option\"" "$tmp/err" ||
  { echo "FAIL bad_option: no reason on stderr:"; cat "$tmp/err"; fail=1; }
no_window bad_option

start version 0 "$kalvex" --version
grep -q "^Kalvex 1\.6\.0" "$tmp/out" || { echo "FAIL version: no version on stdout"; fail=1; }
no_window version

# Worker threads: the caller and at most one worker. Unset, the number of online
# processors stands in for the variable.
online=$(nproc)
[ "$online" -gt 2 ] && online=2
for case in unset:"$online" 0:1 1:1 8:2; do
  processors=${case%:*} threads=${case#*:}
  if [ "$processors" = unset ]; then
    start "threads $processors" 0 "$kalvex"
  else
    start "threads $processors" 0 NUMBER_OF_PROCESSORS="$processors" "$kalvex"
  fi
  reports "threads $processors" "threads $threads"
done

# The whole window road: the window made, shown maximised, the teardown clean.
start window 0 "$kalvex"
reports window "main_window created"
reports window "window_state maximised"
reports window "log_level 3"
reports window "exit 0"

start nfy_level 0 NFY_LEVEL=debug "$kalvex"
reports nfy_level "log_level 5"
start verbose 0 "$kalvex" --verbose=info
reports verbose "log_level 3"

# Translators: Qt's own for the system locale always; the German ones only for
# UI_Language 2, installed after it (searched first).
start english_default 0 "$kalvex"
grep -q "^translators qt_[A-Za-z_]*$" "$tmp/report" ||
  { echo "FAIL english_default: translators:"; cat "$tmp/report"; fail=1; }
mkdir -p "$(dirname "$settings")"
for language in 1 3 2; do
  printf '[Language_Settings]\nUI_Language=%s\n' "$language" >"$settings"
  start "language $language" 0 "$kalvex"
  reports "language $language" "language $language"
  if [ "$language" = 2 ]; then
    grep -q "^translators qt_[A-Za-z_]*,kalvex_de,qt_de$" "$tmp/report" ||
      { echo "FAIL language 2: translators:"; cat "$tmp/report"; fail=1; }
  elif grep -q "_de" "$tmp/report"; then
    echo "FAIL language $language: German translators installed"
    fail=1
  fi
done
rm -f "$settings"

# No display at all: one line that says so and how to run without a window, exit 1; help
# still works there, and batch mode needs no display.
start no_display 1 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$kalvex"
[ "$(wc -l <"$tmp/err")" = 1 ] && grep -q "no display.*--batch-mode" "$tmp/err" ||
  { echo "FAIL no_display: not one line naming --batch-mode:"; cat "$tmp/err"; fail=1; }
no_window no_display
start no_display_help 0 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$kalvex" --help
grep -q "^usage:" "$tmp/out" || { echo "FAIL no_display_help: no usage on stdout"; fail=1; }
start no_display_batch 1 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$kalvex" \
  --batch-mode "$tmp/missing/img####.png"
grep -q "cannot read the image sequence" "$tmp/err" ||
  { echo "FAIL no_display_batch: not the batch road:"; cat "$tmp/err"; fail=1; }

exit $fail
