#!/usr/bin/python3
"""The window as a screen reader sees it, through the real accessibility bus.

Starts its own X server (Xvfb), runs Harmolune on it with Qt's AT-SPI bridge
switched on, and reads the window with pyatspi as a screen reader would:
controls found by role and name, pressed through their accessible action,
the displays read by name, the octave by value, the warning box as an alert.
Run inside a private session bus, which also starts at-spi's own bus:

    dbus-run-session -- /usr/bin/python3 window_bus_test.py path/to/harmolune

The program runs from a copy in a temporary folder, so that the octave file
it reads and writes beside itself is a scratch one, and so is the data folder
where it keeps the piano's record. It is given a sound
server that does not exist, so that nothing is played and the sound tests
are not disturbed; the box saying that capture could not start is closed
like any other alert.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import pyatspi

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "testing"))
from atspi_support import XServer, find_all, poll, press, walk  # noqa: E402

PROGRAM = None  # the harmolune executable under test, from the command line

WARNING_TITLE = "Échantillonnage..."
NO_READING = "Aucune mesure fine"  # what the tuning display is called before any reading
WARNING_TEXT = ("Précisez d'abord quelle note va être échantillonnée\n"
                "en appuyant sur une touche du clavier ou une corde de la guitare")

# A piano with four keys measured over three octaves, each with its B: enough
# for a curve.
FOUR_KEYS = b"""{"version": 1, "style": "Standard", "keys": [
 {"midi": 45, "f1Hz": 109.9, "uncertaintyCents": 0.1, "inharmonicity": 0.00015},
 {"midi": 57, "f1Hz": 219.9, "uncertaintyCents": 0.1, "inharmonicity": 0.0003},
 {"midi": 69, "f1Hz": 440.1, "uncertaintyCents": 0.1, "inharmonicity": 0.0006},
 {"midi": 81, "f1Hz": 881.0, "uncertaintyCents": 0.2, "inharmonicity": 0.0012}]}
"""


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


class Harmolune:
    """One run of the program from a scratch folder, and its window on the bus."""

    def __init__(self, display, octave_file=b"5\r\n", piano=None):
        self.folder = tempfile.mkdtemp(prefix="harmolune-a11y-")
        program = os.path.join(self.folder, "harmolune")
        shutil.copy(PROGRAM, program)
        with open(os.path.join(self.folder, "Harmolune.ini"), "wb") as f:
            f.write(octave_file)
        data = os.path.join(self.folder, "data")
        if piano is not None:
            os.makedirs(os.path.join(data, "harmolune"))
            with open(os.path.join(data, "harmolune", "piano.json"), "wb") as f:
                f.write(piano)
        env = dict(os.environ,
                   DISPLAY=display, QT_QPA_PLATFORM="xcb",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   LANG="fr_FR.UTF-8", LC_ALL="fr_FR.UTF-8",
                   XDG_RUNTIME_DIR=self.folder, HOME=self.folder, XDG_DATA_HOME=data,
                   PULSE_SERVER="unix:" + os.path.join(self.folder, "no-sound-server"))
        self.log = open(os.path.join(self.folder, "log.txt"), "w+")
        self.process = subprocess.Popen([program], env=env, stdout=self.log,
                                        stderr=subprocess.STDOUT)
        try:
            self._find_window()
        except BaseException:
            self.remove()
            raise

    def _find_window(self):
        self.app = poll(self._application)
        if self.app is None:
            raise RuntimeError("harmolune did not appear on the accessibility bus")
        # The start-up box (capture could not start), if any, is closed first.
        self.startup_alert = None
        self.window = poll(self._window_or_alert)
        if self.window is not None and self.window.getRole() == pyatspi.ROLE_ALERT:
            self.startup_alert = (self.window.name, self.alert_texts(self.window))
            press(find_all(self.window, pyatspi.ROLE_PUSH_BUTTON, "OK")[0])
            self.window = poll(self._window)
        if self.window is None:
            raise RuntimeError("the window did not show")

    def _application(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.get_process_id() == self.process.pid:
                return app
        return None

    def _window(self):
        for top in self.app:
            if top is not None and top.name == "Harmolune" and showing(top) \
                    and top.getRole() != pyatspi.ROLE_ALERT:
                return top
        return None

    def _window_or_alert(self):
        return self.alert() or self._window()

    def alert(self):
        for top in self.app:
            if top is not None and top.getRole() == pyatspi.ROLE_ALERT and showing(top):
                return top
        return None

    @staticmethod
    def alert_texts(alert):
        return [n.name for n in walk(alert) if n.getRole() == pyatspi.ROLE_LABEL and n.name]

    def one(self, role, name):
        found = find_all(self.window, role, name)
        if len(found) != 1:
            raise AssertionError(f"{len(found)} {pyatspi.Role(role)} named {name!r}")
        return found[0]

    def displays(self):
        """The names of the four displays, left to right; None for one not
        found exactly once among the labels that show."""
        labels = [n.name for n in walk(self.window)
                  if n.getRole() == pyatspi.ROLE_LABEL and showing(n)]
        names = []
        for heading in ("Note", "Octave", "Fréquence référence", "Fréquence instrument"):
            found = [n for n in labels if n == heading or n.startswith(heading + " : ")]
            names.append(found[0] if len(found) == 1 else None)
        return names

    def stop(self):
        # What logging out does: SIGTERM, the octave saved, the window closed.
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()

    def octave_file(self):
        with open(os.path.join(self.folder, "Harmolune.ini"), "rb") as f:
            return f.read()

    def remove(self):
        self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)


X = None


def setUpModule():
    global X
    X = XServer()


def tearDownModule():
    X.stop()


class WindowOnTheBus(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.h = Harmolune(X.display)

    @classmethod
    def tearDownClass(cls):
        cls.h.remove()

    def set_octave(self, octave):
        bar = self.h.one(pyatspi.ROLE_SPIN_BUTTON, "Octave")
        bar.queryValue().currentValue = octave
        text = self.h.one(pyatspi.ROLE_TEXT, "Octave").queryText()
        self.assertTrue(poll(lambda: text.getText(0, -1) == str(octave)), f"octave {octave}")

    def choose(self, name, octave=None):
        if octave is not None:
            self.set_octave(octave)
        press(self.h.one(pyatspi.ROLE_PUSH_BUTTON, name))

    def test_the_window_is_a_frame_named_harmolune(self):
        self.assertEqual(self.h.window.getRole(), pyatspi.ROLE_FRAME)
        if self.h.startup_alert is not None:
            title, texts = self.h.startup_alert
            self.assertEqual(title, "Harmolune")
            self.assertTrue(texts and texts[0], "the start-up box says why")

    def test_every_control_has_its_french_name_and_description(self):
        button = pyatspi.ROLE_PUSH_BUTTON
        cases = [
            (button, "Do", "Jouer DO"), (button, "Do#", "Jouer Do#"),
            (button, "Ré", "Jouer Ré"), (button, "Mi bémol", "Jouer Mi bémol"),
            (button, "Mi", "Jouer Mi"), (button, "Fa", "Jouer Fa"),
            (button, "Fa#", "Jouer Fa#"), (button, "Sol", "Jouer Sol"),
            (button, "Sol#", "Jouer Sol#"), (button, "La", "Jouer La"),
            (button, "Si bémol", "Jouer Si bémol"), (button, "Si", "Jouer Si"),
            (button, "Mi 2", "Gratter cette corde"), (button, "La 2", "Gratter cette corde"),
            (button, "Ré 3", "Gratter cette corde"), (button, "Sol 3", "Gratter cette corde"),
            (button, "Si 3", "Gratter cette corde"), (button, "Mi 4", "Gratter cette corde"),
            (button, "Échantillonner l'instrument", ""),
            (button, "Aide...", "Afficher l'aide..."),
            (button, "Nouveau piano", "Oublier les touches mesurées et commencer un nouveau piano"),
            (button, "Courbe...", "Afficher la courbe d'accord du piano"),
            (pyatspi.ROLE_SPIN_BUTTON, "Octave", ""),
            (pyatspi.ROLE_TEXT, "Octave", ""),
            (pyatspi.ROLE_PANEL, "Piano", ""),
            (pyatspi.ROLE_PANEL, "Guitare", ""),
        ]
        for role, name, description in cases:
            with self.subTest(name=name, role=role):
                node = self.h.one(role, name)
                self.assertEqual(node.description, description)
                self.assertTrue(showing(node))
                if role == button and name not in ("Aide...", "Échantillonner l'instrument"):
                    self.assertTrue(node.getState().contains(pyatspi.STATE_FOCUSABLE))

    def test_headings_and_decorations_are_not_read(self):
        # The headings' words are in the displays' names; the pictures and
        # strings of the guitar say nothing. What shows and has a name is
        # what a screen reader reads: the headings must not be among it.
        read = [(n.getRoleName(), n.name) for n in walk(self.h.window)
                if showing(n) and n.name]
        labels = sorted(name for role, name in read if role == "label")
        # The four displays, and the tuning display named by its reading.
        self.assertEqual(len(labels), 5, labels)
        self.assertIn(NO_READING, labels)
        for heading in ("Note", "Octave", "Fréquence référence", "Fréquence instrument"):
            self.assertEqual(len([n for n in labels if n.split(" : ")[0] == heading]), 1,
                             (heading, labels))
        for word in ("Fréquence", "référence", "instrument"):
            self.assertNotIn(word, labels)
        self.assertFalse([n for n in walk(self.h.window)
                          if n.getRole() == pyatspi.ROLE_IMAGE and showing(n)])
        others = sorted((role, name) for role, name in read
                        if role not in ("label", "notification"))
        # Keys, strings, two panels, the octave twice, three buttons, the style.
        # Keys, strings, panels, the octave twice, four buttons, and the
        # style's box, named by its item, with its four items.
        self.assertEqual(len(others), 12 + 6 + 2 + 2 + 4 + 1 + 4, others)

    def test_the_style_is_a_box_labelled_by_what_it_chooses(self):
        boxes = [n for n in walk(self.h.window) if n.getRole() == pyatspi.ROLE_COMBO_BOX]
        self.assertEqual(len(boxes), 1)
        style = boxes[0]
        self.assertEqual(style.name, "Standard")
        self.assertEqual(style.description,
                         "Style d'accord : les partiels que la courbe fait coïncider")
        labels = [target.name for relation in style.getRelationSet()
                  if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
                  for target in (relation.getTarget(i) for i in range(relation.getNTargets()))]
        self.assertEqual(labels, ["Style de la courbe"])
        items = [n.name for n in walk(style) if n.getRole() == pyatspi.ROLE_LIST_ITEM]
        self.assertEqual(items, ["Standard", "Douzièmes pures", "Octaves 4:2", "Octaves 6:3"])

    def test_the_octave_is_a_value_from_minus_one_to_eight(self):
        value = self.h.one(pyatspi.ROLE_SPIN_BUTTON, "Octave").queryValue()
        self.assertEqual((value.minimumValue, value.maximumValue), (-1, 8))
        self.set_octave(5)  # also what the octave file says at start
        for wanted, shown in ((7, "7"), (-1, "-1"), (12, "8"), (-3, "-1"), (5, "5")):
            with self.subTest(wanted=wanted):
                value.currentValue = wanted
                text = self.h.one(pyatspi.ROLE_TEXT, "Octave").queryText()
                self.assertTrue(poll(lambda: text.getText(0, -1) == shown), text.getText(0, -1))
                self.assertEqual(value.currentValue, int(shown))

    def test_a_pressed_key_or_string_is_read_on_the_displays(self):
        # Under French settings: a decimal comma.
        cases = [
            ("La", 4, ["Note : La", "Octave : 4", "Fréquence référence : 440,00Hz"]),
            ("Do", -1, ["Note : Do", "Octave : -1", "Fréquence référence : 8,18Hz"]),
            ("Do#", 8, ["Note : Do#", "Octave : 8", "Fréquence référence : 4434,92Hz"]),
            ("Si bémol", 2, ["Note : Si bémol", "Octave : 2", "Fréquence référence : 116,54Hz"]),
            ("Mi 2", None, ["Note : Mi", "Octave : 2", "Fréquence référence : 82,41Hz"]),
            ("Si 3", None, ["Note : Si", "Octave : 3", "Fréquence référence : 246,94Hz"]),
            ("Mi 4", None, ["Note : Mi", "Octave : 4", "Fréquence référence : 329,63Hz"]),
        ]
        for name, octave, expected in cases:
            with self.subTest(name=name, octave=octave):
                self.choose(name, octave)
                shown = poll(lambda: self.h.displays()[:3] == expected)
                self.assertTrue(shown, self.h.displays())

    def test_the_measurement_is_announced_as_it_changes(self):
        heard = []

        def on_name(event):
            if event.source is not None and event.source.getRole() == pyatspi.ROLE_LABEL:
                heard.append(event.source.name)

        pyatspi.Registry.registerEventListener(on_name, "object:property-change:accessible-name")
        try:
            self.choose("La", 4)
            self.assertTrue(poll(lambda: "Fréquence référence : 440,00Hz" in heard), heard)
            press(self.h.one(pyatspi.ROLE_PUSH_BUTTON, "Échantillonner l'instrument"))
            self.assertTrue(poll(lambda: "Fréquence instrument : ...Hz" in heard), heard)
            self.assertEqual(self.h.displays()[3], "Fréquence instrument : ...Hz")
            # Another note drops the open measurement: the display empties.
            heard.clear()
            self.choose("Mi 2")
            self.assertTrue(poll(lambda: "Fréquence instrument" in heard), heard)
            self.assertEqual(self.h.displays()[3], "Fréquence instrument")
        finally:
            pyatspi.Registry.deregisterEventListener(on_name,
                                                     "object:property-change:accessible-name")

    def test_what_happens_is_said_by_a_notification_that_shows(self):
        # What Orca presents without moving the focus: an object of role
        # notification that shows, read by its name. Each text once, in order.
        said = []

        def on_showing(event):
            if event.detail1 and event.source is not None \
                    and event.source.getRole() == pyatspi.ROLE_NOTIFICATION:
                said.append(event.source.name)

        pyatspi.Registry.registerEventListener(on_showing, "object:state-changed:showing")
        try:
            self.choose("Mi bémol", 3)
            self.assertTrue(poll(lambda: said == ["Mi bémol 3, 155,56 Hz"]), said)
            self.choose("Si 3")
            press(self.h.one(pyatspi.ROLE_PUSH_BUTTON, "Échantillonner l'instrument"))
            expected = ["Mi bémol 3, 155,56 Hz", "Si 3, 246,94 Hz", "Mesure en cours"]
            self.assertTrue(poll(lambda: said == expected), said)
            # The focus stays where it was.
            self.assertFalse([n for n in walk(self.h.window)
                              if n.getRole() == pyatspi.ROLE_NOTIFICATION
                              and n.getState().contains(pyatspi.STATE_FOCUSED)])
        finally:
            pyatspi.Registry.deregisterEventListener(on_showing,
                                                     "object:state-changed:showing")

    def test_the_tuning_display_is_one_object_read_as_its_reading(self):
        display = self.h.one(pyatspi.ROLE_LABEL, NO_READING)
        self.assertTrue(showing(display))
        self.assertTrue(display.getState().contains(pyatspi.STATE_FOCUSABLE))
        self.assertEqual(display.childCount, 0)
        # In the strip below the button bar.
        below = display.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        bar = self.h.one(pyatspi.ROLE_PUSH_BUTTON, "Aide...").queryComponent() \
            .getExtents(pyatspi.DESKTOP_COORDS)
        self.assertGreater(below.y, bar.y + bar.height)

    def test_l_has_the_reading_said_and_the_focus_stays(self):
        said = []

        def on_showing(event):
            if event.detail1 and event.source is not None \
                    and event.source.getRole() == pyatspi.ROLE_NOTIFICATION:
                said.append(event.source.name)

        env = dict(os.environ, DISPLAY=X.display)
        window_id = subprocess.run(
            ["xdotool", "search", "--onlyvisible", "--pid", str(self.h.process.pid),
             "--name", "^Harmolune$"], env=env, capture_output=True, text=True,
            check=True).stdout.split()[0]
        # No window manager: the window is given the keyboard by hand.
        subprocess.run(["xdotool", "windowfocus", "--sync", window_id], env=env, check=True)
        focused = poll(lambda: [n.name for n in walk(self.h.window)
                                if n.getState().contains(pyatspi.STATE_FOCUSED)])
        self.assertTrue(focused, "nothing has the focus")
        pyatspi.Registry.registerEventListener(on_showing, "object:state-changed:showing")
        try:
            subprocess.run(["xdotool", "key", "l"], env=env, check=True)
            self.assertTrue(poll(lambda: said == [NO_READING]), said)
            self.assertEqual([n.name for n in walk(self.h.window)
                              if n.getState().contains(pyatspi.STATE_FOCUSED)], focused)
        finally:
            pyatspi.Registry.deregisterEventListener(on_showing,
                                                     "object:state-changed:showing")

    def test_help_hides_the_controls_under_it_until_closed(self):
        press(self.h.one(pyatspi.ROLE_PUSH_BUTTON, "Aide..."))
        # Help's "Fermer", not the curve's.
        fermer = [n for n in find_all(self.h.window, pyatspi.ROLE_PUSH_BUTTON, "Fermer")
                  if n.description == "Fermer l'aide"][0]
        self.assertTrue(poll(lambda: showing(fermer)))
        self.assertEqual(fermer.description, "Fermer l'aide")
        la = self.h.one(pyatspi.ROLE_PUSH_BUTTON, "La")
        display = self.h.one(pyatspi.ROLE_LABEL, NO_READING)
        self.assertTrue(poll(lambda: not showing(la)), "the keys are covered")
        self.assertFalse(showing(display), "the tuning display is covered")
        press(fermer)
        self.assertTrue(poll(lambda: showing(la) and showing(display) and not showing(fermer)))


    def test_the_curve_covers_the_window_with_its_chart_and_table(self):
        press(self.h.one(pyatspi.ROLE_PUSH_BUTTON, "Courbe..."))
        table = poll(lambda: next(iter(find_all(self.h.window, pyatspi.ROLE_TABLE,
                                                 "Cibles des 88 touches")), None))
        self.assertIsNotNone(table, "no table of the targets")
        self.assertTrue(poll(lambda: showing(table)))
        self.assertEqual(table.queryTable().nRows, 88)
        self.assertEqual(table.queryTable().nColumns, 7)
        self.assertEqual(table.queryTable().getColumnDescription(0), "Touche")
        first = table.queryTable().getAccessibleAt(0, 0)
        self.assertEqual(first.name, "La 0 : cible 27,500 Hz, +0,0 cent ± 7,6")
        chart = self.h.one(pyatspi.ROLE_CHART, "Courbe du piano, style « Standard » : aucune "
                           "touche mesurée ; les cibles sont le tempérament égal")
        self.assertTrue(chart.description.startswith("La courbe demande 4 touches"),
                        chart.description)
        fermer = [n for n in find_all(self.h.window, pyatspi.ROLE_PUSH_BUTTON, "Fermer")
                  if n.description == "Fermer la courbe"]
        self.assertEqual(len(fermer), 1)
        la = self.h.one(pyatspi.ROLE_PUSH_BUTTON, "La")
        self.assertTrue(poll(lambda: not showing(la)), "the keys are covered")
        self.assertFalse(showing(self.h.one(pyatspi.ROLE_PUSH_BUTTON, "Courbe...")))
        press(fermer[0])
        self.assertTrue(poll(lambda: showing(la) and not showing(table)))


class WithAPiano(unittest.TestCase):
    """A record of four keys in the data folder: the window starts with a curve."""

    def setUp(self):
        self.h = Harmolune(X.display, piano=FOUR_KEYS)

    def tearDown(self):
        self.h.remove()

    def test_the_chart_and_the_rows_say_the_keys_measured(self):
        press(self.h.one(pyatspi.ROLE_PUSH_BUTTON, "Courbe..."))
        charts = poll(lambda: [n for n in walk(self.h.window)
                               if n.getRole() == pyatspi.ROLE_CHART and showing(n)])
        self.assertEqual(len(charts), 1)
        chart = charts[0]
        self.assertEqual(chart.name, "Courbe du piano, style « Standard » : 4 touches mesurées, "
                         "de La 2 à La 5")
        table = self.h.one(pyatspi.ROLE_TABLE, "Cibles des 88 touches").queryTable()
        a4 = table.getAccessibleAt(69 - 21, 0).name
        self.assertTrue(a4.startswith("La 4 : cible 440,000 Hz, +0,0 cent ± 0,0, B "), a4)
        self.assertIn(", mesurée 440,100 Hz, écart +0,4 cent", a4)
        self.assertEqual(table.getAccessibleAt(69 - 21, 5).name, "440,100")



class FreshStart(unittest.TestCase):
    """A program of its own for each case: no note chosen yet."""

    def setUp(self):
        self.h = Harmolune(X.display, octave_file=b"")

    def tearDown(self):
        self.h.remove()

    def test_sampling_shows_the_warning_as_an_alert_with_title_and_both_lines(self):
        press(self.h.one(pyatspi.ROLE_PUSH_BUTTON, "Échantillonner l'instrument"))
        alert = poll(self.h.alert)
        self.assertIsNotNone(alert)
        self.assertEqual(alert.name, WARNING_TITLE)
        self.assertIn(WARNING_TEXT, Harmolune.alert_texts(alert))
        press(find_all(alert, pyatspi.ROLE_PUSH_BUTTON, "OK")[0])
        self.assertTrue(poll(lambda: self.h.alert() is None))
        self.assertEqual(self.h.displays()[3], "Fréquence instrument")
        # An empty octave file starts in octave 3.
        text = self.h.one(pyatspi.ROLE_TEXT, "Octave").queryText()
        self.assertEqual(text.getText(0, -1), "3")

    def test_the_octave_chosen_is_saved_in_the_scratch_file(self):
        self.h.one(pyatspi.ROLE_SPIN_BUTTON, "Octave").queryValue().currentValue = 6
        text = self.h.one(pyatspi.ROLE_TEXT, "Octave").queryText()
        self.assertTrue(poll(lambda: text.getText(0, -1) == "6"))
        self.h.stop()
        self.assertEqual(self.h.octave_file(), b"6\r\n")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: window_bus_test.py HARMOLUNE [unittest arguments]")
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
