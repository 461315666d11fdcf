"""The updater's MSI (deploy/msi, built with wixl): its tables as msiinfo
shows them, and install, upgrade and uninstall with msiexec under Wine.

Wine's msiexec installs files, makes folders, writes the uninstall entry and
runs the custom actions, the updater's /prepare among them; its schtasks.exe
registers and deletes the task (a file in system32\\tasks, without triggers,
principal or command). What Wine cannot show is on the Windows check list in
docs/deployment.md."""
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness as h  # noqa: E402

PRODUCT_MSIS = sorted(h.BUILD_DIR.glob("tamsel-update-*.msi"))
KITS = sorted(h.BUILD_DIR.glob("tamsel-update-kit-*.zip"))
TEST_PKI = h.BUILD_DIR / "test-pki"
TESTBED_1 = h.BUILD_DIR / "msi" / "tamsel-update-testbed-1.0.0.msi"
TESTBED_2 = h.BUILD_DIR / "msi" / "tamsel-update-testbed-1.0.1.msi"
UPGRADE_CODE = "{86FCA7E9-B383-473D-8D43-399DB4E1BEEF}"
TASK_FILE = h.PREFIX / "drive_c" / "windows" / "system32" / "tasks" / "Tam Sel Update"
OTHER_DIR = h.PREFIX / "drive_c" / "Apps" / "Tam Sel"
OTHER_DIR_WINDOWS = "C:\\Apps\\Tam Sel"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
EVENT_SOURCE_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tam_Sel Update"

# Custom action types: run an executable named by a property (50) or an
# installed file (18), in the script (0x400), as the system account (0x800),
# errors ignored (0x40).
EXE_PROPERTY, EXE_FILE, IN_SCRIPT, NO_IMPERSONATE, ROLLBACK, CONTINUE = 50, 18, 0x400, 0x800, 0x100, 0x40


def msiinfo(*args: str) -> str:
    return subprocess.run(["msiinfo", *args], check=True, capture_output=True, text=True, timeout=60).stdout


def table(msi: Path, name: str) -> dict:
    """A table as msiinfo exports it: first column -> the other columns."""
    rows = [line.split("\t") for line in msiinfo("export", str(msi), name).splitlines()[3:]]
    return {row[0]: row[1:] for row in rows}


@unittest.skipUnless(PRODUCT_MSIS, "built only where wixl is installed")
class MsiTables(unittest.TestCase):
    msi = PRODUCT_MSIS[-1] if PRODUCT_MSIS else None

    def test_tables(self):
        tables = msiinfo("tables", str(self.msi)).split()
        for name in ("File", "Component", "Directory", "CustomAction", "InstallExecuteSequence",
                     "Upgrade", "RegLocator", "AppSearch"):
            self.assertIn(name, tables)

    def test_files_folders_and_the_program_entry(self):
        files = table(self.msi, "File")
        self.assertEqual(sorted(row[1] for row in files.values()), ["tamsel-update-task.xml", "tamsel-update.exe"])
        self.assertEqual(files["UpdaterExe"][0], "Updater")
        self.assertRegex(files["UpdaterExe"][3], r"^\d+\.\d+\.\d+\.\d+$")  # versioned: a repair keeps a newer one
        directories = {key: row[:2] for key, row in table(self.msi, "Directory").items()}
        self.assertEqual(directories["INSTALLDIR"], ["ProgramFiles64Folder", "Tamsel"])
        # The data folders are the updater's to make: none here inherits ProgramData's entries.
        self.assertFalse({"DATADIR", "UPDATEDIR"} & set(directories))
        for name, row in table(self.msi, "Component").items():
            self.assertTrue(int(row[2]) & 256, f"{name} is not a 64-bit component")
        self.assertEqual(table(self.msi, "RegLocator")["ProgramEntry"],
                         ["2", "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tamsel", "InstallLocation",
                          "18"])  # HKLM, raw value, 64-bit view
        self.assertEqual(table(self.msi, "AppSearch")["PROGRAMFOLDER"], ["ProgramEntry"])
        properties = table(self.msi, "Property")
        self.assertEqual(properties["UpgradeCode"], [UPGRADE_CODE])
        self.assertEqual(properties["ALLUSERS"], ["1"])
        # A standard user's repair cannot move the program folder.
        self.assertNotIn("INSTALLDIR", properties["SecureCustomProperties"][0].split(";"))
        self.assertIn("REMOVEDATA", properties["SecureCustomProperties"][0].split(";"))
        upgrades = [line.split("\t") for line in msiinfo("export", str(self.msi), "Upgrade").splitlines()[3:]]
        self.assertEqual({row[0] for row in upgrades}, {UPGRADE_CODE})
        # Older and equal versions (a rebuild) are replaced; newer ones refuse this package.
        version = properties["ProductVersion"][0]
        self.assertEqual(sorted((row[6], row[1], row[2], row[4]) for row in upgrades),
                         [("WIX_DOWNGRADE_DETECTED", version, "", "2"), ("WIX_UPGRADE_DETECTED", "", version, "513")])

    def test_custom_actions_prepare_the_folders_and_make_the_task(self):
        actions = table(self.msi, "CustomAction")
        self.assertNotIn("icacls", msiinfo("export", str(self.msi), "CustomAction").lower())
        expected = {
            "PrepareFolders": ["UpdaterExe", "/prepare"],
            "TaskCreate": ["SCHTASKS", '/Create /TN "Tam Sel Update" /XML "[INSTALLDIR]tamsel-update-task.xml" /F'],
            "TaskCommand": ["SCHTASKS", '/Change /TN "Tam Sel Update" /TR "\\"[INSTALLDIR]tamsel-update.exe\\""'],
            "TaskCreateRollback": ["SCHTASKS", '/Delete /TN "Tam Sel Update" /F'],
            "TaskDelete": ["SCHTASKS", '/Delete /TN "Tam Sel Update" /F'],
            "DataFoldersRemove": ["CMD", '/c rd /s /q "[CommonAppDataFolder]Tam_Sel"'],
        }
        for name, (prop, command) in expected.items():
            with self.subTest(name):
                self.assertEqual(actions[name][1:3], [prop, command])
        self.assertEqual(actions["FindSchtasks"][1:3], ["SCHTASKS", "[System64Folder]schtasks.exe"])
        self.assertEqual(actions["FindCmd"][1:3], ["CMD", "[System64Folder]cmd.exe"])

    def test_every_system_change_runs_in_the_script_as_the_system_account(self):
        actions = table(self.msi, "CustomAction")
        sequence = {name: (row[0], int(row[1])) for name, row in table(self.msi, "InstallExecuteSequence").items()}
        start, end = sequence["InstallInitialize"][1], sequence["InstallFinalize"][1]
        for name, row in actions.items():
            kind = int(row[0])
            if kind & 0x3F not in (EXE_PROPERTY, EXE_FILE):
                # Property setters find the tools after CostFinalize and the
                # program folder before it.
                self.assertLess(sequence[name][1], start, name)
                continue
            with self.subTest(name):
                self.assertTrue(kind & IN_SCRIPT and kind & NO_IMPERSONATE, f"{name}: type {kind}")
                self.assertTrue(start < sequence[name][1] < end, f"{name} at {sequence[name][1]}")
                # Only what uninstall or rollback may meet already gone is allowed to fail.
                self.assertEqual(bool(kind & CONTINUE), name in ("TaskDelete", "DataFoldersRemove",
                                                                 "TaskCreateRollback"))
        installing = [n for n in actions if sequence.get(n, ("", 0))[0].startswith("NOT REMOVE")]
        self.assertTrue(all(sequence[n][1] > sequence["InstallFiles"][1] for n in installing))
        self.assertEqual(sequence["InstallDirFromProgramEntry"][0], "PROGRAMFOLDER AND NOT INSTALLDIR")
        self.assertLess(sequence["InstallDirFromProgramEntry"][1], sequence["CostFinalize"][1])
        self.assertLess(sequence["TaskCreateRollback"][1], sequence["TaskCreate"][1])
        self.assertLess(sequence["PrepareFolders"][1], sequence["TaskCreate"][1])
        # A failed repair or upgrade leaves the task that was there.
        self.assertEqual(sequence["TaskCreateRollback"][0], "NOT REMOVE AND NOT Installed AND NOT WIX_UPGRADE_DETECTED")
        self.assertEqual(sequence["DataFoldersRemove"][0],
                         'REMOVE="ALL" AND REMOVEDATA="1" AND NOT UPGRADINGPRODUCTCODE')

    def test_the_task_definition_is_the_kits_in_utf16(self):
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run(["msiextract", "-C", folder, str(self.msi)], check=True, capture_output=True, timeout=60)
            carried = next(Path(folder).rglob("tamsel-update-task.xml")).read_bytes()
        self.assertTrue(carried.startswith(b"\xff\xfe"), "not UTF-16 LE with a byte order mark")
        self.assertNotIn("<!--", carried.decode("utf-16"))

        def canonical(text: str) -> str:
            root = ET.fromstring(text.replace('encoding="UTF-16"', ""))
            return ET.canonicalize(ET.tostring(root), strip_text=True)
        kit = (h.SOURCE_DIR / "deploy" / "tamsel-update-task.xml").read_text("utf-8")
        self.assertEqual(canonical(carried.decode("utf-16")), canonical(kit))


    @unittest.skipUnless(KITS, "built with the MSI")
    def test_the_kit_holds_the_updater_its_msi_the_scripts_and_the_templates(self):
        kit = KITS[-1]
        top = kit.name[:-len(".zip")]
        with zipfile.ZipFile(kit) as archive:
            names = sorted(n[len(top) + 1:] for n in archive.namelist() if not n.endswith("/"))
            self.assertEqual(archive.read(f"{top}/tamsel-update.exe"), h.exe("tamsel-update.exe").read_bytes())
        self.assertEqual(names, sorted([
            "README.txt", "detect-updater.ps1", "install-updater.ps1", "uninstall-updater.ps1",
            "tamsel-update-task.xml", "tamsel-update.exe", self.msi.name,
            "policy/tamsel-update.admx", "policy/en-US/tamsel-update.adml"]))

    @unittest.skipUnless(shutil.which("osslsigncode") and (TEST_PKI / "ca.key").exists(), "osslsigncode, test PKI")
    def test_the_signing_script_signs_the_msi_and_a_changed_byte_is_caught(self):
        with tempfile.TemporaryDirectory() as folder:
            folder = Path(folder)
            # A code-signing certificate of the test CA, for this test alone.
            (folder / "sign.ext").write_text("basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\n"
                                             "extendedKeyUsage=codeSigning\n")
            for command in (["req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                             "-subj", "/CN=Tamsel Test Code Signing (tests only)", "-keyout", "sign.key",
                             "-out", "sign.csr"],
                            ["x509", "-req", "-in", "sign.csr", "-CA", str(TEST_PKI / "ca.pem"), "-CAkey",
                             str(TEST_PKI / "ca.key"), "-set_serial", "7", "-days", "1", "-extfile", "sign.ext",
                             "-out", "sign.pem"]):
                subprocess.run(["openssl", *command], cwd=folder, check=True, capture_output=True, timeout=60)
            msi = folder / self.msi.name
            shutil.copy2(self.msi, msi)
            signed = subprocess.run(["bash", str(h.SOURCE_DIR / "scripts" / "sign-windows-binaries.sh"), "--cert",
                                     str(folder / "sign.pem"), "--key", str(folder / "sign.key"), "--ca",
                                     str(TEST_PKI / "ca.pem"), str(msi)], capture_output=True, text=True, timeout=120)
            self.assertEqual(signed.returncode, 0, signed.stderr)

            def verifies() -> bool:
                return subprocess.run(["osslsigncode", "verify", "-CAfile", str(TEST_PKI / "ca.pem"), "-in", str(msi)],
                                      capture_output=True, timeout=60).returncode == 0
            self.assertTrue(verifies())
            data = bytearray(msi.read_bytes())
            at = data.find(b"A newer Tamsel Update is already installed")  # in the string pool's stream
            self.assertGreater(at, 0)
            data[at] ^= 0x20
            msi.write_bytes(bytes(data))
            self.assertFalse(verifies())


class KitAgreement(unittest.TestCase):
    """No PowerShell runs here (Debian packages none): the scripts are kept
    small and go on the Windows check list. What they share with the MSI and
    the NSIS example is checked here, where a change in one place alone
    would go unnoticed."""

    def test_one_task_name_one_program_entry_one_relaunch(self):
        deploy = h.SOURCE_DIR / "deploy"
        scripts = {name: (deploy / f"{name}-updater.ps1").read_text("utf-8") for name in ("install", "uninstall", "detect")}
        key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tamsel"

        def relaunch(text: str) -> str:  # the 64-bit restart each script carries
            start = text.index("if ([Environment]::Is64BitOperatingSystem")
            return text[start:text.index("exit $LASTEXITCODE", start)]
        for name, text in scripts.items():
            with self.subTest(name):
                self.assertIn("$TaskName = 'Tam Sel Update'", text)
                self.assertEqual(relaunch(text), relaunch(scripts["install"]))
        for name in ("install", "uninstall"):
            self.assertIn(f"$ProgramKey = '{key}'", scripts[name])
        self.assertIn(f'!define PROGRAM_KEY "{key.replace("SOFTWARE", "Software")}"',
                      (deploy / "nsis" / "tamsel-setup.nsi").read_text("utf-8"))
        self.assertIn(f'Key="{key.replace("SOFTWARE", "Software")}"',
                      (deploy / "msi" / "tamsel-update.wxs").read_text("utf-8"))


def msiexec(*args: str) -> int:
    return subprocess.run([str(h.WINE_RUN), "--prefix", str(h.PREFIX), "msiexec", *args, "/qn"],
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=h.RUN_TIMEOUT).returncode


def windows(path: Path) -> str:
    return "Z:" + str(path).replace("/", "\\")


def installed_versions() -> list:
    """DisplayVersion of every uninstall entry named "Tamsel Update"."""
    done = h.reg("query", UNINSTALL_KEY, "/s")
    versions, name = [], None
    for line in done.stdout.decode("utf-8", "replace").splitlines():
        words = line.split(None, 2)
        if line.startswith("HKEY_"):
            name = None
        elif len(words) == 3 and words[0] == "DisplayName":
            name = words[2].strip()
        elif len(words) == 3 and words[0] == "DisplayVersion" and name == "Tamsel Update":
            versions.append(words[2].strip())
    return versions


@unittest.skipUnless(TESTBED_1.exists() and TESTBED_2.exists(), "built only where wixl is installed")
class MsiUnderWine(h.ServedCase):
    """The package around the testbed, so that a pass can run from where it
    installed it."""

    def setUp(self):
        super().setUp()
        shutil.rmtree(h.PROGRAM_DIR)
        shutil.rmtree(h.DATA_DIR)  # the package makes the folders
        h.set_program_location(None)
        self.addCleanup(h.set_program_location, None)
        self.addCleanup(shutil.rmtree, OTHER_DIR, ignore_errors=True)
        # Whatever a failed test left installed goes, the newer first.
        self.addCleanup(msiexec, "/x", windows(TESTBED_1))
        self.addCleanup(msiexec, "/x", windows(TESTBED_2))

    def test_installs_where_the_program_is_upgrades_in_place_and_uninstalls_keeping_the_data(self):
        h.install_program("standin_v1_0_0", OTHER_DIR)
        # The program alone, as the vendor's setup leaves it: the package brings the updater.
        (OTHER_DIR / "tamsel-update.exe").unlink()
        (OTHER_DIR / h.PROBE).unlink()
        h.set_program_location(OTHER_DIR_WINDOWS)

        self.assertEqual(msiexec("/i", windows(TESTBED_1)), 0)
        self.assertEqual(sorted(p.name for p in OTHER_DIR.iterdir()),
                         ["Tamsel.exe", "tamsel-update-task.xml", "tamsel-update.exe"])
        self.assertEqual((OTHER_DIR / "tamsel-update.exe").read_bytes(), h.exe("tamsel-testbed.exe").read_bytes())
        self.assertFalse(h.PROGRAM_DIR.exists())
        self.assertTrue(h.UPDATE_DIR.is_dir())
        self.assertTrue(TASK_FILE.exists())
        self.assertEqual(installed_versions(), ["1.0.0"])
        # The event log source names the installed updater as its message file.
        source = h.reg("query", EVENT_SOURCE_KEY).stdout.decode("utf-8", "replace")
        self.assertRegex(source, r"EventMessageFile\s+REG_EXPAND_SZ\s+C:\\Apps\\Tam Sel\\tamsel-update\.exe")
        # A first pass from there accepts the folders the package made.
        self.assertEqual(h.run_updater(folder=OTHER_DIR), 0)
        self.assertEqual(h.log_lines(), ["feed request 0", "feed: no answer 404"])

        # A folder named like a file of the updater, planted meanwhile: the
        # upgrade's /prepare moves it aside and keeps the updater's files.
        (h.UPDATE_DIR / "state.toml.tmp").mkdir()
        self.assertEqual(msiexec("/i", windows(TESTBED_2)), 0)
        self.assertEqual(installed_versions(), ["1.0.1"])
        self.assertEqual(len(list(h.DATA_DIR.glob("state.toml.tmp.set-aside-*"))), 1)
        self.assertTrue((OTHER_DIR / "tamsel-update.exe").exists())
        self.assertTrue(TASK_FILE.exists())
        self.assertEqual(sorted(p.name for p in h.UPDATE_DIR.iterdir()), ["state.toml", "update.lock", "updater.log"])

        self.assertEqual(msiexec("/x", windows(TESTBED_2)), 0)
        self.assertEqual(installed_versions(), [])
        self.assertEqual(sorted(p.name for p in OTHER_DIR.iterdir()), ["Tamsel.exe"])
        self.assertFalse(TASK_FILE.exists())
        self.assertNotEqual(h.reg("query", EVENT_SOURCE_KEY).returncode, 0, "the event log source stayed")
        self.assertEqual(sorted(p.name for p in h.UPDATE_DIR.iterdir()), ["state.toml", "update.lock", "updater.log"])

    def test_without_a_program_entry_installs_in_program_files_a_rebuild_replaces_it_and_removedata_removes_the_data(self):
        self.assertEqual(msiexec("/i", windows(TESTBED_1)), 0)
        self.assertTrue((h.PROGRAM_DIR / "tamsel-update.exe").exists())
        self.assertTrue(h.UPDATE_DIR.is_dir())
        (h.UPDATE_DIR / "state.toml").write_bytes(b"working_key_revoked = false\r\n")
        # The same version built again has new product and package codes.
        rebuild = h.BUILD_DIR / "msi" / "rebuild.msi"
        shutil.copy2(TESTBED_1, rebuild)
        for change in (["-s", "Tamsel Update 1.0.0", "Tamsel", "x64;1033", "{0F6B3C1E-2A57-4C55-9E1B-6D8C2B1A7E31}"],
                       ["-q", "UPDATE `Property` SET `Value` = '{5C2D8E4A-1B3F-4A6E-8C7D-9E0F1A2B3C4D}' "
                              "WHERE `Property` = 'ProductCode'"]):
            subprocess.run(["msibuild", str(rebuild), *change], check=True, timeout=60)
        self.addCleanup(msiexec, "/x", windows(rebuild))
        self.assertEqual(msiexec("/i", windows(rebuild)), 0)
        self.assertEqual(installed_versions(), ["1.0.0"])
        self.assertEqual(msiexec("/x", windows(rebuild), "REMOVEDATA=1"), 0)
        self.assertFalse(h.DATA_DIR.exists())
        self.assertFalse((h.PROGRAM_DIR / "tamsel-update.exe").exists())
        self.assertFalse(TASK_FILE.exists())
        self.assertEqual(installed_versions(), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
