# Sourced by the test and benchmark scripts: starts a private PulseAudio
# server as a child of the calling shell, with a silent sink whose monitor is
# the default source, so what is played comes back as what is recorded. No
# sound card, no desktop session and no login are needed.
#
#   start_sound_server   exports PULSE_SERVER and stops the server on exit
#
# Clients that cannot find a server must not start one of their own, hence
# the client configuration with autospawn off.

sound_server_pid=
sound_server_dir=

stop_sound_server() {
  if [[ -n "$sound_server_pid" ]]; then
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
  if ! command -v pulseaudio >/dev/null || ! command -v pactl >/dev/null; then
    echo "start_sound_server: pulseaudio and pactl are needed (scripts/install-deps.sh)" >&2
    return 1
  fi
  sound_server_dir=$(mktemp -d "${TMPDIR:-/tmp}/harmolune-sound.XXXXXX")
  local dir=$sound_server_dir
  mkdir -p "$dir/runtime" "$dir/home"
  chmod 700 "$dir/runtime"

  # harmolune_out receives everything played; its monitor is what a
  # microphone would be. A fresh null sink renders about 2 s ahead, which
  # would hold the first recorded block back as long: the loopback into a
  # second sink and the suspend and resume below bring that to one block.
  cat >"$dir/server.pa" <<PA
load-module module-native-protocol-unix socket=$dir/runtime/native auth-anonymous=1
load-module module-null-sink sink_name=harmolune_out sink_properties=device.description=Harmolune_out
load-module module-null-sink sink_name=harmolune_loop sink_properties=device.description=Harmolune_loop
load-module module-loopback source=harmolune_out.monitor sink=harmolune_loop latency_msec=20
set-default-sink harmolune_out
set-default-source harmolune_out.monitor
PA
  printf 'autospawn = no\n' >"$dir/client.conf"

  XDG_RUNTIME_DIR="$dir/runtime" HOME="$dir/home" \
    pulseaudio -n -F "$dir/server.pa" --exit-idle-time=-1 --daemonize=no \
    --log-target=file:"$dir/server.log" &
  sound_server_pid=$!
  trap stop_sound_server EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM

  export PULSE_SERVER="unix:$dir/runtime/native"
  export PULSE_CLIENTCONFIG="$dir/client.conf"
  local tries
  for tries in $(seq 100); do
    if pactl info >/dev/null 2>&1; then
      pactl suspend-sink harmolune_out 1 && pactl suspend-sink harmolune_out 0
      export HARMOLUNE_SOUND_SERVER=private
      return 0
    fi
    if ! kill -0 "$sound_server_pid" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  echo "start_sound_server: the private PulseAudio server did not start:" >&2
  cat "$dir/server.log" >&2 || true
  stop_sound_server
  return 1
}
