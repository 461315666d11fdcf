"""The local HTTPS test server itself, seen from Python's own TLS client: the
parts the end-to-end tests lean on (a folder served and nothing outside it,
the certificate switch, the request log, the shared server's control)."""
import http.client
import os
import ssl
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from https_server import HttpsTestServer, RemoteTestServer, pattern  # noqa: E402


class HttpsServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        root = Path(cls.folder.name) / "root"
        (root / "tamsel" / "files").mkdir(parents=True)
        (root / "tamsel" / "news.toml").write_bytes(b"signature = \"x\"\n")
        (root / "tamsel" / "files" / "setup 1.exe").write_bytes(b"MZ" + bytes(5000))
        Path(cls.folder.name, "outside.txt").write_bytes(b"secret")
        cls.root = root
        # A port of its own: the test run's shared server may hold 443.
        cls.server = HttpsTestServer(root, port=0, lifetime=120).start()
        cls.tls = ssl.create_default_context(cafile=str(cls.server.pki_dir / "ca.pem"))

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.folder.cleanup()

    def setUp(self):
        self.server.reset()
        self.server.set_root(self.root)

    def get(self, path):
        connection = http.client.HTTPSConnection("localhost", self.server.port, context=self.tls, timeout=10)
        try:
            connection.request("GET", path, headers={"User-Agent": "Tamsel"})
            answer = connection.getresponse()
            return answer.status, answer.read()
        finally:
            connection.close()

    def test_files_of_the_folder_and_nothing_outside_it(self):
        self.assertEqual(self.get("/tamsel/news.toml"), (200, b"signature = \"x\"\n"))
        self.assertEqual(self.get("/tamsel/files/setup%201.exe"), (200, b"MZ" + bytes(5000)))
        for path in ("/../outside.txt", "/tamsel/../../outside.txt", "/%2e%2e/outside.txt", "/tamsel",
                     "/tamsel/missing.exe"):
            self.assertEqual(self.get(path)[0], 404, path)

    def test_generated_bodies(self):
        self.assertEqual(self.get("/bytes/70000"), (200, pattern(0, 70000)))
        self.assertEqual(self.get("/chunked/70000"), (200, pattern(0, 70000)))
        self.assertEqual(self.get("/status/500")[0], 500)
        with self.assertRaises(http.client.IncompleteRead):
            self.get("/length-short/1000")

    def test_certificate_switch_applies_to_new_connections(self):
        for name, reason in (("untrusted", "self-signed"), ("wrongname", "Hostname mismatch")):
            self.server.set_certificate(name)
            with self.assertRaisesRegex(ssl.SSLCertVerificationError, reason):
                self.get("/bytes/1")
        self.server.reset()
        self.assertEqual(self.get("/bytes/1"), (200, b"\x00"))

    def test_control_port_drives_the_server_like_the_object(self):
        remote = RemoteTestServer(self.server.control_port, port=self.server.port)
        self.assertTrue(remote.ping())
        other = Path(self.folder.name) / "other"
        other.mkdir(exist_ok=True)
        (other / "a.txt").write_bytes(b"other folder")
        remote.set_root(other)
        self.assertEqual(self.get("/a.txt"), (200, b"other folder"))
        remote.set_certificate("untrusted")
        with self.assertRaises(ssl.SSLError):
            self.get("/a.txt")
        remote.reset()
        self.get("/a.txt?x=1")
        self.assertEqual([(r["method"], r["path"]) for r in remote.requests()], [("GET", "/a.txt?x=1")])
        self.assertIn(["User-Agent", "Tamsel"], remote.requests()[0]["headers"])


if __name__ == "__main__":
    unittest.main()
