#!/usr/bin/env bash
# Installs what is missing; runs the image cache tests under ThreadSanitizer,
# fuzzes the project-file reader briefly, then builds the test configuration
# (AddressSanitizer and UndefinedBehaviorSanitizer) and runs every unit test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
kalvex_install_deps
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan -j "$(nproc)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz
cmake --preset test >/dev/null
cmake --build --preset test
ctest --preset test -j "$(nproc)"
