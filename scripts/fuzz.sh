#!/usr/bin/env bash
# Runs the libFuzzer targets over the file readers for as long as asked:
#   scripts/fuzz.sh [seconds per target] [target ...]
# (default 300 seconds, every target of fuzz/CMakeLists.txt). Each target keeps its growing
# corpus in build/fuzz/long/<target>/, seeded from fuzz/corpus/<target>/, so a later run goes on
# from there; inputs that crash or hang are written to build/fuzz/findings/. The exit status is
# non-zero when some target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(sed -n 's/^kalvex_fuzz_target(\([a-z_0-9]*\).*/\1/p' fuzz/CMakeLists.txt)
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/findings
failed=()
for target in "${targets[@]}"; do
  corpus=build/fuzz/long/$target
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  # The target's own options, as fuzz/CMakeLists.txt gives them to the brief run.
  read -r -a options <<<"$(sed -n "s/^kalvex_fuzz_target($target .*OPTIONS \(.*\))$/\1/p" \
    fuzz/CMakeLists.txt)"
  echo "== $target: ${seconds} s"
  if ! build/fuzz/fuzz/"$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=60 \
      -print_final_stats=1 "${options[@]}" -artifact_prefix=build/fuzz/findings/"$target"- \
      "$corpus"; then
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Findings from: ${failed[*]} (inputs in build/fuzz/findings/)"
  exit 1
fi
echo "No findings in ${#targets[@]} targets."
