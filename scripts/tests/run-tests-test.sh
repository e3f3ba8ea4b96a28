#!/usr/bin/env bash
# scripts/run-tests.sh with a fake ctest and fake sound servers: which tests
# are tried again and how often, which failures fail the run, and what is
# passed through to ctest. No server and no build tree are needed.
#
# The fake ctest plays a scenario given in FAKE_TESTS, one test a line:
#   NAME LABEL FAILS_ON_PULSEAUDIO FAILS_ON_PIPEWIRE
# (LABEL "sound" or "-"): the test fails its first FAILS tries against that
# server and passes the next one, if ctest gives it one. It prints its lines
# as CTest 3.25 does and writes its arguments to $work/calls.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/run-tests-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/scripts" "$work/bin" "$work/build"
cp "$here/run-tests.sh" "$work/scripts/"
cat >"$work/scripts/sound-server.sh" <<'EOF'
start_sound_server() { export FAKE_SERVER=$1; }
stop_sound_server() { unset FAKE_SERVER; }
EOF
cat >"$work/bin/ctest" <<'EOF'
#!/usr/bin/env bash
echo "$FAKE_SERVER: $*" >>"$FAKE_CALLS"
tries=1 only= except=
while [[ $# -gt 0 ]]; do
  case $1 in
    --repeat) tries=${2#until-pass:}; shift ;;
    -L) only=$2; shift ;;
    -LE) except=$2; shift ;;
  esac
  shift
done
status=0 n=0
while read -r name label pulse pipe; do
  [[ -n "$name" ]] || continue
  [[ -z "$only" || "$label" == "$only" ]] || continue
  [[ -z "$except" || "$label" != "$except" ]] || continue
  fails=$pulse
  [[ "$FAKE_SERVER" == pipewire ]] && fails=$pipe
  n=$((n + 1))
  for ((try = 1; try <= tries; try++)); do
    if ((try <= fails)); then
      echo "$n/9 Test #$n: $name ......................***Failed    0.01 sec"
      ((try < tries)) || status=8
    else
      echo "$n/9 Test #$n: $name ......................   Passed    0.01 sec"
      break
    fi
  done
done <<<"$FAKE_TESTS"
exit "$status"
EOF
chmod +x "$work/bin/ctest"

failures=0
# check NAME EXPECTED_STATUS SERVERS TESTS [PATTERN...] runs the script and
# wants its status, and each PATTERN (an extended regex) in its output; a
# PATTERN starting with ! must not be there.
check() {
  local name=$1 expected=$2 servers=$3 tests=$4
  shift 4
  local out status=0 pattern before=$failures
  : >"$work/calls"
  out=$(cd "$work" && PATH="$work/bin:$PATH" FAKE_CALLS="$work/calls" FAKE_TESTS="$tests" \
    HARMOLUNE_SOUND_SERVERS="$servers" scripts/run-tests.sh build -R '^Settings' 2>&1) || status=$?
  out+=$'\n'$(sed 's/^/calls /' "$work/calls")
  if [[ "$status" -ne "$expected" ]]; then
    echo "FAIL $name: status $status, not $expected"
    failures=$((failures + 1))
  fi
  for pattern in "$@"; do
    if [[ "$pattern" == !* ]]; then
      if grep -Eq -- "${pattern#!}" <<<"$out"; then
        echo "FAIL $name: found /${pattern#!}/"
        failures=$((failures + 1))
      fi
    elif ! grep -Eq -- "$pattern" <<<"$out"; then
      echo "FAIL $name: missing /$pattern/"
      failures=$((failures + 1))
    fi
  done
  [[ "$failures" -ne "$before" ]] || echo "ok   $name"
}

both="pulseaudio pipewire"
check "all pass" 0 "$both" $'A - 0 0\nS sound 0 0' \
  '!failed at least once' '!more than one server'
check "the arguments reach every ctest, the sound tests alone are retried" 0 "$both" \
  $'A - 0 0\nS sound 0 0' \
  '^calls pulseaudio: --output-on-failure -j [0-9]+ -R \^Settings -LE sound$' \
  '^calls pulseaudio: --output-on-failure -j [0-9]+ --repeat until-pass:2 -R \^Settings -L sound$' \
  '^calls pipewire: --output-on-failure -j [0-9]+ --repeat until-pass:2 -R \^Settings -L sound$' \
  '!^calls pipewire: .*-LE sound'
check "one retry against one server passes and is named" 0 "$both" $'A - 0 0\nS sound 1 0' \
  '^  S \(pulseaudio\)$' '!\(pipewire\)' '!more than one server'
check "one retry against each server fails the run" 1 "$both" $'A - 0 0\nS sound 1 1\nT sound 0 1' \
  '^  S \(pulseaudio\)$' '^  S \(pipewire\)$' '^  T \(pipewire\)$' \
  'more than one server' '^  S$' '!^  T$'
check "a sound test that fails twice against one server fails" 8 "$both" $'S sound 2 0' \
  '^  S \(pulseaudio\)$' '!more than one server'
check "any other test is not retried" 8 "$both" $'A - 1 0\nS sound 0 0' \
  '^  A \(pulseaudio\)$'
check "one server: one retry passes" 0 pulseaudio $'S sound 1 1' '^  S \(pulseaudio\)$' \
  '!pipewire'
check "a failure against the second server fails the run" 8 "$both" $'S sound 0 0\nU sound 0 2' \
  '^  U \(pipewire\)$' '!more than one server'

if [[ "$failures" -ne 0 ]]; then
  echo "$failures checks failed"
  exit 1
fi
