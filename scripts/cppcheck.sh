#!/usr/bin/env bash
# cppcheck over every source of a build tree's compile_commands.json (the
# project's own files; generated files and the build tree are skipped). Any
# finding fails.
#   scripts/cppcheck.sh BUILD_DIR
#
# Checks: warning, performance, portability and style, minus
#   useStlAlgorithm        an opinion: the sample loops read better as loops
#   constParameterCallback Google Benchmark fixes its callbacks' signature
set -euo pipefail
build=${1:-build}
mkdir -p "$build/cppcheck"
cppcheck --project="$build/compile_commands.json" -i "$build" \
  --cppcheck-build-dir="$build/cppcheck" -j "$(nproc)" -q \
  --std=c++20 --library=googletest --library=posix --library=qt \
  --enable=warning,performance,portability,style --inline-suppr \
  --suppress=missingIncludeSystem --suppress=useStlAlgorithm \
  --suppress='constParameterCallback:*bench/*' \
  --template='{file}:{line}: {severity}: {message} [{id}]' \
  --error-exitcode=1
echo "cppcheck: no findings"
