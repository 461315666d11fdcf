"""Whole installations under Wine: a check run that downloads a stand-in
setup program, closes the running stand-in Tamsel.exe and starts the setup;
the setup installs the Tamsel.exe it carries and starts phase two, which
judges the result, starts the program again and rolls back when the new
version does not come up. Wine runs everything in session 1."""
import hashlib
import shutil
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness as h  # noqa: E402

S = "1"  # the one session Wine has
# The example NSIS setup program (deploy/nsis), carrying the stand-in 2.0.0
# and the next updater build (the testbed with a few bytes appended).
NSIS_SETUP = h.BUILD_DIR / "tests" / "standin" / "setup_nsis_v2_0_0_next_updater" / "tamsel-nsis-2.0.0.exe"
NEXT_UPDATER = h.BUILD_DIR / "tests" / "standin" / "next-updater" / "tamsel-update.exe"
# The program installed outside C:\Program Files, as its uninstall entry says.
OTHER_DIR = h.PREFIX / "drive_c" / "Apps" / "Tam Sel"
OTHER_DIR_WINDOWS = "C:\\Apps\\Tam Sel"


def update_files() -> list:
    return sorted(p.name for p in h.UPDATE_DIR.iterdir())


class Installation(h.ServedCase):
    def setUp(self):
        super().setUp()
        self.programs = []

    def tearDown(self):
        for program in self.programs:
            program.end()
        h.end_programs()

    def offer(self, setup, version="2.0.0"):
        body = h.setup_program(setup) if isinstance(setup, str) else setup
        url = h.publish_setup(f"tamsel-setup-{version}.exe", body)
        h.publish_feed(h.feed_document(version, url, hashlib.sha256(body).hexdigest(), len(body), h.REPORT))

    def keep_installed_setup(self, target="setup_v1_0_0"):
        (h.UPDATE_DIR / "installed-setup.exe").write_bytes(h.setup_program(target))

    def run_program(self, standin="standin_v1_0_0"):
        shutil.copy2(h.standin(standin), h.PROGRAM_DIR / "Tamsel.exe")
        program = h.RunningProgram()
        self.programs.append(program)
        program.wait_until_counted()
        return program

    def assert_program(self, standin, running=True):
        self.assertEqual((h.PROGRAM_DIR / "Tamsel.exe").read_bytes(), h.standin(standin).read_bytes())
        self.assertEqual(len(h.census()), 1 if running else 0)

    def assert_state(self, *lines):
        self.assertEqual(h.state_bytes(), "".join(line + "\r\n" for line in lines).encode())

    def assert_reported(self, *outcomes):
        self.assertEqual(h.reports(self.server), [f"/tamsel/report/{o}/1.0.0/2.0.0" for o in outcomes])

    def test_updated(self):
        self.keep_installed_setup()
        self.run_program()
        self.offer("setup_v2_0_0")
        self.assertEqual(h.run_updater(), 0)
        lines = h.wait_for_phase_two()
        self.assertEqual(lines, ["feed request 0", "download verified 0", f"close: asked politely {S}",
                                 f"close: the program closed by itself {S}", "setup started 0", "updated 0",
                                 "report sent 0"])
        self.assert_reported("updated")
        self.assert_program("standin_v2_0_0")
        self.assertEqual(update_files(), ["installed-setup.exe", "setup.log", "state.toml", "update.lock", "updater.log"])
        self.assertEqual((h.UPDATE_DIR / "installed-setup.exe").read_bytes(), h.setup_program("setup_v2_0_0"))
        self.assert_state("working_key_revoked = false", f"last_try = {h.today()}")

    @unittest.skipUnless(NSIS_SETUP.exists(), "built only where makensis is installed")
    def test_a_real_nsis_setup_program_updates_the_program_where_it_lives_and_phase_two_runs_the_new_updater(self):
        shutil.rmtree(h.PROGRAM_DIR)
        h.install_program("standin_v1_0_0", OTHER_DIR)
        h.set_program_location(OTHER_DIR_WINDOWS)
        self.addCleanup(shutil.rmtree, OTHER_DIR, ignore_errors=True)
        self.addCleanup(h.set_program_location, None)
        self.addCleanup(h.end_programs, f"{OTHER_DIR_WINDOWS}\\Tamsel.exe")
        self.keep_installed_setup()
        program = h.RunningProgram(f"{OTHER_DIR_WINDOWS}\\Tamsel.exe")
        self.programs.append(program)
        program.wait_until_counted()
        self.offer(NSIS_SETUP.read_bytes())
        self.assertEqual(h.run_updater(folder=OTHER_DIR), 0)
        self.assertEqual(h.wait_for_phase_two(), [
            "feed request 0", "download verified 0", f"close: asked politely {S}",
            f"close: the program closed by itself {S}", "setup started 0", "updated 0", "report sent 0"])
        self.assertEqual((OTHER_DIR / "Tamsel.exe").read_bytes(), h.standin("standin_v2_0_0").read_bytes())
        self.assertEqual(len(h.census(f"{OTHER_DIR_WINDOWS}\\Tamsel.exe")), 1)
        # The setup program put the next updater in place before it started
        # phase two from that path: "updated" is the new updater's verdict.
        self.assertEqual((OTHER_DIR / "tamsel-update.exe").read_bytes(), NEXT_UPDATER.read_bytes())
        self.assertIn("tamsel setup 2.0.0: tamsel-update.exe installed",
                      (h.UPDATE_DIR / "setup.log").read_text("ascii").splitlines())
        self.assertFalse(h.PROGRAM_DIR.exists())
        self.assertEqual(update_files(), ["installed-setup.exe", "setup.log", "state.toml", "update.lock", "updater.log"])
        self.assertEqual((h.UPDATE_DIR / "installed-setup.exe").read_bytes(), NSIS_SETUP.read_bytes())
        self.assert_state("working_key_revoked = false", f"last_try = {h.today()}")

    def test_a_program_that_ignores_the_close_message_is_ended_and_the_installation_goes_on(self):
        self.keep_installed_setup()
        self.run_program("standin_ignores_close")
        self.offer("setup_v2_0_0")
        self.assertEqual(h.run_updater(), 0)
        self.assertEqual(h.wait_for_phase_two(), [
            "feed request 0", "download verified 0", f"close: asked politely {S}", f"close: ended {S}",
            "setup started 0", "updated 0", "report sent 0"])
        self.assert_program("standin_v2_0_0")

    def test_setup_did_not_install(self):
        self.keep_installed_setup()
        self.run_program()
        self.offer("setup_nothing")
        self.assertEqual(h.run_updater(), 0)
        self.assertEqual(h.wait_for_phase_two()[-2:], ["setup did not install 0", "report sent 0"])
        self.assert_reported("not-installed")
        self.assert_program("standin_v1_0_0")  # raised again, still the old version
        self.assertEqual((h.UPDATE_DIR / "installed-setup.exe").read_bytes(), h.setup_program("setup_v1_0_0"))
        self.assertNotIn("rollback-setup.exe", update_files())
        self.assert_state("working_key_revoked = false", f"last_try = {h.today()}")

    def test_a_version_that_never_shows_its_window_is_rolled_back_and_refused_later(self):
        self.keep_installed_setup()
        self.run_program()
        self.offer("setup_v2_0_0_no_window")
        self.assertEqual(h.run_updater(), 0)
        lines = h.wait_for_phase_two(count=1, timeout=300)
        self.assertEqual(lines[4:], [
            "setup started 0", f"raise: the program's window did not appear or did not live {S}",
            f"close: asked politely {S}", f"close: ended {S}", "did not start: rollback started 0", "report sent 0",
            "rolled back 0"])
        self.assert_reported("rolled-back")
        self.assert_program("standin_v1_0_0")
        self.assertEqual((h.UPDATE_DIR / "installed-setup.exe").read_bytes(), h.setup_program("setup_v1_0_0"))
        self.assertNotIn("rollback-setup.exe", update_files())
        self.assert_state("working_key_revoked = false", 'failed = ["2.0.0"]', f"last_try = {h.today()}")

        # The next day the same offer is refused.
        state = h.UPDATE_DIR / "state.toml"
        state.write_bytes(state.read_bytes().replace(f"last_try = {h.today()}".encode(), b"last_try = 2000-01-01"))
        self.assertEqual(h.run_updater(), 0)
        self.assertEqual(h.log_lines()[-2:], ["feed request 0", "refused: the version failed here before 0"])

    def test_no_copy_to_roll_back_to(self):
        self.run_program()
        self.offer("setup_v2_0_0_no_window")
        self.assertEqual(h.run_updater(), 0)
        self.assertEqual(h.wait_for_phase_two(timeout=300)[-3:], [
            "setup started 0", f"raise: the program's window did not appear or did not live {S}",
            "did not start, and there is no copy to roll back to 0"])
        self.assert_reported()
        self.assert_state("working_key_revoked = false", 'failed = ["2.0.0"]', f"last_try = {h.today()}")

    def test_a_setup_that_cannot_be_started(self):
        self.keep_installed_setup()
        self.run_program()
        self.offer(b"MZ this is no program " * 50)
        self.assertEqual(h.run_updater(), 0)
        self.assertEqual(h.log_lines(), ["feed request 0", "download verified 0", f"close: asked politely {S}",
                                         f"close: the program closed by itself {S}", "setup not started 2",
                                         "report sent 0"])
        self.assert_reported("not-started")
        self.assert_program("standin_v1_0_0")  # closed for nothing, so started again
        self.assertEqual(update_files(), ["downloaded-setup.exe", "installed-setup.exe", "state.toml", "update.lock", "updater.log"])
        self.assert_state("working_key_revoked = false", f"last_try = {h.today()}")

    def test_a_setup_that_leaves_itself_but_never_installs_never_costs_the_good_copy(self):
        self.keep_installed_setup()
        self.run_program()
        self.offer("setup_nothing_left_behind")
        state = h.UPDATE_DIR / "state.toml"
        for day in (1, 2):
            if day == 2:  # the next day: the same offer, the same setup
                state.write_bytes(state.read_bytes().replace(f"last_try = {h.today()}".encode(), b"last_try = 2000-01-01"))
            self.assertEqual(h.run_updater(), 0)
            self.assertEqual(h.wait_for_phase_two(count=day)[-7:], [
                "feed request 0", "download verified 0", f"close: asked politely {S}",
                f"close: the program closed by itself {S}", "setup started 0", "setup did not install 0",
                "report sent 0"])
            self.assert_program("standin_v1_0_0")
            self.assertEqual((h.UPDATE_DIR / "installed-setup.exe").read_bytes(), h.setup_program("setup_v1_0_0"))
            self.assertNotIn("rollback-setup.exe", update_files())
        self.assertEqual(h.log_lines().count("setup did not install 0"), 2)

    def test_an_installation_over_an_hour_old_is_given_up_and_the_program_raised(self):
        since = int(time.time()) - 3700
        (h.UPDATE_DIR / "state.toml").write_bytes(
            ("working_key_revoked = false\r\n\r\n[pending]\r\nversion = \"2.0.0\"\r\nfrom = \"1.0.0\"\r\n"
             f"sessions = [{S}]\r\nrollback_copy = false\r\nrolling_back = false\r\nsince = {since}\r\n").encode())
        self.offer("setup_v1_0_0", version="1.0.0")
        self.assertEqual(h.run_updater(), 0)
        self.assertEqual(h.log_lines(), ["an installation did not finish 0", "feed request 0",
                                         "nothing to install: not newer 0"])
        self.assert_program("standin_v1_0_0")

    def test_phase_two_waits_for_a_pass_that_still_runs(self):
        """The setup program was quick (or an administrator runs a pass by hand):
        phase two meets the exclusion held, waits for it and then judges."""
        (h.UPDATE_DIR / "state.toml").write_bytes(
            ("working_key_revoked = false\r\n\r\n[pending]\r\nversion = \"2.0.0\"\r\nfrom = \"1.0.0\"\r\n"
             f"sessions = [{S}]\r\nrollback_copy = false\r\nrolling_back = false\r\nsince = {int(time.time())}\r\n"
             ).encode())
        shutil.copy2(h.standin("standin_v2_0_0"), h.PROGRAM_DIR / "Tamsel.exe")
        with h.HeldExclusion(seconds=5):
            began = time.monotonic()
            self.assertEqual(h.run_updater("/phase2"), 0)
            waited = time.monotonic() - began
        self.assertGreater(waited, 3)
        self.assertEqual(h.log_lines(), ["updated 0"])
        self.assert_program("standin_v2_0_0")
        self.assert_state("working_key_revoked = false")

    def test_phase_two_with_nothing_in_flight(self):
        (h.UPDATE_DIR / "downloaded-setup.exe").write_bytes(b"MZ")
        self.assertEqual(h.run_updater("/phase2"), 0)
        self.assertEqual(h.log_lines(), ["phase two: nothing in flight 0"])
        self.assertIn("downloaded-setup.exe", update_files())


if __name__ == "__main__":
    unittest.main(verbosity=2)
