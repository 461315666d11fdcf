"""Shared pieces of the end-to-end tier: the build's executables, the Wine
prefix of the build folder and its ProgramData, and bounded process runs."""
import os
import shutil
import subprocess
import time
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


class HeldMutex:
    """Another process holding a named mutex, ended by its own pid."""

    def __init__(self, name: str = UPDATE_MUTEX, seconds: int = 60):
        self.process = subprocess.Popen(
            [str(WINE_RUN), "--prefix", str(PREFIX), str(exe("tamsel-hold-mutex.exe")), name, str(seconds)],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    def __enter__(self):
        deadline = time.monotonic() + 60
        line = self.process.stdout.readline().strip()
        if line != "held" or time.monotonic() > deadline:
            self.__exit__()
            raise RuntimeError(f"mutex holder did not take the mutex: {line!r}")
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
