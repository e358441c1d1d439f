#!/usr/bin/env python3
"""End to end: the agent under Wine on one display with its screen changing
(animator small / full), the viewer (viewer_demo.exe) in a second prefix on a
second display; prints the frame rate the viewer shows (fps_x10 / 10) and its
ping latency, averaged over SECONDS per scenario, and the input latency through
the real viewer: the pointer moved over the viewer's picture until the agent's
pointer follows, MOVES times on the still screen and on the whole changing one.

    python3 bench/viewer/viewer_fps.py [SECONDS] [MOVES]"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.path.join(ROOT, "build", "windows", "bin")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")
PORT = 55695
PASSWORD = "bench"
WIDTH = 1920
sys.path.insert(0, os.path.join(ROOT, "bench"))
from x_pointer import XPointer, time_moves  # noqa: E402
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from agent_harness import hide_main_window  # noqa: E402


def setup(state):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    subprocess.run([WINE_RUN, "--state", state, "--setup"], env=env, check=True)


def display_of(state):
    with open(os.path.join(state, "display")) as f:
        return f.read().strip()


def input_latency(viewer_pointer, agent_pointer, image, moves):
    """Milliseconds from moving the pointer over the viewer's picture until the
    agent's pointer is at the same place of the screen: median, 90 %, 99 %, worst."""
    left, top, right, bottom = image

    def share(i):
        return 0.25 if i % 2 == 0 else 0.75

    return time_moves(
        moves,
        lambda i: viewer_pointer.move(left + int((right - left) * share(i)), (top + bottom) // 2),
        lambda i: abs(agent_pointer.position()[0] - int(WIDTH * share(i))) <= 4)


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 10.0
    moves = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    tmp = tempfile.mkdtemp(prefix="orvane_viewer_fps_")
    agent_state, viewer_state = os.path.join(tmp, "agent-wine"), os.path.join(tmp, "viewer-wine")
    agent_dir, viewer_dir = os.path.join(tmp, "agent"), os.path.join(tmp, "viewer")
    os.makedirs(agent_dir)
    os.makedirs(viewer_dir)
    for name in ("orvane.exe", "animator.exe"):
        shutil.copy(os.path.join(BIN, name), agent_dir)
    for name in ("server.crt", "server.key"):
        shutil.copy(os.path.join(BIN, "test-certs", name), agent_dir)
    shutil.copy(os.path.join(BIN, "viewer_demo.exe"), viewer_dir)
    shutil.copy(os.path.join(BIN, "test-certs", "server.crt"), viewer_dir)
    with open(os.path.join(agent_dir, "server.ini"), "w") as f:
        f.write(f"[server]\nport={PORT}\npassword={PASSWORD}\n")
    setup(agent_state)
    setup(viewer_state)
    procs = []
    rates = []
    image = []
    latencies = {}
    lock = threading.Lock()

    def start(args, cwd, state, **kw):
        p = subprocess.Popen([WINE_RUN, "--state", state, *args], cwd=cwd,
                             start_new_session=True, **kw)
        procs.append(p)
        return p

    try:
        start(["./orvane.exe"], agent_dir, agent_state, stdout=subprocess.DEVNULL)
        time.sleep(8)
        # Only the benchmark's own picture on the screen: the main window goes to the tray.
        if not hide_main_window(WINE_RUN, agent_state, BIN):
            sys.exit("the agent's main window did not close to the tray")
        viewer = start(["./viewer_demo.exe", "--rates", "--password", PASSWORD, "--direct",
                        f"127.0.0.1:{PORT}"], viewer_dir, viewer_state,
                       stdout=subprocess.PIPE, text=True)

        def read():
            for line in viewer.stdout:
                parts = line.split()
                if parts and parts[0] == "rate":
                    with lock:
                        rates.append((time.time(), int(parts[1]), int(parts[2])))
                elif parts and parts[0] == "image":
                    image.extend(int(v) for v in parts[1:5])
        threading.Thread(target=read, daemon=True).start()
        time.sleep(5)
        viewer_pointer = XPointer(display_of(viewer_state))
        agent_pointer = XPointer(display_of(agent_state))
        viewer_pointer.move((image[0] + image[2]) // 2, (image[1] + image[3]) // 2)
        subprocess.run(["xdotool", "key", "F2"], check=True,  # control on
                       env=dict(os.environ, DISPLAY=display_of(viewer_state)))
        print(f"viewer frame rate, agent and viewer under Wine on two displays, {seconds:.0f} s each")
        print(f"{'scenario':<10}{'fps (viewer)':>14}{'ping ms':>10}")
        for scenario in ("static", "small", "full"):
            animator = None
            if scenario != "static":
                animator = start(["./animator.exe", scenario], agent_dir, agent_state)
                time.sleep(4)
            began = time.time()
            time.sleep(seconds)
            with lock:
                window = [r for r in rates if r[0] >= began]
            if window:
                fps = sum(r[1] for r in window) / len(window) / 10
                ping = sum(r[2] for r in window) / len(window)
                print(f"{scenario:<10}{fps:>14.1f}{ping:>10.0f}")
            if scenario != "small":
                latencies[scenario] = input_latency(viewer_pointer, agent_pointer, image, moves)
            if animator:
                os.killpg(animator.pid, signal.SIGKILL)
                time.sleep(1)
        print(f"input latency through the viewer (its pointer moved -> the agent's "
              f"pointer there), {moves} moves each:")
        for scenario, (median, p90, p99, worst) in latencies.items():
            print(f"   {scenario:<7} median {median:6.1f} ms, 90% {p90:6.1f} ms, "
                  f"99% {p99:6.1f} ms, "
                  f"worst {worst:6.1f} ms")
    finally:
        for p in procs:
            try:
                os.killpg(p.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        for state in (agent_state, viewer_state):
            subprocess.run([WINE_RUN, "--state", state, "--cleanup"])
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
