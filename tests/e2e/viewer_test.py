"""The viewer end to end: the agent in one Wine prefix on one Xvfb display,
the viewer (viewer_demo.exe, which opens it through launch_viewer) in a second
prefix on a second display. Checks what the viewer's window shows against the
agent's screen, and that a click there moves the agent's pointer. A scripted
agent of our own shows what the viewer sends for keys and clicks, and the
viewer's message boxes are read for failures caused by the real agent and
relay."""
import os
import re
import select
import shutil
import signal
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from agent_harness import (MSG_AUTH, MSG_AUTH_OK, MSG_CTRL_ALT_DEL, MSG_FRAME, MSG_MONITOR_INFO,
                            MSG_MOUSE, Agent, Env, LineProcess, frame, read_frame, start_relay)
from agent_session_test import (BLOCK, HEIGHT, PASSWORD, WIDTH, ScreenProbe, block_colour, pointer,
                                read_ppm)


def display_of(state):
    with open(os.path.join(state, "display")) as f:
        return f.read().strip()


class ViewerEnd(LineProcess):
    """viewer_demo.exe in the second prefix, with server.crt beside it."""

    def __init__(self, state, *route, password=PASSWORD, stay=False):
        """Without a password the entry has none and the viewer asks for it."""
        self.dir = tempfile.mkdtemp(prefix="orvane_viewer_")
        shutil.copy(os.path.join(Env.bin_dir, "viewer_demo.exe"), self.dir)
        shutil.copy(os.path.join(Env.bin_dir, "test-certs", "server.crt"), self.dir)
        self.state = state
        flags = [a for a in route if a == "--rates"]  # flags go first
        route = [a for a in route if a != "--rates"]
        options = flags + (["--stay"] if stay else []) + (["--password", password] if password else [])
        super().__init__([Env.wine_run, "--state", state, "./viewer_demo.exe", *options, *route],
                         cwd=self.dir, start_new_session=True)

    def next_line(self, start, prefix, timeout=60):
        """Index and text of the first line from `start` on that starts with prefix."""
        index = self.wait(lambda l: l.startswith(prefix), start=start, timeout=timeout)
        return index, self.snapshot()[index]

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
                self.proc.stdin.write("cancel\nclose\nquit\n")
                self.proc.stdin.flush()
                self.proc.wait(20)
            except (BrokenPipeError, subprocess.TimeoutExpired):
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait(10)
        self.proc.stdin.close()
        shutil.rmtree(self.dir, ignore_errors=True)


MOUSE_LEFT_DOWN = 1


class ScriptedAgent:
    """A TLS agent of our own on loopback: it takes the password, shows one
    picture, keeps the viewer's passes going with empty frames as a real agent
    does, and records every message the viewer sends."""

    WIDTH, HEIGHT = 320, 180

    def __init__(self):
        certs = os.path.join(Env.bin_dir, "test-certs")
        self.ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.ctx.load_cert_chain(os.path.join(certs, "server.crt"), os.path.join(certs, "server.key"))
        self.tile = subprocess.run(
            ["convert", "-size", f"{self.WIDTH}x{self.HEIGHT}", "xc:#c81414", "jpeg:-"],
            capture_output=True, check=True, timeout=60).stdout
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.password = None
        self.messages = []
        self.lock = threading.Lock()
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        self.listener.settimeout(120)
        try:
            raw, _ = self.listener.accept()
        except OSError:
            return
        raw.settimeout(30)
        try:
            with self.ctx.wrap_socket(raw, server_side=True) as conn:
                self._converse(conn)
        except (OSError, ssl.SSLError):
            pass
        finally:
            raw.close()

    def _converse(self, conn):
        auth = read_frame(conn)
        if auth is None or auth[0] != MSG_AUTH:
            return
        self.password = auth[1].decode()
        w, h = self.WIDTH, self.HEIGHT
        picture = struct.pack("<HHHHHHHI", w, h, 1, 0, 0, w, h, len(self.tile)) + self.tile
        conn.sendall(frame(MSG_AUTH_OK) + frame(MSG_MONITOR_INFO, bytes([1, 0])) +
                     frame(MSG_FRAME, picture))
        empty = frame(MSG_FRAME, struct.pack("<HHH", w, h, 0))
        while not self.done.is_set():
            conn.sendall(empty)
            ready = select.select([conn], [], [], 0.03)[0]
            while ready or conn.pending():
                message = read_frame(conn)
                if message is None:
                    return
                with self.lock:
                    self.messages.append(message)
                ready = select.select([conn], [], [], 0)[0]

    def received(self):
        with self.lock:
            return list(self.messages)

    def wait_for(self, msg_type, start=0, timeout=30.0, payload=lambda p: True):
        """Index of the first message of msg_type from `start` on."""
        end = time.time() + timeout
        while time.time() < end:
            for i, (got, body) in enumerate(self.received()[start:], start):
                if got == msg_type and payload(body):
                    return i
            time.sleep(0.05)
        raise AssertionError(f"no message {msg_type}; got {[t for t, _ in self.received()]}")

    def stop(self):
        self.done.set()
        try:
            self.listener.shutdown(socket.SHUT_RDWR)  # wakes a waiting accept
        except OSError:
            pass
        self.listener.close()
        self.thread.join(40)


class StallingProxy:
    """A TCP proxy between the viewer and the agent that reads the viewer's
    bytes as TLS records. On request it holds back the second half of the
    next record for a second, as a lost segment does on a poor link, or goes
    silent both ways without closing, as a dead Wi-Fi link or a NAT that
    forgot the connection does."""

    HOLD = 1.0

    def __init__(self, agent_port):
        self.agent_port = agent_port
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.stall = threading.Event()    # set: split the next record
        self.stalled = threading.Event()  # set once that record has gone on whole
        self.silent = threading.Event()
        self.sockets = []
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        self.listener.settimeout(120)
        try:
            viewer, _ = self.listener.accept()
        except OSError:
            return
        agent = socket.create_connection(("127.0.0.1", self.agent_port))
        self.sockets = [viewer, agent]
        threading.Thread(target=self._viewer_to_agent, args=(viewer, agent), daemon=True).start()
        threading.Thread(target=self._agent_to_viewer, args=(agent, viewer), daemon=True).start()

    def _agent_to_viewer(self, source, target):
        while not self.silent.is_set():
            try:
                data = source.recv(65536)
                if not data or self.silent.is_set():
                    return
                target.sendall(data)
            except OSError:
                return

    def _viewer_to_agent(self, source, target):
        pending = b""
        while not self.silent.is_set():
            try:
                data = source.recv(65536)
            except OSError:
                return
            if not data or self.silent.is_set():
                return
            pending += data
            while len(pending) >= 5:
                size = 5 + struct.unpack(">H", pending[3:5])[0]
                if len(pending) < size:
                    break
                record, pending = pending[:size], pending[size:]
                try:
                    if self.stall.is_set():
                        target.sendall(record[:size // 2])
                        time.sleep(self.HOLD)
                        target.sendall(record[size // 2:])
                        self.stall.clear()
                        self.stalled.set()
                    else:
                        target.sendall(record)
                except OSError:
                    return

    def close(self):
        self.silent.set()
        for sock in [self.listener, *self.sockets]:
            sock.close()


NOTICE_STRIPE = (0xF2, 0xB3, 0x56)


def stripe_pixels(shot, window):
    """Pixels of the notice's warning stripe in the lower part of the window."""
    width, _, pixels = shot
    left, top, right, bottom = window
    count = 0
    for y in range(max(top, bottom - 200), bottom):
        for x in range(left, right):
            got = pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]
            count += all(abs(a - b) <= 10 for a, b in zip(got, NOTICE_STRIPE))
    return count


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

    def picture_difference(self, viewer, image):
        """The largest difference between the blocks and the viewer's picture of them."""
        left, top, right, _ = image
        width, _, pixels = viewer.screenshot(os.path.join(self.tmp, "viewer.ppm"))
        scale = (right - left) / WIDTH
        worst = 0
        for by in range(HEIGHT // BLOCK):
            for bx in range(WIDTH // BLOCK):
                x = left + int((bx * BLOCK + BLOCK // 2) * scale)
                y = top + int((by * BLOCK + BLOCK // 2) * scale)
                got = pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]
                worst = max(worst, *(abs(a - b) for a, b in zip(got, block_colour(bx, by))))
        return worst

    def check_picture(self, viewer, agent):
        # The blocks alone are the screen to check: the main window goes to the tray.
        self.assertTrue(agent.hide_main_window(), agent.output())
        image = viewer.rect("image")
        left, top, right, bottom = image
        self.assertGreater(right - left, 100)
        # Aspect kept: 1920 x 1080 scaled into the client area.
        self.assertAlmostEqual((right - left) / (bottom - top), WIDTH / HEIGHT, delta=0.02)
        # Wine on a display without a window manager takes a moment to take a
        # hidden window off the screen; the agent then sends what changed.
        deadline = time.time() + 15
        while (worst := self.picture_difference(viewer, image)) >= 16 and time.time() < deadline:
            time.sleep(0.5)
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
        port = start_relay(self)
        agent = Agent(f"[server]\nport=55680\npassword={PASSWORD}\nrelay_host=127.0.0.1\n"
                      f"relay_port={port}\nrelay_id=\n")
        self.addCleanup(agent.stop)
        self.assertTrue(agent.wait_for("  (сообщите их тому, кто подключается)\n"), agent.output())
        agent_id = re.search(r"  ID:     (\S+)\n", agent.output()).group(1)
        # A connect-by-ID entry has no name: the prompt names the ID.
        viewer = ViewerEnd(self.viewer_state, "--relay", f"127.0.0.1:{port}:{agent_id}",
                           password=None)
        self.addCleanup(viewer.close)
        _, prompt = viewer.next_line(0, "prompt ")
        self.assertEqual(prompt, "prompt Пароль — " + agent_id)
        viewer.send("password " + PASSWORD)
        image = self.check_picture(viewer, agent)
        self.check_click_moves_the_agent_pointer(viewer, image)
        viewer.close()
        self.assertTrue(agent.wait_for("[-] Зритель отключился: relay id="), agent.output())

    def test_direct_by_address(self):
        agent = Agent(f"[server]\nport=55681\npassword={PASSWORD}\n")
        self.addCleanup(agent.stop)
        self.assertTrue(agent.wait_for("Слушаю порт"), agent.output())
        viewer = self.start_viewer("--direct", "127.0.0.1:55681")
        self.check_picture(viewer, agent)
        self.assertFalse([l for l in viewer.snapshot() if l.startswith("prompt ")],
                         "a stored password is not asked for")
        viewer.close()
        self.assertTrue(agent.wait_for("[-] Зритель отключился: 127.0.0.1:"), agent.output())

    def test_a_missing_password_is_asked_for_and_one_viewer_at_a_time(self):
        agent = Agent(f"[server]\nport=55683\npassword={PASSWORD}\n")
        self.addCleanup(agent.stop)
        self.assertTrue(agent.wait_for("Слушаю порт"), agent.output())
        viewer = ViewerEnd(self.viewer_state, "--name", "Office", "--direct", "127.0.0.1:55683",
                           password=None, stay=True)
        self.addCleanup(viewer.close)

        # Cancelling the prompt starts nothing.
        at, prompt = viewer.next_line(0, "prompt ")
        self.assertEqual(prompt, "prompt Пароль — Office")
        viewer.send("cancel")
        at, launched = viewer.next_line(at, "launched: ")
        self.assertEqual(launched, "launched: none open")
        time.sleep(1)
        self.assertNotIn("127.0.0.1:", agent.output(), "nothing reached the agent")

        for session in range(2):  # a launch works again once the window has closed
            viewer.send("launch")
            at, prompt = viewer.next_line(at + 1, "prompt ")
            self.assertEqual(prompt, "prompt Пароль — Office")
            viewer.send("password " + PASSWORD)
            at, _ = viewer.next_line(at, "window ")
            self.assertTrue(agent.wait_for("[+] Подключился зритель", count=session + 1),
                            agent.output())
            # While it is open, another launch is refused with a message.
            viewer.send("launch")
            at, box = viewer.next_line(at, "box ")
            self.assertIn("Просмотр уже открыт. Закройте текущее окно.", box)
            self.assertFalse([l for l in viewer.snapshot()[at:] if l.startswith("prompt ")])
            viewer.send("close")  # the box
            at, _ = viewer.next_line(at, "launched: open")
            viewer.send("close")  # the window
            at, _ = viewer.next_line(at, "closed")
            self.assertTrue(agent.wait_for("[-] Зритель отключился", count=session + 1),
                            agent.output())
        self.assertNotIn("Неверный пароль", agent.output())

    def test_keys_and_clicks_reach_the_agent(self):
        # The real agent has nothing to show for Ctrl+Alt+Del under Wine, so
        # our own agent records what arrives.
        agent = ScriptedAgent()
        self.addCleanup(agent.stop)
        viewer = self.start_viewer("--direct", f"127.0.0.1:{agent.port}")
        left, top, right, bottom = viewer.rect("image")
        viewer.xdotool("mousemove", str((left + right) // 2), str((top + bottom) // 2))
        viewer.xdotool("click", "1")  # view only: the click stays here
        viewer.xdotool("key", "F3")
        cad = agent.wait_for(MSG_CTRL_ALT_DEL)
        self.assertEqual(agent.password, PASSWORD)
        # The window queued the click before F3, so it would have gone first.
        self.assertNotIn(MSG_MOUSE, [t for t, _ in agent.received()[:cad]])
        viewer.xdotool("key", "F2")
        viewer.xdotool("click", "1")
        down = agent.wait_for(MSG_MOUSE, cad, payload=lambda p: p[:1] == bytes([MOUSE_LEFT_DOWN]))
        _, x, y, _ = struct.unpack("<BHHh", agent.received()[down][1])
        self.assertAlmostEqual(x, 32767, delta=700)
        self.assertAlmostEqual(y, 32767, delta=700)

    def test_a_stall_inside_a_message_passes_and_a_dead_link_is_told(self):
        agent = Agent(f"[server]\nport=55683\npassword={PASSWORD}\n")
        self.addCleanup(agent.stop)
        self.assertTrue(agent.wait_for("Слушаю порт"), agent.output())
        proxy = StallingProxy(55683)
        self.addCleanup(proxy.close)
        viewer = ViewerEnd(self.viewer_state, "--rates", "--direct", f"127.0.0.1:{proxy.port}")
        self.addCleanup(viewer.close)
        viewer.rect("image")

        # The viewer's next ping reaches the agent half now, half a second later.
        proxy.stall.set()
        self.assertTrue(proxy.stalled.wait(30))
        # The session goes on: frames keep coming for seconds after.
        mark = len(viewer.snapshot())
        for _ in range(3):
            mark = viewer.wait(lambda l: l.startswith("rate ") and int(l.split()[1]) > 0,
                               start=mark) + 1
        self.assertNotIn("Зритель отключился", agent.output())
        self.assertFalse([l for l in viewer.snapshot() if l.startswith("box ")])

        proxy.silent.set()
        went_silent = time.time()
        told = viewer.wait(lambda l: l.startswith("box "), timeout=60)
        self.assertIn("Соединение с удалённым компьютером потеряно", viewer.snapshot()[told])
        # Not the first missing frame, but several seconds of nothing.
        self.assertGreater(time.time() - went_silent, 5)

    def test_a_copied_folder_is_told_in_the_window_and_the_session_goes_on(self):
        agent = Agent(f"[server]\nport=55684\npassword={PASSWORD}\n")
        self.addCleanup(agent.stop)
        self.assertTrue(agent.wait_for("Слушаю порт"), agent.output())
        viewer = self.start_viewer("--rates", "--direct", "127.0.0.1:55684")
        window = viewer.rect("window")
        viewer.rect("image")
        os.mkdir(os.path.join(viewer.dir, "folder"))
        owner = subprocess.Popen([Env.wine_run, "--state", self.viewer_state,
                                  os.path.join(Env.bin_dir, "clip_probe.exe"), "put", "folder"],
                                 cwd=viewer.dir, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 text=True, start_new_session=True)
        self.addCleanup(lambda: (owner.stdin.close(), owner.wait(30), owner.stdout.close()))
        self.assertEqual(owner.stdout.readline().strip(), "put")
        told = viewer.wait(lambda l: l.startswith("notice ") and l != "notice ")
        self.assertEqual(viewer.snapshot()[told], "notice Копирование папок через буфер обмена "
                         "пока не поддерживается — только отдельные файлы.")
        time.sleep(1)  # let the window paint it
        shot = os.path.join(self.tmp, "notice.ppm")
        shown = viewer.screenshot(shot)
        if os.environ.get("ORVANE_KEEP_SHOTS"):  # kept where a person can look at it
            shutil.copy(shot, os.environ["ORVANE_KEEP_SHOTS"])
        self.assertGreater(stripe_pixels(shown, window), 40)
        # Frames keep coming meanwhile, and after a few seconds the notice is gone.
        mark = len(viewer.snapshot())
        for _ in range(3):
            mark = viewer.wait(lambda l: l.startswith("rate ") and int(l.split()[1]) > 0,
                               start=mark) + 1
        time.sleep(6)
        self.assertEqual(stripe_pixels(viewer.screenshot(shot), window), 0)
        self.assertFalse([l for l in viewer.snapshot() if l.startswith("box ")])
        self.assertNotIn("Зритель отключился", agent.output())

    def test_failures_from_the_real_agent_and_relay(self):
        relay_port = start_relay(self)
        agent = Agent(f"[server]\nport=55682\npassword={PASSWORD}\n")
        self.addCleanup(agent.stop)
        self.assertTrue(agent.wait_for("Слушаю порт"), agent.output())
        cases = [  # route, password, the viewer's box, the agent's log line
            (("--direct", "127.0.0.1:55682"), "not" + PASSWORD,
             "Неверный пароль — сервер отклонил подключение.", "[!] Неверный пароль: 127.0.0.1:"),
            (("--relay", f"127.0.0.1:{relay_port}:123456789"), PASSWORD,
             "Не удалось подключиться через релей (агент не на связи?).", None),
        ]
        for route, password, box, logged in cases:
            with self.subTest(route=route[0]):
                viewer = ViewerEnd(self.viewer_state, *route, password=password)
                self.addCleanup(viewer.close)
                told = viewer.wait(lambda l: l.startswith("box "), timeout=60)
                self.assertIn(box, viewer.snapshot()[told])
                viewer.send("close")
                viewer.wait(lambda l: l == "closed")
                self.assertFalse([l for l in viewer.snapshot() if l.startswith("window ")])
                if logged:
                    self.assertTrue(agent.wait_for(logged), agent.output())


if __name__ == "__main__":
    Env.wine_run, Env.state, Env.bin_dir, Env.relay = sys.argv[1:5]
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)
