#!/usr/bin/env bash
# Loads the exports of the writers' test fixture (testdata/export, the files the golden
# tests compare against) into the Blender of this machine and compares the cameras Blender
# builds with the fixture's, frame by frame (check_blender_exports.py). Blender is large,
# so this runs by hand, not in every test run:   scripts/check_blender_exports.sh
# The 2.4x script (Python 2, module Blender) and the 2.5x script (mathutils.Matrix of
# columns) target releases before 2.62 and are only run to show what a current Blender
# says; the 2.6x script and the COLLADA documents must match.
set -u
cd "$(dirname "$0")/.."
if ! command -v blender >/dev/null; then
  echo "blender is not installed (apt-get install blender)" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The golden document has its dates masked; give it one.
sed 's/<date>/2026-01-02T03:04:05/' testdata/export/collada.dae >"$work/collada.dae"
sed 's/<date>/2026-01-02T03:04:05/' testdata/export/collada_objects.dae >"$work/collada_objects.dae"

run() {
  blender -b --factory-startup --python-exit-code 1 -P scripts/check_blender_exports.py -- "$@" 2>&1 |
    grep -v -e '^Read ' -e '^Blender quit' -e '^$' -e '^|' -e '^+' -e '^ *\^'
  return "${PIPESTATUS[0]}"
}

status=0
blender --version | head -1
for old in blender24.py blender25.py; do
  echo "== $old (for Blender before 2.62; its last lines are what this Blender says)"
  run bpy "testdata/export/$old" | tail -3
done
echo "== blender26.py"
run bpy testdata/export/blender26.py || status=1
echo "== collada.dae"
run dae "$work/collada.dae" || status=1
echo "== collada_objects.dae (the user objects)"
run objects "$work/collada_objects.dae" || status=1
exit $status
