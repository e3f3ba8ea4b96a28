#!/bin/bash
# What a blind tuner hears: Harmolune used from the keyboard under the Orca
# screen reader, every utterance of Orca written down and checked.
#
#   orca_speech_test.sh HARMOLUNE PROJECT_DIR
#
# A fresh HOME and XDG folders under a French locale, a private PulseAudio
# whose monitor is the microphone (scripts/sound-server.sh, capture at 150 %
# so that TimGM6mb's quiet La 4 is measured), Xvfb, then inside.sh under a
# private D-Bus session: a speech-dispatcher whose only voice writes text,
# Orca with a hook that logs what it says, and the window. check_spoken.py
# then reads the log. Orca runs once per user on a machine: the test holds a
# lock for its whole run, and leaves the field when the user's own Orca is
# running. The folder of a failed run is kept and named.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$1
project=$2
skip=77

for tool in orca speech-dispatcher xdotool Xvfb dbus-run-session flock /usr/bin/python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is needed: scripts/install-deps.sh installs it" >&2
    exit 1
  fi
done
if ! locale -a 2>/dev/null | grep -qix 'fr_FR\.utf-\?8'; then
  echo "the fr_FR.UTF-8 locale is needed: scripts/install-deps.sh generates it" >&2
  exit 1
fi

# One run at a time per user, whatever the build tree.
lock=$(dirname "$(mktemp -u)")/harmolune-orca-$(id -u).lock
exec 9>"$lock"
if ! flock -w 600 9; then
  echo "another run held $lock for 10 minutes" >&2
  exit 1
fi
if pgrep -u "$(id -u)" -x orca >/dev/null; then
  echo "SKIPPED: an Orca of this user is running, and Orca runs once per user" >&2
  exit "$skip"
fi

W=$(mktemp -d -t harmolune-speech.XXXXXX)
mkdir -p "$W/home" "$W/runtime" "$W/app" "$W/data/orca"
chmod 700 "$W/runtime"
export HOME=$W/home XDG_RUNTIME_DIR=$W/runtime XDG_DATA_HOME=$W/data \
  XDG_CONFIG_HOME=$W/home/.config XDG_CACHE_HOME=$W/home/.cache
export LANG=fr_FR.UTF-8 LANGUAGE=fr LC_ALL=fr_FR.UTF-8
export SPOKEN_FILE=$W/speechd-spoken.txt ORCA_SPOKEN_LOG=$W/orca-spoken.txt
# speech-dispatcher's modules need an audio output that opens: a null one.
printf 'default_driver=null\nquiet\n' >"$HOME/.libao"
cp "$here/orca-customizations.py" "$W/data/orca/"
# The octave file lives beside the program: a copy in the scratch folder.
cp "$program" "$W/app/harmolune"
printf '4\r\n' >"$W/app/Harmolune.ini"
# A piano with a curve, so that the reading is said against its target.
mkdir -p "$W/data/harmolune"
cp "$here/piano.json" "$W/data/harmolune/piano.json"

# shellcheck source=scripts/sound-server.sh
source "$project/scripts/sound-server.sh"
start_sound_server pulseaudio
pactl set-source-volume @DEFAULT_SOURCE@ 150%

xvfb_pid=
status=1
finish() {
  if [[ -n "$xvfb_pid" ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  stop_sound_server
  if ((status == 0)); then
    rm -rf "$W"
  else
    echo "the run's files are kept in $W" >&2
  fi
}
trap finish EXIT
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 3>"$W/display" 2>"$W/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s "$W/display" ]] && break
  sleep 0.1
done
DISPLAY=:$(head -n1 "$W/display")
export DISPLAY

dbus-run-session -- bash "$here/inside.sh" "$W" >"$W/inside.log" 2>&1 || {
  echo "the session did not run to its end:" >&2
  cat "$W/inside.log" >&2
}
/usr/bin/python3 "$here/check_spoken.py" "$W" && status=0
exit "$status"
