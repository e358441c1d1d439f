"""One viewer session end to end: the native orvane-relay, the agent under Wine
on an Xvfb display, and our scripted native viewer (orvane-test-client)."""
import os
import re
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from agent_harness import Agent, Env, LineProcess

PASSWORD = "Sekr3t"
WIDTH, HEIGHT = 1920, 1080
# Solid blocks of distinct colours: easy to check through JPEG.
BLOCK = 240
COLOURS = [(200, 30, 30), (30, 160, 40), (40, 60, 210), (230, 200, 40), (20, 20, 20),
           (240, 240, 240), (160, 40, 170), (30, 180, 190)]


def block_colour(bx, by):
    return COLOURS[(bx + 3 * by) % len(COLOURS)]


def x_env():
    with open(os.path.join(Env.state, "display")) as f:
        return dict(os.environ, DISPLAY=f.read().strip())


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    magic, width, height, _, pixels = data.split(maxsplit=4)
    assert magic == b"P6"
    return int(width), int(height), pixels


class ScreenProbe:
    """screen_probe.exe on the agent's display: the blocks, and a patch on demand."""

    def __init__(self, state=None):
        self.proc = subprocess.Popen(
            [Env.wine_run, "--state", state or Env.state,
             os.path.join(Env.bin_dir, "screen_probe.exe")],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
            start_new_session=True)
        assert self.proc.stdout.readline().strip() == "ready"

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        assert self.proc.stdout.readline().strip() == "done"

    def stop(self):
        try:
            os.killpg(self.proc.pid, 9)
        except ProcessLookupError:
            pass
        self.proc.wait(10)
        self.proc.stdin.close()
        self.proc.stdout.close()


def pointer():
    out = subprocess.run(["xdotool", "getmouselocation", "--shell"], env=x_env(),
                         capture_output=True, text=True, check=True).stdout
    values = dict(line.split("=") for line in out.split())
    return int(values["X"]), int(values["Y"])


class Viewer(LineProcess):
    """orvane-test-client, driven line by line."""

    def __init__(self, *route):
        super().__init__([Env.client, "--cert",
                          os.path.join(Env.bin_dir, "test-certs", "server.crt"),
                          "--password", PASSWORD, *route])

    def close(self):
        if self.proc.poll() is None:
            try:
                self.send("quit")
                self.proc.wait(10)
            except (BrokenPipeError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait(10)
        self.proc.stdin.close()


def frame_tiles(line):
    """(width, height, [(x, y, w, h)...]) of a 'frame' report."""
    parts = line.split()
    tiles = [tuple(int(v) for v in t.split(",")) for t in parts[6:]]
    return int(parts[2]), int(parts[3]), tiles


def clip_payload(files):
    out = struct.pack("<I", len(files))
    for name, data in files:
        raw = name.encode()
        out += struct.pack("<I", len(raw)) + raw + struct.pack("<Q", len(data)) + data
    return out


def clip_names(payload):
    count, = struct.unpack_from("<I", payload)
    pos, files = 4, []
    for _ in range(count):
        name_len, = struct.unpack_from("<I", payload, pos)
        name = payload[pos + 4:pos + 4 + name_len].decode()
        data_len, = struct.unpack_from("<Q", payload, pos + 4 + name_len)
        start = pos + 12 + name_len
        files.append((name, payload[start:start + data_len]))
        pos = start + data_len
    return files


class AgentSession(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvane_session_")
        cls.screen = ScreenProbe()

    @classmethod
    def tearDownClass(cls):
        cls.screen.stop()

    def start_agent(self, ini):
        agent = Agent(ini)
        self.addCleanup(agent.stop)
        # The blocks alone are the screen to check: the main window goes to the tray.
        self.assertTrue(agent.hide_main_window(), agent.output())
        return agent

    def start_viewer(self, *route):
        viewer = Viewer(*route)
        self.addCleanup(viewer.close)
        viewer.wait(lambda l: l.startswith("auth"))
        self.assertIn("auth ok", viewer.snapshot())
        return viewer

    def check_opening(self, viewer):
        first_frame = viewer.wait(lambda l: l.startswith("frame"))
        lines = viewer.snapshot()
        first_info = next(i for i, l in enumerate(lines) if l.startswith("monitors"))
        self.assertLess(first_info, first_frame)
        for line in lines[1:first_info]:
            self.assertRegex(line, r"^(pong|clipboard) ")
        self.assertEqual(lines[first_info], "monitors 1 0")
        return first_frame

    def canvas_difference(self, viewer):
        """The largest difference between the viewer's canvas and the blocks."""
        path = os.path.join(self.tmp, "canvas.ppm")
        mark = len(viewer.snapshot())
        viewer.send("save-canvas " + path)
        viewer.wait(lambda l: l == "saved " + path, start=mark)
        width, height, pixels = read_ppm(path)
        self.assertEqual((width, height), (WIDTH, HEIGHT))
        worst = 0
        for by in range(HEIGHT // BLOCK):
            for bx in range(WIDTH // BLOCK):
                # The middle of each block, away from JPEG edge ringing.
                x, y = bx * BLOCK + BLOCK // 2, by * BLOCK + BLOCK // 2
                got = pixels[(y * WIDTH + x) * 3:(y * WIDTH + x) * 3 + 3]
                worst = max(worst, *(abs(a - b) for a, b in zip(got, block_colour(bx, by))))
        return worst

    def check_picture(self, viewer, agent):
        # Wine on a display without a window manager takes a moment to take a
        # hidden window off the screen; the agent then sends what changed.
        deadline = time.time() + 15
        while (worst := self.canvas_difference(viewer)) >= 12 and time.time() < deadline:
            time.sleep(0.2)
        self.assertLess(worst, 12, agent.output())

    def check_only_changed_tiles(self, viewer):
        mark = len(viewer.snapshot())
        # A patch inside the tile at column 2, row 1.
        self.screen.command("patch 300 150 60 50")
        i = viewer.wait(lambda l: l.startswith("frame") and frame_tiles(l)[2], start=mark)
        self.assertEqual(frame_tiles(viewer.snapshot()[i])[2], [(256, 128, 128, 128)])

    def check_monitor_request_sends_a_complete_frame(self, viewer):
        mark = len(viewer.snapshot())
        viewer.send("select 255")  # all monitors: with one, that one, complete again
        i = viewer.wait(lambda l: l.startswith("frame") and frame_tiles(l)[2], start=mark)
        tiles = frame_tiles(viewer.snapshot()[i])[2]
        self.assertEqual(tiles, [(0, y, WIDTH, min(128, HEIGHT - y)) for y in range(0, HEIGHT, 128)])

    def check_mouse(self, viewer):
        cases = [((0, 0), (0, 0)), ((65535, 65535), (1919, 1079)),
                 ((32768, 16384), (960, 270))]
        for (x, y), (px, py) in cases:
            viewer.send(f"mouse 0 {x} {y} 0")
            deadline = time.time() + 10
            while pointer() != (px, py) and time.time() < deadline:
                time.sleep(0.02)
            got = pointer()
            self.assertLessEqual(abs(got[0] - px), 1, (x, y, got))
            self.assertLessEqual(abs(got[1] - py), 1, (x, y, got))

    def move_pointer(self, viewer, x, y, wanted):
        viewer.send(f"mouse 0 {x} {y} 0")
        deadline = time.time() + 10
        while max(abs(a - b) for a, b in zip(pointer(), wanted)) > 1 and time.time() < deadline:
            time.sleep(0.02)
        self.assertLessEqual(max(abs(a - b) for a, b in zip(pointer(), wanted)), 1, pointer())

    def check_odd_messages_are_skipped(self, viewer, agent):
        self.move_pointer(viewer, 16384, 16384, (480, 270))
        # Each is read whole and dropped; read as a mouse event, any of the
        # first three would send the pointer to the far corner.
        odd = [(2, "00ffffffff"),          # a mouse payload of five bytes
               (2, "00ffffffff000000"),    # ... and of eight
               (2, "09ffffffff0000"),      # action 9: nothing to inject
               (6, ""), (6, "01"),          # Ctrl+Alt+Del: no sas.dll under Wine
               (10, ""),                    # a monitor request without its byte
               (7, ""),                     # an empty clipboard
               (200, "0102")]               # a type nobody knows
        logged = agent.output()
        mark = len(viewer.snapshot())
        for msg_type, payload in odd:
            viewer.send(f"raw {msg_type} {payload}")
        viewer.send("ping")
        viewer.wait(lambda l: l.startswith("pong"), start=mark)
        time.sleep(0.5)  # an injected move would have reached X by now
        self.assertLessEqual(max(abs(a - b) for a, b in zip(pointer(), (480, 270))), 1, pointer())
        self.assertEqual(agent.output(), logged)
        # The session goes on: the next real event is injected.
        self.move_pointer(viewer, 32768, 16384, (960, 270))

    def check_pings(self, viewer):
        mark = len(viewer.snapshot())
        viewer.send("pings 3")
        third = viewer.wait(lambda l: l.startswith("pong"), start=mark)
        third = viewer.wait(lambda l: l.startswith("pong"), start=third + 1)
        third = viewer.wait(lambda l: l.startswith("pong"), start=third + 1)
        between = viewer.snapshot()[mark:third]
        # All three are answered in the same pump: no frame between them.
        pongs = [i for i, l in enumerate(between) if l.startswith("pong")]
        self.assertFalse(any(l.startswith("frame") for l in between[pongs[0]:]), between)

    def check_key(self, viewer):
        probe = subprocess.Popen([Env.wine_run, "--state", Env.state,
                                  os.path.join(Env.bin_dir, "key_probe.exe")],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                 start_new_session=True)
        try:
            self.assertEqual(probe.stdout.readline().strip(), "ready")
            viewer.send("raw 3 4200010000")  # five bytes: not a key event ("B" down)
            viewer.send("key 65 1 0")
            viewer.send("key 65 0 0")
            self.assertEqual(probe.stdout.readline().strip(), "down 65")
            self.assertEqual(probe.stdout.readline().strip(), "up 65")
        finally:
            os.killpg(probe.pid, 9)
            probe.wait(10)
            probe.stdout.close()

    def check_clipboard_both_ways(self, viewer, agent):
        payload = os.path.join(self.tmp, "to_agent.bin")
        with open(payload, "wb") as f:
            f.write(clip_payload([("привет.txt", b"hello agent")]))
        viewer.send("clip " + payload)
        self.assertTrue(agent.wait_for("[clip] файлы от зрителя положены в буфер обмена ("),
                        agent.output())
        shown = subprocess.run([Env.wine_run, "--state", Env.state,
                                os.path.join(Env.bin_dir, "clip_probe.exe"), "show"],
                               capture_output=True, text=True, timeout=60).stdout
        self.assertRegex(shown, r"file .*привет\.txt")
        self.assertIn("effect 1", shown)

        mark = len(viewer.snapshot())
        source = os.path.join(agent.dir, "from_agent.txt")
        with open(source, "wb") as f:
            f.write(b"hello viewer")
        owner = subprocess.Popen([Env.wine_run, "--state", Env.state,
                                  os.path.join(Env.bin_dir, "clip_probe.exe"), "put",
                                  "from_agent.txt"], cwd=agent.dir, stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, text=True, start_new_session=True)
        try:
            self.assertEqual(owner.stdout.readline().strip(), "put")
            viewer.wait(lambda l: l.startswith("clipboard"), start=mark)
            saved = os.path.join(self.tmp, "from_agent.bin")
            viewer.send("save-clip " + saved)
            viewer.wait(lambda l: l == "saved " + saved)
            with open(saved, "rb") as f:
                self.assertEqual(clip_names(f.read()), [("from_agent.txt", b"hello viewer")])
        finally:
            owner.stdin.close()
            owner.wait(30)
            owner.stdout.close()

    def check_a_copied_folder_is_logged_not_sent(self, viewer, agent):
        os.mkdir(os.path.join(agent.dir, "folder"))
        mark = len(viewer.snapshot())
        owner = subprocess.Popen([Env.wine_run, "--state", Env.state,
                                  os.path.join(Env.bin_dir, "clip_probe.exe"), "put", "folder"],
                                 cwd=agent.dir, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 text=True, start_new_session=True)
        try:
            self.assertEqual(owner.stdout.readline().strip(), "put")
            self.assertTrue(agent.wait_for(
                "[clip] Копирование папок через буфер обмена пока не поддерживается — только "
                "отдельные файлы.\n"), agent.output())
            viewer.send("ping")  # anything sent before its answer has arrived
            pong = viewer.wait(lambda l: l.startswith("pong"), start=mark)
            self.assertFalse([l for l in viewer.snapshot()[mark:pong] if l.startswith("clipboard")])
        finally:
            owner.stdin.close()
            owner.wait(30)
            owner.stdout.close()

    def test_direct_session_sees_the_screen_and_drives_the_agent(self):
        agent = self.start_agent(f"[server]\nport=55660\npassword={PASSWORD}\n")
        self.assertTrue(agent.wait_for("Слушаю порт"), agent.output())
        viewer = self.start_viewer("--direct", "127.0.0.1:55660")
        self.check_opening(viewer)
        self.check_picture(viewer, agent)
        self.check_only_changed_tiles(viewer)
        self.screen.command("reset")
        self.check_monitor_request_sends_a_complete_frame(viewer)
        self.check_mouse(viewer)
        self.check_odd_messages_are_skipped(viewer, agent)
        self.check_pings(viewer)
        self.check_key(viewer)
        self.check_clipboard_both_ways(viewer, agent)
        self.check_a_copied_folder_is_logged_not_sent(viewer, agent)

        viewer.close()
        self.assertTrue(agent.wait_for("[-] Зритель отключился: 127.0.0.1:"), agent.output())
        second = self.start_viewer("--direct", "127.0.0.1:55660")
        self.check_opening(second)

    def test_relay_session_and_the_next_viewer(self):
        relay = subprocess.Popen([Env.relay, "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True)
        self.addCleanup(lambda: (relay.terminate(), relay.wait(10), relay.stdout.close()))
        port = int(re.search(r"listening on 127\.0\.0\.1:(\d+)", relay.stdout.readline()).group(1))
        threading.Thread(target=relay.stdout.read, daemon=True).start()
        agent = self.start_agent(f"[server]\nport=55661\npassword={PASSWORD}\n"
                                 f"relay_host=127.0.0.1\nrelay_port={port}\nrelay_id=\n")
        self.assertTrue(agent.wait_for("  (сообщите их тому, кто подключается)\n"), agent.output())
        agent_id = re.search(r"  ID:     (\S+)\n", agent.output()).group(1)
        viewer = self.start_viewer("--relay", f"127.0.0.1:{port}:{agent_id}")
        self.check_opening(viewer)
        self.check_picture(viewer, agent)
        viewer.close()
        self.assertTrue(agent.wait_for("[-] Зритель отключился: relay id="), agent.output())
        self.assertTrue(agent.wait_for("  (сообщите их тому, кто подключается)\n", count=2))
        second = self.start_viewer("--relay", f"127.0.0.1:{port}:{agent_id}")
        self.check_opening(second)


if __name__ == "__main__":
    Env.wine_run, Env.state, Env.bin_dir, Env.relay, Env.client = sys.argv[1:6]
    unittest.main(argv=sys.argv[:1] + sys.argv[6:], verbosity=2)
