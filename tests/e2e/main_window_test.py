"""The main window of the real orvane.exe: two agents, each in a Wine prefix
and on a display of its own, with the real orvane-relay between them. Their
windows are driven with real window messages by window_driver.exe and looked
at in screenshots of their displays."""
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

from agent_harness import Agent, Env, LineProcess, client_context, start_relay
from agent_relay_test import read_line
from agent_session_test import read_ppm

PASSWORD = "Sekr3t"
ID_LINE = re.compile(r"  ID:     (\S+)\n")

# The palette, as the screen shows it.
ACCENT = (0x47, 0x99, 0xD5)
AMBER = (0xCB, 0x87, 0x2E)
WARN = (0xF2, 0xB3, 0x56)
MUTED = (0x6F, 0x70, 0x72)
CARD = (0xF1, 0xF1, 0xEE)
LINE = (0xC6, 0xC6, 0xD1)
WHITE = (0xFF, 0xFF, 0xFF)
DOT_COLOURS = {"Accent": ACCENT, "Amber": AMBER, "Warn": WARN}


def close_to(got, want, tolerance=4):
    return all(abs(a - b) <= tolerance for a, b in zip(got, want))


def relay_ini(relay_port, password, extra=""):
    return (f"[server]\nport=55690\npassword={password}\nrelay_host=127.0.0.1\n"
            f"relay_port={relay_port}\nrelay_id=\n{extra}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Prefix:
    """A Wine prefix with a display of its own."""

    def __init__(self, root, name):
        self.state = os.path.join(root, name)
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        subprocess.run([Env.wine_run, "--state", self.state, "--setup"], env=env, check=True,
                       timeout=300)
        with open(os.path.join(self.state, "display")) as f:
            self.display = f.read().strip()

    def screenshot(self, path):
        return Shot(path, self.display)

    def cleanup(self):
        subprocess.run([Env.wine_run, "--state", self.state, "--cleanup"], timeout=120)


class Shot:
    """A screenshot of a whole display, read at points of one window."""

    def __init__(self, path, display):
        subprocess.run(["import", "-window", "root", "-depth", "8", path],
                       env=dict(os.environ, DISPLAY=display), check=True, timeout=60)
        self.path = path
        self.width, _, self.pixels = read_ppm(path)
        self.origin = (0, 0)

    def at(self, x, y):
        """The pixel at client coordinates of the window set as origin."""
        i = ((self.origin[1] + y) * self.width + self.origin[0] + x) * 3
        return tuple(self.pixels[i:i + 3])

    def pill_dots(self):
        """Names of the dot colours found along the status pill's middle row."""
        return {name for x in range(300, 616) for name, colour in DOT_COLOURS.items()
                if close_to(self.at(x, 33), colour, 2)}

    def row_has(self, x0, x1, y, colour, tolerance=6):
        return any(close_to(self.at(x, y), colour, tolerance) for x in range(x0, x1 + 1))


class Driver(LineProcess):
    """window_driver.exe in a prefix: the windows there, by class and control id."""

    ANSWER = re.compile(r"^(window|none|gone|still|ok|text|state|count|texts|clipboard|error)\b")

    def __init__(self, prefix):
        super().__init__([Env.wine_run, "--state", prefix.state,
                          os.path.join(Env.bin_dir, "window_driver.exe")], start_new_session=True)

    def ask(self, command, timeout=90):
        start = len(self.snapshot())
        self.send(command)
        index = self.wait(lambda line: bool(self.ANSWER.match(line)), start=start, timeout=timeout)
        return self.snapshot()[index]

    def window(self, cls, seconds=60):
        """The client area's left and top on the screen, or None."""
        answer = self.ask(f"wait {cls} {seconds}", timeout=seconds + 60)
        if not answer.startswith("window "):
            return None
        return tuple(int(v) for v in answer.split()[1:3])

    def text(self, control):
        return self.ask(f"text {control}")[len("text "):]

    def stop(self):
        # The output is not closed here: a Wine background process started
        # through the driver may hold the pipe open, and closing it under the
        # reader thread, which waits for its end, would wait with it.
        try:
            self.proc.stdin.close()
            self.proc.wait(20)
        except (OSError, subprocess.TimeoutExpired):
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait(10)


def wait_until(condition, timeout=30.0, step=0.5):
    end = time.time() + timeout
    while time.time() < end:
        if condition():
            return True
        time.sleep(step)
    return condition()


class MainWindowEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvane_main_window_")
        cls.partner = Prefix(cls.tmp, "partner-wine")
        cls.user = Prefix(cls.tmp, "user-wine")

    @classmethod
    def tearDownClass(cls):
        cls.partner.cleanup()
        cls.user.cleanup()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def start_agent(self, prefix, ini, files=None):
        agent = Agent(ini, state=prefix.state, files=files)
        self.addCleanup(agent.stop)
        return agent

    def registered_id(self, agent, count=1):
        self.assertTrue(agent.wait_for("  (сообщите их тому, кто подключается)\n", timeout=60,
                                       count=count), agent.output())
        return ID_LINE.findall(agent.output())[-1]

    def driver(self, prefix):
        driver = Driver(prefix)
        self.addCleanup(driver.stop)
        return driver

    def shot(self, prefix, origin, name):
        shot = prefix.screenshot(os.path.join(self.tmp, name + ".ppm"))
        shot.origin = origin
        return shot

    def keep(self, shot):
        """Keeps a screenshot that failed a check where it can be looked at."""
        kept = os.path.join(tempfile.gettempdir(), "orvane_" + os.path.basename(shot.path))
        shutil.copy(shot.path, kept)
        return kept

    def check_cards(self, shot):
        # Each card's left edge where nothing else is drawn: the border, the
        # card inside it and the white margin outside.
        for left, y in ((20, 300), (326, 300), (20, 575)):
            self.assertTrue(shot.row_has(left - 1, left + 1, y, LINE), (left, self.keep(shot)))
            self.assertTrue(close_to(shot.at(left + 5, y), CARD), (left, self.keep(shot)))
            self.assertTrue(close_to(shot.at(left - 6, y), WHITE, 8), (left, self.keep(shot)))

    def check_pill(self, prefix, origin, dot, name):
        """Waits for the status pill to show one dot of the given colour."""
        found = set()
        for _ in range(20):
            shot = self.shot(prefix, origin, name)
            found = shot.pill_dots()
            if found == {dot}:
                self.assertTrue(shot.row_has(618, 620, 33, LINE), self.keep(shot))
                return shot
            time.sleep(0.5)
        self.fail(f"pill dots {found}, wanted {dot}: {self.keep(shot)}")

    def check_viewer_opens(self, drive, user, partner, partner_id):
        """The user's viewer window opens, connected to the partner through the relay."""
        self.assertIsNotNone(drive.window("OrvaneViewer", 60), user.output())
        self.assertTrue(partner.wait_for(
            f"[+] Подключился зритель (TLS, авторизован): relay id={partner_id}", 60),
            partner.output())

    def test_user_connects_to_a_partner_by_id_through_the_relay(self):
        relay_port = start_relay(self)
        partner = self.start_agent(self.partner, relay_ini(relay_port, PASSWORD))
        partner_id = self.registered_id(partner)

        # The user's saved computers: the partner, an ID nobody registered,
        # and one behind a relay that does not answer.
        dead_port = free_port()
        servers = ("[General]\ncount=3\n"
                   f"[Server1]\nname=Partner\nrelay_host=127.0.0.1\nrelay_port={relay_port}\n"
                   f"relay_id={partner_id}\n"
                   f"[Server2]\nname=Nobody\nrelay_host=127.0.0.1\nrelay_port={relay_port}\n"
                   "relay_id=900000001\n"
                   f"[Server3]\nname=Unknown\nrelay_host=127.0.0.1\nrelay_port={dead_port}\n"
                   "relay_id=900000002\n")
        user = self.start_agent(self.user, relay_ini(relay_port, "Us3rPw"),
                                files={"servers.ini": servers})
        user_id = self.registered_id(user)
        drive = self.driver(self.user)
        origin = drive.window("OrvaneMain")
        self.assertIsNotNone(origin, user.output())

        # Within a second of registration the window shows the ID, and
        # "Копировать" puts it and the password on the clipboard.
        self.assertTrue(wait_until(lambda: drive.text(3011) == user_id, 10), drive.text(3011))
        self.assertEqual(drive.text(3012), "Us3rPw")
        self.assertEqual(drive.ask("state 3009"), "state 1 1")
        for button, value in ((3009, user_id), (3010, "Us3rPw")):
            drive.ask(f"click {button}")
            self.assertTrue(wait_until(lambda: drive.ask("clipboard") == "clipboard " + value, 10))

        # The poller's first round: reachable, not registered, undetermined.
        wanted = (ACCENT, AMBER, MUTED)
        shot = None

        def dots_shown():
            nonlocal shot
            shot = self.shot(self.user, origin, "user")
            return all(close_to(shot.at(52, 410 + 40 * i), colour) for i, colour in enumerate(wanted))

        self.assertTrue(wait_until(dots_shown, 40), self.keep(shot))
        self.check_cards(shot)
        self.check_pill(self.user, origin, "Accent", "user-ready")

        # The partner's ID and password, then "Подключиться": a viewer through the relay.
        drive.ask(f"settext 3006 {partner_id}")
        drive.ask(f"settext 3007 {PASSWORD}")
        drive.ask("click 3008")
        self.check_viewer_opens(drive, user, partner, partner_id)
        partner_drive = self.driver(self.partner)
        partner_origin = partner_drive.window("OrvaneMain")
        self.check_pill(self.partner, partner_origin, "Warn", "partner-session")

        drive.ask("close")  # the viewer window
        self.assertTrue(partner.wait_for("[-] Зритель отключился: relay id=", 30), partner.output())
        self.registered_id(partner, count=2)

        # The partner forbids connections: the button, the file and the pill
        # change, and the next viewer through the relay is turned away.
        partner_drive.ask("click 3013")
        self.assertTrue(wait_until(lambda: partner_drive.text(3013) == "Разрешить подключение", 10))
        self.assertTrue(wait_until(
            lambda: re.search(rb"(?m)^accept_connections=0\r?$", partner.file("server.ini")), 10),
            partner.file("server.ini"))
        self.check_pill(self.partner, partner_origin, "Amber", "partner-forbidden")
        with socket.create_connection(("127.0.0.1", relay_port), timeout=15) as raw:
            raw.sendall(f"OVRELAY1 C {partner_id}\n".encode())
            self.assertEqual(read_line(raw), "OK")
            with self.assertRaises((ssl.SSLError, OSError)):
                client_context().wrap_socket(raw).recv(1)
        self.assertTrue(partner.wait_for(
            "[x] Входящее подключение отклонено (подключения запрещены вручную): relay id=", 30),
            partner.output())

        partner_drive.ask("click 3013")
        self.assertTrue(wait_until(lambda: partner_drive.text(3013) == "Запретить подключение", 10))
        self.assertTrue(wait_until(
            lambda: re.search(rb"(?m)^accept_connections=1\r?$", partner.file("server.ini")), 10))

    def servers_ini(self, agent):
        data = agent.file("servers.ini") or b""
        return data.decode("utf-16") if data[:2] == b"\xff\xfe" else data.decode("cp1251")

    def test_saved_computers_are_added_edited_used_and_deleted(self):
        relay_port = start_relay(self)
        partner = self.start_agent(self.partner, relay_ini(relay_port, PASSWORD))
        partner_id = self.registered_id(partner)
        user = self.start_agent(self.user, relay_ini(relay_port, "Us3rPw"))
        drive = self.driver(self.user)
        self.assertIsNotNone(drive.window("OrvaneMain"), user.output())
        self.assertEqual(drive.ask("state 3005"), "state 0 1", "an empty list hides")

        # "Добавить": the partner through the relay, without a stored password.
        drive.ask("click 3002")
        self.assertIsNotNone(drive.window("OVEditDlg"), user.output())
        for control, text in ((101, "Partner"), (105, "127.0.0.1"), (106, relay_port),
                              (107, partner_id)):
            drive.ask(f"settext {control} {text}")
        drive.ask("click 1")
        self.assertEqual(drive.ask("gone OVEditDlg"), "gone")
        drive.window("OrvaneMain")
        self.assertEqual(drive.ask("count"), "count 1")
        self.assertEqual(drive.ask("state 3005"), "state 1 1")
        self.assertTrue(wait_until(lambda: re.search(
            rf"(?m)^count=1\r?\n(.*\n)*relay_id={partner_id}\r?$", self.servers_ini(user)), 10),
            self.servers_ini(user))

        # "Изменить" renames it in the list and in the file.
        drive.ask("select 0")
        drive.ask("click 3003")
        self.assertIsNotNone(drive.window("OVEditDlg"))
        drive.ask("settext 101 Partner PC")
        drive.ask("click 1")
        self.assertEqual(drive.ask("gone OVEditDlg"), "gone")
        self.assertTrue(wait_until(
            lambda: re.search(r"(?m)^name=Partner PC\r?$", self.servers_ini(user)), 10),
            self.servers_ini(user))

        # A double click connects; with no stored password the prompt asks,
        # titled with the computer's name.
        drive.window("OrvaneMain")
        drive.ask("dblclick 0")
        self.assertIsNotNone(drive.window("OVPwDlg"), user.output())
        self.assertIn("Пароль — Partner PC", drive.ask("texts"))
        drive.ask(f"settext 104 {PASSWORD}")
        drive.ask("click 1")
        self.check_viewer_opens(drive, user, partner, partner_id)
        drive.ask("close")
        self.assertEqual(drive.ask("gone OrvaneViewer"), "gone")

        # "Удалить" asks first; agreeing empties the list and the file.
        drive.window("OrvaneMain")
        drive.ask("select 0")
        drive.ask("click 3004")
        self.assertIsNotNone(drive.window("OrvaneMsgBox"))
        self.assertIn("Удалить выбранный компьютер?", drive.ask("texts"))
        drive.ask("command 6")
        drive.window("OrvaneMain")
        self.assertTrue(wait_until(lambda: drive.ask("count") == "count 0", 10))
        self.assertEqual(drive.ask("state 3005"), "state 0 1")
        self.assertTrue(wait_until(
            lambda: re.search(r"(?m)^count=0\r?$", self.servers_ini(user)), 10),
            self.servers_ini(user))
        self.assertNotIn("[Server1]", self.servers_ini(user))

    def test_closing_without_the_tray_ends_the_agent(self):
        # A relay that does not answer: the agent keeps trying to reach it.
        agent = self.start_agent(self.user, relay_ini(free_port(), PASSWORD, "close_to_tray=0\n"))
        drive = self.driver(self.user)
        origin = drive.window("OrvaneMain")
        self.assertIsNotNone(origin, agent.output())
        shot = self.check_pill(self.user, origin, "Warn", "connecting")
        self.check_cards(shot)
        drive.ask("close")
        self.assertEqual(agent.wait_exit(60), 0, agent.output())


if __name__ == "__main__":
    Env.wine_run, Env.state, Env.bin_dir, Env.relay = sys.argv[1:5]
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)
