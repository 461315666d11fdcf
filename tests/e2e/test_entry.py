"""The entry under Wine: account check, mode selection, the run exclusion
and the folder guard, on the real executables."""
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402

NOT_SYSTEM, ANOTHER_PASS, FOLDER_REFUSED = 2, 3, 4


def log_files():
    return sorted(p.name for p in harness.UPDATE_DIR.glob("updater.log*")) if harness.UPDATE_DIR.exists() else []


class ReleaseBuild(unittest.TestCase):
    def test_every_mode_ends_with_2_and_writes_no_log_line(self):
        # Wine's user is an administrator, never the system account.
        harness.fresh_folders()
        for args in ([], ["/close"], ["/window"], ["/phase2"], ["/close", "/window"]):
            with self.subTest(args=args):
                self.assertEqual(harness.run("tamsel-update.exe", *args), NOT_SYSTEM)
        self.assertEqual(log_files(), [])


class Testbed(unittest.TestCase):
    def test_another_pass_running_ends_a_check_run_with_3(self):
        harness.fresh_folders()
        with harness.HeldExclusion():
            for args in ([], ["/Close"], ["close"], ["/close "], ["/WINDOW"], ["/Phase2"]):
                with self.subTest(args=args):
                    self.assertEqual(harness.run("tamsel-testbed.exe", *args), ANOTHER_PASS)
            # The window helper never takes the exclusion: it must not wait for it.
            # With no program window anywhere, close mode ends with 7.
            for args in (["/close"], ["x", "/window", "/close"]):
                with self.subTest(args=args):
                    self.assertEqual(harness.run("tamsel-testbed.exe", *args), 7)
        self.assertEqual(log_files(), [])

    def test_a_missing_update_folder_is_refused_and_not_created(self):
        harness.fresh_folders(make_update=False)
        self.assertEqual(harness.run("tamsel-testbed.exe"), FOLDER_REFUSED)
        self.assertFalse(harness.UPDATE_DIR.exists())

    def test_a_missing_data_folder_is_refused_and_not_created(self):
        harness.fresh_folders()
        import shutil
        shutil.rmtree(harness.DATA_DIR)
        self.assertEqual(harness.run("tamsel-testbed.exe", "/phase2"), FOLDER_REFUSED)
        self.assertFalse(harness.DATA_DIR.exists())

    def test_a_folder_everyone_may_write_is_refused(self):
        for data_mode, update_mode in ((0o755, 0o757), (0o757, 0o755)):
            with self.subTest(data=oct(data_mode), update=oct(update_mode)):
                harness.fresh_folders(data_mode=data_mode, update_mode=update_mode)
                self.assertEqual(harness.run("tamsel-testbed.exe"), FOLDER_REFUSED)
                self.assertEqual(log_files(), [])

    def test_well_protected_folders_pass_the_guard(self):
        harness.fresh_folders()
        self.assertNotIn(harness.run("tamsel-testbed.exe"), (NOT_SYSTEM, ANOTHER_PASS, FOLDER_REFUSED))


if __name__ == "__main__":
    unittest.main(verbosity=2)
