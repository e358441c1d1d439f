#!/usr/bin/env bash
# The main job on one machine: builds orvane-relay (for this machine),
# orvane.exe and the viewer demo, then starts
#   - a local relay on 127.0.0.1:56000,
#   - the agent under Wine in build/run/ (its own prefix and virtual display),
#     which registers at the relay and prints its ID block,
#   - a viewer in a second Wine prefix on a second virtual display, which
#     connects to the agent by that ID and shows its screen.
# Ctrl+C stops everything.
# Usage: scripts/run.sh [agent arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

bash scripts/install-deps.sh
ORVANE_OPENSSL_ROOT="$(bash scripts/build-openssl.sh | tail -n 1)"
export ORVANE_OPENSSL_ROOT
cmake --preset native >/dev/null
cmake --build --preset native --target orvane-relay
cmake --preset windows >/dev/null
cmake --build --preset windows --target orvane viewer_demo screen_probe animator

run="$root/build/run"
viewer_dir="$run/viewer"
agent_wine="$root/build/run-wine"
viewer_wine="$root/build/run-viewer-wine"
mkdir -p "$run" "$viewer_dir"
cp build/windows/bin/orvane.exe "$run/"
bash scripts/make-cert.sh "$run"
cp build/windows/bin/viewer_demo.exe "$viewer_dir/"
cp "$run/server.crt" "$viewer_dir/"  # the viewer trusts exactly this certificate

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true; done
  "$root/scripts/wine-run" --state "$viewer_wine" --cleanup >/dev/null 2>&1 || true
  "$root/scripts/wine-run" --state "$agent_wine" --cleanup >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

build/native/relay/orvane-relay --listen 127.0.0.1:56000 > "$run/relay.log" 2>&1 &
pids+=($!)
echo "=== Relay on 127.0.0.1:56000 (log: $run/relay.log)"

(unset DISPLAY; "$root/scripts/wine-run" --state "$agent_wine" --setup)
agent_display="$(cat "$agent_wine/display")"
# Something to look at on the agent's screen, drawn by Windows programs so
# that the agent's screen grab sees it: coloured blocks, and a small box in
# the top-left corner that changes colour all the time.
(tail -f /dev/null | setsid "$root/scripts/wine-run" \
  --state "$agent_wine" build/windows/bin/screen_probe.exe > /dev/null 2>&1) &
pids+=($!)
(setsid "$root/scripts/wine-run" --state "$agent_wine" \
  build/windows/bin/animator.exe small > /dev/null 2>&1) &
pids+=($!)

echo "=== Agent folder: $run (server.ini, banlist.txt, server.crt, server.key)"
(cd "$run" && exec setsid "$root/scripts/wine-run" --state "$agent_wine" ./orvane.exe "$@" \
  > "$run/agent.log" 2>&1) &
pids+=($!)
tail -n +1 -f "$run/agent.log" &
pids+=($!)

# The ID block appears once the agent has registered.
id=""
for _ in $(seq 1 120); do
  id="$(sed -n 's/^  ID:     \([^ ]*\)\r\?$/\1/p' "$run/agent.log" | tail -n 1 | tr -d '\r')"
  [ -n "$id" ] && break
  sleep 1
done
password="$(sed -n 's/^  ПАРОЛЬ: \(.*\)\r\?$/\1/p' "$run/agent.log" | tail -n 1 | tr -d '\r')"
if [ -z "$id" ]; then
  echo "=== The agent printed no ID (see $run/agent.log); the viewer is not started." >&2
  wait
  exit 1
fi

(unset DISPLAY; "$root/scripts/wine-run" --state "$viewer_wine" --setup)
echo "=== Viewer: connecting to ID $id through the relay"
(cd "$viewer_dir" && exec setsid "$root/scripts/wine-run" --state "$viewer_wine" \
  ./viewer_demo.exe --password "$password" --relay "127.0.0.1:56000:$id") &
pids+=($!)
echo "=== Agent display $agent_display, viewer display $(cat "$viewer_wine/display")."
echo "    See the viewer: DISPLAY=$(cat "$viewer_wine/display") import -window root viewer.png"
echo "    Ctrl+C stops everything."
wait
