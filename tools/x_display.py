#!/usr/bin/python3
"""A virtual X display (Xvfb) for the tests, which show the shell's progress
dialog and other windows.

  x_display.py start FILE   start one on a free display number; FILE then
                            names it (":N") and the server's process id
  x_display.py stop FILE    stop the one FILE names

The test tree's fixture x_display calls these; tools/wine_run.py reads FILE.
A display a stopped run left is stopped before a new one starts.
"""

import os
import select
import signal
import subprocess
import sys
import time
from pathlib import Path

SCREEN = "1280x1024x24"
# How long Xvfb may take to come up, and to end.
START_SECONDS = 30
STOP_SECONDS = 10


def recorded(file):
    """(display, pid) that FILE names, or None."""
    try:
        display, pid = Path(file).read_text().split()
        return display, int(pid)
    except (OSError, ValueError):
        return None


def is_xvfb(pid):
    """Whether pid is a running Xvfb (not one that has ended unreaped)."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            name, state = stat.read().rsplit(")", 1)
            return name.endswith("(Xvfb") and state.split()[0] != "Z"
    except OSError:
        return False


def stop(file):
    known = recorded(file)
    Path(file).unlink(missing_ok=True)
    if known is None or not is_xvfb(known[1]):
        return
    pid = known[1]
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + STOP_SECONDS
    while is_xvfb(pid):
        if time.monotonic() > deadline:
            os.kill(pid, signal.SIGKILL)
            break
        time.sleep(0.02)


def start(file):
    stop(file)
    Path(file).parent.mkdir(parents=True, exist_ok=True)
    read_end, write_end = os.pipe()
    # -displayfd: Xvfb picks a free number and writes it once it accepts
    # connections. Its own session and no inherited output, so that ctest
    # does not wait for it.
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN, "-nolisten", "tcp"],
        pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, start_new_session=True)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + START_SECONDS
    with os.fdopen(read_end, "rb") as pipe:
        while not number.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or server.poll() is not None:
                server.kill()
                sys.exit(f"x_display: Xvfb did not come up within {START_SECONDS} s")
            ready, _, _ = select.select([pipe], [], [], remaining)
            if ready:
                chunk = os.read(pipe.fileno(), 16)
                if not chunk:
                    server.kill()
                    sys.exit("x_display: Xvfb ended before it named its display")
                number += chunk
    display = f":{number.decode().strip()}"
    Path(file).write_text(f"{display} {server.pid}\n")
    print(f"X display {display} (Xvfb, pid {server.pid})")


def main(argv):
    if len(argv) == 3 and argv[1] in ("start", "stop"):
        (start if argv[1] == "start" else stop)(argv[2])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
