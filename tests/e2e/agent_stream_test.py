"""The real agent's stream under Wine, seen by a native viewer: its JPEG tiles
read by an independent decoder (djpeg) against the picture on the screen, their
quantisation tables, and input sent between frames.

    agent_stream_test.py WINE_RUN STATE BIN_DIR CLIENT"""
import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from agent_harness import Agent, Env
from agent_session_test import (BLOCK, HEIGHT, PASSWORD, WIDTH, ScreenProbe, Viewer,
                                block_colour, x_env)

PORT = 55662
FRAME_PERIOD_MS = 33

# The example tables of the JPEG standard (Annex K), in natural order, which
# libjpeg scales for a quality setting.
LUMINANCE = [16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
             14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
             18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
             49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99]
CHROMINANCE = [17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
               24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99] + [99] * 32
# Position in natural order of each coefficient as a DQT segment lists them.
ZIGZAG = [0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5, 12, 19, 26, 33, 40, 48,
          41, 34, 27, 20, 13, 6, 7, 14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15,
          23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63]


def quality_table(base, quality):
    scale = 5000 // quality if quality < 50 else 200 - 2 * quality
    return [min(max((q * scale + 50) // 100, 1), 255) for q in base]


def segments(jpeg):
    """(marker, body) of each segment up to the start of the scan."""
    assert jpeg[:2] == b"\xff\xd8", jpeg[:4]
    pos, found = 2, []
    while pos + 4 <= len(jpeg) and jpeg[pos] == 0xFF:
        marker = jpeg[pos + 1]
        length, = struct.unpack_from(">H", jpeg, pos + 2)
        found.append((marker, jpeg[pos + 4:pos + 2 + length]))
        if marker == 0xDA:
            break
        pos += 2 + length
    return found


def quantisation_tables(jpeg):
    """{table id: 64 values in natural order} from every DQT segment."""
    tables = {}
    for marker, body in segments(jpeg):
        pos = 0
        while marker == 0xDB and pos < len(body):
            precision, table = body[pos] >> 4, body[pos] & 15
            assert precision == 0, "16-bit table"
            natural = [0] * 64
            for i, value in enumerate(body[pos + 1:pos + 65]):
                natural[ZIGZAG[i]] = value
            tables[table] = natural
            pos += 65
    return tables


def frame_kind(jpeg):
    """(start-of-frame marker, [(component, sampling byte, table)...])."""
    for marker, body in segments(jpeg):
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            count = body[5]
            return marker, [tuple(body[6 + 3 * i:9 + 3 * i]) for i in range(count)]
    return None, []


def split_payload(payload):
    """(width, height, [(x, y, w, h, jpeg)...]) of a MSG_FRAME payload."""
    width, height, count = struct.unpack_from("<HHH", payload)
    pos, tiles = 6, []
    for _ in range(count):
        x, y, w, h, size = struct.unpack_from("<HHHHI", payload, pos)
        tiles.append((x, y, w, h, payload[pos + 12:pos + 12 + size]))
        pos += 12 + size
    assert pos == len(payload), (pos, len(payload))
    return width, height, tiles


def djpeg(jpeg):
    """(width, height, RGB bytes) as libjpeg's own command-line decoder reads it."""
    out = subprocess.run(["djpeg", "-ppm"], input=jpeg, capture_output=True, check=True).stdout
    magic, width, height, _, pixels = out.split(maxsplit=4)
    assert magic == b"P6"
    return int(width), int(height), pixels


def screenshot():
    """(width, height, RGB bytes) of the whole X screen."""
    shot = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=x_env(),
                          capture_output=True, check=True).stdout
    _, width, height = shot.split(maxsplit=3)[:3]
    width, height = int(width), int(height)
    return width, height, shot[-width * height * 3:]  # the pixels may begin with a blank byte


def screen_shows_blocks():
    """Whether the X screen shows screen_probe's blocks, at every block's middle."""
    width, _, pixels = screenshot()
    for by in range(HEIGHT // BLOCK):
        for bx in range(WIDTH // BLOCK):
            x, y = bx * BLOCK + BLOCK // 2, by * BLOCK + BLOCK // 2
            got = pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]
            if max(abs(a - b) for a, b in zip(got, block_colour(bx, by))) > 2:
                return False
    return True


class AgentStream(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvane_stream_")
        cls.screen = ScreenProbe()
        cls.agent = Agent(f"[server]\nport={PORT}\npassword={PASSWORD}\n")
        assert cls.agent.wait_for("Слушаю порт"), cls.agent.output()
        # The blocks alone are the screen to check: the main window goes to the tray.
        if not cls.agent.hide_main_window():
            output = cls.agent.output()
            cls.tearDownClass()
            raise AssertionError(output)

    @classmethod
    def tearDownClass(cls):
        cls.agent.stop()
        cls.screen.stop()

    def start_viewer(self):
        viewer = Viewer("--direct", f"127.0.0.1:{PORT}")
        self.addCleanup(viewer.close)
        viewer.wait(lambda l: l.startswith("auth"))
        self.assertIn("auth ok", viewer.snapshot())
        viewer.wait(lambda l: l.startswith("frame"))
        return viewer

    def complete_frame(self, viewer):
        path = os.path.join(self.tmp, "frame.bin")
        mark = len(viewer.snapshot())
        viewer.send("save-frame " + path)
        viewer.send("select 255")  # the one monitor again: a complete frame
        viewer.wait(lambda l: l == "saved " + path, start=mark)
        with open(path, "rb") as f:
            return f.read()

    def still_screen_and_its_frame(self, viewer):
        """A complete frame and the screen it shows: screenshots taken just
        before it was asked for and just after it came agree."""
        for _ in range(5):
            before = screenshot()
            payload = self.complete_frame(viewer)
            after = screenshot()
            if before == after:
                return after, payload
        self.fail("the screen kept changing")

    def test_tiles_read_elsewhere_show_the_screen_at_quality_70(self):
        # A window just closed (the agent's main window, the key probe) leaves
        # the screen a moment later: the picture is the blocks first. Whatever
        # else is on the screen (the agent's banner) is in the frame too.
        end = time.time() + 30
        while not screen_shows_blocks() and time.time() < end:
            time.sleep(0.2)
        self.assertTrue(screen_shows_blocks())
        viewer = self.start_viewer()
        (shot_width, shot_height, screen), payload = self.still_screen_and_its_frame(viewer)
        self.assertEqual((shot_width, shot_height), (WIDTH, HEIGHT))
        width, height, tiles = split_payload(payload)
        self.assertEqual((width, height), (WIDTH, HEIGHT))
        self.assertEqual([t[:4] for t in tiles],
                         [(0, y, WIDTH, min(128, HEIGHT - y)) for y in range(0, HEIGHT, 128)])

        canvas = bytearray(WIDTH * HEIGHT * 3)
        for x, y, w, h, jpeg in tiles:
            # Baseline, 4:2:0: brightness at full resolution, colour at half.
            marker, components = frame_kind(jpeg)
            self.assertEqual(marker, 0xC0)
            self.assertEqual([c[1] for c in components], [0x22, 0x11, 0x11])
            tables = quantisation_tables(jpeg)
            self.assertEqual(tables[components[0][2]], quality_table(LUMINANCE, 70))
            self.assertEqual(tables[components[1][2]], quality_table(CHROMINANCE, 70))
            self.assertEqual(tables[components[2][2]], quality_table(CHROMINANCE, 70))
            self.assertTrue(jpeg.endswith(b"\xff\xd9"))

            tw, th, pixels = djpeg(jpeg)
            self.assertEqual((tw, th), (w, h))
            for r in range(h):
                start = ((y + r) * WIDTH + x) * 3
                canvas[start:start + w * 3] = pixels[r * w * 3:(r + 1) * w * 3]

        # Within JPEG error of the picture on the screen: small on average,
        # and hardly a pixel whose brightness is far off.
        total = sum(abs(a - b) for a, b in zip(canvas, screen))
        far = 0
        for i in range(0, WIDTH * HEIGHT * 3, 3):
            luma_got = 77 * canvas[i] + 150 * canvas[i + 1] + 29 * canvas[i + 2]
            luma_want = 77 * screen[i] + 150 * screen[i + 1] + 29 * screen[i + 2]
            far += abs(luma_got - luma_want) > 32 * 256
        self.assertLess(total / (WIDTH * HEIGHT * 3), 4.0)
        self.assertLess(far / (WIDTH * HEIGHT), 0.001)

    def test_input_between_frames_goes_in_in_order_and_frames_keep_their_pace(self):
        viewer = self.start_viewer()
        probe = subprocess.Popen([Env.wine_run, "--state", Env.state,
                                  os.path.join(Env.bin_dir, "key_probe.exe")],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                 start_new_session=True)
        self.addCleanup(lambda: (os.killpg(probe.pid, 9), probe.wait(10), probe.stdout.close()))
        self.assertEqual(probe.stdout.readline().strip(), "ready")

        # Keys A to Z, down and up, at intervals that fall anywhere between frames.
        keys = range(ord("A"), ord("Z") + 1)
        mark = len(viewer.snapshot())
        for i, vk in enumerate(keys):
            viewer.send(f"key {vk} 1 0")
            time.sleep(0.007 + i % 5 * 0.003)
            viewer.send(f"key {vk} 0 0")
            time.sleep(0.011 + i % 3 * 0.004)
        viewer.send("ping")
        viewer.wait(lambda l: l.startswith("pong"), start=mark)

        expected = [f"{edge} {vk}" for vk in keys for edge in ("down", "up")]
        self.assertEqual([probe.stdout.readline().strip() for _ in expected], expected)

        # Frames went on meanwhile: neither held up by the input nor sent
        # once for each event, one a period at most.
        times = [int(l.split()[1]) for l in viewer.snapshot()[mark:] if l.startswith("frame")]
        span = times[-1] - times[0]
        self.assertGreater(span, 600)
        self.assertGreaterEqual(len(times) - 1, span // 100, times)
        self.assertLessEqual(len(times) - 1, span // FRAME_PERIOD_MS + 2, times)


if __name__ == "__main__":
    Env.wine_run, Env.state, Env.bin_dir, Env.client = sys.argv[1:5]
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)
