#!/usr/bin/env bash
# The solve benchmark: renders image sequences of a textured scene with exactly known
# cameras at 1280x720, solves each with `kalvex --batch-mode` on 2 threads and, when
# Debian's colmap is installed, with COLMAP (feature extraction, sequential matching,
# mapper) on the same frames, aligns the solved cameras to the truth and prints one row
# per solver and shot: camera-centre error in % of the path length, rotation error in
# degrees, focal-length error in %, frames solved, wall time in seconds.
#
# Shots: dolly (free motion, 120 frames), pan (tripod, 90 frames), dolly30 and dolly24
# (the start of the dolly's arc); with SOLVE_RENDERER=blender also walk24 (forward, little
# parallax) and handheld (the dolly with shake and motion blur, 100 frames).
#
#   bench/solve/run.sh [dolly] [pan] [dolly30] [dolly24] [walk24] [handheld]
#                                                          (default: dolly pan)
#   SOLVE_FRAMES=30 bench/solve/run.sh    (shorter shots for a quick look)
#   SOLVE_RENDERER=blender bench/solve/run.sh dolly30 walk24
#       renders with Blender's path tracer (Cycles on the CPU, path_traced_shot.py;
#       anti-aliasing, view-dependent shading, hard shadows, sampling noise) instead of
#       kx_render_sequence; SOLVE_SAMPLES (default 16) sets the samples per pixel: fewer
#       give noisier frames. Some 10 s a frame on 3 threads.
#   SOLVE_CACHE=DIR bench/solve/run.sh ...
#       keeps the rendered frames in DIR (one folder per renderer, shot, frame count and
#       samples) and renders a shot only when its folder is not complete.
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/deps.sh
KALVEX_PACKAGES+=(colmap)
[ "${SOLVE_RENDERER:-}" = blender ] && KALVEX_PACKAGES+=(blender)
kalvex_install_deps || echo "colmap or blender could not be installed; colmap's rows are left out"
cmake --preset release >/dev/null || exit 1
cmake --build --preset release --target kalvex kx_render_sequence solve_compare || exit 1

bin=build/release
work=build/solve_bench
shots=("$@")
[ ${#shots[@]} -gt 0 ] || shots=(dolly pan)
export NUMBER_OF_PROCESSORS=2

now() { date +%s.%N; }
seconds_since() { awk -v a="$(now)" -v b="$1" 'BEGIN { printf "%.1f", a - b }'; }

rows=()
for shot in "${shots[@]}"; do
  case "$shot" in
    dolly) kind=free blender=dolly method=free frames=${SOLVE_FRAMES:-120} ;;
    pan) kind=pan blender=pan method=pan frames=${SOLVE_FRAMES:-90} ;;
    dolly30) kind=free blender=dolly method=free frames=30 ;;
    dolly24) kind=free blender=dolly method=free frames=24 ;;
    walk24) kind="" blender=walk method=free frames=24 ;;
    handheld) kind="" blender=handheld method=free frames=${SOLVE_FRAMES:-100} ;;
    *) echo "unknown shot $shot (dolly, pan, dolly30, dolly24, walk24 or handheld)"; exit 2 ;;
  esac
  dir="$work/$shot"
  rm -rf "$dir"
  mkdir -p "$dir"
  cached=""
  if [ -n "${SOLVE_CACHE:-}" ]; then
    cached="$SOLVE_CACHE/${SOLVE_RENDERER:-kx}-$shot-$frames-${SOLVE_SAMPLES:-16}"
    # cameras.txt is written first, the frames after it: complete when the last one is there.
    last=$(printf '%s/img%04d.png' "$cached" $((frames - 1)))
    if [ -f "$cached/cameras.txt" ] && [ -f "$last" ]; then
      ln -s "$(realpath "$cached")" "$dir/frames"
      cached=done
    fi
  fi
  if [ "$cached" = done ]; then
    echo "== frames of $shot from $SOLVE_CACHE"
  elif [ "${SOLVE_RENDERER:-}" = blender ]; then
    command -v blender >/dev/null || { echo "blender is not installed (apt-get install blender)"; exit 1; }
    blender -b -P bench/solve/path_traced_shot.py -- --out="$dir/frames" --shot=$blender \
      --frames="$frames" --samples="${SOLVE_SAMPLES:-16}" >"$dir/blender.log" 2>&1 ||
      { echo "blender failed (log: $dir/blender.log)"; exit 1; }
  elif [ -n "$kind" ]; then
    "$bin/testing/kx_render_sequence" --out="$dir/frames" --shot=$kind --frames="$frames" \
      --width=1280 --height=720 --focal=1000 || exit 1
  else
    echo "shot $shot needs SOLVE_RENDERER=blender"; exit 2
  fi
  if [ -n "$cached" ] && [ "$cached" != done ]; then
    mkdir -p "$(dirname "$cached")"
    rm -rf "$cached"
    cp -r "$dir/frames" "$cached"
  fi

  echo "== kalvex, $shot"
  start=$(now)
  "$bin/app/kalvex" --batch-mode --est-method=$method --export-text="$dir/kalvex.txt" \
    "$dir/frames/img####.png" </dev/null 2>"$dir/kalvex.log"
  status=$?
  took=$(seconds_since "$start")
  grep "^kalvex:" "$dir/kalvex.log" | grep -v "kalvex: tracking [0-9]" | tail -4
  echo "exit code $status, $took s (log: $dir/kalvex.log)"
  rows+=("$("$bin/bench/solve/solve_compare" --truth="$dir/frames/cameras.txt" \
    --kalvex="$dir/kalvex.txt" --label="kalvex $shot" --seconds="$took")")

  if command -v colmap >/dev/null; then
    echo "== COLMAP, $shot"
    export QT_QPA_PLATFORM=offscreen
    start=$(now)
    mkdir -p "$dir/colmap/sparse" "$dir/colmap/txt"
    {
      colmap feature_extractor --database_path "$dir/colmap/db.db" --image_path "$dir/frames" \
        --ImageReader.single_camera 1 --ImageReader.camera_model SIMPLE_RADIAL \
        --SiftExtraction.use_gpu 0 --SiftExtraction.num_threads 2 &&
        colmap sequential_matcher --database_path "$dir/colmap/db.db" \
          --SiftMatching.use_gpu 0 --SiftMatching.num_threads 2 &&
        colmap mapper --database_path "$dir/colmap/db.db" --image_path "$dir/frames" \
          --output_path "$dir/colmap/sparse" --Mapper.num_threads 2
    } >"$dir/colmap.log" 2>&1
    took=$(seconds_since "$start")
    # The model with the most images.
    best=$(for m in "$dir"/colmap/sparse/*/; do
      [ -f "$m/images.bin" ] && echo "$(stat -c %s "$m/images.bin") $m"
    done | sort -n | tail -1 | cut -d' ' -f2)
    if [ -n "$best" ] && colmap model_converter --input_path "$best" \
      --output_path "$dir/colmap/txt" --output_type TXT >>"$dir/colmap.log" 2>&1; then
      rows+=("$("$bin/bench/solve/solve_compare" --truth="$dir/frames/cameras.txt" \
        --colmap="$dir/colmap/txt" --label="COLMAP $shot" --seconds="$took")")
    else
      rows+=("$(printf '%-14s | no model (log: %s)' "COLMAP $shot" "$dir/colmap.log")")
    fi
  fi
done

echo
echo "solver shot    | frames    | centre % path rms/max | rotation deg rms/max | focal % mean/max | seconds"
printf '%s\n' "${rows[@]}"
