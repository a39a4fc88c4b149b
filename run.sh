#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and runs kalvex with the
# given options. Without options it renders a small sample sequence with known cameras
# (build/sample/) and solves it in batch mode.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
kalvex_install_deps
cmake --preset release >/dev/null
# Only what this script runs: the benchmarks are built by ./test.sh.
cmake --build --preset release --target kalvex kx_render_sequence
if [ $# -gt 0 ]; then
  exec build/release/app/kalvex "$@"
fi

sample=build/sample
rm -rf "$sample"
mkdir -p "$sample"
build/release/testing/kx_render_sequence --out="$sample/frames" --shot=free --frames=30 \
  --width=640 --height=360 --focal=500
echo "Solving the sample sequence $sample/frames/img####.png in batch mode"
status=0
build/release/app/kalvex --batch-mode --export-text="$sample/cameras_solved.txt" \
  "$sample/frames/img####.png" </dev/null || status=$?
if [ "$status" -eq 0 ]; then
  echo "Camera path: $sample/cameras_solved.txt (the true cameras: $sample/frames/cameras.txt)"
else
  echo "kalvex ended with exit code $status"
fi
exit "$status"
