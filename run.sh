#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and runs kalvex
# with the given options.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
kalvex_install_deps
cmake --preset release >/dev/null
cmake --build --preset release
exec build/release/app/kalvex "$@"
