#!/usr/bin/env bash
# scripts/run's panel display with 127.0.0.1:5900 and X display :57 taken: it must pick others,
# and the port it names must be a VNC server (x11vnc's greeting), not the holder of 5900.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
helpers=()
holders=()
cleanup() {
  ((${#helpers[@]})) && stop_panel_display
  ((${#holders[@]})) && kill "${holders[@]}" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Hold both, unless someone already does (then they are taken all the same).
if ! (exec 3<>/dev/tcp/127.0.0.1/5900) 2>/dev/null; then
  socat TCP-LISTEN:5900,bind=127.0.0.1,fork,reuseaddr /dev/null 2>/dev/null &
  holders+=($!)
fi
if [[ ! -e /tmp/.X11-unix/X57 ]]; then
  Xvfb :57 -screen 0 16x16x24 -nolisten tcp >/dev/null 2>&1 &
  holders+=($!)
fi
for _ in $(seq 50); do
  [[ -e /tmp/.X11-unix/X57 ]] && (exec 3<>/dev/tcp/127.0.0.1/5900) 2>/dev/null && break
  sleep 0.1
done
[[ -e /tmp/.X11-unix/X57 ]] || fail "could not hold X display :57"
(exec 3<>/dev/tcp/127.0.0.1/5900) 2>/dev/null || fail "could not hold 127.0.0.1:5900"

trace=$tmp/trace
source "$repo/scripts/panel_display"
start_display || fail "no display"
start_vnc || fail "no VNC port"
echo "display $display, VNC port $vnc_port"
[[ "$display" != ":57" ]] || fail "took the held display :57"
[[ "$vnc_port" != 5900 ]] || fail "took the held port 5900"
[[ -e "/tmp/.X11-unix/X${display#:}" ]] || fail "no X server behind $display"
exec 4<>"/dev/tcp/127.0.0.1/$vnc_port" || fail "nothing listens on $vnc_port"
greeting=$(timeout 5 head -c 12 <&4)
exec 4<&-
[[ "$greeting" == "RFB 003."* ]] || fail "no VNC greeting on $vnc_port: \"$greeting\""
# Stopping leaves neither server behind.
started=("${helpers[@]}")
set -e # as scripts/run runs it: its EXIT trap stops the helpers with errexit on
stop_panel_display
set +e
for pid in "${started[@]}"; do
  [[ -z "$(ps -o pid= -p "$pid")" ]] || fail "helper $pid still runs after the stop"
done
echo PASS
