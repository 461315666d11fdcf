"""The session bridge on real processes under Wine: the census, the window
helper's two modes, a close that needs force and a raise through the shell.
Wine runs everything in one session, so sessions other than the program's
own are a matter for the unit tier."""
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness as h  # noqa: E402

OTHER_FOLDER = h.PREFIX / "drive_c" / "Other"
OTHER_EXE_WINDOWS = "C:\\Other\\Tamsel.exe"


class SessionBridge(unittest.TestCase):
    def setUp(self):
        h.fresh_folders()
        h.install_program("standin_v1_0_0")
        self.programs = []

    def tearDown(self):
        for program in self.programs:
            program.end()
        h.end_programs()

    def start(self, target="standin_v1_0_0", path=h.PROGRAM_EXE_WINDOWS, folder=h.PROGRAM_DIR):
        import shutil
        folder.mkdir(parents=True, exist_ok=True)
        shutil.copy2(h.standin(target), folder / "Tamsel.exe")
        program = h.RunningProgram(path)
        self.programs.append(program)
        program.wait_until_counted()
        return program

    def test_the_census_ignores_letter_case_and_finds_no_program_of_another_folder(self):
        self.start()
        self.start(path=OTHER_EXE_WINDOWS, folder=OTHER_FOLDER)
        found = h.census("c:\\PROGRAM FILES\\tamsel\\TAMSEL.EXE")
        self.assertEqual(len(found), 1, found)
        self.assertEqual(len(h.census(OTHER_EXE_WINDOWS)), 1)
        self.assertEqual(h.census("C:\\Program Files\\Tamsel\\Tamsel2.exe"), [])

    def test_the_census_knows_the_program_under_another_spelling_of_its_path(self):
        self.start()
        link = h.PREFIX / "drive_c" / "TamselLink"  # a folder link Wine follows
        if link.is_symlink() or link.exists():
            link.unlink()
        link.symlink_to(h.PROGRAM_DIR, target_is_directory=True)
        try:
            self.assertEqual(len(h.census("C:\\TamselLink\\Tamsel.exe")), 1)
            self.assertEqual(h.census("C:\\TamselLink\\Tamsel2.exe"), [])
        finally:
            link.unlink()

    def test_close_mode_ends_a_running_program_and_fails_without_one(self):
        program = self.start()
        self.assertEqual(h.run_updater("/close"), 0)
        self.assertEqual(program.exit_code(), 0)  # it ended by itself, asked politely
        self.assertEqual(h.run_updater("/close"), 7)
        self.assertEqual(h.log_lines(), [])

    def test_window_mode_confirms_a_window_that_lives_and_refuses_one_replaced(self):
        self.start()
        began = time.monotonic()
        self.assertEqual(h.run_updater("/window"), 0)
        self.assertLess(time.monotonic() - began, 13)
        self.programs.pop().end()
        self.start("standin_replaces_window")  # replaces its window after 3 s
        self.assertEqual(h.run_updater("/window"), 8)

    def test_the_helper_acts_only_on_the_programs_window(self):
        # The program first, then a copy of it from another folder: the copy's
        # window is made last and comes first among the windows of the class.
        # The copy replaces its window 3 s after it starts, which a watch of
        # its window would report.
        program = self.start()
        self.start("standin_replaces_window", path=OTHER_EXE_WINDOWS, folder=OTHER_FOLDER)
        self.assertEqual(h.run_updater("/window"), 0)
        self.assertEqual(h.run_updater("/close"), 0)
        self.assertEqual(program.exit_code(), 0)
        self.assertEqual(len(h.census(OTHER_EXE_WINDOWS)), 1)  # the copy was left alone

    def test_a_program_that_ignores_the_request_is_ended_by_force(self):
        program = self.start("standin_ignores_close")
        session = h.census()[0][1]
        began = time.monotonic()
        self.assertEqual(h.probe("close", session, h.PROGRAM_EXE_WINDOWS, h.UPDATE_DIR_WINDOWS), ["true"])
        took = time.monotonic() - began
        self.assertEqual(program.exit_code(), 1)
        self.assertEqual(h.log_lines(), [f"close: asked politely {session}", f"close: ended {session}"])
        print(f"close by force took {took:.1f} s", file=sys.stderr)

    def test_a_raise_starts_the_program_through_the_shell_and_confirms_its_window(self):
        self.assertEqual(h.census(), [])
        began = time.monotonic()
        self.assertEqual(h.probe("raise", h.PROGRAM_EXE_WINDOWS, h.UPDATE_DIR_WINDOWS, "1"), ["true"])
        took = time.monotonic() - began
        self.assertEqual(len(h.census()), 1)
        self.assertEqual(h.log_lines(), [])
        print(f"raise took {took:.1f} s", file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
