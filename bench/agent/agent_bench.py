#!/usr/bin/env python3
"""The agent under Wine+Xvfb on loopback with our scripted viewer: frames per
second and bytes per second for a static screen, a small changing region and a
whole changing screen; input latency from MSG_MOUSE to the X pointer moving,
on the still screen and while the whole screen changes; agent CPU seconds per
frame; where a pass spends its time. Prints its figures.

    python3 bench/agent/agent_bench.py [SECONDS] [MOVES]

Needs the windows build (build/windows) and the native one (build/native or
build/bench) with orvane-test-client."""
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
sys.path.insert(0, os.path.join(ROOT, "bench"))
from x_pointer import XPointer, time_moves  # noqa: E402
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from agent_harness import hide_main_window  # noqa: E402
PORT = 55690
PASSWORD = "bench"


def find_client():
    for preset in ("bench", "native"):
        path = os.path.join(ROOT, "build", preset, "tests", "e2e", "orvane-test-client")
        if os.path.exists(path):
            return path
    sys.exit("orvane-test-client is not built (cmake --build --preset native)")


def agent_cpu_seconds(state):
    """User + system CPU of the agent's Wine process: the orvane.exe of our own
    prefix, not those of other test runs on the machine."""
    prefix = f"WINEPREFIX={state}/prefix".encode()
    total = 0.0
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if b"orvane.exe" not in f.read():
                    continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                if prefix not in f.read().split(b"\0"):
                    continue
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except OSError:
            continue
    return total


class Viewer:
    def __init__(self, client):
        self.proc = subprocess.Popen(
            [client, "--cert", os.path.join(BIN, "test-certs", "server.crt"), "--password",
             PASSWORD, "--direct", f"127.0.0.1:{PORT}"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.frames = []  # (arrival ms, payload bytes, tiles)
        self.wire = []    # bytes read from the socket, as each "wire" answer said
        self.lock = threading.Lock()
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        for line in self.proc.stdout:
            parts = line.split()
            if parts and parts[0] == "frame":
                with self.lock:
                    self.frames.append((int(parts[1]), int(parts[5]), int(parts[4])))
            elif parts and parts[0] == "wire":
                with self.lock:
                    self.wire.append(int(parts[1]))

    def send(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def frame_count(self):
        with self.lock:
            return len(self.frames)

    def wire_bytes(self):
        """Bytes the client has read from its socket so far (TLS included)."""
        with self.lock:
            asked = len(self.wire)
        self.send("wire")
        deadline = time.time() + 5
        while time.time() < deadline:
            with self.lock:
                if len(self.wire) > asked:
                    return self.wire[-1]
            time.sleep(0.01)
        raise RuntimeError("the client did not answer 'wire'")

    def window(self, start):
        with self.lock:
            return self.frames[start:]


def measure(viewer, seconds, state):
    start = viewer.frame_count()
    wire = viewer.wire_bytes()
    cpu = agent_cpu_seconds(state)
    began = time.time()
    time.sleep(seconds)
    frames = viewer.window(start)
    elapsed = time.time() - began
    cpu = agent_cpu_seconds(state) - cpu
    wire = viewer.wire_bytes() - wire
    count = max(len(frames), 1)
    return {"fps": len(frames) / elapsed,
            "bytes_per_s": wire / elapsed,
            "payload_per_s": sum(f[1] for f in frames) / elapsed,
            "tiles": sum(f[2] for f in frames) / count,
            "cpu_ms_per_frame": cpu * 1000 / count}


def input_latency(viewer, pointer, rounds):
    """Milliseconds from handing MSG_MOUSE to the client until the X pointer
    is there: median, 90 %, 99 %, worst."""
    def wanted(i):
        return 200 + (i % 2) * 800

    return time_moves(rounds,
                      lambda i: viewer.send(f"mouse 0 {wanted(i) * 65535 // 1919} 32768 0"),
                      lambda i: abs(pointer.position()[0] - wanted(i)) <= 1)


def pass_work_ms(breakdown):
    """Milliseconds of a pass spent on anything but waiting, from the breakdown."""
    total = waiting = None
    for line in breakdown.splitlines():
        parts = line.split()
        if "ms a pass" in line:
            total = float(line.split(",")[1].split()[0])
        elif parts and parts[0] == "pace":
            waiting = float(parts[1])
    return None if total is None or waiting is None else total - waiting


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 10.0
    moves = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    client = find_client()
    state = tempfile.mkdtemp(prefix="orvane_bench_")
    work = tempfile.mkdtemp(prefix="orvane_bench_agent_")
    subprocess.run([WINE_RUN, "--state", state, "--setup"], check=True)
    with open(os.path.join(state, "display")) as f:
        pointer = XPointer(f.read().strip())
    for name in ("orvane.exe", "animator.exe", "pass_breakdown.exe", "server.crt"):
        shutil.copy(os.path.join(BIN, name), work)
    shutil.copytree(os.path.join(BIN, "test-certs"), os.path.join(work, "test-certs"))
    for name in ("server.crt", "server.key"):
        shutil.copy(os.path.join(BIN, "test-certs", name), work)
    with open(os.path.join(work, "server.ini"), "w") as f:
        f.write(f"[server]\nport={PORT}\npassword={PASSWORD}\n")
    agent = subprocess.Popen([WINE_RUN, "--state", state, "./orvane.exe"], cwd=work,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
    animator = None
    try:
        time.sleep(8)
        # Only the benchmark's own picture on the screen: the main window goes to the tray.
        if not hide_main_window(WINE_RUN, state, BIN):
            sys.exit("the agent's main window did not close to the tray")
        viewer = Viewer(client)
        time.sleep(3)
        results = {}
        for scenario in ("static", "small", "full"):
            if scenario != "static":
                animator = subprocess.Popen([WINE_RUN, "--state", state, "./animator.exe",
                                             scenario], cwd=work, start_new_session=True)
                time.sleep(4)
            results[scenario] = measure(viewer, seconds, state)
            # The same passes in-process, timed piece by piece (no viewer session then
            # competes for the processor, so this runs while the agent only idles).
            viewer.send("quit")
            time.sleep(1)
            results[scenario]["breakdown"] = subprocess.run(
                [WINE_RUN, "--state", state, "./pass_breakdown.exe", "60"], cwd=work,
                capture_output=True, text=True).stdout.strip()
            viewer = Viewer(client)
            time.sleep(3)
            if scenario in ("static", "full"):
                results[scenario]["latency"] = input_latency(viewer, pointer, moves)
            if animator:
                os.killpg(animator.pid, signal.SIGKILL)
                animator.wait()
                animator = None
                time.sleep(1)
        print(f"agent under Wine+Xvfb, 1920x1080, loopback, {seconds:.0f} s per scenario")
        print(f"{'scenario':<10}{'fps':>8}{'wire KiB/s':>12}{'payload KiB/s':>15}"
              f"{'tiles/frame':>13}{'CPU ms/frame':>14}")
        for scenario in ("static", "small", "full"):
            r = results[scenario]
            print(f"{scenario:<10}{r['fps']:>8.1f}{r['bytes_per_s'] / 1024:>12.1f}"
                  f"{r['payload_per_s'] / 1024:>15.1f}{r['tiles']:>13.2f}"
                  f"{r['cpu_ms_per_frame']:>14.1f}")
        print("(wire: what the viewer's socket received, TLS records included; CPU: the "
              "agent's Wine process only, not wineserver)")
        for scenario in ("static", "small", "full"):
            print(f"pass breakdown, {scenario}:")
            for line in results[scenario]["breakdown"].splitlines():
                if not line.startswith("["):  # the session's own log lines
                    print("   " + line.rstrip())
        print(f"input latency MSG_MOUSE -> X pointer moved, {moves} moves each:")
        for scenario in ("static", "full"):
            median, p90, p99, worst = results[scenario]["latency"]
            work = pass_work_ms(results[scenario]["breakdown"])
            print(f"   {scenario:<7} median {median:6.1f} ms, 90% {p90:6.1f} ms, "
                  f"99% {p99:6.1f} ms, "
                  f"worst {worst:6.1f} ms"
                  + (f"  (a pass works {work:.1f} ms)" if work is not None else ""))
        viewer.send("quit")
    finally:
        if animator:
            os.killpg(animator.pid, signal.SIGKILL)
        os.killpg(agent.pid, signal.SIGKILL)
        agent.wait()
        subprocess.run([WINE_RUN, "--state", state, "--cleanup"])
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(state, ignore_errors=True)


if __name__ == "__main__":
    main()
