"""The viewer end to end: the agent in one Wine prefix on one Xvfb display,
the viewer (viewer_demo.exe, which opens it through launch_viewer) in a second
prefix on a second display. Checks what the viewer's window shows against the
agent's screen, and that a click there moves the agent's pointer."""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from agent_harness import Agent, Env, LineProcess
from agent_session_test import (BLOCK, HEIGHT, PASSWORD, WIDTH, ScreenProbe, block_colour, pointer,
                                read_ppm)


def display_of(state):
    with open(os.path.join(state, "display")) as f:
        return f.read().strip()


class ViewerEnd(LineProcess):
    """viewer_demo.exe in the second prefix, with server.crt beside it."""

    def __init__(self, state, *route):
        self.dir = tempfile.mkdtemp(prefix="orvane_viewer_")
        shutil.copy(os.path.join(Env.bin_dir, "viewer_demo.exe"), self.dir)
        shutil.copy(os.path.join(Env.bin_dir, "test-certs", "server.crt"), self.dir)
        self.state = state
        super().__init__([Env.wine_run, "--state", state, "./viewer_demo.exe", "--password",
                          PASSWORD, *route], cwd=self.dir, start_new_session=True)

    def rect(self, what):
        """The L T R B of the first line that starts with `what`."""
        index = self.wait(lambda l: l.startswith(what + " "), timeout=60)
        line = self.snapshot()[index]
        return [int(v) for v in line.split()[1:5]]

    def x_env(self):
        return dict(os.environ, DISPLAY=display_of(self.state))

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.x_env(), check=True, timeout=30)

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", "-depth", "8", path], env=self.x_env(), check=True,
                       timeout=60)
        return read_ppm(path)

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write("close\n")
                self.proc.stdin.flush()
                self.proc.wait(20)
            except (BrokenPipeError, subprocess.TimeoutExpired):
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait(10)
        self.proc.stdin.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class ViewerEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvane_viewer_e2e_")
        cls.screen = ScreenProbe()
        # The viewer's own prefix and display.
        cls.viewer_state = os.path.join(cls.tmp, "viewer-wine")
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        subprocess.run([Env.wine_run, "--state", cls.viewer_state, "--setup"], env=env,
                       check=True, timeout=300)

    @classmethod
    def tearDownClass(cls):
        cls.screen.stop()
        subprocess.run([Env.wine_run, "--state", cls.viewer_state, "--cleanup"], timeout=120)
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def start_viewer(self, *route):
        viewer = ViewerEnd(self.viewer_state, *route)
        self.addCleanup(viewer.close)
        return viewer

    def check_picture(self, viewer):
        image = viewer.rect("image")
        left, top, right, bottom = image
        self.assertGreater(right - left, 100)
        # Aspect kept: 1920 x 1080 scaled into the client area.
        self.assertAlmostEqual((right - left) / (bottom - top), WIDTH / HEIGHT, delta=0.02)
        time.sleep(1)  # let a paint land after the last tiles
        width, _, pixels = viewer.screenshot(os.path.join(self.tmp, "viewer.ppm"))
        scale = (right - left) / WIDTH
        worst = 0
        for by in range(HEIGHT // BLOCK):
            for bx in range(WIDTH // BLOCK):
                x = left + int((bx * BLOCK + BLOCK // 2) * scale)
                y = top + int((by * BLOCK + BLOCK // 2) * scale)
                got = pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]
                worst = max(worst, *(abs(a - b) for a, b in zip(got, block_colour(bx, by))))
        if worst >= 16:
            shutil.copy(os.path.join(self.tmp, "viewer.ppm"), "/tmp/viewer_shot.ppm")
        self.assertLess(worst, 16, image)
        return image

    def check_click_moves_the_agent_pointer(self, viewer, image):
        left, top, right, _ = image
        scale = (right - left) / WIDTH
        target = (1440, 810)
        x = left + int(target[0] * scale)
        y = top + int(target[1] * scale)
        viewer.xdotool("mousemove", str(x), str(y))
        viewer.xdotool("key", "F2")
        viewer.xdotool("click", "1")
        deadline = time.time() + 15
        while time.time() < deadline:
            got = pointer()
            if abs(got[0] - target[0]) <= 4 and abs(got[1] - target[1]) <= 4:
                return
            time.sleep(0.05)
        self.fail(f"agent pointer at {pointer()}, wanted about {target}")

    def test_by_relay_id(self):
        relay = subprocess.Popen([Env.relay, "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True)
        self.addCleanup(lambda: (relay.terminate(), relay.wait(10), relay.stdout.close()))
        port = int(re.search(r"listening on 127\.0\.0\.1:(\d+)", relay.stdout.readline()).group(1))
        threading.Thread(target=relay.stdout.read, daemon=True).start()
        agent = Agent(f"[server]\nport=55680\npassword={PASSWORD}\nrelay_host=127.0.0.1\n"
                      f"relay_port={port}\nrelay_id=\n")
        self.addCleanup(agent.stop)
        self.assertTrue(agent.wait_for("  (сообщите их тому, кто подключается)\n"), agent.output())
        agent_id = re.search(r"  ID:     (\S+)\n", agent.output()).group(1)
        viewer = self.start_viewer("--relay", f"127.0.0.1:{port}:{agent_id}")
        image = self.check_picture(viewer)
        self.check_click_moves_the_agent_pointer(viewer, image)
        viewer.close()
        self.assertTrue(agent.wait_for("[-] Зритель отключился: relay id="), agent.output())

    def test_direct_by_address(self):
        agent = Agent(f"[server]\nport=55681\npassword={PASSWORD}\n")
        self.addCleanup(agent.stop)
        self.assertTrue(agent.wait_for("Слушаю порт"), agent.output())
        viewer = self.start_viewer("--direct", "127.0.0.1:55681")
        self.check_picture(viewer)
        viewer.close()
        self.assertTrue(agent.wait_for("[-] Зритель отключился: 127.0.0.1:"), agent.output())


if __name__ == "__main__":
    Env.wine_run, Env.state, Env.bin_dir, Env.relay = sys.argv[1:5]
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)
