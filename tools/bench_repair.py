#!/usr/bin/python3
"""What a repair costs against its floor, for a benchmark run by hand.

The floor is what the repair cannot do without: the old components'
uninstallers and the new installers, run one after the other, and beside
them the progress dialog's own sequence (a second to come up, the four
stage texts a second each, "Finishing..." for a second once it has noticed
the end, and the shell's own time to close it), shown by the progress
tests' probe. The repair is the helper's whole run on the same profile: the same
installers, and everything the helper adds (the staging, the signature
checks, the restore points, the journal, the version reads, the log).

Each mode first puts the profile back to the outdated release (the same
work for both, so it adds to both alike), in a prefix of its own,
build/bench-prefix, with a Wine server kept for it:

  tools/bench_repair.py reset    only the reset (to subtract it)
  tools/bench_repair.py helper   the reset, then the helper's repair
  tools/bench_repair.py direct   the reset, then the floor

Run them paired under a virtual X display, e.g. with /usr/bin/time or any
tool that times whole commands, in the 64-bit test tree (build/wine-x64).
"""

import os
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_prefix  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
TREE = ROOT / "build" / "wine-x64"
KIT = TREE / "payloads" / "kit"
PREFIX = ROOT / "build" / "bench-prefix"
WINE = "/usr/lib/wine/wine64"
PACKAGE_ARGUMENTS = ["-msiInteractive:", "False",
                     "-kuhMSIProdCode:", "{6F1D2C3B-4A59-4E8D-9C71-2B3A4D5E6F70}"]
OLD_LAUNCHER = "{C112CAC3-0114-44E0-A8F1-C32E28969D64}"
NEW_LAUNCHER = "{BC0B1052-FEA3-4B1F-B3C0-9F60332010BA}"
PROGRESS_PROBE = TREE / "tests" / "bin" / "progress_probe.exe"


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def environment():
    return wine_prefix.environment(PREFIX)


def batch(lines):
    """Runs cmd lines in the prefix, one cmd process for all of them."""
    script = PREFIX / "bench.cmd"
    script.write_text("@echo off\r\n" + "\r\n".join(lines) + "\r\n")
    subprocess.run([WINE, "cmd", "/c", windows_path(script)], env=environment(),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


def start_wait(program, *arguments):
    return 'start /wait "" "' + program + '" ' + " ".join(arguments)


def reset():
    wine_prefix.make(PREFIX)
    wine_prefix.start_server(PREFIX)
    old = KIT / "old"
    batch([
        "start /wait msiexec /x " + NEW_LAUNCHER + " /qn",
        "start /wait msiexec /x " + OLD_LAUNCHER + " /qn",
        'rmdir /s /q "%APPDATA%\\Tessaly"',
        'rmdir /s /q "%APPDATA%\\Quarnel Networks"',
        start_wait(windows_path(old / "TYSetupClientInstaller_22.7.1_Tessaly.exe"), "/S"),
        start_wait(windows_path(old / "TYSetupClientInstaller_22.7.1_Quarnel.exe"), "/S"),
        "start /wait msiexec /i " + windows_path(old / "TessalyAppLauncher_22.7.1.msi") + " /qn",
    ])


def helper():
    subprocess.run([WINE, windows_path(TREE / "OrvaneUpgradeHelper.exe")] + PACKAGE_ARGUMENTS,
                   env=environment(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=False)


def direct():
    dialog = subprocess.Popen([WINE, windows_path(PROGRESS_PROBE), "four-stages"],
                              env=environment(), stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    folders = ["%APPDATA%\\Tessaly\\Setup Client", "%APPDATA%\\Quarnel Networks\\Setup Client"]
    batch([start_wait(folder + "\\uninstall.exe", "/S", "_?=" + folder) for folder in folders] + [
        "start /wait msiexec /x " + OLD_LAUNCHER + " /quiet /qn /norestart KVAL_SMS_PUSH=1",
        start_wait(windows_path(KIT / "TYSetupClientInstaller_22.7.3.exe"), "/S"),
        "start /wait msiexec /i " + windows_path(KIT / "TessalyAppLauncher.msi") +
        " /quiet /qn /norestart KVAL_SMS_PUSH=1",
    ])
    dialog.wait()


def main():
    modes = {"reset": [reset], "helper": [reset, helper], "direct": [reset, direct]}
    if len(sys.argv) != 2 or sys.argv[1] not in modes:
        sys.exit(__doc__)
    for step in modes[sys.argv[1]]:
        step()


if __name__ == "__main__":
    main()
