"""Attacks on the updater, end to end under Wine. Each scenario names the
threat in its docstring and asserts the outcome the updater must have. The
testbed plays the system account (Wine cannot); everything else is real:
WinHTTP, CNG, the file system, processes and windows. See docs/threat-model.md."""
import hashlib
import os
import shutil
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness as h  # noqa: E402

SETUP = b"MZ" + b"stand-in setup program 2.0.0 " * 100  # no real program: a due update ends "setup not started"
FOLDER_REFUSED, ANOTHER_PASS = 4, 3


class Attacks(h.ServedCase):
    def setUp(self):
        super().setUp()
        self.url = h.publish_setup("setup-2.0.0.exe", SETUP)
        self.sha = hashlib.sha256(SETUP).hexdigest()

    def tearDown(self):
        h.end_programs()
        h.end_programs("C:\\Other\\Tamsel.exe")

    def offer(self, version="2.0.0", url=None, sha=None, size=None, extra="", key="working"):
        h.publish_feed(h.feed_document(version, url or self.url, sha or self.sha,
                                       len(SETUP) if size is None else size, extra), key)

    def pass_lines(self, *args, code=0):
        self.assertEqual(h.run_updater(*args), code, h.log_lines())
        return h.log_lines()

    def assert_nothing_fetched_for_the_setup(self):
        asked = [r for r in self.server.requests() if "/tamsel/files/" in str(r)]
        self.assertEqual(asked, [])

    def assert_no_installation(self):
        self.assertFalse((h.UPDATE_DIR / "setup.log").exists())
        self.assertNotIn(b"[pending]", h.state_bytes() or b"")

    # --- transport

    def test_an_untrusted_certificate(self):
        """A network attacker answers with a certificate of its own."""
        self.offer()
        self.server.set_certificate("untrusted")
        self.assertEqual(self.pass_lines(), ["feed request 0", "feed: no answer 12157"])

    def test_a_certificate_for_another_host(self):
        """A network attacker answers with a valid certificate for another name."""
        self.offer()
        self.server.set_certificate("wrongname")
        self.assertEqual(self.pass_lines(), ["feed request 0", "feed: no answer 12157"])

    def test_a_redirect_of_the_download_to_http(self):
        """The host (or an attacker in front of it) sends the download to plain HTTP."""
        target = h.FILES_DIR / "setup-2.0.0.exe"
        target.unlink()
        target.with_name("setup-2.0.0.exe.redirect").write_text(
            "http://localhost:%s/tamsel/files/copy.exe" % os.environ.get("TAMSEL_TEST_SERVER_CONTROL_PORT", "8444"))
        (h.FILES_DIR / "copy.exe").write_bytes(SETUP)
        self.offer()
        self.assertEqual(self.pass_lines(), ["feed request 0", "download refused: network or oversize 12156"])
        self.assertFalse((h.UPDATE_DIR / "downloaded-setup.exe").exists())

    def test_a_redirect_of_the_download_elsewhere_is_followed_but_the_digest_pins_the_content(self):
        """The files host moves the download to another https address (here the same
        server outside the files path: Wine's test PKI has one trusted name)."""
        target = h.FILES_DIR / "setup-2.0.0.exe"
        target.unlink()
        target.with_name("setup-2.0.0.exe.redirect").write_text("https://localhost/mirror/setup.exe")
        mirror = h.SERVER_ROOT / "mirror"
        mirror.mkdir()
        (mirror / "setup.exe").write_bytes(SETUP)
        self.offer()
        self.assertEqual(self.pass_lines()[:2], ["feed request 0", "download verified 0"])
        self.assertEqual((h.UPDATE_DIR / "downloaded-setup.exe").read_bytes(), SETUP)

        (mirror / "setup.exe").write_bytes(SETUP[:-1] + b"!")
        (h.UPDATE_DIR / "state.toml").unlink()
        self.assertEqual(self.pass_lines()[-1], "download refused: SHA-256 differs 0")

    def test_a_feed_answer_over_the_limit(self):
        """A hostile host sends an endless feed to exhaust memory."""
        document = h.feed_document("2.0.0", self.url, self.sha, len(SETUP), "# " + "x" * 262144 + "\n")
        h.publish_feed(document)
        self.assertEqual(self.pass_lines(), ["feed request 0", "feed: no answer 0"])

    def test_a_setup_body_longer_than_declared(self):
        """A hostile host appends bytes to the setup program (disk filling, or a
        longer program than the one signed for)."""
        self.offer(size=len(SETUP) - 10)
        self.assertEqual(self.pass_lines(), ["feed request 0", "download refused: network or oversize 0"])
        self.assertFalse((h.UPDATE_DIR / "downloaded-setup.part").exists())

    def test_a_server_that_stalls_for_ever(self):
        """A tarpit: the server accepts the connection and never answers the TLS handshake."""
        self.offer()
        self.server.stall_handshake = True  # until the next test's reset
        began = time.monotonic()
        self.assertEqual(self.pass_lines(), ["feed request 0", "feed: no answer 12157"])
        self.assertLess(time.monotonic() - began, 60)

    # --- content

    def test_a_tampered_feed(self):
        """A hostile host or mirror edits the signed document."""
        self.offer()
        h.FEED_FILE.write_bytes(h.FEED_FILE.read_bytes().replace(b"2.0.0", b"2.0.1"))
        self.assertEqual(self.pass_lines(), ["feed request 0", "feed signature did not verify 0"])
        self.assert_nothing_fetched_for_the_setup()

    def test_a_feed_signed_with_an_unknown_key(self):
        """An attacker signs a feed with a key of its own."""
        key = h.SERVER_ROOT / "attacker.pem"
        subprocess.run([str(h.feed_tool()), "keygen", str(key)], check=True, stdout=subprocess.DEVNULL, timeout=60)
        document = h.SERVER_ROOT / "attacker.toml"
        document.write_bytes(h.feed_document("2.0.0", self.url, self.sha, len(SETUP)).encode())
        subprocess.run([str(h.feed_tool()), "sign", str(key), str(document), str(h.FEED_FILE)], check=True,
                       stdout=subprocess.DEVNULL, timeout=60)
        self.assertEqual(self.pass_lines(), ["feed request 0", "feed signature did not verify 0"])
        self.assert_nothing_fetched_for_the_setup()

    def test_an_old_feed_replayed_or_a_signed_downgrade(self):
        """An attacker replays a genuine older feed to hold the machine back or
        downgrade it; or a genuine feed offers an older version (a mistake or a
        stolen feed host). Either way the signature verifies and the offer is
        not newer than 1.0.0."""
        self.offer(version="0.9.0")
        self.assertEqual(self.pass_lines(), ["feed request 0", "nothing to install: not newer 0"])
        self.assert_nothing_fetched_for_the_setup()

    def test_a_stop_order_replayed_changes_nothing_more(self):
        """The reserve key's stop order is replayed day after day."""
        self.offer(key="reserve", extra="[stop]\nversions = [\"2.0.0\"]\nrevoke_working = true\n")
        self.pass_lines()
        state = h.UPDATE_DIR / "state.toml"
        taken = state.read_bytes()
        state.write_bytes(taken.replace(f"last_try = {h.today()}".encode(), b"last_try = 2000-01-01"))
        self.assertEqual(self.pass_lines()[-2:], ["feed request 0", "refused: the version is stopped 0"])
        self.assertEqual(state.read_bytes(), taken)

    def test_a_setup_program_swapped_on_the_server(self):
        """The files host serves another program under the signed name."""
        self.offer()
        (h.FILES_DIR / "setup-2.0.0.exe").write_bytes(SETUP[:-1] + b"!")
        self.assertEqual(self.pass_lines(), ["feed request 0", "download refused: SHA-256 differs 0"])
        self.assertFalse((h.UPDATE_DIR / "downloaded-setup.exe").exists())
        self.assert_no_installation()

    # --- local users

    def test_an_update_folder_users_could_write_is_refused_before_anything_is_downloaded(self):
        """A user replaces downloaded-setup.exe between the download and its run.
        Only a folder users can write makes that possible, and the guard refuses it."""
        self.offer()
        for folder in (h.UPDATE_DIR, h.DATA_DIR):
            with self.subTest(folder=folder.name):
                h.fresh_folders()
                folder.chmod(0o777)  # Wine grants Everyone change rights for o+w
                self.assertEqual(h.run_updater(), FOLDER_REFUSED)
                self.assertEqual(sorted(p.name for p in h.UPDATE_DIR.iterdir()), [])
        self.assert_nothing_fetched_for_the_setup()

    def test_folders_that_are_links_are_refused(self):
        """A user points the data or update folder somewhere else, to redirect the
        system account's writes."""
        self.offer()
        elsewhere = h.PREFIX / "drive_c" / "elsewhere"
        for link in ("update", "data"):
            with self.subTest(link=link):
                h.fresh_folders()
                if elsewhere.exists():
                    shutil.rmtree(elsewhere)
                elsewhere.mkdir()
                folder = h.UPDATE_DIR if link == "update" else h.DATA_DIR
                if link == "data":
                    (elsewhere / "update").mkdir()
                shutil.rmtree(folder)
                folder.symlink_to(elsewhere, target_is_directory=True)
                self.assertEqual(h.run_updater(), FOLDER_REFUSED)
                self.assertEqual([p.name for p in elsewhere.rglob("*") if p.is_file()], [])
                folder.unlink()

    def test_links_planted_in_a_refused_folder_write_nothing(self):
        """A user plants links under the names the updater writes, to make the system
        account overwrite a file of the user's choice."""
        victim = h.PREFIX / "drive_c" / "victim.txt"
        for name in ("updater.log", "state.toml.tmp", "downloaded-setup.part"):
            for kind in ("symbolic", "hard"):
                with self.subTest(name=name, kind=kind):
                    h.fresh_folders(update_mode=0o777)
                    victim.write_bytes(b"precious")
                    planted = h.UPDATE_DIR / name
                    planted.symlink_to(victim) if kind == "symbolic" else os.link(victim, planted)
                    self.offer()
                    self.assertEqual(h.run_updater(), FOLDER_REFUSED)
                    self.assertEqual(victim.read_bytes(), b"precious")

    def test_a_fake_program_window(self):
        """Another program shows a window of the class "Tamsel.Hidden": here a copy
        of Tamsel.exe from another folder. The window helper takes only a window
        whose process is the installed program, so with the program not running
        close mode asks nobody (7) and the copy is neither asked to close nor
        ended. (Window mode beside such a copy: the session bridge scenarios.)"""
        other = h.PREFIX / "drive_c" / "Other"
        other.mkdir(exist_ok=True)
        shutil.copy2(h.standin("standin_v1_0_0"), other / "Tamsel.exe")
        impostor = h.RunningProgram("C:\\Other\\Tamsel.exe")
        try:
            impostor.wait_until_counted()
            self.assertEqual(h.census(), [])  # not the installed program
            self.assertEqual(h.run_updater("/close"), 7)
            time.sleep(1)
            self.assertIsNone(impostor.process.poll())  # still running: nobody asked it to close
        finally:
            impostor.end()

    def test_a_reader_holding_the_state_file_stops_every_pass(self):
        """A user who can read state.toml opens it without delete sharing; the file
        cannot be replaced, so every pass ends "state not written". The deployment's
        folder permissions give users no access to the update folder, so this needs
        a folder the guard accepts only because users may read it."""
        self.offer()
        state = h.UPDATE_DIR / "state.toml"
        state.write_bytes(b"working_key_revoked = false\r\n")
        with h.Held(str(h.exe(h.PROBE)), "hold-file", h.UPDATE_DIR_WINDOWS + "\\state.toml", "60"):
            self.assertEqual(self.pass_lines(code=5), ["state not written 5"])
        self.assertEqual(state.read_bytes(), b"working_key_revoked = false\r\n")

    # --- named objects

    def test_a_user_holding_the_update_mutex_does_not_stop_updates(self):
        """Any user can create "Global\\Tam_Sel.Update" first and hold it. Passes
        exclude each other through a lock file in the update folder, which the guard
        has proven no user can write (and, on Windows, a mutex in a namespace only
        the system account can make); the old name decides nothing. Two passes
        still exclude each other while the squatter holds the name."""
        self.offer(version="1.0.0")
        with h.HeldMutex():
            self.assertEqual(h.run_updater(), 0)
            self.assertEqual(h.log_lines(), ["feed request 0", "nothing to install: not newer 0"])
            with h.HeldExclusion():
                self.assertEqual(h.run_updater(), ANOTHER_PASS)
        self.assertEqual(len(h.log_lines()), 2)

    def test_a_user_holding_the_setup_mutex_only_delays_phase_two(self):
        """A user holds "Global\\Tam_Sel.Setup", so phase two believes a setup still
        runs: it waits (at most 180 s, tested on the virtual clock) and then judges."""
        with h.HeldMutex("Global\\Tam_Sel.Setup", seconds=4):
            began = time.monotonic()
            self.assertEqual(h.run_updater("/phase2"), 0)
            waited = time.monotonic() - began
        self.assertGreater(waited, 2)
        self.assertEqual(h.log_lines(), ["phase two: nothing in flight 0"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
