"""Downloads of the setup program in check runs under Wine: the offer in a
signed feed, the setup file on the local HTTPS server, and what is left in
the update folder afterwards."""
import hashlib
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness as h  # noqa: E402

VERIFIED = ["download verified 0", "setup not started 193"]
SETUP = bytes(range(256)) * 1000 + b"end of setup"


class Download(h.ServedCase):
    def setUp(self):
        super().setUp()
        self.final = h.UPDATE_DIR / "downloaded-setup.exe"
        self.partial = h.UPDATE_DIR / "downloaded-setup.part"

    def pass_with(self, served: bytes, size: int, sha256: str, name="setup-2.0.0.exe", url=None, extra=""):
        url = url or h.publish_setup(name, served)
        h.publish_feed(h.feed_document("2.0.0", url, sha256, size, extra))
        self.assertEqual(h.run_updater(), 0, h.log_lines())
        self.assertEqual(h.log_lines()[0], "feed request 0")
        return h.log_lines()[1:]

    # The bytes served are no program: a verified download ends "setup not started".
    def test_verified_replaces_an_earlier_setup_and_a_leftover_partial_file(self):
        self.final.write_bytes(b"earlier setup")
        self.partial.write_bytes(b"leftover of an interrupted run")
        lines = self.pass_with(SETUP, len(SETUP), hashlib.sha256(SETUP).hexdigest())
        self.assertEqual(lines, VERIFIED)
        self.assertEqual(self.final.read_bytes(), SETUP)
        self.assertFalse(self.partial.exists())

    def test_a_sha256_in_upper_case_matches(self):
        lines = self.pass_with(SETUP, len(SETUP), hashlib.sha256(SETUP).hexdigest().upper())
        self.assertEqual(lines, VERIFIED)

    def test_refusals_leave_the_earlier_setup_and_no_partial_file(self):
        changed = bytearray(SETUP)
        changed[1000] ^= 1
        good_sha = hashlib.sha256(SETUP).hexdigest()
        # The feed asks for reports: the release's own faults are reported, the network is not.
        refused = ["report sent 0"]
        cases = [
            ("one byte short", SETUP[:-1], len(SETUP), good_sha, ["download refused: size differs 0"] + refused),
            ("one byte long", SETUP + b"x", len(SETUP), good_sha, ["download refused: network or oversize 0"]),
            ("one byte changed", bytes(changed), len(SETUP), good_sha,
             ["download refused: SHA-256 differs 0"] + refused),
        ]
        for name, served, size, sha, lines in cases:
            with self.subTest(name):
                h.fresh_folders()
                self.server.reset()
                self.final.write_bytes(b"earlier setup")
                self.assertEqual(self.pass_with(served, size, sha, name=name.replace(" ", "-") + ".exe",
                                                extra=h.REPORT), lines)
                self.assertEqual(h.reports(self.server),
                                 ["/tamsel/report/download-refused/1.0.0/2.0.0"] * (lines[-1] == refused[0]))
                self.assertEqual(self.final.read_bytes(), b"earlier setup")
                self.assertFalse(self.partial.exists())

    def test_a_missing_setup_file(self):
        lines = self.pass_with(b"", len(SETUP), hashlib.sha256(SETUP).hexdigest(),
                               url=h.FILES_PREFIX + "not-there.exe")
        self.assertEqual(lines, ["download refused: network or oversize 404"])
        self.assertFalse(self.final.exists())
        self.assertFalse(self.partial.exists())

    def test_a_port_in_the_address_never_reaches_the_download(self):
        # The files-prefix rule refuses it before any transfer.
        lines = self.pass_with(SETUP, len(SETUP), hashlib.sha256(SETUP).hexdigest(),
                               url="https://localhost:443/tamsel/files/setup-2.0.0.exe")
        self.assertEqual(lines, ["refused: foreign address 0"])

    def test_exactly_16_mib_is_verified(self):
        big = bytes(range(256)) * 65536
        self.assertEqual(len(big), 16777216)
        lines = self.pass_with(big, len(big), hashlib.sha256(big).hexdigest(), name="big.exe")
        self.assertEqual(lines, VERIFIED)
        self.assertEqual(self.final.stat().st_size, 16777216)


if __name__ == "__main__":
    unittest.main(verbosity=2)
