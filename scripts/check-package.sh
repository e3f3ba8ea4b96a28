#!/usr/bin/env bash
# Builds the Debian package and proves that it works on this machine: lintian
# finds no error and no warning; apt installs it with every dependency
# resolved; both programs run from /usr/bin; the installed desktop entry and
# metainfo pass their validators; the window keeps its octave in the user's
# config folder and writes nothing under /usr; purging leaves nothing of it.
#
# It installs and purges a system package, so it needs root (CI runs as
# root), and it refuses to run while harmolune is already installed rather
# than remove someone's copy. Whatever happens, it purges what it installed.
#
# Usage: scripts/check-package.sh [BUILD_DIR]   (build by default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
app_id=org.example.Harmolune

step() {
    echo "--- $*"
}
fail() {
    echo "check-package: $*" >&2
    exit 1
}

if ((EUID != 0)); then
    fail "installs a package: run it as root"
fi
if dpkg-query -W -f='${Status}' harmolune 2>/dev/null | grep -q installed; then
    fail "harmolune is already installed; remove it first (apt-get purge harmolune)"
fi

step "make package"
make package BUILD="$build"
debs=("$build"/harmolune_*.deb)
((${#debs[@]} == 1)) || fail "expected one package in $build, found: ${debs[*]}"
deb=$(realpath "${debs[0]}")

step "lintian"
# Informational and pedantic tags are shown too, overridden ones with their
# reason; errors and warnings fail.
lintian --display-info --pedantic --show-overrides --fail-on error,warning "$deb"

work=$(mktemp -d "${TMPDIR:-/tmp}/harmolune-package.XXXXXX")
installed=0
window_pid=
cleanup() {
    if [[ -n "$window_pid" ]]; then
        kill "$window_pid" 2>/dev/null || true
        wait "$window_pid" 2>/dev/null || true
    fi
    if ((installed)); then
        apt-get purge -y -qq harmolune >/dev/null || true
    fi
    if declare -F stop_sound_server >/dev/null; then
        stop_sound_server
    fi
    rm -rf "$work"
}
trap cleanup EXIT

step "apt-get install -y $deb"
export DEBIAN_FRONTEND=noninteractive
installed=1
apt-get install -y -o DPkg::Lock::Timeout=600 "$deb"
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|' >"$work/contents"
# From here on, anything the programs write under /usr is newer than this.
touch "$work/installed"

step "/usr/bin/harmolune-measure --help"
/usr/bin/harmolune-measure --help

step "harmolune-measure on a recorded La 4"
# Two seconds of A 440 at 0.6 of full scale, then a one-second fade: the
# blocks count while loud and the measurement ends when the sound dies away.
# -R makes sox's dither the same at every run; the method reads this file
# 440.55 Hz.
sox -R -n -r 32768 -c 1 -b 8 -e unsigned "$work/la.wav" synth 3 sine 440 vol 0.6 fade q 0 3 1
/usr/bin/harmolune-measure --key 9 --octave 4 "$work/la.wav" | tee "$work/la.txt" | tail -3
awk -F '\t' '$1 == "result" { split($2, hz, " "); found = hz[1] >= 439 && hz[1] <= 441 }
    END { exit !found }' "$work/la.txt" || fail "La 4 at 440 Hz was not measured within 1 Hz"

step "desktop-file-validate, appstreamcli validate"
desktop-file-validate "/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net "/usr/share/metainfo/$app_id.metainfo.xml"

step "/usr/bin/harmolune keeps its octave in \$HOME/.config/harmolune"
# shellcheck source=scripts/sound-server.sh
source scripts/sound-server.sh
start_sound_server
trap cleanup EXIT
home="$work/home"
mkdir -p "$home"
settings="$home/.config/harmolune/Harmolune.ini"
mkdir -m 700 "$work/runtime"
env -u XDG_CONFIG_HOME HOME="$home" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen \
    /usr/bin/harmolune &
window_pid=$!
for _ in $(seq 100); do
    [[ -f "$settings" ]] && break
    kill -0 "$window_pid" 2>/dev/null || fail "harmolune ended at start-up"
    sleep 0.1
done
[[ -f "$settings" ]] || fail "no octave file at $settings after 10 s"
# Let start-up finish, then close it as a logout does: the octave is saved
# again at shut-down.
sleep 2
touch "$work/before-close"
# File times move in clock ticks of a few milliseconds: a save in the same
# tick as the mark would not look newer.
sleep 0.1
kill -TERM "$window_pid"
status=0
wait "$window_pid" || status=$?
window_pid=
((status == 0)) || fail "harmolune ended with status $status after SIGTERM"
[[ "$(od -An -c "$settings" | tr -s ' ')" == " 3 \r \n" ]] ||
    fail "$settings holds $(od -An -c "$settings"), not 3 CR LF"
[[ -n "$(find "$settings" -newer "$work/before-close")" ]] ||
    fail "$settings was not written at shut-down"
written=$(find /usr/bin -newer "$work/installed" -print; find /usr -name 'Harmolune.ini*' -print)
[[ -z "$written" ]] || fail "written under /usr while running: $written"
echo "octave saved in $settings; nothing written under /usr"

step "apt-get purge -y harmolune"
apt-get purge -y -o DPkg::Lock::Timeout=600 harmolune
installed=0
if dpkg-query -W -f='${Status}' harmolune 2>/dev/null | grep -q installed; then
    fail "harmolune is still known to dpkg after purge"
fi
left=$(while read -r path; do
    [[ -f "$path" || -L "$path" ]] && echo "$path"
    [[ "$path" == /usr/share/doc/harmolune/ && -d "$path" ]] && echo "$path"
done <"$work/contents" || true)
[[ -z "$left" ]] || fail "left after purge: $left"
echo "package checked and purged"
