#!/usr/bin/env bash
# Runs every test of a build tree with CTest, against a private PulseAudio
# server that lives exactly as long as the tests (scripts/sound-server.sh),
# then the sound tests (label sound) again against a private PipeWire, the
# server Debian's desktops run.
#   scripts/run-tests.sh BUILD_DIR [ctest arguments...]
# HARMOLUNE_SOUND_SERVERS picks the servers ("pulseaudio pipewire" by default).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
shift || true
# shellcheck source=scripts/sound-server.sh
source "$here/sound-server.sh"
cd "$build"
status=0
retried=
# Tests that play and record through the sound server share its sink and time
# what they play: they run alone (RUN_SERIAL). A test that fails three times
# in a row fails; every test that needed another try is named at the end, so
# that a flaky one is seen rather than hidden by the retries.
first=yes
for server in ${HARMOLUNE_SOUND_SERVERS:-pulseaudio pipewire}; do
  echo "=== tests against a private $server server"
  start_sound_server "$server"
  only=()
  [[ -n "$first" ]] || only=(-L sound)
  log=ctest-output-$server.log
  ctest --output-on-failure -j "$(nproc)" --repeat until-pass:3 "${only[@]}" "$@" 2>&1 | tee "$log" \
    || status=${PIPESTATUS[0]}
  stop_sound_server
  retried+=$(sed -n "s/^.*Test *#[0-9]*: \(.*[^ ]\) \.*\**\(Failed\|Timeout\|Exception\|Not Run\).*$/  \1 ($server)/p" "$log" | sort -u)
  first=
done
if [[ -n "$retried" ]]; then
  echo "Tests that failed at least once (each try's output is above):"
  echo "$retried"
fi
exit "$status"
