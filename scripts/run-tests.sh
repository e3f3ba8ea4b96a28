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
# Tests that play and record through the sound server depend on its timing
# (a loaded machine can starve the null sink); a test that fails three times
# in a row fails.
ctest --output-on-failure -j "$(nproc)" --repeat until-pass:3 "$@" || status=$?
exit "$status"
