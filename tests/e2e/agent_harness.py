"""Runs the real orvane.exe under Wine in a folder of its own and talks to it
over loopback with real OpenSSL peers (Python's ssl module and the openssl
command line)."""
import os
import re
import shutil
import signal
import socket
import ssl
import struct
import subprocess
import tempfile
import threading
import time

MSG_FRAME, MSG_MOUSE, MSG_AUTH, MSG_AUTH_OK, MSG_CTRL_ALT_DEL = 1, 2, 4, 5, 6
MSG_PING, MSG_PONG, MSG_MONITOR_INFO = 8, 9, 11


class Env:
    wine_run = None   # scripts/wine-run
    state = None      # the run's Wine state folder
    bin_dir = None    # folder of orvane.exe and test-certs/
    relay = None      # the native orvane-relay, for the tests that use one


def start_relay(test):
    """The real orvane-relay on a free loopback port, stopped when the test
    ends; its port."""
    relay = subprocess.Popen([Env.relay, "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True)
    test.addCleanup(lambda: (relay.terminate(), relay.wait(10), relay.stdout.close()))
    port = int(re.search(r"listening on 127\.0\.0\.1:(\d+)", relay.stdout.readline()).group(1))
    threading.Thread(target=relay.stdout.read, daemon=True).start()
    return port


def frame(msg_type, payload=b""):
    return struct.pack(">IB", len(payload) + 1, msg_type) + payload


def hide_main_window(wine_run, state, bin_dir):
    """Closes the main window of the agent running in Wine state `state` to
    the tray with window_driver.exe; True once it is gone. The benchmarks use
    it too."""
    # Files, not pipes: a Wine background process may keep a pipe open.
    with tempfile.TemporaryFile("w+") as commands, tempfile.TemporaryFile("w+") as answers:
        commands.write("wait OrvaneMain 60\nclose\ngone OrvaneMain 30\n")
        commands.seek(0)
        subprocess.run([wine_run, "--state", state, os.path.join(bin_dir, "window_driver.exe")],
                       stdin=commands, stdout=answers, stderr=subprocess.DEVNULL, timeout=180)
        answers.seek(0)
        done = answers.read()
    return "window " in done and "gone" in done


class Agent:
    """orvane.exe with a server.ini of our choosing; output collected live.
    With `folder`, the orvane.exe already there runs with what lies beside it."""

    def __init__(self, ini=None, cert="server", key="server", args=(), files=None, state=None,
                 folder=None):
        self.dir = folder or self._make_folder(ini, cert, key, files)
        self.lines = []
        self.lock = threading.Lock()
        self.state = state or Env.state
        self.proc = subprocess.Popen(
            [Env.wine_run, "--state", self.state, "./orvane.exe", *args],
            cwd=self.dir, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, start_new_session=True)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    @staticmethod
    def _make_folder(ini, cert, key, files):
        folder = tempfile.mkdtemp(prefix="orvane_e2e_")
        certs = os.path.join(Env.bin_dir, "test-certs")
        shutil.copy(os.path.join(Env.bin_dir, "orvane.exe"), folder)
        if cert:
            shutil.copy(os.path.join(certs, cert + ".crt"), os.path.join(folder, "server.crt"))
        if key:
            shutil.copy(os.path.join(certs, key + ".key"), os.path.join(folder, "server.key"))
        for name, text in dict(files or {}, **{"server.ini": ini}).items():
            with open(os.path.join(folder, name), "w") as f:
                f.write(text)
        return folder

    def _read(self):
        for raw in self.proc.stdout:
            with self.lock:
                self.lines.append(raw.decode("utf-8", "replace").replace("\r", ""))

    def output(self):
        with self.lock:
            return "".join(self.lines)

    def wait_for(self, text, timeout=20.0, count=1):
        end = time.time() + timeout
        while time.time() < end:
            if self.output().count(text) >= count:
                return True
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        return self.output().count(text) >= count

    def wait_exit(self, timeout=30.0):
        try:
            code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None
        self.reader.join(5)
        return code

    def file(self, name):
        path = os.path.join(self.dir, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def hide_main_window(self):
        """Closes the main window to the tray, as a user would, so that the
        screen shows only what the test put there. True once done."""
        return hide_main_window(Env.wine_run, self.state, Env.bin_dir)

    def stop(self):
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait(10)
        self.reader.join(5)
        self.proc.stdout.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class LineProcess:
    """A process driven through standard input whose output lines are
    collected as they come."""

    def __init__(self, args, **popen):
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True, **popen)
        self.lines = []
        self.lock = threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            with self.lock:
                self.lines.append(line.rstrip("\r\n"))

    def send(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def snapshot(self):
        with self.lock:
            return list(self.lines)

    def wait(self, predicate, start=0, timeout=30.0):
        """Index of the first line from `start` on that satisfies predicate."""
        end = time.time() + timeout
        while time.time() < end:
            lines = self.snapshot()
            for i in range(start, len(lines)):
                if predicate(lines[i]):
                    return i
            time.sleep(0.02)
        raise AssertionError("no such line; got:\n" + "\n".join(self.snapshot()[-40:]))


def client_context(cert="server"):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False  # trust is the pinned certificate, not a name
    ctx.load_verify_locations(os.path.join(Env.bin_dir, "test-certs", cert + ".crt"))
    return ctx


def memory_tls_client():
    """A TLS client over memory buffers, its ClientHello waiting in outgoing:
    (tls, incoming, outgoing)."""
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = client_context().wrap_bio(incoming, outgoing)
    try:
        tls.do_handshake()
    except ssl.SSLWantReadError:
        pass
    return tls, incoming, outgoing


def tls_connect(port, cert="server", timeout=10.0):
    raw = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    try:
        return client_context(cert).wrap_socket(raw)
    except Exception:
        raw.close()
        raise


def recv_exact(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def read_frame(sock):
    """(type, payload), or None when the connection closed."""
    header = recv_exact(sock, 5)
    if header is None:
        return None
    length, msg_type = struct.unpack(">IB", header)
    payload = recv_exact(sock, length - 1) if length > 1 else b""
    return None if payload is None else (msg_type, payload)


def raw_closed_by_peer(port, send=b"", timeout=10.0, source="127.0.0.1"):
    """Connects without TLS; True when the agent closes the connection."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout,
                                  source_address=(source, 0)) as raw:
        if send:
            raw.sendall(send)
        try:
            return raw.recv(100) == b""
        except ConnectionError:
            return True
        except socket.timeout:
            return False


def closed_by_peer(sock, timeout=10.0):
    sock.settimeout(timeout)
    try:
        return sock.recv(1) == b""
    except (ssl.SSLError, ConnectionError):
        return True
    except socket.timeout:
        return False
