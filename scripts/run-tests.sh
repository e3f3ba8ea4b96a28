#!/usr/bin/env bash
# Runs every test of a build tree with CTest, against a private sound server
# that lives exactly as long as the tests (scripts/sound-server.sh).
#   scripts/run-tests.sh BUILD_DIR [ctest arguments...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
shift || true
# shellcheck source=scripts/sound-server.sh
source "$here/sound-server.sh"
start_sound_server
cd "$build"
status=0
ctest --output-on-failure -j "$(nproc)" "$@" || status=$?
exit "$status"
