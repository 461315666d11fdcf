"""Check runs end to end under Wine: the testbed beside a stand-in Tamsel.exe
(file version 1.0.0.0), the local HTTPS update server, and feeds signed with
the test keys by tamsel-feed. Each scenario checks the exit code, the log
lines in order and the state file's bytes."""
import datetime
import hashlib
import os
import re
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness as h  # noqa: E402

SETUP = b"MZ" + b"stand-in setup program 2.0.0 " * 100


def machine_guid() -> str:
    """The prefix's MachineGuid, as wineboot wrote it into the registry file."""
    text = (h.PREFIX / "system.reg").read_text(encoding="utf-8", errors="replace")
    section = text.split("[Software\\\\Microsoft\\\\Cryptography]", 1)[1].split("\n[", 1)[0]
    return re.search(r'"MachineGuid"="([^"]+)"', section).group(1)


def pending_state(since: int) -> bytes:
    """A state file with an installation of 2.0.0 over 1.0.0 in flight since then."""
    return ("working_key_revoked = false\r\n\r\n[pending]\r\nversion = \"2.0.0\"\r\nfrom = \"1.0.0\"\r\n"
            f"sessions = []\r\nrollback_copy = false\r\nrolling_back = false\r\nsince = {since}\r\n").encode()


class CheckRun(h.ServedCase):
    def setUp(self):
        super().setUp()
        self.url = h.publish_setup("setup-2.0.0.exe", SETUP)
        self.sha = hashlib.sha256(SETUP).hexdigest()

    def offer(self, version="2.0.0", url=None, size=None, extra="", schema=1, key="working"):
        h.publish_feed(h.feed_document(version, url or self.url, self.sha, len(SETUP) if size is None else size,
                                       extra, schema), key)

    def run_pass(self, expected_code=0):
        day = h.today()
        code = h.run_updater()
        self.assertEqual(code, expected_code, h.log_lines())
        return day

    def assert_state(self, *lines):
        self.assertEqual(h.state_bytes(), "".join(line + "\r\n" for line in lines).encode())

    def test_no_state_file_fetches_and_writes_the_try(self):
        self.offer(version="1.0.0")
        day = self.run_pass()
        self.assertEqual(h.log_lines(), ["feed request 0", "nothing to install: not newer 0"])
        self.assert_state("working_key_revoked = false", f"last_try = {day}")

    def test_a_second_start_on_the_same_day_writes_nothing(self):
        self.offer(version="1.0.0")
        self.run_pass()
        log_before, state_before = h.log_lines(), h.state_bytes()
        self.run_pass()
        self.assertEqual(h.log_lines(), log_before)
        self.assertEqual(h.state_bytes(), state_before)

    def test_an_unreadable_state_file_ends_with_5_and_stays(self):
        broken = b"working_key_revoked = 1\r\n"
        (h.UPDATE_DIR / "state.toml").write_bytes(broken)
        self.run_pass(expected_code=5)
        self.assertEqual(h.log_lines(), ["state unreadable 0"])
        self.assertEqual(h.state_bytes(), broken)

    def test_no_feed_on_the_server(self):
        day = self.run_pass()
        self.assertEqual(h.log_lines(), ["feed request 0", "feed: no answer 0"])
        self.assert_state("working_key_revoked = false", f"last_try = {day}")

    def test_a_tampered_document_does_not_verify(self):
        self.offer()
        answer = h.FEED_FILE.read_bytes()
        h.FEED_FILE.write_bytes(answer.replace(b'size = ', b'size =  '))
        self.run_pass()
        self.assertEqual(h.log_lines(), ["feed request 0", "feed signature did not verify 0"])

    def test_a_newer_schema_is_refused(self):
        self.offer(schema=2)
        self.run_pass()
        self.assertEqual(h.log_lines(), ["feed request 0", "feed from a newer schema 0"])

    def test_a_working_key_feed_after_revocation(self):
        (h.UPDATE_DIR / "state.toml").write_bytes(b"working_key_revoked = true\r\n")
        self.offer()
        day = self.run_pass()
        self.assertEqual(h.log_lines(), ["feed request 0", "refused: the working key is revoked 0"])
        self.assert_state("working_key_revoked = true", f"last_try = {day}")

    def test_the_reserve_key_stops_the_offer_and_revokes_the_working_key(self):
        self.offer(key="reserve", extra="[stop]\nversions = [\"2.0.0\", \"1.9.0\"]\nrevoke_working = true\n")
        day = self.run_pass()
        self.assertEqual(h.log_lines(), ["feed request 0", "the reserve key spoke: [stop] taken in 0",
                                         "refused: the version is stopped 0"])
        self.assert_state("working_key_revoked = true", 'stopped = ["2.0.0", "1.9.0"]', f"last_try = {day}")

    def test_a_foreign_address_is_refused(self):
        self.offer(url="https://localhost/elsewhere/setup-2.0.0.exe")
        self.run_pass()
        self.assertEqual(h.log_lines(), ["feed request 0", "refused: foreign address 0"])

    def test_an_offer_over_16_mib_is_refused(self):
        self.offer(size=16777217)
        self.run_pass()
        self.assertEqual(h.log_lines(), ["feed request 0", "refused: over 16 MB 0"])

    def test_no_readable_version_in_the_main_program(self):
        h.install_program("standin_unversioned")
        self.offer()
        self.run_pass()
        self.assertEqual(h.log_lines(), ["feed request 0", "nothing to install: not newer 0"])

    def test_no_main_program_at_all(self):
        h.install_program(None)
        self.offer()
        self.run_pass()
        self.assertEqual(h.log_lines(), ["feed request 0", "nothing to install: not newer 0"])

    def test_an_installation_a_minute_old_is_in_flight(self):
        since = int(time.time()) - 60
        pending = pending_state(since)
        (h.UPDATE_DIR / "state.toml").write_bytes(pending)
        self.offer()
        self.run_pass()
        self.assertEqual(h.log_lines(), ["an installation is in flight 0"])
        self.assertEqual(h.state_bytes(), pending)

    def test_an_installation_two_hours_old_is_given_up_and_the_pass_goes_on(self):
        since = int(time.time()) - 7200
        (h.UPDATE_DIR / "state.toml").write_bytes(pending_state(since))
        self.offer(version="1.0.0")
        day = self.run_pass()
        self.assertEqual(h.log_lines(), ["an installation did not finish 0", "feed request 0",
                                         "nothing to install: not newer 0"])
        self.assert_state("working_key_revoked = false", f"last_try = {day}")

    def test_a_due_update_is_downloaded_and_verified(self):
        self.offer()
        self.run_pass()
        # SETUP is no program: the installation ends before anything is closed.
        self.assertEqual(h.log_lines(), ["feed request 0", "download verified 0", "setup not started 0"])
        self.assertEqual((h.UPDATE_DIR / "downloaded-setup.exe").read_bytes(), SETUP)
        self.assertFalse((h.UPDATE_DIR / "downloaded-setup.part").exists())

    def test_a_staged_offer_waits_for_this_machines_wave(self):
        guid = machine_guid()
        digest = hashlib.sha256(f"{guid.lower()}/2.0.0".encode()).digest()
        # A rollout length where this machine is not in the last wave, which an
        # unreadable MachineGuid would also give.
        days = next(d for d in (30, 29) if int.from_bytes(digest[:8], "big") % d != d - 1)
        wave = int.from_bytes(digest[:8], "big") % days
        due_today = datetime.date.today() - datetime.timedelta(days=wave)
        for start, lines in ((due_today + datetime.timedelta(days=1),
                              ["feed request 0", "nothing to install: not yet in the rollout 0"]),
                             (due_today, ["feed request 0", "download verified 0", "setup not started 0"])):
            with self.subTest(start=str(start)):
                for name in ("state.toml", "updater.log"):
                    (h.UPDATE_DIR / name).unlink(missing_ok=True)
                self.offer(extra=f"rollout_start = {start}\nrollout_days = {days}\n")
                day = self.run_pass()
                self.assertEqual(h.log_lines(), lines)
                self.assertIn(f"last_try = {day}".encode(), h.state_bytes())


if __name__ == "__main__":
    unittest.main(verbosity=2)
