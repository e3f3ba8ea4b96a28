"""What the accessibility-bus test and the memory benchmark share: an X
server of their own, and pyatspi helpers that find, read and press the
window's controls as a screen reader would."""

import os
import subprocess
import time

import pyatspi
from gi.repository import GLib

TIMEOUT_S = 10.0


def poll(condition, timeout_s=TIMEOUT_S):
    """Returns condition()'s first true value, or None after timeout_s.

    A press takes effect on the program's next turn of its event loop, some
    0.1 s later; events from the bus are delivered meanwhile."""
    deadline = time.monotonic() + timeout_s
    while True:
        while GLib.MainContext.default().iteration(False):
            pass
        try:
            value = condition()
        except GLib.GError:  # an object that went away while being read
            value = None
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.02)


def walk(node):
    """Every object under node, but not the cells of a table: they are many,
    each a call on the bus, and are read through the table itself."""
    for child in node:
        if child is None:
            continue
        yield child
        if child.getRole() != pyatspi.ROLE_TABLE:
            yield from walk(child)


def find_all(root, role, name):
    return [n for n in walk(root) if n.getRole() == role and n.name == name]


def press(node):
    """Presses node through its accessible "Press" action."""
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) == "Press":
            action.doAction(i)
            return
    raise AssertionError(f"{node.name!r} has no press action")


class XServer:
    """Xvfb on the first free display, as Xvfb itself reports it."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            number = reader.readline().strip()
        if not number:
            self.stop()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
