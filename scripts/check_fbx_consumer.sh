#!/usr/bin/env bash
# Loads the FBX export in a real reader: FBX2glTF (npm package fbx2gltf, built on the
# vendor's FBX reader) converts the golden file and a two-second sample path written by
# the export tests, and check_fbx_consumer.py compares node names, take and the camera's
# samples with the keys written. Not part of the build or of CTest: the reader comes from
# the npm registry into a cache outside the tree (KALVEX_PEER_DIR, default
# ~/.cache/kalvex-peers).
set -euo pipefail
cd "$(dirname "$0")/.."

peers="${KALVEX_PEER_DIR:-$HOME/.cache/kalvex-peers}/fbx2gltf"
reader="$peers/node_modules/fbx2gltf/bin/Linux/FBX2glTF"
if [ ! -x "$reader" ]; then
  command -v npm >/dev/null || { echo "npm is needed (Debian package npm)" >&2; exit 2; }
  mkdir -p "$peers"
  npm install --prefix "$peers" --no-audit --no-fund fbx2gltf@0.9.7 >/dev/null
  chmod +x "$reader"
fi

export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-3}"
[ -d build/test ] || cmake --preset test >/dev/null
cmake --build --preset test --target export_tests >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
KALVEX_FBX_SAMPLE="$work/sample.fbx" build/test/export/export_tests \
  --gtest_also_run_disabled_tests --gtest_filter='*DISABLED_WriteSampleForOutsideReaders' \
  >/dev/null
cp testdata/export/scene.fbx "$work/golden.fbx"

status=0
for name in golden sample; do
  echo "== $name.fbx"
  "$reader" -i "$work/$name.fbx" -o "$work/$name" >"$work/$name.log" 2>&1 ||
    { cat "$work/$name.log"; status=1; continue; }
  grep -E "^Warning|^Animation" "$work/$name.log" || true
  python3 scripts/check_fbx_consumer.py "$work/$name.fbx" "$work/${name}_out/$name.gltf" ||
    status=1
done
exit $status
