#!/usr/bin/python3
"""The Wine prefixes the tests and the demo run in, and their Wine servers.

  wine_prefix.py make TEMPLATE         make the 64-bit (WOW64) prefix TEMPLATE,
                                       or bring one to the settings below
  wine_prefix.py ready TEMPLATE        exit 0 when TEMPLATE has them
  wine_prefix.py copies TEMPLATE ROOT N
                                       fresh copies of TEMPLATE: ROOT/base, where
                                       most tests run side by side, and
                                       ROOT/lane1..N, one for each test that
                                       changes the prefix user's components;
                                       each gets a Wine server of its own that
                                       stays up until `stop`
  wine_prefix.py stop ROOT             stop the Wine servers of ROOT's prefixes

The test tree's fixtures call `make` (fixture wine_prefix), `copies` and
`stop` (fixture wine_prefixes); scripts/test makes the template while the
builds run, and scripts/demo makes its own prefix.
"""

import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

WINE64 = "/usr/lib/wine/wine64"
SERVER = "/usr/lib/wine/wineserver64"
SERVER_NAMES = ("wineserver64", "wineserver")

# Marks a template made with the settings below; its number changes when they
# do. A prefix without it (an older template, or a prefix tests ran in) is
# made afresh: copies start from what `wineboot` and the settings leave.
STAMP = "remedion-template-1"
# Xvfb has no window manager: Wine then draws the window frames itself, so
# the progress dialog shows its title. No crash debugger: a crashing program
# would wait in winedbg until its test timed out, or be ended by it with
# exit code 0; Wine starts winedbg when no debugger is named, so one is named
# that exists nowhere, and a crash ends its program at once with the
# exception's code (in both registry views: Wow6432Node is the 32-bit one).
SETTINGS = r"""Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"="no-crash-debugger"

[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"="no-crash-debugger"
"""

# Files a copy shares with the template through a hard link: Wine's own
# programs, libraries and tables, which nothing but a Wine update writes
# (600 MiB of the prefix). Everything else, the registry and the users'
# folders among it, is copied.
SHARED_SUFFIXES = {".dll", ".exe", ".nls", ".sys", ".drv", ".ocx", ".cpl", ".acm", ".tlb",
                   ".ax", ".com", ".icm"}
SHARED_FOLDER = Path("drive_c/windows")
# Debian's Wine notes in the prefix where its server lives now: not copied.
SERVER_NOTE = "wineserver"

# Where tools/wine_run.py notes the programs it ran again after their
# server died, in the folder of the copies; each run starts it afresh.
CRASH_NOTES = "server-crashes"

# How long a Wine server may take to end when told to.
SERVER_STOP_SECONDS = 30


def environment(prefix):
    """The environment Wine runs in for prefix."""
    return dict(os.environ, WINEPREFIX=str(prefix), WINEARCH="win64", WINEDEBUG="-all",
                WINEDLLOVERRIDES="mscoree,mshtml=", WINESERVER=SERVER)


def is_ready(prefix):
    prefix = Path(prefix)
    return (prefix / "system.reg").is_file() and (prefix / STAMP).is_file()


def make(prefix):
    prefix = Path(prefix)
    env = environment(prefix)
    if not is_ready(prefix):
        stop_servers(prefix)
        shutil.rmtree(prefix, ignore_errors=True)
        print(f"creating Wine prefix {prefix}", flush=True)
        prefix.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run([WINE64, "wineboot", "-i"], env=env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        settings = prefix / "drive_c" / "remedion-settings.reg"
        settings.write_text(SETTINGS.replace("\n", "\r\n"), encoding="utf-16")
        subprocess.run([WINE64, "regedit", "/S", "C:\\remedion-settings.reg"], env=env,
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        settings.unlink()
        # The registry is on disk once the server has ended.
        subprocess.run([SERVER, "-w"], env=env, check=True)
        (prefix / STAMP).touch()
    elif server_pid(prefix):
        # A server left running in the template (a demo or a test by hand)
        # may hold registry changes not yet written: copies need them on disk.
        stop_servers(prefix)


def holds_server_lock(pid):
    """Whether process pid holds the write lock on its server folder's lock
    file, as the one running server does. A server started while another
    runs (two programs starting one at the same moment) opens the file too,
    fails to lock it and ends at once: it never served a program."""
    fd_folder = f"/proc/{pid}/fd"
    for fd in os.listdir(fd_folder):
        if os.path.basename(os.readlink(f"{fd_folder}/{fd}")) != "lock":
            continue
        with open(f"/proc/{pid}/fdinfo/{fd}") as info:
            for line in info:
                fields = line.split()
                if fields[:1] == ["lock:"] and "WRITE" in fields and str(pid) in fields:
                    return True
    return False


def server_pid(prefix):
    """The process id of the Wine server of prefix, or None when none runs.

    The server works in a folder named after the prefix's device and inode,
    server-<device>-<inode> in hex, and holds the lock in it."""
    try:
        status = os.stat(prefix)
    except FileNotFoundError:
        return None
    folder = f"server-{status.st_dev:x}-{status.st_ino:x}"
    for entry in os.scandir("/proc"):
        if not entry.name.isdigit():
            continue
        try:
            with open(f"/proc/{entry.name}/comm") as comm:
                if comm.read().strip() not in SERVER_NAMES:
                    continue
            if (os.path.basename(os.readlink(f"/proc/{entry.name}/cwd")) == folder
                    and holds_server_lock(entry.name)):
                return int(entry.name)
        except OSError:
            continue
    return None


def start_server(prefix):
    """A Wine server for prefix that stays up with no program connected."""
    # -p: persistent; the server forks into the background and is ready when
    # this returns. One already running is kept (the call then fails).
    subprocess.run([SERVER, "-p"], env=environment(prefix), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop_servers(*prefixes):
    """Stops the Wine servers of the prefixes, side by side, and waits until
    they have ended (having written their registries)."""
    running = {prefix: server_pid(prefix) for prefix in prefixes}
    running = {prefix: pid for prefix, pid in running.items() if pid is not None}
    # -k15: the programs still connected get SIGTERM, then the server ends.
    for killer in [subprocess.Popen([SERVER, "-k15"], env=environment(prefix),
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL) for prefix in running]:
        killer.wait()
    deadline = time.monotonic() + SERVER_STOP_SECONDS
    for prefix, pid in running.items():
        while process_alive(pid):
            if time.monotonic() > deadline:
                sys.exit(f"wine_prefix: the Wine server of {prefix} (pid {pid}) did not end "
                         f"within {SERVER_STOP_SECONDS} s")
            time.sleep(0.02)


def process_alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            # One that has ended but not been reaped is a zombie (Z).
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def prefixes(root):
    root = Path(root)
    if not root.is_dir():
        return []
    return sorted(p for p in root.iterdir() if (p / "system.reg").is_file())


def copy_prefix(template, copy):
    for folder, dirs, files in os.walk(template):
        source = Path(folder)
        relative = source.relative_to(template)
        target = copy / relative
        target.mkdir(exist_ok=True)
        shutil.copystat(source, target)
        shared = relative.is_relative_to(SHARED_FOLDER)
        for name in dirs + files:
            path = source / name
            if path.is_symlink():
                # dosdevices' drives: c: to ../drive_c, z: to /.
                os.symlink(os.readlink(path), target / name)
                if name in dirs:
                    dirs.remove(name)
            elif name in files:
                if relative == Path(".") and name == SERVER_NOTE:
                    continue
                if shared and path.suffix.lower() in SHARED_SUFFIXES:
                    os.link(path, target / name)
                else:
                    shutil.copy2(path, target / name)


def copies(template, root, lanes):
    template, root = Path(template), Path(root)
    if not is_ready(template):
        sys.exit(f"wine_prefix: {template} is not a prepared prefix (wine_prefix.py make)")
    stop(root)
    root.mkdir(parents=True, exist_ok=True)
    (root / CRASH_NOTES).write_text("")
    names = ["base"] + [f"lane{n}" for n in range(1, lanes + 1)]
    for name in names:
        copy = root / name
        shutil.rmtree(copy, ignore_errors=True)
        copy_prefix(template, copy)
        start_server(copy)
    print(f"prefixes {', '.join(names)} in {root}, copied from {template}, each with its "
          "Wine server")


def stop(root):
    stop_servers(*prefixes(root))


def main(argv):
    command, *args = argv[1:] or [None]
    # Wine takes only an absolute WINEPREFIX.
    args = [arg if arg.isdigit() else os.path.abspath(arg) for arg in args]
    if command in ("make", "ready") and len(args) == 1:
        if command == "ready":
            return 0 if is_ready(args[0]) else 1
        make(args[0])
    elif command == "copies" and len(args) == 3 and args[2].isdigit():
        copies(args[0], args[1], int(args[2]))
    elif command == "stop" and len(args) == 1:
        stop(args[0])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
