#!/bin/bash
# The session of orca_speech_test.sh, inside its private D-Bus session (which
# also brings at-spi's bus on demand): speech-dispatcher, Orca, the window,
# then the keyboard, as a blind tuner uses it. Each step is a line of
# $W/steps.txt, "SECONDS NAME", which check_spoken.py matches with what Orca
# said meanwhile.
#   inside.sh WORKDIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
W=$1
sd_pid='' orca_pid='' h_pid=''
stop_all() {
  local p
  for p in $h_pid $orca_pid $sd_pid; do
    kill "$p" 2>/dev/null
    wait "$p" 2>/dev/null
  done
}
trap stop_all EXIT

step() { echo "$(date +%s.%3N) $*" >>"$W/steps.txt"; }
said_since_step() {
  awk -v t="$(tail -n1 "$W/steps.txt" | cut -d' ' -f1)" '$1 >= t' "$ORCA_SPOKEN_LOG"
}
# Waits at most SECONDS for Orca to say a line matching REGEX since the last step.
heard() {
  local regex=$1 tenths=$(($2 * 10)) i
  for ((i = 0; i < tenths; ++i)); do
    said_since_step | grep -Eq "$regex" && return 0
    sleep 0.1
  done
  return 1
}
# Presses KEY, a step each time, until Orca names the control matching REGEX.
press_until() {
  local key=$1 regex=$2 i
  for ((i = 0; i < 25; ++i)); do
    step "key $key"
    xdotool key "$key"
    heard "$regex" 1 && return 0
  done
  echo "never reached: $regex" >&2
  return 1
}
fail() {
  echo "$*" >&2
  step "end"
  exit 1
}

speech-dispatcher -s -t 0 -C "$here/speechd-conf" -L "$W" -c unix_socket \
  -S "$XDG_RUNTIME_DIR/sd.sock" >"$W/speechd.out" 2>&1 &
sd_pid=$!
for _ in $(seq 100); do
  [[ -S $XDG_RUNTIME_DIR/sd.sock ]] && break
  sleep 0.1
done
export SPEECHD_ADDRESS=unix_socket:$XDG_RUNTIME_DIR/sd.sock

step "orca"
orca ${ORCA_DEBUG:+--debug-file "$W/orca-debug.txt"} >"$W/orca.out" 2>&1 &
orca_pid=$!
heard "SPEECH OUTPUT" 30 || fail "Orca said nothing in 30 s"
sleep 1

step "start"
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$W/app/harmolune" >"$W/harmolune.out" 2>&1 &
h_pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --pid "$h_pid" --name '^Harmolune$' | head -n1)
[[ -n "$wid" ]] || fail "the window did not show"
sleep 1
# No window manager: the window is given the keyboard by hand.
xdotool windowfocus --sync "$wid"
heard "'Do bouton" 10 || fail "the first key was not named at start"
sleep 0.5

press_until Tab "'La bouton" || fail "Tab never reached La"
step "play"
xdotool key space
heard "La 4, 440,00 Hz" 5
sleep 1.5

press_until Tab "'Échantillonner l'instrument bouton" || fail "Tab never reached the sampling button"
step "arm"
xdotool key space
heard "Mesure en cours" 5
sleep 1

press_until shift+Tab "'La bouton" || fail "Shift+Tab never came back to La"
# The window hears its own tone through the monitor.
step "measure"
xdotool key space
heard "Mesure fine : " 30
# Anything said twice would come now.
sleep 3

# L has the tuning display's reading said, the focus left on La.
step "read"
xdotool key l
heard "Mesure fine|Aucune mesure fine" 5
sleep 1

press_until Tab "'Octave 4" || fail "Tab never reached the octave selector"
step "octave"
xdotool key Right
heard "'5'" 3
sleep 1

# Tab goes on to the tuning display, which is read as its reading.
press_until Tab "'(Aucune mesure fine|Mesure fine)" || fail "Tab never reached the tuning display"
sleep 1

# Then the row of the piano's curve, its style first.
press_until Tab "Style de la courbe" || fail "Tab never reached the curve's style"
sleep 1
step "end"

# The displays as the accessibility tree has them, for the checker.
/usr/bin/python3 - "$h_pid" >"$W/displays.txt" 2>&1 <<'EOF'
import sys
import pyatspi
pid = int(sys.argv[1])
def walk(node):
    for child in node:
        if child is not None:
            yield child
            yield from walk(child)
for app in pyatspi.Registry.getDesktop(0):
    if app is not None and app.get_process_id() == pid:
        for node in walk(app):
            if node.getRole() == pyatspi.ROLE_LABEL and node.name:
                print(node.name)
EOF
exit 0
