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
      sub(root, "", file)
      split($5, e, "/"); covered[file] += e[1]; total[file] += e[2]
    }
    END {
      for (f in total) if (total[f] > 0)
        printf "coverage: %-28s %4d of %4d edges (%3.0f %%)\n", f, covered[f], total[f], 100 * covered[f] / total[f]
    }' | sort
