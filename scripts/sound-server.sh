# Sourced by the test and benchmark scripts: starts a private sound server as
# a child of the calling shell, with a silent sink whose monitor is the
# default source, so what is played comes back as what is recorded. No sound
# card, no desktop session and no login are needed.
#
#   start_sound_server [pulseaudio|pipewire]
#       exports PULSE_SERVER and stops the server on exit. pulseaudio (the
#       default) is PulseAudio itself; pipewire is PipeWire with its PulseAudio
#       server, as Debian's desktops run it, in a D-Bus session of its own.
#   stop_sound_server   stops it now
#
# Clients that cannot find a server must not start one of their own, hence
# the client configuration with autospawn off.

sound_server_pid=
sound_server_dir=

stop_sound_server() {
  local name pid tries daemons=
  # PipeWire's three daemons, by their own process numbers; their D-Bus
  # session then ends by itself, its bus daemon with it.
  for name in pipewire-pulse wireplumber pipewire; do
    if [[ -n "$sound_server_dir" && -s "$sound_server_dir/$name.pid" ]]; then
      pid=$(<"$sound_server_dir/$name.pid")
      kill "$pid" 2>/dev/null || true
      daemons=yes
    fi
  done
  if [[ -n "$sound_server_pid" ]]; then
    if [[ -n "$daemons" ]]; then
      for tries in $(seq 50); do
        kill -0 "$sound_server_pid" 2>/dev/null || break
        sleep 0.1
      done
    fi
    kill "$sound_server_pid" 2>/dev/null || true
    wait "$sound_server_pid" 2>/dev/null || true
    sound_server_pid=
  fi
  if [[ -n "$sound_server_dir" ]]; then
    rm -rf "$sound_server_dir"
    sound_server_dir=
  fi
}

start_sound_server() {
  local kind=${1:-pulseaudio}
  local tool
  for tool in pactl $([[ $kind == pipewire ]] && echo pipewire wireplumber pipewire-pulse dbus-run-session || echo pulseaudio); do
    if ! command -v "$tool" >/dev/null; then
      echo "start_sound_server: $tool is needed (scripts/install-deps.sh)" >&2
      return 1
    fi
  done
  sound_server_dir=$(mktemp -d "${TMPDIR:-/tmp}/harmolune-sound.XXXXXX")
  local dir=$sound_server_dir
  mkdir -p "$dir/runtime" "$dir/home"
  chmod 700 "$dir/runtime"
  printf 'autospawn = no\n' >"$dir/client.conf"
  trap stop_sound_server EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM

  if [[ $kind == pipewire ]]; then
    start_pipewire "$dir"
  else
    start_pulseaudio "$dir"
  fi
  export PULSE_CLIENTCONFIG="$dir/client.conf"
  local tries
  for tries in $(seq 100); do
    if pactl info >/dev/null 2>&1; then
      if [[ $kind == pipewire ]]; then
        # The sink PipeWire's PulseAudio server makes on request; its monitor
        # is what a microphone would be. Mono, as a microphone is: PipeWire
        # mixes two equal channels down to mono at 1.41 times their level,
        # where PulseAudio takes their mean. Until the session manager is up
        # the request is refused ("Not supported").
        if ! pactl load-module module-null-sink sink_name=harmolune_out channels=1 channel_map=mono \
          sink_properties=device.description=Harmolune_out >/dev/null 2>&1; then
          sleep 0.1
          continue
        fi
        pactl set-default-sink harmolune_out && pactl set-default-source harmolune_out.monitor || break
      else
        pactl suspend-sink harmolune_out 1 && pactl suspend-sink harmolune_out 0
      fi
      export HARMOLUNE_SOUND_SERVER=private
      return 0
    fi
    if ! kill -0 "$sound_server_pid" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  echo "start_sound_server: the private $kind server did not start:" >&2
  cat "$dir/server.log" >&2 || true
  stop_sound_server
  return 1
}

start_pulseaudio() {
  local dir=$1
  # testing/sound-server.pa says what the server holds, and why.
  sed -e "s|@SOCKET@|$dir/runtime/native|g" -e "s|@SINK@|harmolune_out|g" \
    "$(dirname "${BASH_SOURCE[0]}")/../testing/sound-server.pa" >"$dir/server.pa"
  XDG_RUNTIME_DIR="$dir/runtime" HOME="$dir/home" \
    pulseaudio -n -F "$dir/server.pa" --exit-idle-time=-1 --daemonize=no \
    --log-target=file:"$dir/server.log" &
  sound_server_pid=$!
  export PULSE_SERVER="unix:$dir/runtime/native"
}

# pipewire first, then its session manager and its PulseAudio server, each
# writing its process number for stop_sound_server; the configuration and
# state they keep go to the private home.
start_pipewire() {
  local dir=$1
  XDG_RUNTIME_DIR="$dir/runtime" PIPEWIRE_RUNTIME_DIR="$dir/runtime" \
    PULSE_RUNTIME_PATH="$dir/runtime/pulse" HOME="$dir/home" \
    XDG_CONFIG_HOME="$dir/home/.config" XDG_STATE_HOME="$dir/home/.state" \
    dbus-run-session -- bash -c '
      pipewire & echo $! >"$1/pipewire.pid"
      for i in $(seq 50); do [[ -S $XDG_RUNTIME_DIR/pipewire-0 ]] && break; sleep 0.1; done
      wireplumber & echo $! >"$1/wireplumber.pid"
      pipewire-pulse & echo $! >"$1/pipewire-pulse.pid"
      wait' bash "$dir" >"$dir/server.log" 2>&1 &
  sound_server_pid=$!
  export PULSE_SERVER="unix:$dir/runtime/pulse/native"
}
