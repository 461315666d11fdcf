"""Shared pieces of the end-to-end tier: the build's executables, the Wine
prefix of the build folder and its ProgramData, and bounded process runs."""
import os
import shutil
import subprocess
import time
import unittest
from pathlib import Path

BUILD_DIR = Path(os.environ.get("TAMSEL_BUILD_DIR", Path(__file__).resolve().parents[2] / "build" / "mingw"))
SOURCE_DIR = Path(os.environ.get("TAMSEL_SOURCE_DIR", Path(__file__).resolve().parents[2]))
PREFIX = BUILD_DIR / "wineprefix"
WINE_RUN = SOURCE_DIR / "tests" / "support" / "wine-run"
PROGRAM_DATA = PREFIX / "drive_c" / "ProgramData"
DATA_DIR = PROGRAM_DATA / "Tam_Sel"
UPDATE_DIR = DATA_DIR / "update"
UPDATE_MUTEX = "Global\\Tam_Sel.Update"

RUN_TIMEOUT = 120  # seconds; a pass that takes longer has hung


def exe(name: str) -> Path:
    return BUILD_DIR / name


def run(program: str, *args: str, timeout: float = RUN_TIMEOUT) -> int:
    """Runs a Windows program of the build under Wine and returns its exit code."""
    done = subprocess.run([str(WINE_RUN), "--prefix", str(PREFIX), str(exe(program)), *args],
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=timeout)
    return done.returncode


def fresh_folders(data_mode: int = 0o755, update_mode: int = 0o755, make_update: bool = True) -> None:
    """Makes the data and update folders anew, owned by the Wine user."""
    if DATA_DIR.exists():
        shutil.rmtree(DATA_DIR)
    DATA_DIR.mkdir(parents=True)
    if make_update:
        UPDATE_DIR.mkdir()
        UPDATE_DIR.chmod(update_mode)
    DATA_DIR.chmod(data_mode)


class Held:
    """A process of the test holding something (a mutex, a file) until it is
    ended by its own pid; it prints "held" once it does."""

    def __init__(self, *command: str):
        self.process = subprocess.Popen([str(WINE_RUN), "--prefix", str(PREFIX), *command],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)

    def __enter__(self):
        line = self.process.stdout.readline().strip()
        if line != "held":
            self.__exit__()
            raise RuntimeError(f"holder did not start: {line!r}")
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=20)
        self.process.stdout.close()
        return False


class HeldMutex(Held):
    """Another process holding a named mutex (a squatter on a name)."""

    def __init__(self, name: str = UPDATE_MUTEX, seconds: int = 60):
        super().__init__(str(exe("tamsel-hold-mutex.exe")), name, str(seconds))


class HeldExclusion(Held):
    """Another process holding the run exclusion of the update folder (its
    lock file, and the private mutex where the system has one) exactly as a
    running pass does."""

    def __init__(self, seconds: int = 60):
        super().__init__(str(exe("tamsel-bridge-probe.exe")), "hold-exclusion",
                         "C:\\ProgramData\\Tam_Sel\\update", str(seconds))


# --- the updater installed beside a stand-in main program, and its server

PROGRAM_DIR = PREFIX / "drive_c" / "Program Files" / "Tamsel"
SERVER_ROOT = BUILD_DIR / "e2e-server"
FEED_FILE = SERVER_ROOT / "tamsel" / "news.toml"
FILES_DIR = SERVER_ROOT / "tamsel" / "files"
FILES_PREFIX = "https://localhost/tamsel/files/"
KEYS = SOURCE_DIR / "tests" / "keys"


def standin(target: str) -> Path:
    return BUILD_DIR / "tests" / "standin" / target / "Tamsel.exe"


def install_program(main_program: str = "standin_v1_0_0", folder: Path = PROGRAM_DIR) -> None:
    """Puts the testbed, as tamsel-update.exe, and a stand-in Tamsel.exe (or
    none) into the program folder."""
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    shutil.copy2(exe("tamsel-testbed.exe"), folder / "tamsel-update.exe")
    # The probe's window helpers are copies of the probe, and a helper acts
    # only on the program beside its own executable.
    shutil.copy2(exe(PROBE), folder / PROBE)
    if main_program:
        shutil.copy2(standin(main_program), folder / "Tamsel.exe")


def run_updater(*args: str, timeout: float = RUN_TIMEOUT, folder: Path = PROGRAM_DIR) -> int:
    # No pipes: the setup program and the programs a raise starts outlive
    # the pass and would hold them open.
    done = subprocess.run([str(WINE_RUN), "--prefix", str(PREFIX), str(folder / "tamsel-update.exe"), *args],
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=timeout)
    return done.returncode


def feed_tool() -> Path:
    explicit = os.environ.get("TAMSEL_FEED_TOOL")
    if explicit:
        return Path(explicit)
    return SOURCE_DIR / "build" / "native" / "tools" / "tamsel-feed"


def publish_feed(document: str, key: str = "working") -> None:
    """Signs a document with a test key (tamsel-feed) and serves it as the feed."""
    FEED_FILE.parent.mkdir(parents=True, exist_ok=True)
    doc_path = SERVER_ROOT / "document.toml"
    doc_path.write_bytes(document.encode("utf-8"))
    subprocess.run([str(feed_tool()), "sign", str(KEYS / f"test-only-{key}.pem"), str(doc_path), str(FEED_FILE)],
                   check=True, stdout=subprocess.DEVNULL, timeout=60)


def publish_setup(name: str, body: bytes) -> str:
    FILES_DIR.mkdir(parents=True, exist_ok=True)
    (FILES_DIR / name).write_bytes(body)
    return FILES_PREFIX + name


def feed_document(version: str, url: str, sha256: str, size: int, extra: str = "", schema: int = 1) -> str:
    return (f"schema = {schema}\n"
            "[[item]]\n"
            "id = 7\n"
            "type = \"update\"\n"
            f"version = \"{version}\"\n"
            "en = { title = \"Tamsel " + version + "\", text = \"A better Tamsel.\" }\n"
            "[download]\n"
            f"version = \"{version}\"\n"
            f"url = \"{url}\"\n"
            f"sha256 = \"{sha256}\"\n"
            f"size = {size}\n" + extra)


# A feed's request for outcome reports, and the report paths a server saw.
REPORT = '[report]\nprefix = "https://localhost/tamsel/report/"\n'


def reports(server) -> list:
    return [r["path"] for r in server.requests() if r["path"].startswith("/tamsel/report/")]


def fresh_server_root() -> None:
    if SERVER_ROOT.exists():
        shutil.rmtree(SERVER_ROOT)
    (SERVER_ROOT / "tamsel" / "files").mkdir(parents=True)


def today() -> str:
    """The local date as the updater's last_try holds it."""
    return time.strftime("%Y-%m-%d")


def log_lines() -> list:
    """The log's lines without their time stamps: "message number"."""
    path = UPDATE_DIR / "updater.log"
    if not path.exists():
        return []
    text = path.read_bytes().decode("utf-8")
    assert text.endswith("\r\n") or text == "", repr(text[-40:])
    return [line.split(" ", 1)[1] for line in text.split("\r\n")[:-1]]


def state_bytes():
    path = UPDATE_DIR / "state.toml"
    return path.read_bytes() if path.exists() else None


def https_server(root):
    """The local update server serving `root` (the test run's shared one when
    there is one)."""
    import sys
    sys.path.insert(0, str(SOURCE_DIR / "tests" / "support"))
    import https_server as server_module
    return server_module.serve_folder(root)


class ServedCase(unittest.TestCase):
    """A scenario against the local update server: each test starts with
    fresh data folders, the updater beside a stand-in Tamsel.exe 1.0.0.0, and
    an empty feed."""

    @classmethod
    def setUpClass(cls):
        fresh_server_root()
        cls.server = https_server(SERVER_ROOT)
        cls.server.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)

    def setUp(self):
        self.server.reset()
        self.server.set_root(SERVER_ROOT)
        fresh_folders()
        install_program("standin_v1_0_0")
        FEED_FILE.unlink(missing_ok=True)


# --- the program's uninstall entry, where setup programs and the deployment
# kit find the program folder

PROGRAM_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tamsel"


def reg(*args: str) -> subprocess.CompletedProcess:
    return subprocess.run([str(WINE_RUN), "--prefix", str(PREFIX), "reg", *args],
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=RUN_TIMEOUT)


def program_location():
    """The InstallLocation of the program's uninstall entry, or None."""
    done = reg("query", PROGRAM_KEY, "/v", "InstallLocation")
    if done.returncode != 0:
        return None
    for line in done.stdout.decode("utf-8", "replace").splitlines():
        words = line.split(None, 2)
        if len(words) == 3 and words[0] == "InstallLocation":
            return words[2].rstrip("\r")
    return None


def set_program_location(windows_path) -> None:
    """Writes the uninstall entry's InstallLocation, or removes the entry (None)."""
    if windows_path is None:
        reg("delete", PROGRAM_KEY, "/f")
    else:
        reg("add", PROGRAM_KEY, "/v", "InstallLocation", "/d", windows_path, "/f").check_returncode()


# --- programs running in the session, and the bridge probe

PROGRAM_EXE_WINDOWS = "C:\\Program Files\\Tamsel\\Tamsel.exe"
UPDATE_DIR_WINDOWS = "C:\\ProgramData\\Tam_Sel\\update"
PROBE = "tamsel-bridge-probe.exe"


def probe(*args: str, timeout: float = RUN_TIMEOUT) -> list:
    """Runs the bridge probe and returns the words it printed. Its output goes
    to a file, not a pipe: programs that a raise starts may inherit the
    probe's standard handles and would hold a pipe open after it ended."""
    import tempfile
    with tempfile.TemporaryFile() as out:
        env = dict(os.environ, TAMSEL_STANDIN_SECONDS="60")  # for programs a raise starts
        installed = PROGRAM_DIR / PROBE
        program = installed if installed.exists() else exe(PROBE)
        code = subprocess.run([str(WINE_RUN), "--prefix", str(PREFIX), str(program), *args],
                              stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                              timeout=timeout, env=env).returncode
        out.seek(0)
        text = out.read().decode("utf-8", "replace")
    if code != 0:
        raise RuntimeError(f"probe {args} ended with {code}: {text}")
    return text.split()


def census(path: str = PROGRAM_EXE_WINDOWS) -> list:
    """The (process id, session) pairs the updater's census finds for the path."""
    words = probe("census", path)
    return list(zip(words[0::2], words[1::2]))


class RunningProgram:
    """A program started in the Wine session by this test (a stand-in
    Tamsel.exe, usually), waited for or ended when the test is done."""

    def __init__(self, windows_path: str = PROGRAM_EXE_WINDOWS, seconds: int = 60):
        env = dict(os.environ, TAMSEL_STANDIN_SECONDS=str(seconds))
        self.path = windows_path
        self.process = subprocess.Popen([str(WINE_RUN), "--prefix", str(PREFIX), windows_path],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, env=env)

    def wait_until_counted(self, window: bool = True, timeout: float = 30) -> None:
        """Until the census counts it and, unless told otherwise, its own
        window exists (a process is listed a moment before its window is made)."""
        deadline = time.monotonic() + timeout
        while not census(self.path) or (window and probe("window", self.path) != ["found"]):
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError(f"{self.path} did not come up")
            time.sleep(0.2)

    def exit_code(self, timeout: float = 30):
        return self.process.wait(timeout=timeout)

    def end(self) -> None:
        if self.process.poll() is None:
            probe("end", self.path)  # the Windows process, by the ids the census gives
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=20)


def end_programs(windows_path: str = PROGRAM_EXE_WINDOWS) -> None:
    """Ends what a test started indirectly (a raise starts the program through
    the shell): every instance the census finds at that path."""
    probe("end", windows_path)


def setup_program(target: str) -> bytes:
    """The bytes of a stand-in setup program (tests/standin)."""
    return (BUILD_DIR / "tests" / "standin" / target / "setup.exe").read_bytes()


PHASE_TWO_ENDINGS = ("phase two: nothing in flight", "rolled back", "rollback did not restore the version",
                     "setup did not install", "updated", "did not start: rollback not started",
                     "did not start, and there is no copy to roll back to", "state not written", "state unreadable")


def wait_for_phase_two(count: int = 1, timeout: float = 240) -> list:
    """Waits until phase two has ended `count` times (a rollback's own phase
    two is the second) and the single-instance mutex is free again; returns
    the log lines."""
    deadline = time.monotonic() + timeout
    while True:
        lines = log_lines()
        ended = sum(1 for line in lines if line.rsplit(" ", 1)[0] in PHASE_TWO_ENDINGS)
        if ended >= count and probe("gone", UPDATE_MUTEX, "60") == ["gone"]:
            return log_lines()
        if time.monotonic() > deadline:
            raise AssertionError(f"phase two did not end: {lines}")
        time.sleep(0.5)
