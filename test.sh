#!/usr/bin/env bash
# Installs what is missing, builds the test configuration (AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
kalvex_install_deps
cmake --preset test >/dev/null
cmake --build --preset test
ctest --preset test -j "$(nproc)"
