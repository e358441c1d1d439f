#!/usr/bin/env bash
# The main job on one machine: builds orvane-relay (for this machine) and
# orvane.exe, then starts
#   - a local relay on 127.0.0.1:56000,
#   - the agent to reach, under Wine in build/run/ (its own prefix and virtual
#     display), which registers at the relay and prints its ID block,
#   - the user's own Orvane in build/run/user/, in a second Wine prefix on a
#     second virtual display: its main window, from which the user connects to
#     the first agent by that ID and password and sees its screen.
# Ctrl+C stops everything.
# Usage: scripts/run.sh [agent arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

bash scripts/install-deps.sh
ORVANE_OPENSSL_ROOT="$(bash scripts/build-openssl.sh | tail -n 1)"
export ORVANE_OPENSSL_ROOT
ORVANE_TURBOJPEG_ROOT="$(bash scripts/build-libjpeg-turbo.sh | tail -n 1)"
export ORVANE_TURBOJPEG_ROOT
cmake --preset native >/dev/null
cmake --build --preset native --target orvane-relay
cmake --preset windows >/dev/null
cmake --build --preset windows --target orvane screen_probe animator

run="$root/build/run"
user_dir="$run/user"
agent_wine="$root/build/run-wine"
user_wine="$root/build/run-user-wine"
mkdir -p "$run" "$user_dir"
cp build/windows/bin/orvane.exe "$run/"
cp build/windows/bin/orvane.exe "$user_dir/"
bash scripts/make-cert.sh "$run"
# One pair for the group: the user's Orvane is an agent as well, and its
# viewer trusts exactly this certificate.
cp "$run/server.crt" "$run/server.key" "$user_dir/"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true; done
  "$root/scripts/wine-run" --state "$user_wine" --cleanup >/dev/null 2>&1 || true
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
  --state "$agent_wine" build/windows/bin/screen_probe.exe > "$run/screen_probe.out" 2>&1) &
pids+=($!)
# Painted before the agent starts, so that the agent's own window lies on top.
for _ in $(seq 1 60); do
  grep -q ready "$run/screen_probe.out" 2>/dev/null && break
  sleep 1
done
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
  echo "=== The agent printed no ID (see $run/agent.log); the user's Orvane is not started." >&2
  wait
  exit 1
fi

(unset DISPLAY; "$root/scripts/wine-run" --state "$user_wine" --setup)
user_display="$(cat "$user_wine/display")"
(cd "$user_dir" && exec setsid "$root/scripts/wine-run" --state "$user_wine" ./orvane.exe \
  > "$user_dir/agent.log" 2>&1) &
pids+=($!)

# Where the user's main window is, for the typing below.
geometry=""
for _ in $(seq 1 60); do
  geometry="$(DISPLAY="$user_display" xdotool search --name '^Orvane 1\.1\.0\.1$' \
    getwindowgeometry --shell 2>/dev/null || true)"
  [ -n "$geometry" ] && break
  sleep 1
done
x="$(sed -n 's/^X=//p' <<< "$geometry" | head -n 1)"
y="$(sed -n 's/^Y=//p' <<< "$geometry" | head -n 1)"
echo "=== The user's Orvane: its main window on display $user_display (folder $user_dir)."
echo "    To reach the agent, type its ID $id and password $password into"
echo "    \"ID партнёра\" and \"Пароль\" there and press \"Подключиться\"; from this shell:"
echo "      export DISPLAY=$user_display"
echo "      xdotool mousemove $((${x:-640} + 165)) $((${y:-236} + 152)) click 1 type '$id'"
echo "      xdotool mousemove $((${x:-640} + 165)) $((${y:-236} + 222)) click 1 type '$password'"
echo "      xdotool key Return"
echo "    The viewer window opens there with the agent's screen (display $agent_display)."
echo "    See a display: DISPLAY=$user_display import -window root shot.png"
echo "    Ctrl+C stops everything."
wait
