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
# Tests that play and record through the sound server share its sink and time
# what they play: they run alone (RUN_SERIAL). A test that fails three times
# in a row fails; every test that needed another try is named at the end, so
# that a flaky one is seen rather than hidden by the retries.
log=ctest-output.log
ctest --output-on-failure -j "$(nproc)" --repeat until-pass:3 "$@" 2>&1 | tee "$log" \
  || status=${PIPESTATUS[0]}
retried=$(sed -n 's/^.*Test *#[0-9]*: \(.*[^ ]\) \.*\**\(Failed\|Timeout\|Exception\|Not Run\).*$/\1/p' "$log" | sort -u)
if [[ -n "$retried" ]]; then
  echo "Tests that failed at least once (each try's output is above):"
  sed 's/^/  /' <<<"$retried"
fi
exit "$status"
