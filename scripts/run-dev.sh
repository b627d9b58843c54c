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

# The sign-in screen is not built yet: sign the local user in against the stand-in with a
# throwaway identity token; the tokens go into the keyring like a real sign-in's.
"$build/murlex-dev-signin" "${USER:-dev-user}"

echo "run-dev: starting murlex; press Control+Alt+Space, speak, and press it again"
"$build/src/murlex" "$@"
