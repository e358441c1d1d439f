#!/usr/bin/env python3
"""End to end: the agent under Wine on one display with its screen changing
(animator small / full), the viewer (viewer_demo.exe) in a second prefix on a
second display; prints the frame rate the viewer shows (fps_x10 / 10) and its
ping latency, averaged over SECONDS per scenario.

    python3 bench/viewer/viewer_fps.py [SECONDS]"""
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


def setup(state):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    subprocess.run([WINE_RUN, "--state", state, "--setup"], env=env, check=True)


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 10.0
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
    lock = threading.Lock()

    def start(args, cwd, state, **kw):
        p = subprocess.Popen([WINE_RUN, "--state", state, *args], cwd=cwd,
                             start_new_session=True, **kw)
        procs.append(p)
        return p

    try:
        start(["./orvane.exe"], agent_dir, agent_state, stdout=subprocess.DEVNULL)
        time.sleep(8)
        viewer = start(["./viewer_demo.exe", "--rates", "--password", PASSWORD, "--direct",
                        f"127.0.0.1:{PORT}"], viewer_dir, viewer_state,
                       stdout=subprocess.PIPE, text=True)

        def read():
            for line in viewer.stdout:
                parts = line.split()
                if parts and parts[0] == "rate":
                    with lock:
                        rates.append((time.time(), int(parts[1]), int(parts[2])))
        threading.Thread(target=read, daemon=True).start()
        time.sleep(5)
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
            if animator:
                os.killpg(animator.pid, signal.SIGKILL)
                time.sleep(1)
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
