"""The example NSIS setup program (deploy/nsis) under Wine, carrying the
stand-in Tamsel.exe 2.0.0. A fake updater in the program folder records how
the setup program started it and whether the setup mutex still existed. No
update server is involved."""
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness as h  # noqa: E402

SETUP = h.BUILD_DIR / "tests" / "standin" / "setup_nsis_v2_0_0" / "tamsel-nsis-2.0.0.exe"
RECORD = h.PROGRAM_DIR / "fake-updater.txt"
SETUP_MUTEX = "Global\\Tam_Sel.Setup"
# A log folder with a space: the log switch then reaches the setup program
# quoted as a whole, as the updater passes it for any path.
LOG_DIR = h.DATA_DIR / "update folder"
LOG_DIR_WINDOWS = "C:\\ProgramData\\Tam_Sel\\update folder"
FLAGS = ["/VERYSILENT", "/SUPPRESSMSGBOXES", "/NORESTART", "/UPDATE"]
LOG_SWITCH = f"/LOG={LOG_DIR_WINDOWS}\\setup.log"


def start_setup(*args):
    """Starts the setup program from the log folder as downloaded-setup.exe.
    Wine quotes each argument that holds a space, so the command line is the
    one the updater builds."""
    return subprocess.Popen([str(h.WINE_RUN), "--prefix", str(h.PREFIX),
                             f"{LOG_DIR_WINDOWS}\\downloaded-setup.exe", *args],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def record() -> str:
    return RECORD.read_text(encoding="utf-8") if RECORD.exists() else ""


def wait_for(condition, timeout=60, what="condition"):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.2)


@unittest.skipUnless(SETUP.exists(), "built only where makensis is installed")
class NsisSetup(unittest.TestCase):
    def setUp(self):
        h.fresh_folders()
        h.install_program("standin_v1_0_0")
        (h.PROGRAM_DIR / "tamsel-update.exe").write_bytes(h.exe("tamsel-fake-updater.exe").read_bytes())
        LOG_DIR.mkdir()
        (LOG_DIR / "downloaded-setup.exe").write_bytes(SETUP.read_bytes())
        self.programs = []

    def tearDown(self):
        for program in self.programs:
            program.end()
        if "command line" in record():
            wait_for(lambda: "ended" in record(), what="the fake updater's end")

    def assert_installed(self):
        self.assertEqual((h.PROGRAM_DIR / "Tamsel.exe").read_bytes(), h.standin("standin_v2_0_0").read_bytes())
        self.assertFalse((h.PROGRAM_DIR / "Tamsel.exe.new").exists())
        self.assertEqual((LOG_DIR / "installed-setup.exe").read_bytes(), SETUP.read_bytes())

    def test_installs_leaves_itself_and_starts_phase_two_without_the_mutex_and_without_waiting(self):
        setup = start_setup(*FLAGS, LOG_SWITCH)
        self.assertEqual(setup.wait(timeout=h.RUN_TIMEOUT), 0)
        # Ended while phase two (the fake updater, alive for 6 s) still runs.
        self.assertNotIn("ended", record())
        wait_for(lambda: "setup mutex" in record(), what="the fake updater's record")
        self.assertEqual(record().splitlines()[:2], [
            'command line: "C:\\Program Files\\Tamsel\\tamsel-update.exe" /phase2', "setup mutex: absent"])
        self.assert_installed()
        self.assertEqual((LOG_DIR / "setup.log").read_text("ascii").splitlines(), [
            "tamsel setup 2.0.0: started", "tamsel setup 2.0.0: Tamsel.exe installed",
            "tamsel setup 2.0.0: installed-setup.exe left", "tamsel setup 2.0.0: done; starting phase two"])

    def test_holds_the_mutex_while_it_waits_for_the_old_program_to_end(self):
        program = h.RunningProgram(seconds=15)  # ends by itself, like a program being forced out
        self.programs.append(program)
        program.wait_until_counted()
        setup = start_setup(*FLAGS, LOG_SWITCH)
        wait_for(lambda: "waiting for it" in (LOG_DIR / "setup.log").read_text("ascii")
                 if (LOG_DIR / "setup.log").exists() else False, what="the setup program's retry")
        self.assertEqual(h.probe("gone", SETUP_MUTEX, "0"), ["held"])
        self.assertNotIn("command line", record())
        self.assertEqual(setup.wait(timeout=h.RUN_TIMEOUT), 0)
        self.assert_installed()
        wait_for(lambda: "setup mutex" in record(), what="the fake updater's record")
        self.assertIn("setup mutex: absent", record())

    def test_refuses_any_other_command_line(self):
        cases = {
            "no arguments (a double click)": [],
            "no log switch": FLAGS,
            "an empty log path": [*FLAGS, "/LOG="],
            "a flag missing": [*FLAGS[:3], LOG_SWITCH],
            "a longer flag that only begins like one": [*FLAGS[:3], "/UPDATEX", LOG_SWITCH],
        }
        for name, args in cases.items():
            with self.subTest(name):
                self.assertEqual(start_setup(*args).wait(timeout=h.RUN_TIMEOUT), 2)
                self.assertEqual((h.PROGRAM_DIR / "Tamsel.exe").read_bytes(),
                                 h.standin("standin_v1_0_0").read_bytes())
                self.assertEqual(sorted(p.name for p in LOG_DIR.iterdir()), ["downloaded-setup.exe"])
                self.assertEqual(record(), "")  # phase two not started


if __name__ == "__main__":
    unittest.main(verbosity=2)
