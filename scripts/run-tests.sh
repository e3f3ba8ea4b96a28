#!/usr/bin/env bash
# Runs every test of a build tree with CTest.
set -euo pipefail
build=${1:-build}
shift || true
cd "$build"
exec ctest --output-on-failure -j "$(nproc)" "$@"
