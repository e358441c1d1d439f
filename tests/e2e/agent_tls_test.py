"""The agent's TLS endpoint, authentication, admission checks and ban list,
against the real orvane.exe under Wine."""
import os
import re
import socket
import ssl
import subprocess
import sys
import threading
import time
import unittest

from agent_harness import (Agent, Env, MSG_AUTH, MSG_AUTH_OK, MSG_FRAME, MSG_MONITOR_INFO, MSG_PING,
                           MSG_PONG, client_context, memory_tls_client,
                           closed_by_peer, frame, raw_closed_by_peer, read_frame, tls_connect)

PASSWORD = b"Sekr3t"


def direct_ini(port, extra=""):
    return f"[server]\nport={port}\npassword={PASSWORD.decode()}\n{extra}"


class AgentCase(unittest.TestCase):
    port = 0

    def start(self, extra="", **kw):
        agent = Agent(direct_ini(self.port, extra), **kw)
        self.addCleanup(agent.stop)
        self.assertTrue(agent.wait_for(f"Слушаю порт {self.port}."), agent.output())
        return agent

    def authenticate(self, password=PASSWORD, source="127.0.0.1"):
        raw = socket.create_connection(("127.0.0.1", self.port), timeout=10,
                                       source_address=(source, 0))
        sock = client_context().wrap_socket(raw)
        sock.sendall(frame(MSG_AUTH, password))
        return sock

    def fail_with_wrong_password(self):
        with self.authenticate(b"wrong") as sock:
            self.assertTrue(closed_by_peer(sock))


class Handshake(AgentCase):
    port = 55611

    def test_authorised_viewer_is_answered_and_its_leaving_logged(self):
        agent = self.start()
        for round_ in (1, 2):  # one at a time: the second is served after the first
            sock = self.authenticate()
            self.assertEqual(read_frame(sock), (MSG_AUTH_OK, b""))
            local = sock.getsockname()[1]
            label = f"127.0.0.1:{local}"
            self.assertTrue(agent.wait_for(f"[+] Подключился зритель (TLS, авторизован): {label}\n"))
            for _ in range(3):
                sock.sendall(frame(MSG_PING))
            # The screen is streamed meanwhile; the pongs come between frames.
            pongs = 0
            while pongs < 3:
                msg_type, payload = read_frame(sock)
                if msg_type == MSG_PONG:
                    self.assertEqual(payload, b"")
                    pongs += 1
                else:
                    self.assertIn(msg_type, (MSG_FRAME, MSG_MONITOR_INFO))
            sock.close()
            # The line that ends the session says why the connection failed.
            self.assertTrue(agent.wait_for(f"[-] Зритель отключился: {label} ("), agent.output())
            self.assertRegex(agent.output(),
                             rf"\[-\] Зритель отключился: {re.escape(label)} \([^()\n]+\)\n")

    def test_openssl_s_client_with_the_pinned_certificate(self):
        agent = self.start()
        crt = os.path.join(Env.bin_dir, "test-certs", "server.crt")
        client = subprocess.Popen(
            ["openssl", "s_client", "-connect", f"127.0.0.1:{self.port}", "-CAfile", crt,
             "-verify_return_error", "-quiet"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            client.stdin.write(frame(MSG_AUTH, PASSWORD))
            client.stdin.flush()
            self.assertEqual(client.stdout.read(5), b"\x00\x00\x00\x01\x05")
        finally:
            client.kill()
            client.wait()
        self.assertTrue(agent.wait_for("[-] Зритель отключился: "), agent.output())

    def test_handshakes_that_must_fail(self):
        agent = self.start()
        crt = os.path.join(Env.bin_dir, "test-certs")
        cases = [
            ("pinned to another certificate",
             ["-CAfile", os.path.join(crt, "other.crt"), "-verify_return_error"]),
            # The client's own security level would refuse TLS 1.1 first; lower it
            # so that the refusal is the agent's.
            ("TLS 1.1 only", ["-CAfile", os.path.join(crt, "server.crt"), "-tls1_1",
                              "-cipher", "DEFAULT@SECLEVEL=0"]),
        ]
        for n, (name, args) in enumerate(cases, start=1):
            with self.subTest(name):
                result = subprocess.run(
                    ["openssl", "s_client", "-connect", f"127.0.0.1:{self.port}", *args],
                    input=b"", capture_output=True, timeout=30)
                self.assertNotEqual(result.returncode, 0, result.stdout[-500:])
                self.assertTrue(agent.wait_for("[!] Отклонено (TLS): 127.0.0.1:", count=n))
                self.assertTrue(agent.wait_for(f"[!] Неудачная попытка {n}/5: 127.0.0.1:"))


class Startup(unittest.TestCase):
    def test_certificate_problems_stop_the_agent(self):
        cases = [
            ("key of another certificate", dict(cert="server", key="other"),
             "check_private_key (ключ не соответствует сертификату)"),
            ("no certificate", dict(cert=None), "use_certificate_file"),
            ("no key", dict(key=None), "use_PrivateKey_file"),
        ]
        for name, files, step in cases:
            with self.subTest(name):
                agent = Agent(direct_ini(55612), **files)
                self.addCleanup(agent.stop)
                self.assertEqual(agent.wait_exit(), 1, agent.output())
                out = agent.output()
                self.assertIn(f"[TLS] {step}: ", out)
                self.assertIn("Не удалось загрузить сертификат/ключ.\n", out)
                self.assertRegex(out, r"Ожидаю: \S*\\server\.crt и \S*\\server\.key\n")
                self.assertNotIn("Слушаю порт", out)


class ServiceLog(unittest.TestCase):
    """Started with --agent, every line goes to orvane_agent.log: standard
    error's "[TLS]" report and the standard output line after it included."""

    def log_text(self, agent):
        data = agent.file("orvane_agent.log")
        return "" if data is None else data.decode("utf-8", "replace").replace("\r", "")

    def wait_in_log(self, agent, text, timeout=30.0):
        deadline = time.time() + timeout
        while text not in self.log_text(agent) and time.time() < deadline:
            time.sleep(0.1)
        return text in self.log_text(agent)

    def test_tls_failures_and_the_lines_after_them_are_all_in_the_log(self):
        # Start-up: the report and the two lines after it, all on standard error.
        broken = Agent(direct_ini(55616), key=None, args=("--agent",))
        self.addCleanup(broken.stop)
        self.assertEqual(broken.wait_exit(), 1, self.log_text(broken))
        log = self.log_text(broken)
        self.assertTrue(log.startswith("=== Orvane agent start "), log)
        self.assertRegex(log, r"\[TLS\] use_PrivateKey_file: [^\n]*\n(.+\n)*"
                              r"Не удалось загрузить сертификат/ключ\.\nОжидаю: \S+ и \S+\n")
        broken.stop()

        # A failed handshake: "[TLS] SSL_accept" on standard error, then the
        # refusal on standard output, which must not overwrite it.
        agent = Agent(direct_ini(55616), args=("--agent",))
        self.addCleanup(agent.stop)
        self.assertTrue(self.wait_in_log(agent, "Слушаю порт 55616."), self.log_text(agent))
        self.assertTrue(raw_closed_by_peer(55616, send=b"GET / HTTP/1.0\r\n\r\n"))
        self.assertTrue(self.wait_in_log(agent, "[!] Неудачная попытка 1/5: 127.0.0.1:"),
                        self.log_text(agent))
        self.assertRegex(self.log_text(agent),
                         r"Слушаю порт 55616\. Ожидаю зрителя\.\.\.\n"
                         r"\[TLS\] SSL_accept: [^\n]*\n(.+\n)*"
                         r"\[!\] Отклонено \(TLS\): 127\.0\.0\.1:\d+\n"
                         r"\[!\] Неудачная попытка 1/5: 127\.0\.0\.1:\d+\n")


class Bans(AgentCase):
    port = 55613

    def test_five_failures_of_every_kind_ban_and_the_ban_survives_a_restart(self):
        agent = self.start()
        self.fail_with_wrong_password()
        # A first message that is not the password.
        with tls_connect(self.port) as sock:
            sock.sendall(frame(MSG_PING))
            self.assertTrue(closed_by_peer(sock))
        # TCP without TLS.
        self.assertTrue(raw_closed_by_peer(self.port, send=b"GET / HTTP/1.0\r\n\r\n"))
        # A 220 MiB announcement before authentication is refused at once.
        with tls_connect(self.port) as sock:
            sock.sendall(bytes.fromhex("0DC0000004"))
            self.assertTrue(closed_by_peer(sock, timeout=3))
        self.assertTrue(agent.wait_for("[!] Неудачная попытка 4/5: 127.0.0.1:"), agent.output())
        before = int(time.time())
        self.fail_with_wrong_password()
        self.assertTrue(agent.wait_for("[X] ЗАБАНЕН на 30 мин: 127.0.0.1\n"), agent.output())
        self.assertRegex(agent.output(), r"\[!\] Неудачная попытка 5/5: 127\.0\.0\.1:\d+\n"
                                         r"\[X\] ЗАБАНЕН на 30 мин: 127\.0\.0\.1\n")
        banlist = agent.file("banlist.txt").decode()
        match = re.fullmatch(r"127\.0\.0\.1 (\d+)\r?\n", banlist)
        self.assertIsNotNone(match, banlist)
        self.assertTrue(before + 1800 <= int(match.group(1)) <= int(time.time()) + 1800)

        # Even the right password is now refused, before TLS.
        self.assertTrue(raw_closed_by_peer(self.port))
        self.assertTrue(agent.wait_for("[X] Отклонено (в бане): 127.0.0.1:"))
        agent.stop()
        restarted = self.start(files={"banlist.txt": banlist})
        self.assertTrue(raw_closed_by_peer(self.port))
        self.assertTrue(restarted.wait_for("[X] Отклонено (в бане): 127.0.0.1:"))

    def test_success_clears_the_count(self):
        agent = self.start()
        for _ in range(3):
            self.fail_with_wrong_password()
        with self.authenticate() as sock:
            self.assertEqual(read_frame(sock), (MSG_AUTH_OK, b""))
        self.assertTrue(agent.wait_for("[-] Зритель отключился: "))
        for _ in range(3):
            self.fail_with_wrong_password()
        self.assertTrue(agent.wait_for("[!] Неудачная попытка 3/5: ", count=2))
        self.assertNotIn("ЗАБАНЕН", agent.output())



class Admission(AgentCase):
    port = 55615

    def test_loaded_bans_come_before_the_allow_list_and_ended_ones_are_skipped(self):
        now = int(time.time())
        agent = self.start("allow=127.0.0.1, 127.0.0.2\n", files={
            "banlist.txt": f"127.0.0.2 {now - 10}\n127.0.0.1 {now + 900}\n"})
        self.assertTrue(raw_closed_by_peer(self.port))
        self.assertTrue(agent.wait_for("[X] Отклонено (в бане): 127.0.0.1:"))
        with self.authenticate(source="127.0.0.2") as sock:
            self.assertEqual(read_frame(sock), (MSG_AUTH_OK, b""))

    def test_refusals_close_without_counting(self):
        cases = [
            ("allow=10.9.9.9, 127.0.0.11\n", "[!] Заблокировано (не в белом списке): 127.0.0.1:"),
            ("allow= , ,\n", "[!] Заблокировано (не в белом списке): 127.0.0.1:"),
            ("accept_connections=0\n",
             "[x] Входящее подключение отклонено (подключения запрещены вручную): 127.0.0.1:"),
        ]
        for extra, line in cases:
            with self.subTest(extra):
                agent = self.start(extra)
                for _ in range(6):  # more than a ban would take
                    self.assertTrue(raw_closed_by_peer(self.port))
                self.assertTrue(agent.wait_for(line, count=6), agent.output())
                self.assertNotIn("Неудачная попытка", agent.output())
                agent.stop()


class Silence(AgentCase):
    port = 55614

    def test_idle_peers_are_cut_off_and_counted(self):
        agent = self.start()
        # A TCP connection that never starts TLS must not hold the only accept thread.
        idle = socket.create_connection(("127.0.0.1", self.port))
        self.addCleanup(idle.close)
        started = time.time()
        with self.authenticate() as sock:
            sock.settimeout(20)
            self.assertEqual(read_frame(sock), (MSG_AUTH_OK, b""))
        self.assertGreater(time.time() - started, 4)
        self.assertIn("[!] Отклонено (TLS): 127.0.0.1:", agent.output())
        self.assertTrue(agent.wait_for("[-] Зритель отключился: "))
        # TLS done, then no password for 5 seconds.
        with tls_connect(self.port) as sock:
            self.assertTrue(closed_by_peer(sock, timeout=15))
        self.assertTrue(agent.wait_for("[!] Неверный пароль: 127.0.0.1:"), agent.output())
        # The success in between cleared the idle connection's failure.
        self.assertIn("[!] Неудачная попытка 1/5: 127.0.0.1:", agent.output())


def trickle(sock, data, every, stop):
    """Sends data one byte every `every` seconds until it is all out, the
    agent closes, or stop is set."""
    for byte in data:
        if stop.wait(every):
            return
        try:
            sock.send(bytes([byte]))
        except OSError:
            return


def client_hello():
    """The first bytes a real TLS client sends."""
    return memory_tls_client()[2].read()


class Deadline(AgentCase):
    """Handshake and password share one deadline of a few seconds."""
    port = 55617

    def test_trickling_peers_are_cut_off_counted_and_the_next_viewer_is_served(self):
        agent = self.start()
        cases = [  # what trickles in, and how often a byte comes; the refusal logged
            ("ClientHello", 4.0, "[!] Отклонено (TLS): 127.0.0.1:"),
            ("password", 2.0, "[!] Неверный пароль: 127.0.0.1:"),
        ]
        for n, (what, every, refusal) in enumerate(cases, start=1):
            with self.subTest(what):
                stop = threading.Event()
                if what == "ClientHello":
                    sock = socket.create_connection(("127.0.0.1", self.port))
                    data = client_hello()
                else:
                    sock = tls_connect(self.port)
                    data = frame(MSG_AUTH, PASSWORD)
                sender = threading.Thread(target=trickle, args=(sock, data, every, stop))
                sender.start()
                started = time.time()
                # Each byte comes well within any per-read limit: only an overall
                # deadline cuts this peer off before its bytes are all out.
                closed = closed_by_peer(sock, timeout=40)
                stop.set()
                sender.join()
                sock.close()
                self.assertTrue(closed, f"{what}: still open after {time.time() - started:.0f} s")
                self.assertTrue(agent.wait_for(refusal, count=1), agent.output())
                # The first since the last success, which cleared the count.
                self.assertTrue(agent.wait_for("[!] Неудачная попытка 1/5: 127.0.0.1:", count=n),
                                agent.output())
                # A real viewer right after is let in.
                with self.authenticate() as viewer:
                    viewer.settimeout(20)
                    self.assertEqual(read_frame(viewer), (MSG_AUTH_OK, b""))
                self.assertTrue(agent.wait_for("[-] Зритель отключился: ", count=n))
        self.assertIn("[TLS] SSL_accept: timed out\n", agent.output())


class Probes(AgentCase):
    port = 55618

    def test_closing_without_a_byte_is_no_attempt_but_silence_until_the_deadline_is(self):
        agent = self.start()
        for _ in range(10):  # what a viewer's reachability check does every few seconds
            socket.create_connection(("127.0.0.1", self.port)).close()
        with self.authenticate() as sock:  # served after the ten
            self.assertEqual(read_frame(sock), (MSG_AUTH_OK, b""))
        self.assertTrue(agent.wait_for("[-] Зритель отключился: "))
        self.assertNotIn("Неудачная попытка", agent.output())
        self.assertNotIn("Отклонено (TLS)", agent.output())

        for n in range(1, 6):  # silent until the agent gives up on them
            with socket.create_connection(("127.0.0.1", self.port)) as silent:
                self.assertTrue(closed_by_peer(silent, timeout=40), n)
            self.assertTrue(agent.wait_for(f"[!] Неудачная попытка {n}/5: 127.0.0.1:"),
                            agent.output())
        self.assertTrue(agent.wait_for("[X] ЗАБАНЕН на 30 мин: 127.0.0.1\n"), agent.output())


if __name__ == "__main__":
    Env.wine_run, Env.state, Env.bin_dir = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
