#!/usr/bin/env bash
# Builds the release configuration and runs every benchmark program (bench_*).
# A benchmark that compares with a peer library names the Debian package in a line
#   // bench-peer: <package>
# in its source; those packages are installed first. Arguments are passed to every
# program (for example --benchmark_filter=PerJob).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
kalvex_add_bench_peers
kalvex_install_deps
cmake --preset release >/dev/null
cmake --build --preset release
status=0
for program in build/release/bench/bench_*; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program" "$@" || status=1
done
exit $status
