#!/usr/bin/python3
"""The window's peak memory with each General MIDI SoundFont given.

For each SoundFont, three runs: Harmolune starts under an X server of its own
(Xvfb) with that SoundFont bound over the default one in a mount namespace of
its own (root only), a piano key (La 4) and a guitar string (the low Mi) are
pressed through the accessibility bus, as a person with a screen reader would
press them, and once both have sounded the process's peak resident memory
(VmHWM) is read from /proc. Run it inside a private session bus, with
PULSE_SERVER naming a sound server:

    dbus-run-session -- /usr/bin/python3 memory-bench.py path/to/harmolune SOUNDFONT...

The program runs from a copy in a temporary folder, so that the octave file
it reads and writes beside itself is a scratch one (octave 4).
"""

import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

import pyatspi

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "testing"))
from atspi_support import XServer, find_all, poll, press  # noqa: E402

DEFAULT_SOUNDFONT = "/usr/share/sounds/sf2/default-GM.sf2"
RUNS = 3
# Long enough for the note to be rendered and heard, and for the memory it
# brings to be counted.
SOUNDING_S = 2.0


def press_button(root, name):
    found = find_all(root, pyatspi.ROLE_PUSH_BUTTON, name)
    if len(found) != 1:
        raise RuntimeError(f"{len(found)} buttons named {name!r}")
    press(found[0])


def status_kib(pid, field):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"no {field} for process {pid}")


def one_run(program, soundfont, display):
    """Peak and final resident memory in KiB of one run."""
    folder = tempfile.mkdtemp(prefix="harmolune-memory-")
    try:
        copy = os.path.join(folder, "harmolune")
        shutil.copy(program, copy)
        with open(os.path.join(folder, "Harmolune.ini"), "wb") as f:
            f.write(b"4\r\n")
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", XDG_RUNTIME_DIR=folder, HOME=folder)
        # unshare and sh exec into the program: the process is the window.
        process = subprocess.Popen(
            ["unshare", "--mount", "--propagation", "private", "sh", "-c",
             'mount --bind "$0" "$1" && exec "$2"', soundfont, DEFAULT_SOUNDFONT, copy],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            def window():
                for app in pyatspi.Registry.getDesktop(0):
                    if app is not None and app.get_process_id() == process.pid:
                        for top in app:
                            if top is not None and top.name == "Harmolune":
                                return top
                return None

            top = poll(window)
            if top is None:
                raise RuntimeError("the window did not appear on the accessibility bus")
            press_button(top, "La")
            time.sleep(SOUNDING_S)
            press_button(top, "Mi 2")
            time.sleep(SOUNDING_S)
            return status_kib(process.pid, "VmHWM"), status_kib(process.pid, "VmRSS")
        finally:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    program, soundfonts = sys.argv[1], sys.argv[2:]
    if os.geteuid() != 0:
        print("peak memory: not measured, binding a SoundFont over the default one needs root")
        return 0
    x_server = XServer()
    try:
        for soundfont in soundfonts:
            name = os.path.basename(soundfont)
            peaks, finals = [], []
            for _ in range(RUNS):
                peak, final = one_run(program, soundfont, x_server.display)
                peaks.append(peak / 1024)
                finals.append(final / 1024)
            print(f"peak memory with {name}, La 4 then the low Mi string: "
                  f"median {statistics.median(peaks):.1f} MiB, max {max(peaks):.1f} MiB "
                  f"(resident at the end {statistics.median(finals):.1f} MiB; {RUNS} runs)",
                  flush=True)
    finally:
        x_server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
