#!/usr/bin/env bash
# How much of the project's own code a fuzz target's corpus reaches: replays
# the corpus once and sums libFuzzer's per-function edge counts over the
# project's sources (the fuzz target itself and system headers left out).
#   scripts/fuzz-coverage.sh FUZZER CORPUS_DIR...
set -euo pipefail
fuzzer=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
"$fuzzer" -runs=0 -print_coverage=1 "$@" 2>&1 |
  awk -v root="$root/" '
    /^(COVERED|UNCOVERED)_FUNC:/ {
      file = $NF; sub(/:[0-9]+$/, "", file)
      if (index(file, root) != 1 || index(file, root "fuzz/") == 1) next
      split($5, e, "/"); covered += e[1]; total += e[2]
      sub(root, "", file); files[file] = 1
    }
    END {
      list = ""; for (f in files) list = list " " f
      if (total == 0) { print "coverage: no project code reached"; exit }
      printf "coverage: %d of %d edges (%.0f %%) in%s\n", covered, total, 100 * covered / total, list
    }'
