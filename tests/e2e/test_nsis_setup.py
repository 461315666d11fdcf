"""The example NSIS setup program (deploy/nsis) under Wine, carrying the
stand-in Tamsel.exe 2.0.0. A fake updater in the program folder records how
the setup program started it and whether the setup mutex still existed. The
program folder is the one the program's uninstall entry names, by default
C:\Program Files\Tamsel. No update server is involved."""
import shutil
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness as h  # noqa: E402

SETUP = h.BUILD_DIR / "tests" / "standin" / "setup_nsis_v2_0_0" / "tamsel-nsis-2.0.0.exe"
# The same setup program carrying the fake updater as the next tamsel-update.exe.
SETUP_WITH_UPDATER = h.BUILD_DIR / "tests" / "standin" / "setup_nsis_v2_0_0_fake_updater" / "tamsel-nsis-2.0.0.exe"
# A program folder other than the default, with a space in it.
OTHER_DIR = h.PREFIX / "drive_c" / "Apps" / "Tam Sel"
OTHER_DIR_WINDOWS = "C:\\Apps\\Tam Sel"
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


def record(folder: Path = h.PROGRAM_DIR) -> str:
    path = folder / "fake-updater.txt"
    return path.read_text(encoding="utf-8") if path.exists() else ""


def setup_log() -> list:
    path = LOG_DIR / "setup.log"
    return path.read_text("ascii").splitlines() if path.exists() else []


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
        h.set_program_location(None)  # a machine where the program records nothing
        self.addCleanup(h.set_program_location, None)
        self.folder = h.PROGRAM_DIR
        self.install_in(h.PROGRAM_DIR)
        LOG_DIR.mkdir()
        self.use_setup(SETUP)
        self.programs = []

    def tearDown(self):
        for program in self.programs:
            program.end()
        if "command line" in record(self.folder):
            wait_for(lambda: "ended" in record(self.folder), what="the fake updater's end")

    def install_in(self, folder):
        h.install_program("standin_v1_0_0", folder)
        (folder / "tamsel-update.exe").write_bytes(h.exe("tamsel-fake-updater.exe").read_bytes())

    def use_setup(self, setup):
        self.setup = setup
        (LOG_DIR / "downloaded-setup.exe").write_bytes(setup.read_bytes())

    def assert_installed(self):
        self.assertEqual((self.folder / "Tamsel.exe").read_bytes(), h.standin("standin_v2_0_0").read_bytes())
        self.assertFalse((self.folder / "Tamsel.exe.new").exists())
        self.assertEqual((LOG_DIR / "installed-setup.exe").read_bytes(), self.setup.read_bytes())

    def test_installs_leaves_itself_and_starts_phase_two_without_waiting_while_its_mutex_lasts(self):
        setup = start_setup(*FLAGS, LOG_SWITCH)
        self.assertEqual(setup.wait(timeout=h.RUN_TIMEOUT), 0)
        # Ended while phase two (the fake updater, alive for 6 s) still runs.
        # Whether phase two found the mutex depends on which process was
        # quicker; its name lasts until the setup program has ended.
        self.assertNotIn("ended", record())
        wait_for(lambda: "setup mutex" in record(), what="the fake updater's record")
        self.assertEqual(record().splitlines()[0],
                         'command line: "C:\\Program Files\\Tamsel\\tamsel-update.exe" /phase2')
        self.assert_installed()
        self.assertEqual(setup_log(), [
            "tamsel setup 2.0.0: started", "tamsel setup 2.0.0: Tamsel.exe installed",
            "tamsel setup 2.0.0: program folder recorded",
            "tamsel setup 2.0.0: installed-setup.exe left", "tamsel setup 2.0.0: done; starting phase two"])
        # The first installation records where the program lives.
        self.assertEqual(h.program_location(), "C:\\Program Files\\Tamsel")

    def test_installs_in_the_folder_the_program_entry_names(self):
        shutil.rmtree(h.PROGRAM_DIR)
        self.addCleanup(shutil.rmtree, OTHER_DIR, ignore_errors=True)
        self.folder = OTHER_DIR
        self.install_in(OTHER_DIR)
        h.set_program_location(OTHER_DIR_WINDOWS)
        self.assertEqual(start_setup(*FLAGS, LOG_SWITCH).wait(timeout=h.RUN_TIMEOUT), 0)
        wait_for(lambda: "setup mutex" in record(OTHER_DIR), what="the fake updater's record")
        self.assertEqual(record(OTHER_DIR).splitlines()[0],
                         f'command line: "{OTHER_DIR_WINDOWS}\\tamsel-update.exe" /phase2')
        self.assert_installed()
        self.assertFalse(h.PROGRAM_DIR.exists())
        self.assertNotIn("tamsel setup 2.0.0: program folder recorded", setup_log())
        self.assertEqual(h.program_location(), OTHER_DIR_WINDOWS)

    @unittest.skipUnless(SETUP_WITH_UPDATER.exists(), "built only where makensis is installed")
    def test_replaces_the_updater_once_the_old_one_has_ended_and_starts_phase_two_with_the_new_one(self):
        self.use_setup(SETUP_WITH_UPDATER)
        # The old updater is the check run that started this setup program,
        # still ending: a process holding the updater's mutex from that file.
        (h.PROGRAM_DIR / "tamsel-update.exe").write_bytes(h.exe("tamsel-hold-mutex.exe").read_bytes())
        with h.Held("C:\\Program Files\\Tamsel\\tamsel-update.exe", h.UPDATE_MUTEX, "6"):
            setup = start_setup(*FLAGS, LOG_SWITCH)
            wait_for(lambda: "tamsel setup 2.0.0: tamsel-update.exe is still in use: waiting for it" in setup_log(),
                     what="the setup program's retry")
            self.assertEqual(h.probe("gone", SETUP_MUTEX, "0"), ["held"])
            self.assertEqual(setup.wait(timeout=h.RUN_TIMEOUT), 0)
        self.assert_installed()
        self.assertEqual((h.PROGRAM_DIR / "tamsel-update.exe").read_bytes(),
                         h.exe("tamsel-fake-updater.exe").read_bytes())
        self.assertFalse((h.PROGRAM_DIR / "tamsel-update.exe.new").exists())
        wait_for(lambda: "setup mutex" in record(), what="the new updater's record")
        self.assertEqual(record().splitlines()[0],
                         'command line: "C:\\Program Files\\Tamsel\\tamsel-update.exe" /phase2')
        self.assertEqual(setup_log()[-4:], [
            "tamsel setup 2.0.0: tamsel-update.exe is still in use: waiting for it",
            "tamsel setup 2.0.0: tamsel-update.exe installed",
            "tamsel setup 2.0.0: installed-setup.exe left", "tamsel setup 2.0.0: done; starting phase two"])

    @unittest.skipUnless(SETUP_WITH_UPDATER.exists(), "built only where makensis is installed")
    def test_a_new_updater_that_fails_its_self_check_leaves_the_old_one(self):
        self.use_setup(SETUP_WITH_UPDATER)
        old = h.exe("tamsel-fake-updater.exe").read_bytes() + b"old"  # runs all the same
        (h.PROGRAM_DIR / "tamsel-update.exe").write_bytes(old)
        (h.PROGRAM_DIR / "selfcheck-exit.txt").write_text("10")  # read by the new one
        self.assertEqual(start_setup(*FLAGS, LOG_SWITCH).wait(timeout=h.RUN_TIMEOUT), 5)
        self.assert_installed()
        self.assertEqual((h.PROGRAM_DIR / "tamsel-update.exe").read_bytes(), old)
        self.assertFalse((h.PROGRAM_DIR / "tamsel-update.exe.new").exists())
        self.assertIn("tamsel setup 2.0.0: tamsel-update.exe.new failed its self-check (exit code 10): "
                      "the previous updater stays", setup_log())
        wait_for(lambda: "setup mutex" in record(), what="the old updater's phase two")

    def test_holds_the_mutex_while_it_waits_for_the_old_program_to_end(self):
        program = h.RunningProgram(seconds=15)  # ends by itself, like a program being forced out
        self.programs.append(program)
        program.wait_until_counted()
        setup = start_setup(*FLAGS, LOG_SWITCH)
        wait_for(lambda: "tamsel setup 2.0.0: Tamsel.exe is still in use: waiting for it" in setup_log(),
                 what="the setup program's retry")
        self.assertEqual(h.probe("gone", SETUP_MUTEX, "0"), ["held"])
        self.assertNotIn("command line", record())
        self.assertEqual(setup.wait(timeout=h.RUN_TIMEOUT), 0)
        self.assert_installed()
        wait_for(lambda: "setup mutex" in record(), what="the fake updater's record")

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
