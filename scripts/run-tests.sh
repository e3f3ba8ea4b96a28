#!/usr/bin/env bash
# Runs every test of a build tree with CTest, against a private PulseAudio
# server that lives exactly as long as the tests (scripts/sound-server.sh),
# then the sound tests (label sound) again against a private PipeWire, the
# server Debian's desktops run.
#   scripts/run-tests.sh BUILD_DIR [ctest arguments...]
# HARMOLUNE_SOUND_SERVERS picks the servers ("pulseaudio pipewire" by default).
#
# Retries: only the sound tests get one, since they time what a real server
# plays and records, and a busy machine can make it late once; they run
# alone (RUN_SERIAL), with --repeat until-pass:2. Every other test runs once:
# a race that fails one run in three would pass three tries almost always.
# A sound test needing its retry against one server passes, and is named at
# the end. Needing it more than once over the servers, that is against both
# of them, fails the run even when the retries passed: a fault that shows
# that often is the test's or the program's, not the machine's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
shift || true
# shellcheck source=scripts/sound-server.sh
source "$here/sound-server.sh"
cd "$build"
status=0

# ctest with the given arguments, its output shown and added to log.
run_ctest() {
  local log=$1
  shift
  ctest --output-on-failure -j "$(nproc)" "$@" 2>&1 | tee -a "$log" || status=${PIPESTATUS[0]}
}

# The name of each test whose try failed in the logs, one line per failed try.
failed_tries() {
  sed -n "s/^.*Test *#[0-9]*: \(.*[^ ]\) \.*\**\(Failed\|Timeout\|Exception\|Not Run\).*$/\1/p" "$@"
}

retried=
retried_sound=
first=yes
for server in ${HARMOLUNE_SOUND_SERVERS:-pulseaudio pipewire}; do
  echo "=== tests against a private $server server"
  start_sound_server "$server"
  sound_log=ctest-output-$server-sound.log
  logs=("$sound_log")
  : >"$sound_log"
  if [[ -n "$first" ]]; then
    logs+=("ctest-output-$server.log")
    : >"${logs[1]}"
    run_ctest "${logs[1]}" "$@" -LE sound
  fi
  run_ctest "$sound_log" --repeat until-pass:2 "$@" -L sound
  stop_sound_server
  retried+=$(failed_tries "${logs[@]}" | sort -u | sed "s/.*/  & ($server)/")$'\n'
  retried_sound+=$(failed_tries "$sound_log" | sort -u)$'\n'
  first=
done
retried=$(sed '/^$/d' <<<"$retried")
if [[ -n "$retried" ]]; then
  echo "Tests that failed at least once (each try's output is above):"
  echo "$retried"
fi
# A name that appears once per server whose try failed there.
twice=$(sed '/^$/d' <<<"$retried_sound" | sort | uniq -d)
if [[ -n "$twice" ]]; then
  echo "Sound tests that needed a retry against more than one server (the run fails):"
  sed 's/^/  /' <<<"$twice"
  [[ "$status" -ne 0 ]] || status=1
fi
exit "$status"
