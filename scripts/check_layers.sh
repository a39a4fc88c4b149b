#!/usr/bin/env bash
# Flags every #include "<folder>/..." that reaches a folder of the same or a higher
# layer than the including file's own folder. The layers come from the table in
# ARCHITECTURE.md: rows "| `folder/` | layer | ..." with a numeric layer; folders
# whose layer is not a number (tests helpers, benchmarks, fuzzers) are not checked.
# Prints each offending include and exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files '*.h' '*.cpp' '*.c' | xargs grep -Hn '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' |
  awk -v table=ARCHITECTURE.md '
    BEGIN {
      while ((getline line < table) > 0) {
        if (line !~ /^\|[[:space:]]*`[a-z_\/]+\/`[[:space:]]*\|/) continue
        split(line, cell, "|")
        folder = cell[2]; layer = cell[3]
        gsub(/[[:space:]`]/, "", folder); gsub(/[[:space:]]/, "", layer)
        if (layer ~ /^[0-9]+(\.[0-9]+)?$/) level[folder] = layer + 0
      }
      if (length(level) == 0) { print "no layer table in " table; exit 2 }
    }
    # The longest folder of the table that the path lies in, or "".
    function folder_of(path,   f, best) {
      best = ""
      for (f in level)
        if (index(path, f) == 1 && length(f) > length(best)) best = f
      return best
    }
    {
      file = $0; sub(/:.*/, "", file)
      target = $0; sub(/^[^"]*"/, "", target); sub(/".*/, "", target)
      own = folder_of(file); reached = folder_of(target)
      if (own == "" || reached == "" || own == reached) next
      if (level[reached] >= level[own]) {
        split($0, part, ":")
        printf "%s:%s: %s (layer %s) includes %s (layer %s)\n", file, part[2], own, level[own], target, level[reached]
        bad = 1
      }
    }
    END { if (bad) exit 1 }'
