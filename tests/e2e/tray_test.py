"""The banner, the tray icon and its commands, and the rebuild of the interface,
on the real orvane.exe in a Wine prefix and on a display of their own, with
the real orvane-relay and TLS viewers of Python's ssl module. The banner and
the icon are read from screenshots; the tray window is driven with the window
messages its icon and menu send (window_driver.exe)."""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from agent_harness import Agent, Env, MSG_AUTH, MSG_AUTH_OK, MSG_PING, MSG_PONG, client_context
from agent_harness import frame, read_frame, start_relay
from agent_relay_test import read_line
from main_window_test import Driver, Prefix, close_to, free_port, wait_until

PASSWORD = "Sekr3t"
ID_LINE = re.compile(r"  ID:     (\S+)\n")
IDLE_FILL = (60, 60, 60)
SESSION_FILL = (200, 40, 40)
SESSION_NOTIFY_EVENT = "Global\\OrvaneSessionNotify"

WM_TRAY_NOTIFY, WM_RBUTTONUP = 0x8001, 0x0205
TRAY_EXIT, TRAY_COPY_ID, TRAY_COPY_PASSWORD = 2002, 2004, 2005
TRAY_NEW_PASSWORD, TRAY_RESET_ID, TRAY_INSTALL_SERVICE = 2007, 2008, 2009
OWN_PASSWORD_FIELD, TOGGLE_BUTTON = 3012, 3013


def relay_ini(relay_port, extra=""):
    return (f"[server]\nport=55710\npassword={PASSWORD}\nrelay_host=127.0.0.1\n"
            f"relay_port={relay_port}\nrelay_id=\n{extra}")


def agent_log(agent):
    """orvane_agent.log of an agent the service started (or started as if)."""
    return (agent.file("orvane_agent.log") or b"").decode("utf-8", "replace").replace("\r", "")


class TrayDriver(Driver):
    ANSWER = re.compile(r"^(window|none|gone|still|ok|text|state|count|texts|clipboard|error|"
                        r"handle|alive)\b")

    def handle(self, cls, seconds=60):
        """The handle of the window of that class, shown or not, made current."""
        answer = self.ask(f"find {cls} {seconds}", timeout=seconds + 60)
        return answer.split()[1] if answer.startswith("handle ") else None

    def alive(self, handle):
        return self.ask(f"alive {handle}") == "alive 1"

    def tray_command(self, command):
        """WM_COMMAND to the tray window, as its menu sends it; False without one."""
        if self.handle("OrvaneTray") is None:
            return False
        return self.ask(f"command {command}") == "ok"

    def clipboard(self):
        return self.ask("clipboard")[len("clipboard "):]


class Screen:
    """One screenshot, read where the banner and the tray icon are."""

    def __init__(self, prefix, path):
        self.shot = prefix.screenshot(path)

    def banner(self):
        """(fill, left, top, width, height) of the banner's window, or None.
        The fill is found along row 5, above the text; the window has a
        1-pixel border."""
        for fill in (IDLE_FILL, SESSION_FILL):
            xs = [x for x in range(self.shot.width) if close_to(self.shot.at(x, 5), fill, 3)]
            if len(xs) > 100:
                ys = [y for y in range(0, 80) if close_to(self.shot.at(xs[0] + 2, y), fill, 3)]
                return fill, xs[0] - 1, ys[0] - 1, xs[-1] - xs[0] + 3, ys[-1] - ys[0] + 3
        return None

    def icon_colour(self):
        """"red" or "blue": what most of the icon in Wine's tray window is."""
        red = blue = 0
        for y in range(22, 42):
            for x in range(3, 23):
                r, _, b = self.shot.at(x, y)
                red += r > b + 60
                blue += b > r + 60
        return "red" if red > blue else "blue" if blue > red else "none"


class TrayEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvane_tray_")
        cls.prefix = Prefix(cls.tmp, "wine")
        cls.shots = 0

    @classmethod
    def tearDownClass(cls):
        cls.prefix.cleanup()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def start_agent(self, ini, args=(), files=None):
        agent = Agent(ini, state=self.prefix.state, args=args, files=files)
        self.addCleanup(agent.stop)
        return agent

    def driver(self):
        driver = TrayDriver(self.prefix)
        self.addCleanup(driver.stop)
        return driver

    def screen(self, name):
        TrayEndToEnd.shots += 1
        path = os.path.join(self.tmp, f"{TrayEndToEnd.shots:02}-{name}.ppm")
        screen = Screen(self.prefix, path)
        # Kept where a person can look at them, when asked to.
        if os.environ.get("ORVANE_KEEP_SHOTS"):
            shutil.copy(path, os.environ["ORVANE_KEEP_SHOTS"])
        return screen

    def banner_when(self, name, condition, timeout=20):
        """The banner once the condition holds for it (polled on screenshots)."""
        banner = None
        end = time.time() + timeout
        while time.time() < end:
            screen = self.screen(name)
            banner = screen.banner()
            if condition(banner, screen):
                return banner, screen
            time.sleep(0.5)
        self.fail(f"{name}: banner {banner}")

    def registered_id(self, agent, count=1, text=None):
        text = text or agent.output
        self.assertTrue(wait_until(lambda: len(ID_LINE.findall(text())) >= count, 60), text())
        return ID_LINE.findall(text())[-1]

    def join(self, relay_port, agent_id, password=PASSWORD):
        """A TLS viewer through the relay; the socket, or None when refused."""
        sock = socket.create_connection(("127.0.0.1", relay_port), timeout=20)
        sock.sendall(f"OVRELAY1 C {agent_id}\n".encode())
        self.assertEqual(read_line(sock), "OK")
        tls = client_context().wrap_socket(sock)
        tls.sendall(frame(MSG_AUTH, password.encode()))
        if read_frame(tls) == (MSG_AUTH_OK, b""):
            return tls
        tls.close()
        return None

    def test_banner_and_icon_follow_a_viewer_through_the_relay(self):
        relay_port = start_relay(self)
        agent = self.start_agent(relay_ini(relay_port))
        agent_id = self.registered_id(agent)
        idle, screen = self.banner_when(
            "idle", lambda b, s: b and b[0] == IDLE_FILL and s.icon_colour() == "blue")
        _, left, top, width, height = idle
        self.assertEqual((top, height), (0, 40))
        self.assertLessEqual(abs(left + width // 2 - 960), 1)  # "ID: ..." centred at the top
        self.assertGreaterEqual(width, 170)

        with self.join(relay_port, agent_id) as viewer:
            self.assertIsNotNone(viewer)
            self.assertTrue(agent.wait_for("[+] Подключился зритель", 30), agent.output())
            watched, screen = self.banner_when(
                "session", lambda b, s: b and b[0] == SESSION_FILL and s.icon_colour() == "red")
            _, s_left, s_top, s_width, s_height = watched
            self.assertEqual((s_top, s_height), (0, 40))
            # "ЭКРАН ТРАНСЛИРУЕТСЯ  —  relay id=...": wider, around the same centre.
            self.assertGreater(s_width, width + 150)
            self.assertLessEqual(abs((s_left + s_width // 2) - (left + width // 2)), 1)
        self.assertTrue(agent.wait_for("[-] Зритель отключился", 30), agent.output())
        after, _ = self.banner_when(
            "after", lambda b, s: b and b[0] == IDLE_FILL and s.icon_colour() == "blue")
        self.assertEqual(after[1:], idle[1:])

        # The menu, opened as a right click on the icon opens it, for the eye.
        drive = self.driver()
        self.assertIsNotNone(drive.handle("OrvaneTray"))
        drive.ask(f"post {WM_TRAY_NOTIFY} 1 {WM_RBUTTONUP}")
        self.assertIsNotNone(drive.window("#32768", 30))
        self.screen("menu")
        drive.ask("post 256 27 0")  # WM_KEYDOWN Escape to the menu
        self.assertEqual(drive.ask("gone #32768 30"), "gone")

    def test_banner_hidden_while_connections_are_forbidden(self):
        agent = self.start_agent("[server]\nport=55711\npassword=Sekr3t\naccept_connections=0\n")
        self.assertTrue(agent.wait_for("Слушаю порт 55711", 60), agent.output())
        drive = self.driver()
        self.assertIsNotNone(drive.window("OrvaneMain"), agent.output())
        handle = drive.handle("OrvaneBanner")
        self.assertIsNotNone(handle)
        self.assertEqual(drive.ask("find OrvaneBanner 1"), f"handle {handle} 0")
        self.assertIsNone(self.screen("forbidden").banner())
        # Allowed again from the main window: the banner comes back.
        self.assertIsNotNone(drive.window("OrvaneMain"))
        drive.ask(f"click {TOGGLE_BUTTON}")
        shown, _ = self.banner_when("allowed", lambda b, s: b and b[0] == IDLE_FILL)
        self.assertEqual(shown[2], 0)

    def test_tray_commands_on_the_id_and_the_password(self):
        relay_port = start_relay(self)
        agent = self.start_agent(relay_ini(relay_port))
        first_id = self.registered_id(agent)
        drive = self.driver()
        self.assertIsNotNone(drive.window("OrvaneMain"), agent.output())

        self.assertTrue(drive.tray_command(TRAY_COPY_ID))
        self.assertTrue(wait_until(lambda: drive.clipboard() == first_id, 10), drive.clipboard())

        # A new password: stored, shown in the main window, copied, and the
        # only one that logs in.
        self.assertTrue(drive.tray_command(TRAY_NEW_PASSWORD))
        self.assertTrue(drive.tray_command(TRAY_COPY_PASSWORD))
        self.assertTrue(wait_until(lambda: drive.clipboard() not in ("", PASSWORD, first_id), 10))
        fresh = drive.clipboard()
        self.assertRegex(fresh, r"^\S{6}$")
        self.assertIsNotNone(drive.window("OrvaneMain"))
        self.assertTrue(wait_until(lambda: drive.text(OWN_PASSWORD_FIELD) == fresh, 10),
                        drive.text(OWN_PASSWORD_FIELD))
        ini = agent.file("server.ini").decode("cp1251")
        self.assertRegex(ini, r"(?m)^password=\r?$")
        self.assertNotIn(fresh, ini)
        registrations = len(ID_LINE.findall(agent.output()))
        self.assertIsNone(self.join(relay_port, first_id, PASSWORD))
        self.assertTrue(agent.wait_for("[!] Неверный пароль", 30), agent.output())
        # A refused login through the relay costs a pause before the agent
        # registers again.
        self.registered_id(agent, registrations + 1)

        # Reset the ID: asked in a box, gone from server.ini, and it stays
        # gone when the agent registers again after a session.
        self.assertRegex(ini, rf"(?m)^relay_id={first_id}\r?$")
        self.assertTrue(drive.tray_command(TRAY_RESET_ID))
        self.assertIsNotNone(drive.window("OrvaneMsgBox", 30))
        self.assertIn("Новый ID будет выдан после перезапуска приложения.", drive.ask("texts"))
        drive.ask("click 1")
        self.assertEqual(drive.ask("gone OrvaneMsgBox 30"), "gone")
        registrations = len(ID_LINE.findall(agent.output()))
        with self.join(relay_port, first_id, fresh) as viewer:
            self.assertIsNotNone(viewer)
        self.registered_id(agent, registrations + 1)
        ini = agent.file("server.ini").decode("cp1251")
        self.assertRegex(ini, r"(?m)^relay_id=\r?$")

        # "Выход": the agent ends cleanly; started again it gets a new ID
        # and keeps the new password.
        self.assertTrue(drive.tray_command(TRAY_EXIT))
        self.assertEqual(agent.wait_exit(60), 0, agent.output())
        again = self.start_agent(ini)
        second_id = self.registered_id(again)
        self.assertNotEqual(second_id, first_id)
        with self.join(relay_port, second_id, fresh) as viewer:
            self.assertIsNotNone(viewer)

    def test_rebuild_keeps_the_session_going(self):
        relay_port = start_relay(self)
        agent = self.start_agent(relay_ini(relay_port), args=("--agent",))

        def log():
            return agent_log(agent)

        agent_id = self.registered_id(agent, text=log)
        drive = self.driver()
        before = {cls: drive.handle(cls) for cls in ("OrvaneMain", "OrvaneBanner", "OrvaneTray")}
        self.assertNotIn(None, before.values(), log())
        with self.join(relay_port, agent_id) as viewer:
            self.assertIsNotNone(viewer)
            self.assertTrue(wait_until(lambda: "[+] Подключился зритель" in log(), 30), log())
            self.banner_when("before-rebuild", lambda b, s: b and b[0] == SESSION_FILL)

            self.assertEqual(drive.ask(f"signal {SESSION_NOTIFY_EVENT}"), "ok")
            self.assertTrue(wait_until(
                lambda: "[i] Интерфейс пересобран на столе «Default».\n" in log(), 30), log())
            for cls, old in before.items():
                new = drive.handle(cls)
                self.assertIsNotNone(new, cls)
                self.assertNotEqual(new, old, cls)
                self.assertFalse(drive.alive(old), cls)
            # Started by the service, the main window stays hidden.
            self.assertEqual(drive.ask("find OrvaneMain 1").split()[2], "0")
            self.banner_when("after-rebuild",
                             lambda b, s: b and b[0] == SESSION_FILL and s.icon_colour() == "red")

            # The session never noticed.
            viewer.settimeout(20)
            viewer.sendall(frame(MSG_PING))
            while (answer := read_frame(viewer)) is not None and answer[0] != MSG_PONG:
                pass
            self.assertIsNotNone(answer, log())
            self.assertNotIn("[-] Зритель отключился", log())

    def test_background_access_hands_over_to_the_service(self):
        relay_port = start_relay(self)
        agent = self.start_agent(relay_ini(relay_port))
        agent_id = self.registered_id(agent)
        self.addCleanup(self.uninstall, agent.dir)
        drive = self.driver()
        self.assertTrue(drive.tray_command(TRAY_INSTALL_SERVICE))
        # Wine asks nobody: the elevated "--install" just runs.
        self.assertIsNotNone(drive.window("OrvaneMsgBox", 60), agent.output())
        self.assertIn("Фоновый доступ включён.", drive.ask("texts"))
        drive.ask("click 1")
        self.assertEqual(agent.wait_exit(60), 0, agent.output())

        # The service's agent takes over under the same ID.
        def log():
            return agent_log(agent)

        self.assertEqual(self.registered_id(agent, text=log), agent_id)
        with self.join(relay_port, agent_id) as viewer:
            self.assertIsNotNone(viewer, log())

    def uninstall(self, folder):
        with tempfile.TemporaryFile() as out:
            subprocess.run([Env.wine_run, "--state", self.prefix.state, "./orvane.exe",
                            "--uninstall"], cwd=folder, stdin=subprocess.DEVNULL, stdout=out,
                           stderr=subprocess.STDOUT, timeout=120)


if __name__ == "__main__":
    Env.wine_run, Env.state, Env.bin_dir, Env.relay = sys.argv[1:5]
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)
