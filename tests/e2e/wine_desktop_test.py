"""The Wine prefix the tests run in, as scripts/wine-run sets it up: one
desktop process serves every program of the run. It outlives the programs
that come and go, and a test that kills a program's whole process group, as
the end-to-end tests do, does not take it along."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from agent_harness import Env, LineProcess

# Longer than Wine waits before it closes a desktop no program uses.
IDLE_DESKTOP_SECONDS = 3


class WineDesktop(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvane_wine_desktop_")
        cls.state = os.path.join(cls.tmp, "wine")
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        subprocess.run([Env.wine_run, "--state", cls.state, "--setup"], env=env, check=True,
                       timeout=300)

    @classmethod
    def tearDownClass(cls):
        subprocess.run([Env.wine_run, "--state", cls.state, "--cleanup"], timeout=120)
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def driver(self, **popen):
        """window_driver.exe in the prefix and its answer to "desktop": the
        running driver, the desktop's owner and whether a window could be made."""
        driver = LineProcess([Env.wine_run, "--state", self.state,
                              os.path.join(Env.bin_dir, "window_driver.exe")], **popen)
        driver.send("desktop")
        index = driver.wait(lambda l: l.startswith("desktop "), timeout=120)
        _, owner, made = driver.snapshot()[index].split()
        return driver, int(owner), made == "1"

    def end(self, driver):
        driver.proc.stdin.close()
        driver.proc.wait(60)

    def test_one_desktop_process_outlives_programs_and_killed_groups(self):
        first, owner, made = self.driver()
        self.end(first)
        self.assertNotEqual(owner, 0, "no process manages the desktop")
        self.assertTrue(made, "no window could be made")

        time.sleep(IDLE_DESKTOP_SECONDS)  # no program of the prefix is running
        second, after_idle, made = self.driver(start_new_session=True)
        os.killpg(second.proc.pid, signal.SIGKILL)
        second.proc.wait(30)
        self.assertEqual(after_idle, owner, "the desktop process went with the last program")
        self.assertTrue(made)

        third, after_kill, made = self.driver()
        self.end(third)
        self.assertEqual(after_kill, owner, "killing a program's group took the desktop along")
        self.assertTrue(made, "no window could be made after a program's group was killed")


if __name__ == "__main__":
    Env.wine_run, Env.bin_dir = sys.argv[1:3]
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
