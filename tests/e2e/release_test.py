"""The release as its users get it: scripts/release.sh built it for a relay on
this machine; the Windows package runs from an empty folder under Wine (in a
prefix and on a display of its own) against the relay from the Linux package."""
import hashlib
import os
import re
import shlex
import shutil
import socket
import ssl
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

from agent_harness import Agent, Env, LineProcess, MSG_AUTH, MSG_AUTH_OK, frame, read_frame
from agent_relay_test import read_line
from main_window_test import Prefix

ID_BLOCK = re.compile(r"  ID:     (\S+)\n  ПАРОЛЬ: (\S+)\n")


class Release:
    dist = None     # the folder release.sh wrote
    state = None    # where the test's own Wine prefix goes
    host = None     # the relay it was built for
    port = None
    version = None  # the project's version

    @classmethod
    def paths(cls):
        v = cls.version
        names = {"windows": f"orvane-{v}-win64.zip",
                 "relay_linux": f"orvane-relay-{v}-linux-x86_64.tar.gz",
                 "relay_windows": f"orvane-relay-{v}-win64.zip"}
        return {k: os.path.join(cls.dist, n) for k, n in names.items()}


def repo_file(*parts):
    return os.path.join(os.path.dirname(Env.wine_run), "..", *parts)


def run_release(*args):
    return subprocess.run(["bash", repo_file("scripts", "release.sh"), *args],
                          capture_output=True, text=True, timeout=60)


def unpack_relay(folder):
    """The Linux package unpacked into folder; the path of its relay."""
    with tarfile.open(Release.paths()["relay_linux"]) as tar:
        tar.extractall(folder)
    return os.path.join(folder, f"orvane-relay-{Release.version}-linux-x86_64", "orvane-relay")


def start_relay(test, args):
    """A relay process (args from its program on) with its output lines."""
    relay = LineProcess(args)

    def stop():
        relay.proc.terminate()
        relay.proc.wait(10)
        relay.proc.stdin.close()
        relay.proc.stdout.close()
    test.addCleanup(stop)
    return relay


def pe_is_stripped(data):
    """No COFF symbol table and no debug sections in a PE image."""
    pe = int.from_bytes(data[0x3C:0x40], "little")
    sections = int.from_bytes(data[pe + 6:pe + 8], "little")
    symbol_table = int.from_bytes(data[pe + 12:pe + 16], "little")
    optional_size = int.from_bytes(data[pe + 20:pe + 22], "little")
    first = pe + 24 + optional_size
    names = [data[first + 40 * i:first + 40 * i + 8] for i in range(sections)]
    return symbol_table == 0 and not any(n.startswith(b".debug") or n.startswith(b"/")
                                         for n in names)


def pe_imports(path):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", path], capture_output=True,
                         text=True, check=True).stdout
    return {name.lower() for name in re.findall(r"DLL Name: (\S+)", out)}


def elf_sections(path):
    out = subprocess.run(["readelf", "-SW", path], capture_output=True, text=True,
                         check=True).stdout
    return set(re.findall(r"\]\s+(\.\S+)", out))


class Packages(unittest.TestCase):
    def test_release_refuses_without_a_usable_relay_host(self):
        parent = tempfile.mkdtemp(prefix="orvane_release_")
        self.addCleanup(shutil.rmtree, parent, True)
        out = os.path.join(parent, "dist")
        cases = [
            ((), "no relay host given"),
            (("--out", out), "no relay host given"),
            (("--out", out, ""), "no relay host given"),
            (("--out", out, "relay one.example"), "is not a host name"),
            (("--out", out, "-x.example"), "is not a host name"),
            (("--out", out, "relay.example:0"), "is not a port"),
            (("--out", out, "relay.example:65536"), "is not a port"),
            (("--out", out, "relay.example:"), "is not a port"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                result = run_release(*args)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn(message, result.stderr)
        # Why, in the refusal itself.
        self.assertIn("127.0.0.1, register", run_release().stderr)
        self.assertFalse(os.path.exists(out), "a refused release wrote something")

    def test_checksums_cover_every_file_and_match(self):
        with open(os.path.join(Release.dist, "SHA256SUMS")) as f:
            listed = dict(reversed(line.split(None, 1)) for line in f.read().splitlines())
        listed = {name.lstrip("*"): digest for name, digest in listed.items()}
        present = set(os.listdir(Release.dist)) - {"SHA256SUMS"}
        self.assertEqual(set(listed), present)
        self.assertEqual(present, {os.path.basename(p) for p in Release.paths().values()})
        for name, digest in listed.items():
            with open(os.path.join(Release.dist, name), "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).hexdigest(), digest, name)

    def test_packages_hold_stripped_self_contained_programs_and_their_texts(self):
        paths = Release.paths()
        with open(repo_file("THIRD-PARTY.md"), "rb") as f:
            notices = f.read().replace(b"\n", b"\r\n")
        top = f"orvane-relay-{Release.version}-linux-x86_64"
        with tarfile.open(paths["relay_linux"]) as tar:
            members = {m.name: m for m in tar.getmembers()}
            self.assertEqual(set(members), {top, f"{top}/orvane-relay",
                                            f"{top}/orvane-relay.service", f"{top}/README.txt"})
            self.assertTrue(all(m.uid == 0 and m.gid == 0 for m in members.values()))
            self.assertEqual(members[f"{top}/orvane-relay"].mode, 0o755)
            admin = tar.extractfile(f"{top}/README.txt").read().decode()
            folder = tempfile.mkdtemp(prefix="orvane_release_")
            self.addCleanup(shutil.rmtree, folder, True)
            tar.extract(f"{top}/orvane-relay", folder)
        self.assertFalse(elf_sections(os.path.join(folder, top, "orvane-relay")) &
                         {".symtab", ".debug_info"})
        self.assertIsNone(re.search(r"@[A-Z]+@", admin), "a placeholder left in the README")
        self.assertIn(f"orvane-relay {Release.version}", admin)

        for key, exe, texts in (("windows", "orvane.exe", {"README.txt", "THIRD-PARTY.txt"}),
                                ("relay_windows", "orvane-relay.exe",
                                 {"README.txt", "THIRD-PARTY.txt"})):
            with self.subTest(package=key), zipfile.ZipFile(paths[key]) as z:
                # Files at the top, as "Extract all" expects; never a key.
                self.assertEqual(set(z.namelist()), {exe} | texts)
                self.assertEqual(z.read("THIRD-PARTY.txt"), notices)
                self.assertTrue(pe_is_stripped(z.read(exe)))
                z.extract(exe, folder)
                system_only = {d for d in pe_imports(os.path.join(folder, exe))
                               if d.startswith("lib") or "ssl" in d or "crypto" in d}
                self.assertEqual(system_only, set(), "a DLL Windows does not have")
        with zipfile.ZipFile(paths["windows"]) as z:
            readme = z.read("README.txt")
        self.assertTrue(readme.startswith(b"\xef\xbb\xbf"), "Notepad needs the UTF-8 mark")
        self.assertNotIn(b"\n", readme.replace(b"\r\n", b""))
        text = readme.decode("utf-8-sig")
        self.assertIsNone(re.search(r"@[A-Z]+@", text), "a placeholder left in the README")
        self.assertIn(f"Orvane {Release.version}", text)
        self.assertIn(f"{Release.host}:{Release.port}", text)
        self.assertIn(b"OpenSSL", notices)

    def test_unit_file_passes_systemd_analyze_verify(self):
        if not shutil.which("systemd-analyze"):
            self.skipTest("systemd-analyze is not installed here: the unit file was not verified")
        folder = tempfile.mkdtemp(prefix="orvane_release_")
        self.addCleanup(shutil.rmtree, folder, True)
        relay = unpack_relay(folder)
        unit_path = os.path.join(os.path.dirname(relay), "orvane-relay.service")
        with open(unit_path) as f:
            unit = f.read()
        # verify wants the program where ExecStart says; the unit names the
        # place the README installs it to, so point it at the unpacked one.
        self.assertIn("\nExecStart=/usr/local/bin/orvane-relay ", unit)
        checked = os.path.join(folder, "orvane-relay.service")
        with open(checked, "w") as f:
            f.write(unit.replace("ExecStart=/usr/local/bin/orvane-relay ", f"ExecStart={relay} "))
        result = subprocess.run(["systemd-analyze", "verify", checked], capture_output=True,
                                text=True, timeout=60)
        # verify only warns about settings it ignores: any word from it is a fault.
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))

    def test_unit_limits_fit_the_relay(self):
        folder = tempfile.mkdtemp(prefix="orvane_release_")
        self.addCleanup(shutil.rmtree, folder, True)
        relay = unpack_relay(folder)
        with open(os.path.join(os.path.dirname(relay), "orvane-relay.service")) as f:
            unit = dict(re.findall(r"(?m)^(\w+)=(.*)$", f.read()))
        args = shlex.split(unit["ExecStart"])[1:]
        limit = int(unit["LimitNOFILE"])
        wanted = int(args[args.index("--max-connections") + 1])
        args[args.index("--listen") + 1] = "127.0.0.1:0"
        # The relay as the unit starts it: same options, same open-file limit.
        proc = start_relay(self, ["prlimit", f"--nofile={limit}:{limit}", relay, *args])
        started = proc.wait(lambda line: " started " in line)
        per_address = args[args.index("--max-per-address") + 1]
        self.assertIn(f"started orvane-relay {Release.version}, at most {wanted} connections, "
                      f"{per_address} per address", proc.snapshot()[started])
        self.assertFalse([line for line in proc.snapshot() if "lowered" in line])


class FreshInstall(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="orvane_release_")
        shutil.rmtree(Release.state, ignore_errors=True)
        cls.prefix = Prefix(Release.state, "fresh")

    @classmethod
    def tearDownClass(cls):
        cls.prefix.cleanup()
        shutil.rmtree(cls.root, ignore_errors=True)

    def probe_version(self, folder):
        with tempfile.TemporaryFile("w+b") as answers:
            subprocess.run([Env.wine_run, "--state", self.prefix.state,
                            os.path.join(Env.bin_dir, "version_probe.exe"), "orvane.exe"],
                           cwd=folder, stdin=subprocess.DEVNULL, stdout=answers,
                           stderr=subprocess.DEVNULL, timeout=180)
            answers.seek(0)
            text = answers.read().decode("utf-8").replace("\r", "")
        return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)

    def test_fresh_agent_registers_at_the_packaged_relay_and_admits_a_viewer(self):
        relay = start_relay(self, [unpack_relay(os.path.join(self.root, "relay")),
                                   "--listen", f"127.0.0.1:{Release.port}"])
        relay.wait(lambda line: f"listening on 127.0.0.1:{Release.port}" in line)

        # An empty folder with the package and the group's pair in it.
        folder = os.path.join(self.root, "Orvane")
        os.mkdir(folder)
        with zipfile.ZipFile(Release.paths()["windows"]) as z:
            z.extractall(folder)
        subprocess.run(["bash", repo_file("scripts", "make-cert.sh"), folder], check=True,
                       capture_output=True)

        version = self.probe_version(folder)
        self.assertEqual({k: version.get(k) for k in ("Fixed", "ProductName", "ProductVersion",
                                                       "FileVersion", "OriginalFilename")},
                         {"Fixed": Release.version, "ProductName": "Orvane",
                          "ProductVersion": Release.version, "FileVersion": Release.version,
                          "OriginalFilename": "orvane.exe"}, version)
        self.assertIn("удалённый доступ", version.get("FileDescription", ""))

        agent = Agent(folder=folder, state=self.prefix.state)
        self.addCleanup(agent.stop)
        self.assertTrue(agent.wait_for("  (сообщите их тому, кто подключается)\n", timeout=90),
                        agent.output())
        agent_id, password = ID_BLOCK.search(agent.output()).groups()
        self.assertIn(f"[i] Режим релея: {Release.host}:{Release.port} id=", agent.output())
        ini = agent.file("server.ini").decode("cp1251").replace("\r", "")
        self.assertIn(f"\nrelay_host={Release.host}\nrelay_port={Release.port}\n", ini)

        # The relay knows the agent, and a viewer with the group's certificate
        # reaches it through the relay with the password it printed.
        relay.wait(lambda line: f"register id={agent_id} agent=127.0.0.1:" in line)
        with socket.create_connection(("127.0.0.1", Release.port), timeout=15) as sock:
            sock.sendall(b"OVRELAY1 V -\n")
            self.assertEqual(read_line(sock), f"VERSION orvane-relay {Release.version}")
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        ctx.check_hostname = False
        ctx.load_verify_locations(os.path.join(folder, "server.crt"))
        sock = socket.create_connection(("127.0.0.1", Release.port), timeout=15)
        sock.sendall(f"OVRELAY1 C {agent_id}\n".encode())
        self.assertEqual(read_line(sock), "OK")
        with ctx.wrap_socket(sock) as tls:
            tls.sendall(frame(MSG_AUTH, password.encode()))
            self.assertEqual(read_frame(tls), (MSG_AUTH_OK, b""))


if __name__ == "__main__":
    Env.wine_run, Release.state, Env.bin_dir, Release.dist, relay, Release.version = sys.argv[1:7]
    Release.host, Release.port = relay.rsplit(":", 1)
    Release.port = int(Release.port)
    unittest.main(argv=sys.argv[:1] + sys.argv[7:], verbosity=2)
