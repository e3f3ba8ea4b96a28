#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Harmolune
# need. Every path (make run, make test, CI) calls it; when everything is
# already there it only checks and returns.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  googletest libgtest-dev libbenchmark-dev libfftw3-dev
  qt6-base-dev libgl-dev libxcb1-dev fonts-dejavu-core fonts-dejavu-extra
  libfluidsynth-dev timgm6mb-soundfont
  libpulse-dev libsndfile1-dev libsoxr-dev libeigen3-dev nlohmann-json3-dev
  pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber sox
  desktop-file-utils appstream
  xvfb xauth dbus at-spi2-core python3-pyatspi
  orca speech-dispatcher xdotool locales
  clang clang-tidy clang-format cppcheck libclang-rt-dev
  dpkg-dev file lintian
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

sudo=()
if ((EUID != 0)); then
  sudo=(sudo)
fi

# The French locale, which the screen-reader test speaks in: uncommented in
# /etc/locale.gen and generated when it is not there yet.
french_locale() {
  locale -a 2>/dev/null | grep -qix 'fr_FR\.utf-\?8' && return
  echo "Generating the fr_FR.UTF-8 locale"
  "${sudo[@]}" sed -i 's/^# *\(fr_FR\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'fr_FR.UTF-8 UTF-8' /etc/locale.gen ||
    echo 'fr_FR.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo[@]}" locale-gen
}

if ((${#missing[@]} == 0)); then
  french_locale
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq -o DPkg::Lock::Timeout=600
"${sudo[@]}" apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}"
french_locale
