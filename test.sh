#!/usr/bin/env bash
# Installs what is missing, then runs the stages below one after another and ends
# with one summary line per stage. A stage that fails does not stop the later ones
# (the unit tests are skipped when their build failed); the exit status is 1 when
# any stage failed.
#   ThreadSanitizer   the image cache, feature-map lock and render-context tests under
#                     ThreadSanitizer
#   fuzz              a libFuzzer run of 10 s over each reader of outside data
#   sanitizer build   the test configuration (AddressSanitizer and UBSan)
#   unit tests        every unit test of that build but the end-to-end solves
#   solve tests       the end-to-end solves of that build (CTest label "solve")
#   release build     the optimised program and every benchmark (not run)
#   window (Xvfb)     the program in a real window on a virtual display, driven like a
#                     user: a mask, Track on the sample sequence, the result, the
#                     export page's files checked, a box in the test scene, screenshots
#                     (scripts/gui_smoke.sh; build/gui-smoke/)
#   format check      clang-format over every tracked source, and no include
#                     reaching a higher layer (scripts/check_layers.sh)
set -uo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
kalvex_add_bench_peers  # so every benchmark compiles, peers included
kalvex_install_deps || exit 1

# Builds follow CMAKE_BUILD_PARALLEL_LEVEL (Ninja's default without it), tests
# CTEST_PARALLEL_LEVEL (the number of processors without it).
jobs=${CTEST_PARALLEL_LEVEL:-$(nproc)}
summary=()
failed=0

# stage <name> <command...>: runs the command, records "<name>: passed|FAILED (n s)".
stage() {
  local name=$1
  shift
  echo
  echo "=== ${name}"
  local start=$SECONDS
  if "$@"; then
    summary+=("$(printf '%-16s passed (%d s)' "${name}:" $((SECONDS - start)))")
    return 0
  fi
  summary+=("$(printf '%-16s FAILED (%d s)' "${name}:" $((SECONDS - start)))")
  failed=1
  return 1
}

skip() {
  summary+=("$(printf '%-16s skipped (%s)' "$1:" "$2")")
  failed=1
}

tsan() {
  cmake --preset tsan >/dev/null && cmake --build --preset tsan &&
    ctest --preset tsan -j "$jobs"
}

fuzz() {
  cmake --preset fuzz >/dev/null && cmake --build --preset fuzz && ctest --preset fuzz
}

sanitizer_build() {
  cmake --preset test >/dev/null && cmake --build --preset test
}

unit_tests() {
  ctest --preset test -j "$jobs" -LE solve
}

solve_tests() {
  ctest --preset test -j "$jobs" -L solve
}

release_build() {
  cmake --preset release >/dev/null && cmake --build --preset release
}

window_xvfb() {
  scripts/gui_smoke.sh build/release
}

format_check() {
  local clang_format=clang-format-14
  command -v "$clang_format" >/dev/null || clang_format=clang-format
  local status=0
  git ls-files -z '*.h' '*.cpp' '*.c' | xargs -0 "$clang_format" --dry-run --Werror || status=1
  scripts/check_layers.sh || status=1
  [ $status -eq 0 ] && echo "Formatting and layering are clean."
  return $status
}

stage "ThreadSanitizer" tsan
stage "fuzz" fuzz
if stage "sanitizer build" sanitizer_build; then
  stage "unit tests" unit_tests
  stage "solve tests" solve_tests
else
  skip "unit tests" "the sanitizer build failed"
  skip "solve tests" "the sanitizer build failed"
fi
if stage "release build" release_build; then
  stage "window (Xvfb)" window_xvfb
else
  skip "window (Xvfb)" "the release build failed"
fi
stage "format check" format_check

echo
echo "=== Summary"
printf '%s\n' "${summary[@]}"
exit $failed
