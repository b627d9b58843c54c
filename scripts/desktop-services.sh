#!/usr/bin/env bash
# Starts or stops the desktop services that interface suites need on the harness's X display:
#   - openbox, a light real window manager (focus, activation, stacking, frames)
#   - trayer, a real XEmbed system tray (a panel at the top right)
# Usage (inside scripts/harness.sh): scripts/desktop-services.sh start|stop
# CTest runs `start` as the setup of the fixture "desktop" and `stop` as its cleanup, so only the suites
# that declare  // test-services: desktop  run with them. The harness stops anything left on exit.
set -euo pipefail

: "${DISPLAY:?desktop-services: no DISPLAY (run inside scripts/harness.sh)}"
: "${MURLEX_HARNESS_ROOT:?desktop-services: not inside scripts/harness.sh}"
pidfile="$MURLEX_HARNESS_ROOT/desktop.pids"
# shellcheck source=wait-for.sh
. "$(cd "$(dirname "$0")" && pwd)/wait-for.sh"
rc="$MURLEX_HARNESS_ROOT/openbox-rc.xml"


stop() {
  [ -f "$pidfile" ] || return 0
  local pid
  while read -r pid; do kill -TERM "$pid" 2>/dev/null || true; done < "$pidfile"
  while read -r pid; do
    wait_for 5 bash -c "! kill -0 $pid" || kill -KILL "$pid" 2>/dev/null || true
  done < "$pidfile"
  rm -f "$pidfile"
}

# The outputs are read whole before matching: with pipefail, `tool | grep -q` fails whenever grep
# stops reading before the tool has written everything (SIGPIPE).
wm_ready() { local out; out=$(xprop -root _NET_SUPPORTING_WM_CHECK) && [[ $out == *'window id'* ]]; }
tray_ready() { local out; out=$(xwininfo -root -tree) && [[ $out == *'("trayer" "Trayer")'* ]]; }

start() {
  stop
  # No key bindings at all (the suites grab keys of their own, and a window manager's binding would
  # refuse those grabs); mouse bindings so a click focuses and raises a window as on a desktop. A plain
  # click is bound in the client and title-bar contexts only: openbox passes on (replays) a click it
  # handled only in the client context, and a binding in the frame context, which covers the client
  # area too, would swallow every click before the window sees it.
  cat > "$rc" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy></placement>
  <desktops><number>2</number></desktops>
  <keyboard/>
  <mouse>
    <context name="Client"><mousebind button="Left" action="Press"><action name="Focus"/><action name="Raise"/></mousebind></context>
    <context name="Titlebar"><mousebind button="Left" action="Press"><action name="Focus"/><action name="Raise"/></mousebind>
      <mousebind button="Left" action="Drag"><action name="Move"/></mousebind></context>
  </mouse>
</openbox_config>
XML
  openbox --config-file "$rc" >"$MURLEX_HARNESS_ROOT/openbox.log" 2>&1 &
  echo $! >> "$pidfile"
  wait_for 15 wm_ready || { echo "desktop-services: openbox did not start" >&2; tail -n 20 "$MURLEX_HARNESS_ROOT/openbox.log" >&2; exit 1; }
  trayer --edge top --align right --widthtype request --height 24 --transparent false \
    --SetDockType true --SetPartialStrut true --expand true >"$MURLEX_HARNESS_ROOT/trayer.log" 2>&1 &
  echo $! >> "$pidfile"
  wait_for 15 tray_ready || { echo "desktop-services: trayer did not start" >&2; tail -n 20 "$MURLEX_HARNESS_ROOT/trayer.log" >&2; exit 1; }
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
