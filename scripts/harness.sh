#!/usr/bin/env bash
# Runs a command inside a private desktop made of real services, and stops them afterwards:
#   - Xvfb on a free display                                   (DISPLAY)
#   - a private D-Bus session with GNOME Keyring, unlocked     (DBUS_SESSION_BUS_ADDRESS)
#   - PulseAudio with a pipe source as the default microphone  (PULSE_SERVER, MURLEX_PIPE_SOURCE_*)
# Suites that need a window manager and a system tray start them through scripts/desktop-services.sh.
# HOME and the XDG directories point into a temporary tree, so nothing touches the real home.
# Usage: scripts/harness.sh COMMAND [ARG...]      (exit status is the command's)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wait-for.sh
. "$here/wait-for.sh"
root=$(mktemp -d "${TMPDIR:-/tmp}/murlex-harness.XXXXXX")
pids=()

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  local i
  # Services a suite started inside the harness (scripts/desktop-services.sh) and did not stop.
  "$here/desktop-services.sh" stop >/dev/null 2>&1 || true
  for ((i=${#pids[@]}-1; i>=0; i--)); do
    kill -TERM "${pids[$i]}" 2>/dev/null || true
  done
  for ((i=${#pids[@]}-1; i>=0; i--)); do
    local n=0
    while kill -0 "${pids[$i]}" 2>/dev/null && [ $n -lt 50 ]; do sleep 0.1; n=$((n+1)); done
    kill -KILL "${pids[$i]}" 2>/dev/null || true
  done
  rm -rf "$root"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() { echo "harness: $*" >&2; for f in "$root"/*.log; do [ -f "$f" ] && { echo "--- $f" >&2; tail -n 20 "$f" >&2; }; done; exit 1; }


export HOME="$root/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
export XDG_STATE_HOME="$HOME/.local/state" XDG_RUNTIME_DIR="$root/runtime"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY SESSION_MANAGER

# --- X server ------------------------------------------------------------------------------
exec 3>"$root/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$root/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
wait_for 15 test -s "$root/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$root/display")"
export QT_QPA_PLATFORM=xcb
export XDG_SESSION_TYPE=x11

# --- D-Bus session and the keyring ---------------------------------------------------------
export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" >"$root/dbus.log" 2>&1 &
pids+=($!)
wait_for 10 test -S "$XDG_RUNTIME_DIR/bus" || fail "dbus-daemon did not start"

# A non-empty throwaway password: an empty one creates no login collection, and stores would fail.
export MURLEX_KEYRING_PASSWORD="murlex-harness"
printf '%s' "$MURLEX_KEYRING_PASSWORD" | \
  gnome-keyring-daemon --foreground --unlock --components=secrets >"$root/keyring.log" 2>&1 &
pids+=($!)
keyring_ready() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets | grep -q 'boolean true'
}
wait_for 15 keyring_ready || fail "GNOME Keyring did not take the Secret Service name"

# --- PulseAudio with a pipe source ---------------------------------------------------------
export PULSE_RUNTIME_PATH="$root/pulse-runtime" PULSE_STATE_PATH="$root/pulse-state"
mkdir -p "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH"
chmod 700 "$PULSE_RUNTIME_PATH"
export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"
printf 'autospawn = no\n' > "$root/client.conf"
export PULSE_CLIENTCONFIG="$root/client.conf"
export PA_CONTEXT_NOAUTOSPAWN=1
export MURLEX_PIPE_SOURCE_NAME=murlex_mic
export MURLEX_PIPE_SOURCE_FIFO="$root/mic.fifo"
export MURLEX_PIPE_SOURCE_RATE=48000 MURLEX_PIPE_SOURCE_CHANNELS=2
cat > "$root/default.pa" <<PA
load-module module-native-protocol-unix socket=$PULSE_RUNTIME_PATH/native auth-anonymous=1
load-module module-null-sink sink_name=murlex_null
load-module module-pipe-source source_name=$MURLEX_PIPE_SOURCE_NAME file=$MURLEX_PIPE_SOURCE_FIFO format=s16le rate=$MURLEX_PIPE_SOURCE_RATE channels=$MURLEX_PIPE_SOURCE_CHANNELS
set-default-source $MURLEX_PIPE_SOURCE_NAME
set-default-sink murlex_null
PA
pulseaudio -n -F "$root/default.pa" --daemonize=no --exit-idle-time=-1 --realtime=no \
  --high-priority=no --disallow-exit=yes --log-target=stderr >"$root/pulse.log" 2>&1 &
pids+=($!)
wait_for 15 pactl info || fail "PulseAudio did not start"
# A real microphone delivers samples whether anyone records or not, but a pipe source reads its FIFO
# only while a stream records from it: a writer feeding it continuously (the benchmarks) would fill
# the FIFO and stall. With MURLEX_HARNESS_LIVE_MICROPHONE=1 a loopback into the null sink records
# from it all the time, so the FIFO keeps draining (the suites count recording streams: off for them).
if [ "${MURLEX_HARNESS_LIVE_MICROPHONE:-0}" = 1 ]; then
  pactl load-module module-loopback source="$MURLEX_PIPE_SOURCE_NAME" sink=murlex_null \
    source_dont_move=true sink_dont_move=true latency_msec=20 >/dev/null || fail "the microphone drain did not load"
fi

export MURLEX_HARNESS_ROOT="$root"
env | grep -E '^(DISPLAY|DBUS_SESSION_BUS_ADDRESS|PULSE_|PA_|MURLEX_|HOME|XDG_)' | sort > "$root/env"

set +e
"$@"
status=$?
set -e
exit $status
