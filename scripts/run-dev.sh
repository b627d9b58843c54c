#!/usr/bin/env bash
# Starts murlex-devserver on the development port, then the development build of murlex against it.
# The stand-in is stopped when the app exits (or when this script is interrupted).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/dev
port=$(sed -n 's/^MURLEX_DEV_PORT:STRING=//p' "$build/CMakeCache.txt")
port=${port:-8443}

"$build/devserver/murlex-devserver" --port "$port" \
  --cert "$build/devcerts/server.pem" --key "$build/devcerts/server.key" > "$build/devserver.out" &
server=$!
trap 'kill -TERM $server 2>/dev/null || true; wait $server 2>/dev/null || true' EXIT

for _ in $(seq 100); do
  grep -q 'ready on port' "$build/devserver.out" 2>/dev/null && break
  kill -0 $server 2>/dev/null || { echo "run-dev: murlex-devserver did not start" >&2; exit 1; }
  sleep 0.1
done
echo "run-dev: murlex-devserver listening on https://localhost:$port"

# Scripted runs may sign in without the window: MURLEX_DEV_SIGNIN=1 exchanges a throwaway
# identity token (the user name) for the stand-in's tokens, which go into the keyring.
if [ "${MURLEX_DEV_SIGNIN:-0}" = 1 ]; then
  "$build/murlex-dev-signin" "${USER:-dev-user}"
fi

settings="${XDG_CONFIG_HOME:-$HOME/.config}/quillfen/MurlexMac.conf"
echo "run-dev: starting murlex; sign in under 设置 → 认证 by pasting any identity token (your name will do),"
echo "run-dev: then press Control+Alt+Space, speak, and press it again"
"$build/src/murlex" "$@" &
app=$!
trap 'kill -TERM $app 2>/dev/null || true; wait $app 2>/dev/null || true; kill -TERM $server 2>/dev/null || true; wait $server 2>/dev/null || true' EXIT

# On a first launch the window opens, as the tray's "打开主窗口" would: a second launch asks the
# running instance for it once it is on the session bus.
if ! grep -qs '^hasCompletedOnboarding=true' "$settings"; then
  for _ in $(seq 100); do
    kill -0 $app 2>/dev/null || break
    if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
         org.freedesktop.DBus.NameHasOwner string:quillfen.MurlexMac 2>/dev/null | grep -q 'boolean true'; then
      "$build/src/murlex" > /dev/null || true
      break
    fi
    sleep 0.1
  done
fi
wait $app
