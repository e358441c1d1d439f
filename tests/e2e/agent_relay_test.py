"""The agent in relay mode: against the real orvane-relay, and against a
scripted relay for the answers a real one rarely gives."""
import re
import socket
import ssl
import subprocess
import sys
import threading
import time
import unittest

from agent_harness import (Agent, Env, MSG_AUTH, MSG_AUTH_OK, client_context, frame,
                           memory_tls_client, read_frame, recv_exact)

PASSWORD = "Sekr3t"
ID_BLOCK = re.compile(r"\n========================================\n  ID:     (\S+)\n"
                      r"  ПАРОЛЬ: " + PASSWORD + r"\n  \(сообщите их тому, кто подключается\)\n"
                      r"========================================\n\n")


def relay_ini(port, relay_id=""):
    return (f"[server]\nport=55640\npassword={PASSWORD}\nrelay_host=127.0.0.1\n"
            f"relay_port={port}\nrelay_id={relay_id}\n")


def read_line(sock):
    line = b""
    while not line.endswith(b"\n"):
        byte = sock.recv(1)
        if not byte:
            return None
        line += byte
    return line.decode().rstrip("\r\n")


class RealRelay(unittest.TestCase):
    def setUp(self):
        self.relay = subprocess.Popen([Env.relay, "--listen", "127.0.0.1:0"],
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.addCleanup(self.stop_relay)
        first = self.relay.stdout.readline()
        self.port = int(re.search(r"listening on 127\.0\.0\.1:(\d+)", first).group(1))
        threading.Thread(target=self.relay.stdout.read, daemon=True).start()

    def stop_relay(self):
        self.relay.terminate()
        self.relay.wait(10)
        self.relay.stdout.close()

    def join(self, agent_id):
        sock = socket.create_connection(("127.0.0.1", self.port), timeout=15)
        sock.sendall(f"OVRELAY1 C {agent_id}\n".encode())
        self.assertEqual(read_line(sock), "OK")
        return client_context().wrap_socket(sock)

    def test_assigned_id_is_kept_and_a_viewer_joins_through_the_relay(self):
        agent = Agent(relay_ini(self.port))
        self.addCleanup(agent.stop)
        self.assertTrue(agent.wait_for("  (сообщите их тому, кто подключается)\n"), agent.output())
        agent_id = ID_BLOCK.search(agent.output()).group(1)
        self.assertRegex(agent_id, r"^[1-9]\d{8}$")
        # The block is printed first, then the ID is stored: give the write a moment.
        stored = re.compile(rf"(?m)^relay_id={agent_id}\r?$")
        deadline = time.monotonic() + 10
        while not stored.search(ini := agent.file("server.ini").decode()):
            if time.monotonic() > deadline:
                self.fail(ini)
            time.sleep(0.1)

        with self.join(agent_id) as tls:
            tls.sendall(frame(MSG_AUTH, PASSWORD.encode()))
            self.assertEqual(read_frame(tls), (MSG_AUTH_OK, b""))
            self.assertTrue(agent.wait_for(
                f"[+] Подключился зритель (TLS, авторизован): relay id={agent_id}\n"))
        self.assertTrue(agent.wait_for(f"[-] Зритель отключился: relay id={agent_id} ("))
        # Registered again under the same ID, and the block is shown again.
        self.assertTrue(agent.wait_for("  (сообщите их тому, кто подключается)\n", count=2))
        self.assertEqual(ID_BLOCK.findall(agent.output()), [agent_id, agent_id])
        with self.join(agent_id) as tls:
            tls.sendall(frame(MSG_AUTH, b"wrong"))
            self.assertIsNone(read_frame(tls))
        # Relay sessions have no address: nothing is counted.
        self.assertTrue(agent.wait_for(f"[!] Неверный пароль: relay id={agent_id}\n"))
        self.assertNotIn("Неудачная попытка", agent.output())

        # A restarted agent registers with the stored ID instead of asking for one.
        agent.stop()
        again = Agent(relay_ini(self.port, agent_id))
        self.addCleanup(again.stop)
        self.assertTrue(again.wait_for("  (сообщите их тому, кто подключается)\n"), again.output())
        self.assertEqual(ID_BLOCK.findall(again.output()), [agent_id])
        self.assertIn(f"Жду клиента через релей 127.0.0.1 id={agent_id}\n", again.output())


    def join_when_registered(self, agent_id, timeout=20.0):
        """Asks the relay for the agent until it is registered again; the TLS
        session over the joined pipe and the moment the relay said OK."""
        deadline = time.monotonic() + timeout
        while True:
            sock = socket.create_connection(("127.0.0.1", self.port), timeout=15)
            sock.sendall(f"OVRELAY1 C {agent_id}\n".encode())
            answer = read_line(sock)
            if answer == "OK":
                return client_context().wrap_socket(sock), time.monotonic()
            sock.close()
            self.assertEqual(answer, "ERR offline")
            self.assertLess(time.monotonic(), deadline, "the agent did not register again")
            time.sleep(0.1)

    def test_password_guessing_through_the_relay_is_slowed_and_logged(self):
        agent = Agent(relay_ini(self.port))
        self.addCleanup(agent.stop)
        self.assertTrue(agent.wait_for("  (сообщите их тому, кто подключается)\n"), agent.output())
        agent_id = ID_BLOCK.search(agent.output()).group(1)
        joined_at = []
        for guess in range(4):  # as fast as the agent lets us
            tls, when = self.join_when_registered(agent_id)
            joined_at.append(when)
            with tls:
                tls.sendall(frame(MSG_AUTH, f"guess{guess}".encode()))
                self.assertIsNone(read_frame(tls))
        gaps = [b - a for a, b in zip(joined_at, joined_at[1:])]
        self.assertTrue(all(gap >= 0.9 for gap in gaps), gaps)
        self.assertTrue(agent.wait_for(
            "[!] Релей: вход не удался, новая регистрация через 1 с (защита от подбора пароля).\n",
            count=4), agent.output())
        # The owner, right after, is let in.
        tls, _ = self.join_when_registered(agent_id)
        with tls:
            tls.sendall(frame(MSG_AUTH, PASSWORD.encode()))
            self.assertEqual(read_frame(tls), (MSG_AUTH_OK, b""))


class FakeRelay:
    """Accepts the agent's connections and lets the test script the answers."""

    def __init__(self):
        self.server = socket.create_server(("127.0.0.1", 0))
        self.port = self.server.getsockname()[1]
        self.server.settimeout(30)

    def accept_request(self):
        """The next request other than the poller's version queries, which
        are answered here."""
        while True:
            conn, _ = self.server.accept()
            conn.settimeout(30)
            request = read_line(conn)
            if request != "OVRELAY1 V -":
                return conn, request
            conn.sendall(b"VERSION fake 1\n")
            conn.close()

    def close(self):
        self.server.close()


class ScriptedRelay(unittest.TestCase):
    def setUp(self):
        self.relay = FakeRelay()
        self.addCleanup(self.relay.close)

    def start_agent(self, extra=""):
        self.agent = Agent(relay_ini(self.relay.port) + extra)
        self.addCleanup(self.agent.stop)

    def test_refusal_and_dropped_registration_are_retried(self):
        self.start_agent()
        conn, request = self.relay.accept_request()
        self.assertEqual(request, "OVRELAY1 A -")
        conn.sendall(b"ERR id in use\n")
        conn.close()
        self.assertTrue(self.agent.wait_for(
            "[!] Релей: регистрация не удалась (id занят или релей недоступен). Повтор через 3с.\n"))
        started = time.time()
        conn, request = self.relay.accept_request()
        self.assertGreater(time.time() - started, 2)
        self.assertEqual(request, "OVRELAY1 A -")
        conn.sendall(b"ID 777\r\n")
        self.assertTrue(self.agent.wait_for("  ID:     777\n"))
        conn.close()  # the registration drops
        self.assertTrue(self.agent.wait_for(
            "[!] relay: connection to relay dropped, re-registering\n"), self.agent.output())
        conn, request = self.relay.accept_request()
        self.assertEqual(request, "OVRELAY1 A 777")
        conn.close()

    def test_idle_minutes_ask_for_status_online_stays_offline_re_registers(self):
        self.start_agent()
        registration, request = self.relay.accept_request()
        self.addCleanup(registration.close)
        registration.sendall(b"ID 9\n")
        self.assertTrue(self.agent.wait_for("  ID:     9\n"))
        self.relay.server.settimeout(80)
        # Still listed: the agent keeps waiting on the same connection, and the
        # next request is the status check of the following idle minute.
        for answer in (b"ONLINE\n", b"OFFLINE\n"):
            status, request = self.relay.accept_request()  # after 60 idle seconds
            self.assertEqual(request, "OVRELAY1 S 9")
            status.sendall(answer)
            status.close()
        self.assertEqual(self.agent.output().count("  ID:     9\n"), 1)
        again, request = self.relay.accept_request()  # after the 3 s grace
        self.assertEqual(request, "OVRELAY1 A 9")
        again.close()
        self.assertIn("[!] relay: registration lost (relay says OFFLINE), re-registering\n",
                      self.agent.output())

    def test_switched_off_agent_refuses_the_relay_viewer_and_registers_again(self):
        self.start_agent("accept_connections=0\n")
        conn, request = self.relay.accept_request()
        conn.sendall(b"ID 55\n")
        self.assertTrue(self.agent.wait_for("  ID:     55\n"))
        conn.sendall(b"OK\n")
        self.assertEqual(conn.recv(1), b"")  # closed without a TLS handshake
        conn.close()
        self.assertTrue(self.agent.wait_for(
            "[x] Входящее подключение отклонено (подключения запрещены вручную): relay id=55\n"),
            self.agent.output())
        conn, request = self.relay.accept_request()
        self.assertEqual(request, "OVRELAY1 A 55")
        conn.close()

    def test_tls_bytes_in_the_same_segment_as_ok_reach_tls(self):
        self.start_agent()
        conn, request = self.relay.accept_request()
        conn.sendall(b"ID 4242\n")
        self.assertTrue(self.agent.wait_for("  ID:     4242\n"))
        # Play the viewer here: its ClientHello rides in the segment with "OK".
        tls, incoming, outgoing = memory_tls_client()
        conn.sendall(b"OK\n" + outgoing.read())
        while True:
            try:
                tls.do_handshake()
                break
            except ssl.SSLWantReadError:
                data = outgoing.read()
                if data:
                    conn.sendall(data)
                chunk = conn.recv(65536)
                self.assertTrue(chunk, self.agent.output())
                incoming.write(chunk)
        conn.sendall(outgoing.read())
        tls.write(frame(MSG_AUTH, PASSWORD.encode()))
        conn.sendall(outgoing.read())
        reply = b""
        while len(reply) < 5:
            try:
                reply += tls.read(5 - len(reply))
            except ssl.SSLWantReadError:
                chunk = conn.recv(65536)
                self.assertTrue(chunk)
                incoming.write(chunk)
        self.assertEqual(reply, frame(MSG_AUTH_OK))
        self.assertTrue(self.agent.wait_for(
            "[+] Подключился зритель (TLS, авторизован): relay id=4242\n"))
        conn.close()


if __name__ == "__main__":
    Env.wine_run, Env.state, Env.bin_dir, Env.relay = sys.argv[1:5]
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)
