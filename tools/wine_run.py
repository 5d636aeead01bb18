#!/usr/bin/python3
"""Runs a Windows test program under Wine and returns its exit code.

usage: wine_run.py PROGRAM [ARGUMENT...]

ctest starts every test program through it (the toolchain's emulator). The
test configuration (tests/CMakeLists.txt) names, in the environment:

  REMEDION_WINE_PREFIXES   the folder of the test prefixes (fixture wine_prefixes)
  WINELOADER               Wine's 32-bit loader for the 32-bit tree, its 64-bit
                           one for the 64-bit tree
  REMEDION_X_DISPLAY       the file naming the X display (fixture x_display)
  REMEDION_NEEDS_LANE      set for a test that changes the prefix user's
                           components: it runs in the lane ctest gave it
                           (RESOURCE_GROUPS lanes:1), <prefixes>/lane<id>;
                           every other program runs in <prefixes>/base

Wine 8's server has crashed under the parallel suite; every program still
talking to it then waits on its dead pipe for good. So the prefix's server
is watched while the program runs: a server never ends while a program is
connected to it, so one that is gone has died. The program is then stopped at
once, the crash noted in <prefixes>/server-crashes (scripts/test lists
them), and the program run once more on a new server; a second crash fails
the test. Nothing else is ever run again.

The program's output goes through a file: Wine's service processes, started
by the first program and kept by the server, inherit the output handles and
would hold a caller's pipe (ctest's) open for good.
"""

import os
import select
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_prefix  # noqa: E402

# How long a program may run before its server is known; the fixture started
# it, so it is normally found before the program starts.
SERVER_FIND_SECONDS = 30
SERVER_DIED = 222
# ctest's code for a test that could not run at all.
NOT_RUN = 125


def required(name):
    value = os.environ.get(name)
    if not value:
        sys.exit(f"wine_run: {name} is not set (the test configuration in tests/CMakeLists.txt "
                 "sets it; run the tests with ctest)")
    return value


def allocated_lane():
    """The lane ctest gave this test, from CTEST_RESOURCE_GROUP_0_LANES=id:N,slots:1."""
    if os.environ.get("CTEST_RESOURCE_GROUP_COUNT") != "1":
        return None
    fields = dict(part.split(":", 1) for part in
                  os.environ.get("CTEST_RESOURCE_GROUP_0_LANES", "").split(",") if ":" in part)
    return fields.get("id")


def choose_prefix():
    prefixes = Path(required("REMEDION_WINE_PREFIXES"))
    name = "base"
    if os.environ.get("REMEDION_NEEDS_LANE"):
        lane = allocated_lane()
        if lane is None:
            fail("this test needs a prefix lane and ctest gave it none (resource "
                 "allocation is off: was ctest given another list of resources than the tree's?)")
        name = f"lane{lane}"
    prefix = prefixes / name
    if not (prefix / "system.reg").is_file():
        fail(f"no prefix at {prefix}: the fixture wine_prefixes makes it (ctest runs it "
             "with any test that needs it)")
    return prefix


def display():
    path = Path(required("REMEDION_X_DISPLAY"))
    try:
        return path.read_text().split()[0]
    except (OSError, IndexError):
        fail(f"no X display named in {path}: the fixture x_display starts one")


def fail(message):
    print(f"wine_run: {message}", file=sys.stderr)
    sys.exit(NOT_RUN)


def wait_watched(child, prefix, output):
    """The child's exit code, or SERVER_DIED once the prefix's server has
    died and the child has been stopped."""
    server = wine_prefix.server_pid(prefix)
    deadline = time.monotonic() + SERVER_FIND_SECONDS
    while server is None:
        try:
            return child.wait(timeout=0.2)
        except subprocess.TimeoutExpired:
            pass
        server = wine_prefix.server_pid(prefix)
        if server is None and time.monotonic() > deadline:
            # Not watched, then; ctest's time limit still holds.
            return child.wait()
    try:
        server_fd = os.pidfd_open(server)
    except ProcessLookupError:
        server_fd = None
    child_fd = os.pidfd_open(child.pid)
    try:
        if server_fd is not None:
            ready, _, _ = select.select([child_fd, server_fd], [], [])
        if server_fd is None or (server_fd in ready and child_fd not in ready):
            output.write(f"wine_run: the Wine server of prefix {prefix} (pid {server}) died while "
                         f"{Path(child.args[1]).name} ran; the program is stopped\n".encode())
            child.kill()
            child.wait()
            return SERVER_DIED
        return child.wait()
    finally:
        os.close(child_fd)
        if server_fd is not None:
            os.close(server_fd)


def run_once(command, env, prefix):
    with tempfile.TemporaryFile() as output:
        child = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=output,
                                 stderr=subprocess.STDOUT)
        code = wait_watched(child, prefix, output)
        output.seek(0)
        sys.stdout.buffer.write(output.read())
        sys.stdout.flush()
    return code


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    prefix = choose_prefix()
    env = wine_prefix.environment(prefix)
    env["DISPLAY"] = display()
    command = [required("WINELOADER")] + argv[1:]
    print(f"wine_run: {Path(argv[1]).name} in {prefix}", flush=True)
    code = run_once(command, env, prefix)
    if code == SERVER_DIED:
        with open(prefix.parent / wine_prefix.CRASH_NOTES, "a") as notes:
            notes.write(f"{prefix} {' '.join(argv[1:])}\n")
        print(f"wine_run: running {Path(argv[1]).name} once more on a new Wine server",
              file=sys.stderr, flush=True)
        wine_prefix.start_server(prefix)
        code = run_once(command, env, prefix)
        if code == SERVER_DIED:
            print(f"wine_run: the Wine server of prefix {prefix} died again; giving up",
                  flush=True)
    # An exit code is one byte on Linux; Windows' are four (0xC0000005 ...).
    return code & 0xFF if code >= 0 else 128 - code


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, signal.SIG_DFL)
    sys.exit(main(sys.argv))
