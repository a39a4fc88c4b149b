#!/usr/bin/env bash
# Installs what is missing, builds the test configuration (AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs every test, then runs the image cache
# tests once more under ThreadSanitizer and fuzzes the project-file reader briefly.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
kalvex_install_deps
cmake --preset test >/dev/null
cmake --build --preset test
ctest --preset test -j "$(nproc)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan -j "$(nproc)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz
